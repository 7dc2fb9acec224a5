// The JSON forms around remote values; see Envelope.h.
#include "rest/wire/Envelope.h"

namespace qvr::rest {

std::string ResultEnvelope(std::string_view AElements) {
  std::string body;
  body.reserve(kResultOpen.size() + AElements.size() + kResultClose.size());
  body.append(kResultOpen).append(AElements).append(kResultClose);
  return body;
}

std::string OpcionesForm(std::int32_t AIDStatusDefault) {
  std::string form = "{\"type\":\"";
  form.append(kOpcionesType).append("\",\"id\":1,\"fields\":{\"");
  form.append(kOpcionesIDStatusDefault).append("\":");
  form.append(std::to_string(AIDStatusDefault)).append("}}");
  return form;
}

}  // namespace qvr::rest

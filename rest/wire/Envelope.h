// The JSON forms around a remote call's values: the answer's "result" array
// (its out and return values in parameter order), the body of a call with
// two or more body parameters ({"_parameters":[...]}), the members of a
// refusal ("error", or "SessionExpired" for an expired session), and the
// marshalled form of the server's options record, which the client reads
// into its TOpciones.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qvr::rest {

inline constexpr std::string_view kResultMember = "result";
inline constexpr std::string_view kParametersMember = "_parameters";
inline constexpr std::string_view kErrorMember = "error";
inline constexpr std::string_view kSessionExpiredMember = "SessionExpired";

// The text before and after the elements of an answer's "result" array.
inline constexpr std::string_view kResultOpen = "{\"result\":[";
inline constexpr std::string_view kResultClose = "]}";
// The text before and after the values of a body of several parameters.
inline constexpr std::string_view kParametersOpen = "{\"_parameters\":[";
inline constexpr std::string_view kParametersClose = "]}";

// {"result":[<AElements>]}, AElements being the JSON text of the elements,
// separated by commas.
std::string ResultEnvelope(std::string_view AElements);

// The options record: class "uGral.TOpciones" with its one field
// "IDStatusDefault" (an integer), in the marshalled-object form
// {"type":...,"id":1,"fields":{...}}.
inline constexpr std::string_view kOpcionesType = "uGral.TOpciones";
inline constexpr std::string_view kOpcionesIDStatusDefault = "IDStatusDefault";
std::string OpcionesForm(std::int32_t AIDStatusDefault);

}  // namespace qvr::rest

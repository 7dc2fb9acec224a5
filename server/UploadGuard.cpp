// Counting the inflated size of the blobs of an upload; see UploadGuard.h.
#include "server/UploadGuard.h"

#include <zlib.h>

#include <string>
#include <vector>

#include "platform/Base64Encoding.h"
#include "server/ServerErrors.h"

namespace qvr::server {

namespace {

// Bytes ABytes inflates to, stopping as soon as more than ALimit come out.
std::size_t InflatedSize(const std::string& ABytes, std::size_t ALimit) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return 0;
  std::vector<unsigned char> scratch(1 << 16);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(ABytes.data()));
  stream.avail_in = static_cast<uInt>(ABytes.size());
  std::size_t total = 0;
  for (;;) {
    stream.next_out = scratch.data();
    stream.avail_out = static_cast<uInt>(scratch.size());
    const int rc = inflate(&stream, Z_NO_FLUSH);
    total += scratch.size() - stream.avail_out;
    if (rc != Z_OK || total > ALimit) break;
  }
  inflateEnd(&stream);
  return total;
}

void Walk(const rest::TJSONValue& AValue, std::size_t AMaxBytes, std::size_t& ATotal) {
  if (const auto* object = AValue.AsObject()) {
    for (const auto& pair : object->Members()) {
      if (pair.JsonValue() != nullptr) Walk(*pair.JsonValue(), AMaxBytes, ATotal);
    }
  } else if (const auto* array = AValue.AsArray()) {
    for (const auto& element : array->Elements()) {
      if (element.Get() != nullptr) Walk(*element.Get(), AMaxBytes, ATotal);
    }
  } else if (AValue.Kind() == rest::TJSONValue::TKind::String) {
    const std::string& text = AValue.AsString()->Value();
    if (text.size() < 4 || text.compare(0, 2, "eJ") != 0) return;
    ATotal += InflatedSize(TBase64Encoding::Base64().Decode(text), AMaxBytes - ATotal);
    if (ATotal > AMaxBytes) {
      throw EHttpError(413, "The uploaded datasets exceed " + std::to_string(AMaxBytes) +
                                " bytes once inflated");
    }
  }
}

}  // namespace

void CheckInflatedSize(const rest::TJSONValue& ADocument, std::size_t AMaxBytes) {
  std::size_t total = 0;
  Walk(ADocument, AMaxBytes, total);
}

}  // namespace qvr::server

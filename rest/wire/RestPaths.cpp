// URL paths of remote calls; see RestPaths.h.
#include "rest/wire/RestPaths.h"

#include "platform/StrUtils.h"

namespace qvr::rest {

std::string PercentEncode(std::string_view AText, bool AKeepDot) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  static constexpr std::string_view kReserved = " #%./:?\\^`{|}";
  std::string out;
  out.reserve(AText.size());
  for (const char c : AText) {
    const auto u = static_cast<unsigned char>(c);
    const bool encode = u < 0x21 || u > 0x7E ||
                        (kReserved.find(c) != std::string_view::npos && !(AKeepDot && c == '.'));
    if (encode) {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

std::string DecodeSegment(std::string_view ARaw) {
  std::string out;
  out.reserve(ARaw.size());
  for (std::size_t i = 0; i < ARaw.size(); ++i) {
    if (ARaw[i] == '%' && i + 2 < ARaw.size()) {
      const int high = HexDigit(ARaw[i + 1]);
      const int low = HexDigit(ARaw[i + 2]);
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    out += ARaw[i];
  }
  return out;
}

std::vector<std::string> SplitSegments(std::string_view ARawPath) {
  std::vector<std::string> segments;
  std::size_t start = 0;
  while (start < ARawPath.size()) {
    const auto slash = ARawPath.find('/', start);
    if (slash == std::string_view::npos) {
      segments.push_back(DecodeSegment(ARawPath.substr(start)));
      break;
    }
    segments.push_back(DecodeSegment(ARawPath.substr(start, slash - start)));
    start = slash + 1;
  }
  return segments;
}

std::string MethodPath(std::string_view ACommandText) {
  std::string path;
  path.reserve(ACommandText.size() + 8);
  bool dotDone = false;
  for (const char c : ACommandText) {
    if (c == '.' && !dotDone) {
      path += '/';
      dotDone = true;
    } else if (c == '"') {
      path += "%22";
    } else {
      path += c;
    }
  }
  return path;
}

}  // namespace qvr::rest

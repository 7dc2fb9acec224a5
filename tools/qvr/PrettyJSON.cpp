// JSON for people; see PrettyJSON.h.
#include "tools/qvr/PrettyJSON.h"

#include <cstdio>

namespace qvr::cli {

namespace {

using TKind = rest::TJSONValue::TKind;

void AppendString(const std::string& AText, std::string& AOut) {
  AOut += '"';
  for (const char c : AText) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        AOut += "\\\"";
        break;
      case '\\':
        AOut += "\\\\";
        break;
      case '\n':
        AOut += "\\n";
        break;
      case '\r':
        AOut += "\\r";
        break;
      case '\t':
        AOut += "\\t";
        break;
      case '\b':
        AOut += "\\b";
        break;
      case '\f':
        AOut += "\\f";
        break;
      default:
        if (u < 0x20 || u == 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04X", u);
          AOut += escape;
        } else {
          AOut += c;
        }
    }
  }
  AOut += '"';
}

// ALevel -1: compact, on one line.
void Indent(int ALevel, std::string& AOut) {
  if (ALevel >= 0) AOut.append(static_cast<std::size_t>(ALevel) * 2, ' ');
}

int Inner(int ALevel) { return ALevel < 0 ? ALevel : ALevel + 1; }

void Append(const rest::TJSONValue& AValue, int ALevel, std::string& AOut) {
  const bool compact = ALevel < 0;
  switch (AValue.Kind()) {
    case TKind::Object: {
      const auto& members = AValue.AsObject()->Members();
      if (members.empty()) {
        AOut += "{}";
        return;
      }
      AOut += compact ? "{" : "{\n";
      for (std::size_t i = 0; i < members.size(); ++i) {
        Indent(Inner(ALevel), AOut);
        AppendString(members[i].Name(), AOut);
        AOut += compact ? ":" : ": ";
        Append(*members[i].JsonValue(), Inner(ALevel), AOut);
        if (i + 1 < members.size()) AOut += ',';
        if (!compact) AOut += '\n';
      }
      Indent(ALevel, AOut);
      AOut += '}';
      return;
    }
    case TKind::Array: {
      const auto& elements = AValue.AsArray()->Elements();
      if (elements.empty()) {
        AOut += "[]";
        return;
      }
      AOut += compact ? "[" : "[\n";
      for (std::size_t i = 0; i < elements.size(); ++i) {
        Indent(Inner(ALevel), AOut);
        Append(*elements[i].Get(), Inner(ALevel), AOut);
        if (i + 1 < elements.size()) AOut += ',';
        if (!compact) AOut += '\n';
      }
      Indent(ALevel, AOut);
      AOut += ']';
      return;
    }
    case TKind::String: {
      const auto* text = AValue.AsString();
      if (text->IsNullString()) {
        AOut += "null";
      } else {
        AppendString(text->Value(), AOut);
      }
      return;
    }
    case TKind::Number:
      AOut += AValue.AsString()->Value();
      return;
    case TKind::True:
      AOut += "true";
      return;
    case TKind::False:
      AOut += "false";
      return;
    case TKind::Null:
      AOut += "null";
      return;
  }
}

}  // namespace

std::string PrettyJSON(const rest::TJSONValue& AValue) {
  std::string out;
  Append(AValue, 0, out);
  return out;
}

std::string CompactJSON(const rest::TJSONValue& AValue) {
  std::string out;
  Append(AValue, -1, out);
  return out;
}

}  // namespace qvr::cli

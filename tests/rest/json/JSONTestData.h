// Generated JSON documents shared by the JSON tests and benchmarks: rows of
// staff-like records with the mix of members the server's answers carry
// (numbers, short and long texts with some non-ASCII letters, flags, nulls,
// small arrays and a nested object), deterministic for a given size.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace qvr::rest::testdata {

// A JSON document {"result":[row, row, ...]} of about ABytes bytes, or of
// exactly ARows rows when that is not 0.
inline std::string GenerateDocument(std::size_t ABytes, std::size_t ARows = 0) {
  static const char* const kNames[] = {"Juan",
                                       "Mar\xC3\xAD"
                                       "a",
                                       "Jos\xC3\xA9",
                                       "Luc\xC3\xAD"
                                       "a",
                                       "Pedro",
                                       "Nu\xC3\xB1"
                                       "ez",
                                       "Ana",
                                       "Sof\xC3\xAD"
                                       "a"};
  static const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  std::string out = "{\"result\":[";
  out.reserve(ABytes + 1024);
  char buf[256];
  for (std::size_t row = 0; ARows != 0 ? row < ARows : out.size() < ABytes; ++row) {
    if (row > 0) out += ',';
    const std::uint32_t r = next();
    std::snprintf(buf, sizeof buf,
                  "{\"IDEmpleado\":%d,\"Nombre\":\"%s %s\",\"Email\":\"user%d@example.com\","
                  "\"Activo\":%s,\"Salario\":%u.%02u,\"Alta\":\"2024-%02u-%02uT08:%02u:00\","
                  "\"Jefe\":null,\"Turnos\":[%u,%u,%u],",
                  static_cast<int>(row), kNames[r % 8], kNames[(r >> 3) % 8], static_cast<int>(row),
                  (r & 1) ? "true" : "false", 1000 + r % 5000, r % 100, 1 + r % 12, 1 + r % 28,
                  r % 60, r % 3, r % 7, r % 11);
    out += buf;
    out += "\"Foto\":\"";
    const std::size_t photo = 40 + next() % 120;
    for (std::size_t i = 0; i < photo; ++i) out += kBase64[next() % 64];
    std::snprintf(buf, sizeof buf,
                  "\",\"Reloj\":{\"ID\":%u,\"Nombre\":\"Entrada %u\",\"Puerta\":\"P%u-%u\"}}",
                  r % 50, r % 50, r % 256, (r >> 8) % 256);
    out += buf;
  }
  out += "]}";
  return out;
}

}  // namespace qvr::rest::testdata

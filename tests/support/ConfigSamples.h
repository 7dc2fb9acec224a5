// config.ini files the tests of several programs read alike.
#pragma once

#include <string>

namespace qvr::test {

// A config.ini brought from the suite's earlier Windows workstations: CRLF
// lines in Windows-1252 (0xF1 is U+00F1, 0xF3 U+00F3).
inline const std::string kCanada1252 =
    "Ca\xF1"
    "ada";
inline const std::string kWindows1252Config =
    "[rest]\r\nIP=192.168.1.10\r\nPuerto=8080\r\nUID=" + kCanada1252 +
    "\r\n[Ventana]\r\nTitulo=Recepci\xF3n\r\n";

}  // namespace qvr::test

// The whole run of qvr, apart from the process: the command line in, what
// the command prints on AOut, one line per error on AErr, and the exit
// status: 0 success, 1 a call or a write failed, 2 the command line or the
// input it names is wrong.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace qvr::cli {

int RunQvr(const std::vector<std::string>& AArgs, std::istream& AIn, std::ostream& AOut,
           std::ostream& AErr);

// AMessage on one line: its line breaks (the protocol exception's ":" CR LF
// before the server's text among them) and other control characters become
// single blanks.
std::string OneLine(const std::string& AMessage);

}  // namespace qvr::cli

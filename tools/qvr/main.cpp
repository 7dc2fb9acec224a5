// qvr, the attendance suite's command-line client: see docs/qvr.md.
#include <iostream>
#include <string>
#include <vector>

#include "tools/qvr/Qvr.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> args(argv + 1, argv + argc);
  return qvr::cli::RunQvr(args, std::cin, std::cout, std::cerr);
}

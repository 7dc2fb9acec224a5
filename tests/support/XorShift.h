// A small deterministic generator for the tests' generated and damaged input
// (Marsaglia's xorshift64): the same sequence on every run and platform.
#pragma once

#include <cstdint>

namespace qvr::test {

class TXorShift {
 public:
  explicit TXorShift(std::uint64_t ASeed) noexcept : FState(ASeed) {}
  std::uint64_t operator()() noexcept {
    FState ^= FState << 13;
    FState ^= FState >> 7;
    FState ^= FState << 17;
    return FState;
  }

 private:
  std::uint64_t FState;
};

}  // namespace qvr::test

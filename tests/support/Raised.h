// Raised<E>(action): runs the action and returns the exception of class E it
// raised, so that a test can look at its message; fails the test when it
// raised nothing or something else.
#pragma once

#include <gtest/gtest.h>

#include <exception>
#include <stdexcept>

namespace qvr::test {

template <typename E, typename F>
E Raised(F&& AAction) {
  try {
    AAction();
  } catch (const E& e) {
    return e;
  } catch (const std::exception& e) {
    ADD_FAILURE() << "unexpected exception: " << e.what();
    throw;
  }
  ADD_FAILURE() << "no exception raised";
  throw std::runtime_error("no exception");
}

}  // namespace qvr::test

// The ratio of two operations' times measured as alternating pairs: each
// pair runs the subject once and the reference once, and the ratio is the
// median subject time over the median reference time. Load from other
// processes on the machine then hits both alike, and a scheduler hiccup
// moves a median hardly at all.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

namespace qvr::bench {

// AWarmUp unmeasured pairs first, then APairs measured ones.
inline double PairedMedianRatio(int APairs, int AWarmUp, const std::function<void()>& ASubject,
                                const std::function<void()>& AReference) {
  using TClock = std::chrono::steady_clock;
  for (int i = 0; i < AWarmUp; ++i) {
    AReference();
    ASubject();
  }
  std::vector<double> subject, reference;
  subject.reserve(static_cast<std::size_t>(APairs));
  reference.reserve(static_cast<std::size_t>(APairs));
  for (int i = 0; i < APairs; ++i) {
    const auto t0 = TClock::now();
    AReference();
    const auto t1 = TClock::now();
    ASubject();
    const auto t2 = TClock::now();
    reference.push_back(std::chrono::duration<double>(t1 - t0).count());
    subject.push_back(std::chrono::duration<double>(t2 - t1).count());
  }
  auto median = [](std::vector<double>& AValues) {
    std::nth_element(AValues.begin(), AValues.begin() + AValues.size() / 2, AValues.end());
    return AValues[AValues.size() / 2];
  };
  return median(subject) / median(reference);
}

}  // namespace qvr::bench

// The ratio of two operations' times measured as alternating pairs: each
// pair runs the subject once and the reference once, and the ratio is the
// median subject time over the median reference time. Load from other
// processes on the machine then hits both alike, and a scheduler hiccup
// moves a median hardly at all. Which side runs first alternates from pair to
// pair, so that neither always finds the caches, the allocator and the CPU's
// clock as the other left them.
#pragma once

#include <time.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

namespace qvr::bench {

// Wall time, or the CPU time of the calling thread: the latter leaves out
// what other processes on the shared cores do, for work that runs entirely on
// the calling thread.
enum class TPairClock { Wall, ThreadCpu };

struct TPairedMedians {
  double Subject = 0;    // seconds
  double Reference = 0;  // seconds
  double Ratio() const { return Reference > 0 ? Subject / Reference : 0; }
};

inline double PairClockSeconds(TPairClock AClock) {
  if (AClock == TPairClock::ThreadCpu) {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// AWarmUp unmeasured pairs first, then APairs measured ones. AAfter, when
// given, runs unmeasured after each run of either side (to release what the
// run made, when releasing is not what is measured).
inline TPairedMedians PairedMedians(int APairs, int AWarmUp, const std::function<void()>& ASubject,
                                    const std::function<void()>& AReference,
                                    TPairClock AClock = TPairClock::Wall,
                                    const std::function<void()>& AAfter = {}) {
  auto after = [&AAfter] {
    if (AAfter) AAfter();
  };
  for (int i = 0; i < AWarmUp; ++i) {
    AReference();
    after();
    ASubject();
    after();
  }
  std::vector<double> subject, reference;
  subject.reserve(static_cast<std::size_t>(APairs));
  reference.reserve(static_cast<std::size_t>(APairs));
  auto timed = [AClock, &after](const std::function<void()>& AWork) {
    const double begin = PairClockSeconds(AClock);
    AWork();
    const double seconds = PairClockSeconds(AClock) - begin;
    after();
    return seconds;
  };
  for (int i = 0; i < APairs; ++i) {
    if (i % 2 == 0) {
      reference.push_back(timed(AReference));
      subject.push_back(timed(ASubject));
    } else {
      subject.push_back(timed(ASubject));
      reference.push_back(timed(AReference));
    }
  }
  auto median = [](std::vector<double>& AValues) {
    std::sort(AValues.begin(), AValues.end());
    const std::size_t n = AValues.size();
    return n % 2 != 0 ? AValues[n / 2] : (AValues[n / 2 - 1] + AValues[n / 2]) / 2;
  };
  return {median(subject), median(reference)};
}

inline double PairedMedianRatio(int APairs, int AWarmUp, const std::function<void()>& ASubject,
                                const std::function<void()>& AReference,
                                TPairClock AClock = TPairClock::Wall) {
  return PairedMedians(APairs, AWarmUp, ASubject, AReference, AClock).Ratio();
}

}  // namespace qvr::bench

// The two clocks every benchmark here reads: the calling thread's CPU time,
// where the library runs, and the wall clock.
#pragma once

#include <time.h>

namespace tavo::bench {

inline double Seconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}
inline double ThreadCpuSeconds() { return Seconds(CLOCK_THREAD_CPUTIME_ID); }
inline double WallSeconds() { return Seconds(CLOCK_MONOTONIC); }

}  // namespace tavo::bench

// The two clocks every benchmark reads: the calling thread's CPU time and the wall's.
#pragma once

#include <time.h>

#include <chrono>

namespace morva::bench {

inline double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

inline double wallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace morva::bench

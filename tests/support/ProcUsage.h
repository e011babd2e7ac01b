#pragma once
// What the kernel has counted for a running process, read from /proc, for the benchmarks
// that measure quorvex from outside.
#include <sys/types.h>

#include <chrono>

namespace qv::test {

struct TProcUsage {
  std::chrono::steady_clock::time_point at;  // when it was read
  double cpuTicks = 0;                       // utime + stime of /proc/PID/stat, clock ticks
  double runNs = 0;                          // run time of every thread, /proc/PID/task/*/schedstat
  long mainSwitches = 0;                     // voluntary context switches, main thread
  long allSwitches = 0;                      // voluntary context switches, all threads
};

TProcUsage ReadProcUsage(pid_t pid);

}  // namespace qv::test

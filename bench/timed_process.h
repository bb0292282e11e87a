// A program run as a whole process, as a user meets it: its wall time, its
// peak memory and its exit status, for the benchmarks that time the runner.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace bench {

struct TimedRun {
  double seconds;
  long peakKiB;
  int status;  // -1 if it did not exit by itself
};

// Runs `arguments` (argv-style, null-terminated, the program first) with
// standard output discarded.
inline TimedRun RunTimed(char* const arguments[]) {
  std::fflush(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    std::freopen("/dev/null", "w", stdout);
    ::execv(arguments[0], arguments);
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  if (child < 0 || ::wait4(child, &status, 0, &usage) < 0) return TimedRun{0, 0, -1};
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return TimedRun{seconds, usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

}  // namespace bench

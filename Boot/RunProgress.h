#ifndef KESTRANE_BOOT_RUNPROGRESS_H
#define KESTRANE_BOOT_RUNPROGRESS_H

#include "Boot/TVemoBPBootStrap.h"

#include <chrono>
#include <cstdio>
#include <string>

namespace kestrane {

// One status line on a terminal, rewritten in place: epochs spent of the
// total, rounds, the current error and the elapsed time. Updates are
// throttled so that fast epochs cost a clock read, not a write.
class TRunProgress {
public:
  explicit TRunProgress(std::FILE *stream);
  ~TRunProgress() { Clear(); }
  TRunProgress(const TRunProgress &) = delete;
  TRunProgress &operator=(const TRunProgress &) = delete;

  void Update(const TVemoBPBootStrap::Progress &progress);
  // Removes the line (if one is shown), leaving the cursor at its start.
  void Clear();

  // The text of one status line.
  static std::string Format(const TVemoBPBootStrap::Progress &progress, double seconds);

private:
  using Clock = std::chrono::steady_clock;
  std::FILE *stream;
  Clock::time_point start;
  Clock::time_point lastShown;
  size_t shownWidth = 0;
};

} // namespace kestrane

#endif

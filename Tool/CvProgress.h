#ifndef KESTRANE_TOOL_CVPROGRESS_H
#define KESTRANE_TOOL_CVPROGRESS_H

// cv's progress line on a terminal: the combination and fold last started,
// the time elapsed and an estimate of the time left, redrawn in place as
// trainings start and end, and once a second between, so that the clock
// moves during a long fold too.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>
#include <thread>

namespace kestrane {

class CvProgress {
public:
  CvProgress(std::ostream &err, int folds);
  // Clears the line, also when the search failed.
  ~CvProgress();
  CvProgress(const CvProgress &) = delete;
  CvProgress &operator=(const CvProgress &) = delete;

  void Started(long long task, long long tasks);
  void Ended(long long count, long long tasks);
  // Runs `print` (lines for another stream on the same terminal) with the
  // line cleared, then draws it again.
  void Around(const std::function<void()> &print);

private:
  void DrawLocked();
  void Tick();

  std::ostream &err_;
  const int folds_;
  const std::chrono::steady_clock::time_point begun_ = std::chrono::steady_clock::now();
  std::mutex lock_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool drawn_ = false;
  long long lastStarted_ = 0;
  long long ended_ = 0;
  double endedAt_ = 0.0; // seconds from the start to the last training's end
  long long tasks_ = 0;
  std::thread ticker_;
};

// Seconds as m:ss, or h:mm:ss from an hour on.
std::string ClockText(double seconds);

} // namespace kestrane

#endif

#include "Tool/CvProgress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <system_error>

namespace kestrane {

std::string ClockText(double seconds) {
  const long long whole = std::isfinite(seconds) ? std::llround(std::max(seconds, 0.0)) : 0;
  char text[48];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                  whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  }
  return text;
}

CvProgress::CvProgress(std::ostream &err, int folds) : err_(err), folds_(std::max(folds, 1)) {
  // Without a thread the line is still redrawn as trainings start and end.
  try {
    ticker_ = std::thread([this] { Tick(); });
  } catch (const std::system_error &) {
  }
}

CvProgress::~CvProgress() {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (ticker_.joinable())
    ticker_.join();
  if (drawn_)
    err_ << "\r\033[K" << std::flush;
}

void CvProgress::Started(long long task, long long tasks) {
  const std::lock_guard<std::mutex> hold(lock_);
  lastStarted_ = task;
  tasks_ = tasks;
  DrawLocked();
}

void CvProgress::Ended(long long count, long long tasks) {
  const std::lock_guard<std::mutex> hold(lock_);
  ended_ = count;
  endedAt_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun_).count();
  tasks_ = tasks;
  DrawLocked();
}

void CvProgress::Around(const std::function<void()> &print) {
  const std::lock_guard<std::mutex> hold(lock_);
  if (drawn_)
    err_ << "\r\033[K" << std::flush;
  print();
  DrawLocked();
}

void CvProgress::DrawLocked() {
  if (tasks_ <= 0)
    return;
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begun_).count();
  std::string line = "combination " + std::to_string(lastStarted_ / folds_ + 1) + " of " +
                     std::to_string((tasks_ + folds_ - 1) / folds_) + ", fold " +
                     std::to_string(lastStarted_ % folds_ + 1) + " of " + std::to_string(folds_) +
                     ", " + ClockText(elapsed) + " elapsed";
  // Every training taken to last as long as those so far, counted down
  // from the last one's end: a rough figure, but one that settles.
  if (ended_ > 0) {
    const double each = endedAt_ / static_cast<double>(ended_);
    const double left = each * static_cast<double>(tasks_ - ended_) - (elapsed - endedAt_);
    line += ", about " + ClockText(std::max(left, 0.0)) + " left";
  }
  err_ << "\r\033[K" << line << std::flush;
  drawn_ = true;
}

void CvProgress::Tick() {
  std::unique_lock<std::mutex> hold(lock_);
  while (!wake_.wait_for(hold, std::chrono::seconds(1), [this] { return stopping_; }))
    DrawLocked();
}

} // namespace kestrane

#include "Boot/RunProgress.h"

namespace kestrane {

namespace {

constexpr auto kMinInterval = std::chrono::milliseconds(100);

} // namespace

TRunProgress::TRunProgress(std::FILE *stream)
    : stream(stream), start(Clock::now()), lastShown(start - kMinInterval) {}

std::string TRunProgress::Format(const TVemoBPBootStrap::Progress &p, double seconds) {
  const long total = static_cast<long>(seconds);
  char line[160];
  std::snprintf(line, sizeof line, "Epoch %ld/%ld  round %ld  error %.6g  %ld:%02ld:%02ld",
                static_cast<long>(p.epochsSpent), static_cast<long>(p.totalEpochs),
                static_cast<long>(p.rounds), p.error, total / 3600, total / 60 % 60, total % 60);
  return line;
}

void TRunProgress::Update(const TVemoBPBootStrap::Progress &progress) {
  const Clock::time_point now = Clock::now();
  if (now - lastShown < kMinInterval)
    return;
  lastShown = now;
  const std::string text = Format(progress, std::chrono::duration<double>(now - start).count());
  // Pad over the tail of a longer previous line.
  const size_t pad = shownWidth > text.size() ? shownWidth - text.size() : 0;
  std::fprintf(stream, "\r%s%*s", text.c_str(), static_cast<int>(pad), "");
  std::fflush(stream);
  shownWidth = text.size() > shownWidth ? text.size() : shownWidth;
}

void TRunProgress::Clear() {
  if (shownWidth == 0)
    return;
  std::fprintf(stream, "\r%*s\r", static_cast<int>(shownWidth), "");
  std::fflush(stream);
  shownWidth = 0;
}

} // namespace kestrane

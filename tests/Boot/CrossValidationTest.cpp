// The task pool under cross-validation: scores in task order whatever the
// number of threads, reports to the caller's sink, and of several failures
// always the lowest task's, as raised.

#include "Boot/CrossValidation.h"

#include "KQmessage/Diagnostics.h"
#include "KQmessage/KestraneError.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <set>
#include <thread>

namespace {

using namespace kestrane;

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

TEST(RunTasksTest, OrderAndFailureDoNotDependOnTheThreads) {
  for (int jobs : {1, 2, 3, 8}) {
    SCOPED_TRACE("jobs " + std::to_string(jobs));
    // Tasks that end in another order than they start; what they report
    // reaches the caller's sink, whichever thread runs them.
    TCollectingDiagnosticSink sink;
    const TDiagnosticScope scope(sink);
    const std::vector<FoldScore> scores = RunTasks(12, jobs, [](int i) {
      Pause((12 - i) % 4);
      Warn("task " + std::to_string(i));
      return FoldScore{i * i, i, nullptr};
    });
    ASSERT_EQ(scores.size(), 12u);
    for (int i = 0; i < 12; ++i) {
      EXPECT_EQ(scores[i].correct, i * i);
      EXPECT_EQ(scores[i].rows, i);
    }
    EXPECT_EQ(sink.Take().size(), 12u);

    // Task 3 fails late, task 5 at once: task 3's failure comes out, as it was
    // raised, and the tasks after the failures never start.
    std::mutex lock;
    std::set<int> started;
    const auto failing = [](int i) {
      if (i == 3) {
        Pause(30);
        throw TSettingError(Setting::kRules, "task 3");
      }
      if (i == 5)
        throw TRunError("task 5");
      Pause(1);
      return FoldScore{};
    };
    try {
      RunTasks(1000, jobs, failing, [&](int i) {
        const std::lock_guard<std::mutex> hold(lock);
        started.insert(i);
      });
      ADD_FAILURE() << "no failure raised";
    } catch (const TSettingError &e) {
      EXPECT_EQ(e.GetSetting(), Setting::kRules);
      EXPECT_STREQ(e.what(), "task 3");
    }
    EXPECT_EQ(*started.begin(), 0);
    EXPECT_EQ(started.size(), static_cast<size_t>(*started.rbegin() + 1)); // in order, none skipped
    if (jobs == 1) {
      EXPECT_EQ(started.size(), 4u);
    }
    EXPECT_LT(started.size(), 100u);
  }
}

} // namespace

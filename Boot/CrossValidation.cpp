#include "Boot/CrossValidation.h"

#include "DataTools/CsvImport/ClassSplit.h"
#include "KQmessage/Diagnostics.h"
#include "KQmessage/KestraneError.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace kestrane {

std::vector<int> StratifiedFolds(const std::vector<int> &classOf, int numClasses, int folds,
                                 uint64_t seed) {
  std::vector<std::vector<int>> rowsOfClass(static_cast<size_t>(numClasses));
  for (size_t r = 0; r < classOf.size(); ++r)
    rowsOfClass.at(classOf[r]).push_back(static_cast<int>(r));
  SplitRandom random(seed);
  std::vector<int> foldOf(classOf.size(), 0);
  long dealt = 0;
  for (std::vector<int> &rows : rowsOfClass) {
    for (size_t i = rows.size(); i > 1; --i) {
      std::swap(rows[i - 1], rows[random.Below(i)]);
    }
    for (int r : rows)
      foldOf[static_cast<size_t>(r)] = static_cast<int>(dealt++ % folds);
  }
  return foldOf;
}

FoldScore ScoreFold(const LabelledData &data, const std::vector<int> &foldOf, int fold,
                    const NetworkShape &shape, const TrainSettings &settings) {
  LabelledData training;
  LabelledData held;
  for (size_t r = 0; r < data.rows.size(); ++r) {
    LabelledData &to = foldOf[r] == fold ? held : training;
    to.rows.push_back(data.rows[r]);
    to.labels.push_back(data.labels[r]);
  }
  FoldScore score;
  score.rows = static_cast<long>(held.rows.size());
  std::optional<Model> model;
  try {
    model.emplace(Fit(training.rows, training.labels, data.featureNames, shape, settings));
  } catch (const TDivergedError &) {
    score.diverged = std::current_exception();
    return score;
  }
  const Prediction prediction = model->Predict(held.rows);
  for (size_t r = 0; r < held.rows.size(); ++r) {
    if (model->Classes()[static_cast<size_t>(prediction.predicted[r])] == held.labels[r])
      ++score.correct;
  }
  return score;
}

namespace {

// The tasks' shared bookkeeping: the next task to start, and the first
// failure by task index.
class TaskQueue {
public:
  TaskQueue(int count, const std::function<void(int)> &started)
      : count_(count), started_(started) {}

  // The next task to run, announced; -1 once all have started or one failed.
  int Take() {
    const std::lock_guard<std::mutex> hold(lock_);
    if (failed_ || next_ >= count_)
      return -1;
    const int task = next_++;
    if (started_) {
      try {
        started_(task);
      } catch (...) {
        FailLocked(task, std::current_exception());
        return -1;
      }
    }
    return task;
  }

  void Fail(int task, std::exception_ptr error) {
    const std::lock_guard<std::mutex> hold(lock_);
    FailLocked(task, std::move(error));
  }

  // Once every worker has ended.
  void RethrowFailure() const {
    if (failed_)
      std::rethrow_exception(error_);
  }

private:
  void FailLocked(int task, std::exception_ptr error) {
    if (!failed_ || task < failedTask_) {
      failedTask_ = task;
      error_ = std::move(error);
    }
    failed_ = true;
  }

  std::mutex lock_;
  const int count_;
  const std::function<void(int)> &started_;
  int next_ = 0;
  bool failed_ = false;
  int failedTask_ = 0;
  std::exception_ptr error_;
};

void Work(TaskQueue &queue, const std::function<FoldScore(int)> &task,
          std::vector<FoldScore> &scores) {
  for (int i = queue.Take(); i >= 0; i = queue.Take()) {
    try {
      scores[static_cast<size_t>(i)] = task(i);
    } catch (...) {
      queue.Fail(i, std::current_exception());
    }
  }
}

} // namespace

std::vector<FoldScore> RunTasks(int count, int jobs, const std::function<FoldScore(int)> &task,
                                const std::function<void(int)> &started) {
  std::vector<FoldScore> scores(static_cast<size_t>(std::max(count, 0)));
  TaskQueue queue(count, started);
  // The helpers report where the caller's thread reports.
  TDiagnosticSink &sink = CurrentDiagnosticSink();
  const auto help = [&] {
    const TDiagnosticScope scope(sink);
    Work(queue, task, scores);
  };
  std::vector<std::thread> helpers;
  const int wanted = std::min(jobs, count) - 1;
  // The caller works too; helpers that cannot be had only make the run slower.
  try {
    for (int k = 0; k < wanted; ++k)
      helpers.emplace_back(help);
  } catch (const std::system_error &) {
  }
  Work(queue, task, scores);
  for (std::thread &helper : helpers)
    helper.join();
  queue.RethrowFailure();
  return scores;
}

} // namespace kestrane

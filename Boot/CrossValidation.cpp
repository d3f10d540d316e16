#include "Boot/CrossValidation.h"

#include "KQmessage/KestraneError.h"
#include "DataTools/CsvImport/ClassSplit.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>

namespace kestrane {

std::vector<int> StratifiedFolds(const std::vector<int> &classOf, int numClasses, int folds,
                                 uint64_t seed) {
  std::vector<std::vector<int>> rowsOfClass(static_cast<size_t>(numClasses));
  for (size_t r = 0; r < classOf.size(); ++r) rowsOfClass.at(classOf[r]).push_back(static_cast<int>(r));
  SplitRandom random(seed);
  std::vector<int> foldOf(classOf.size(), 0);
  long dealt = 0;
  for (std::vector<int> &rows : rowsOfClass) {
    for (size_t i = rows.size(); i > 1; --i) {
      std::swap(rows[i - 1], rows[random.Below(i)]);
    }
    for (int r : rows) foldOf[static_cast<size_t>(r)] = static_cast<int>(dealt++ % folds);
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
  Model model = Fit(training.rows, training.labels, data.featureNames, shape, settings);
  const Prediction prediction = model.Predict(held.rows);
  FoldScore score;
  score.rows = static_cast<long>(held.rows.size());
  for (size_t r = 0; r < held.rows.size(); ++r) {
    if (model.Classes()[static_cast<size_t>(prediction.predicted[r])] == held.labels[r]) ++score.correct;
  }
  return score;
}

namespace {

// A child's report: "correct rows", or "!" and the failure's text.
std::string RunChild(const std::function<FoldScore(int)> &task, int index) {
  FoldScore score;
  try {
    score = task(index);
  } catch (...) {
    return "!" + FailureReport(std::current_exception());
  }
  return std::to_string(score.correct) + " " + std::to_string(score.rows);
}

struct Child {
  int task;
  int fd;
};

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

// Children of a run that fails are stopped and reaped, whatever the failure.
class ChildGroup {
public:
  ~ChildGroup() {
    for (const auto &child : children) {
      kill(child.first, SIGKILL);
      close(child.second.fd);
    }
    for (const auto &child : children) waitpid(child.first, nullptr, 0);
  }
  std::map<pid_t, Child> children;
};

} // namespace

std::vector<FoldScore> RunTasks(int count, int jobs, const std::function<FoldScore(int)> &task,
                                const std::function<void(int)> &started) {
  std::vector<FoldScore> scores(static_cast<size_t>(count));
  if (jobs <= 1) {
    for (int i = 0; i < count; ++i) {
      if (started) started(i);
      scores[static_cast<size_t>(i)] = task(i);
    }
    return scores;
  }
  ChildGroup group;
  int next = 0;
  int done = 0;
  while (done < count) {
    while (next < count && static_cast<int>(group.children.size()) < jobs) {
      int fds[2];
      if (pipe(fds) != 0) throw TRunError(std::string("cannot start a fold: ") + std::strerror(errno));
      std::fflush(nullptr);
      const pid_t pid = fork();
      if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        throw TRunError(std::string("cannot start a fold: ") + std::strerror(errno));
      }
      if (pid == 0) {
        close(fds[0]);
        const std::string report = RunChild(task, next);
        // A report of a few bytes fits the pipe whole: one write, no partial one.
        const ssize_t written = write(fds[1], report.data(), report.size());
        _exit(written == static_cast<ssize_t>(report.size()) ? 0 : 1);
      }
      close(fds[1]);
      group.children[pid] = Child{next, fds[0]};
      if (started) started(next);
      ++next;
    }
    int status = 0;
    const pid_t pid = waitpid(-1, &status, 0);
    if (pid < 0) {
      if (errno == EINTR) continue;
      throw TRunError(std::string("waiting for a fold: ") + std::strerror(errno));
    }
    const auto found = group.children.find(pid);
    if (found == group.children.end()) continue;
    const Child child = found->second;
    group.children.erase(found);
    const std::string report = ReadAll(child.fd);
    close(child.fd);
    if (!report.empty() && report[0] == '!') {
      std::string message = report.substr(1);
      while (!message.empty() && message.back() == '\n') message.pop_back();
      throw TRunError(message);
    }
    FoldScore score;
    std::istringstream in(report);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !(in >> score.correct >> score.rows)) {
      throw TRunError("a fold's process ended without a result" +
                      std::string(WIFSIGNALED(status) ? " (signal " + std::to_string(WTERMSIG(status)) + ")" : ""));
    }
    scores[static_cast<size_t>(child.task)] = score;
    ++done;
  }
  return scores;
}

} // namespace kestrane

#ifndef KESTRANE_BOOT_TVEMOBPBOOTSTRAP_H
#define KESTRANE_BOOT_TVEMOBPBOOTSTRAP_H

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace kestrane {

class Data;
class TBasicNetwork;
class TVemoBP;

// Bootstrap training of a TVemo: every round draws a fresh class-balanced
// training set (TDataManip::Recombine) and trains on it for a fixed number of
// epochs, until the epoch budget is spent or the error reaches the threshold.
class TVemoBPBootStrap {
public:
  // What the run has done so far; reported after every epoch.
  struct Progress {
    int32_t epochsSpent;
    int32_t totalEpochs;
    int32_t rounds; // the round in progress, from 1
    double error;   // of the last epoch
  };
  using ProgressFn = std::function<void(const Progress &)>;
  // Called after every round; true ends the run there.
  using RoundFn = std::function<bool()>;

  // The network is lent; it must be a network TVemoBP can train (TException otherwise).
  explicit TVemoBPBootStrap(TBasicNetwork *network);
  ~TVemoBPBootStrap();
  TVemoBPBootStrap(const TVemoBPBootStrap &) = delete;
  TVemoBPBootStrap &operator=(const TVemoBPBootStrap &) = delete;

  // Returns the error of the last epoch of the last round. A round is never
  // cut short, so up to epochsPerRound - 1 epochs beyond the total can run.
  // Exceptions of the draw pass through; a drawn set without rows raises
  // TException ("TVemoBPBootStrap::Run").
  double Run(int32_t numClasses, Data *const *tables, const int32_t *examples, int32_t totalEpochs,
             int32_t epochsPerRound, float learningRate, float momentum, double threshold,
             bool batch);

  // Called after every epoch (keep it cheap); none by default. An exception it
  // throws ends the run at once and passes through Run: that is how a front
  // end stops a run (an interrupt, a deadline).
  void SetProgress(ProgressFn fn) { progress = std::move(fn); }
  void SetRoundDone(RoundFn fn) { roundDone = std::move(fn); }
  // Per class, the copies of each row that every round's draw chooses among
  // (TDataManip::Recombine); empty, or an empty class: each row once.
  void SetRowCopies(std::vector<std::vector<int32_t>> copies) { rowCopies = std::move(copies); }
  // Classes asked for more rows than they have are drawn with replacement
  // (TDataManip::RecombineWithReplacement) instead of failing; off by default.
  void SetWithReplacement(bool on) { withReplacement = on; }
  // Training moves the input membership centres too (TVemoBPCentres); off by
  // default. Raises TException when the network cannot learn them.
  void SetLearnCentres(bool on);
  // Rounds run by the last Run.
  int32_t GetRounds() const { return rounds; }

private:
  TBasicNetwork *network;
  std::unique_ptr<TVemoBP> trainer;
  ProgressFn progress;
  RoundFn roundDone;
  std::vector<std::vector<int32_t>> rowCopies;
  int32_t rounds = 0;
  bool withReplacement = false;
};

} // namespace kestrane

#endif

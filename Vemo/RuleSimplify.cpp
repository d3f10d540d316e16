#include "Vemo/RuleSimplify.h"

#include "KQmessage/TException.h"
#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TPrunedConnections.h"
#include "Vemo/TVemo.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <tuple>
#include <vector>

namespace kestrane {

namespace {

struct Candidate {
  TBasicConnections *matrix;
  int from;
  int to;
  double weight;
  bool removed = false;
};

bool Pruneable(const TBasicConnections *matrix) {
  return std::strcmp(matrix->GetConnectionsNType(), TPrunedConnections::kTypeName) == 0;
}

TBasicConnections *Matrix(TVemo &network, int fromLayer, int toLayer) {
  return network.priv_conns_index[toLayer][fromLayer];
}

long CountArcs(TVemo &network, int fromLayer, int toLayer) {
  TBasicConnections *matrix = Matrix(network, fromLayer, toLayer);
  if (!matrix->IsConnected())
    return 0;
  const int fromCount = network.GetLayerSize(fromLayer);
  const int toCount = network.GetLayerSize(toLayer);
  long arcs = 0;
  for (int f = 0; f < fromCount; ++f) {
    for (int t = 0; t < toCount; ++t)
      arcs += matrix->IsValid(f, t) ? 1 : 0;
  }
  return arcs;
}

class Simplifier {
public:
  explicit Simplifier(TVemo &network) : net_(network) {
    C_ = network.GetLayerSize(TVemo::kConditionLayer);
    R_ = network.GetLayerSize(TVemo::kRuleLayer);
    A_ = network.GetLayerSize(TVemo::kActionLayer);
    conditions_ = Matrix(network, TVemo::kConditionLayer, TVemo::kRuleLayer);
    actions_ = Matrix(network, TVemo::kRuleLayer, TVemo::kActionLayer);
    if (Pruneable(conditions_))
      Collect(conditions_, C_, R_);
    if (Pruneable(actions_))
      Collect(actions_, R_, A_);
    std::stable_sort(arcs_.begin(), arcs_.end(), [](const Candidate &a, const Candidate &b) {
      return std::fabs(a.weight) < std::fabs(b.weight);
    });
    for (size_t i = 0; i < arcs_.size(); ++i)
      index_[Key(arcs_[i].matrix, arcs_[i].from, arcs_[i].to)] = i;
  }

  bool Any() const { return !arcs_.empty(); }
  size_t Count() const { return arcs_.size(); }

  // Zeroes a weight: to the forward pass the same as a removed arc.
  void Remove(size_t i) {
    arcs_[i].removed = true;
    *arcs_[i].matrix->GetWeightPtr(arcs_[i].from, arcs_[i].to) = 0.0;
  }
  void Restore(size_t i) {
    arcs_[i].removed = false;
    *arcs_[i].matrix->GetWeightPtr(arcs_[i].from, arcs_[i].to) = arcs_[i].weight;
  }

  // Every condition neuron still reaches a rule with a conclusion, and some rule has one.
  bool Sound() const {
    std::vector<char> concludes(static_cast<size_t>(R_), 0);
    for (int r = 0; r < R_; ++r) {
      for (int k = 0; k < A_ && !concludes[r]; ++k)
        concludes[r] = Present(actions_, r, k);
    }
    if (std::find(concludes.begin(), concludes.end(), 1) == concludes.end())
      return false;
    for (int c = 0; c < C_; ++c) {
      bool reaches = false;
      for (int r = 0; r < R_ && !reaches; ++r)
        reaches = concludes[r] && Present(conditions_, c, r);
      if (!reaches)
        return false;
    }
    return true;
  }

  // Makes the zeroed arcs real removals and drops the rules without conclusions.
  void Commit() {
    for (const Candidate &arc : arcs_) {
      if (arc.removed)
        arc.matrix->RemoveArc(arc.from, arc.to);
    }
    net_.PruneDeadNeurons();
  }

private:
  void Collect(TBasicConnections *matrix, int fromCount, int toCount) {
    for (int f = 0; f < fromCount; ++f) {
      for (int t = 0; t < toCount; ++t) {
        if (matrix->IsValid(f, t))
          arcs_.push_back({matrix, f, t, *matrix->GetWeightPtr(f, t)});
      }
    }
  }

  using ArcKey = std::tuple<const TBasicConnections *, int, int>;
  static ArcKey Key(const TBasicConnections *matrix, int from, int to) {
    return ArcKey(matrix, from, to);
  }

  bool Present(TBasicConnections *matrix, int from, int to) const {
    if (!matrix->IsValid(from, to))
      return false;
    const auto found = index_.find(Key(matrix, from, to));
    return found == index_.end() || !arcs_[found->second].removed;
  }

  TVemo &net_;
  int C_ = 0, R_ = 0, A_ = 0;
  TBasicConnections *conditions_ = nullptr;
  TBasicConnections *actions_ = nullptr;
  std::vector<Candidate> arcs_;
  std::map<ArcKey, size_t> index_;
};

} // namespace

SimplifyReport SimplifyRuleBase(TVemo &network, const ClassRows &rows, double maxDrop) {
  const char *const function = "SimplifyRuleBase";
  if (network.numLayers != TVemo::kNumLayers || network.GetConditionLayer() == nullptr ||
      network.GetOutputLayer() == nullptr) {
    throw TException("Not a fuzzy network with condition and output layers", "Bad Parameter",
                     function);
  }
  const int I = network.GetNumInputs();
  if (rows.inputs != I || rows.values.size() != rows.Rows() * static_cast<size_t>(I)) {
    throw TException("The rows do not match the network's inputs", "Bad Parameter", function);
  }
  if (!(maxDrop >= 0.0))
    throw TException("The accuracy limit must be 0 or more", "Bad Parameter", function);

  SimplifyReport report;
  const auto arcs = [&network] {
    return CountArcs(network, TVemo::kConditionLayer, TVemo::kRuleLayer) +
           CountArcs(network, TVemo::kRuleLayer, TVemo::kActionLayer);
  };
  report.arcsBefore = arcs();
  report.rulesBefore = network.GetLayerSize(TVemo::kRuleLayer);
  report.accuracyBefore = ClassAccuracy(network, rows);

  Simplifier simplifier(network);
  report.pruneable = simplifier.Any();
  const double floor = report.accuracyBefore - maxDrop - 1e-9;
  size_t next = 0;
  size_t batch = std::max<size_t>(1, simplifier.Count() / 8);
  while (next < simplifier.Count()) {
    const size_t end = std::min(simplifier.Count(), next + batch);
    for (size_t i = next; i < end; ++i)
      simplifier.Remove(i);
    if (simplifier.Sound() && ClassAccuracy(network, rows) >= floor) {
      next = end;
      batch *= 2;
      continue;
    }
    for (size_t i = next; i < end; ++i)
      simplifier.Restore(i);
    if (batch == 1) {
      ++next; // this arc stays
    } else {
      batch /= 2;
    }
  }
  simplifier.Commit();

  report.arcsAfter = arcs();
  report.rulesAfter = network.GetLayerSize(TVemo::kRuleLayer);
  report.accuracyAfter = ClassAccuracy(network, rows);
  return report;
}

} // namespace kestrane

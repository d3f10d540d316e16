#ifndef KESTRANE_TESTS_VEMO_VEMOTESTHELPERS_H
#define KESTRANE_TESTS_VEMO_VEMOTESTHELPERS_H

#include "NeuralNets/TIterateObj.h"

#include <vector>

namespace vemotest {

struct Arc {
  int from;
  int to;
  double *weight;
  int trainable;
};

// Records every visited arc.
class Recorder : public kestrane::TIterateObj {
public:
  void Visit() override { arcs.push_back({fromNeuron, toNeuron, weight, trainable}); }
  std::vector<int> ToNeurons() const {
    std::vector<int> out;
    for (const Arc &a : arcs)
      out.push_back(a.to);
    return out;
  }
  std::vector<int> FromNeurons() const {
    std::vector<int> out;
    for (const Arc &a : arcs)
      out.push_back(a.from);
    return out;
  }
  std::vector<Arc> arcs;
};

// Records the two weight addresses of every visit.
class Recorder2 : public kestrane::TIterateObj2 {
public:
  void Visit() override { pairs.push_back({weight1, weight2}); }
  std::vector<std::pair<double *, double *>> pairs;
};

class Recorder3 : public kestrane::TIterateObj3 {
public:
  void Visit() override { weights.push_back({weight1, weight2, weight3}); }
  std::vector<std::vector<double *>> weights;
};

} // namespace vemotest

#endif

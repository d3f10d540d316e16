// Pattern updates per second of on-line and batch TVemoBP training and
// forward passes per second, for three network sizes. Run a Release build:
//   build/bench/kestrane_bench
// "items_per_second" is patterns (or forward passes) per second.

#include "DataObject/Data.h"
#include "KQmessage/KQML.h"
#include "Vemo/TVemo.h"
#include "Vemo/TVemoBP.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using namespace kestrane;

struct Size {
  int inputs, mfPerInput, rules, outputs, mfPerOutput;
};

constexpr Size kSizes[] = {{4, 3, 12, 3, 3}, {13, 3, 40, 3, 3}, {30, 4, 100, 2, 5}};
constexpr int kRows = 64;

std::unique_ptr<TVemo> MakeNet(const Size &s) {
  std::vector<int> in(static_cast<size_t>(s.inputs), s.mfPerInput);
  std::vector<int> out(static_cast<size_t>(s.outputs), s.mfPerOutput);
  auto net = std::make_unique<TVemo>(s.inputs, in.data(), s.rules, out.data(), s.outputs);
  srand(1);
  net->InitWeights(-1, 1);
  return net;
}

std::unique_ptr<Data> MakeTable(const Size &s) {
  auto table = std::make_unique<Data>(kRows, s.inputs, s.outputs, false);
  std::vector<double> in(static_cast<size_t>(s.inputs)), out(static_cast<size_t>(s.outputs));
  srand(2);
  for (int r = 0; r < kRows; ++r) {
    for (double &v : in)
      v = rand() / static_cast<double>(RAND_MAX);
    for (double &v : out)
      v = rand() / static_cast<double>(RAND_MAX);
    table->AppendRow(in.data(), out.data());
  }
  return table;
}

void Train(benchmark::State &state, bool batch) {
  const Size &s = kSizes[state.range(0)];
  auto net = MakeNet(s);
  auto table = MakeTable(s);
  TVemoBP bp(net.get());
  TKQstructure record("Params");
  record.SetNumber("LearningRate", 0.1);
  record.SetNumber("Momentum", 0.5);
  record.SetBoolean("Batch", batch);
  for (auto _ : state)
    benchmark::DoNotOptimize(bp.TrainEpoch(table.get(), &record));
  state.SetItemsProcessed(state.iterations() * kRows);
}

void OnlineTraining(benchmark::State &state) { Train(state, false); }
void BatchTraining(benchmark::State &state) { Train(state, true); }

void ForwardPass(benchmark::State &state) {
  const Size &s = kSizes[state.range(0)];
  auto net = MakeNet(s);
  auto table = MakeTable(s);
  std::vector<double> out(static_cast<size_t>(s.outputs));
  int r = 0;
  for (auto _ : state) {
    net->Recall(table->InputSlot(r), out.data());
    benchmark::DoNotOptimize(out.data());
    r = (r + 1) % kRows;
  }
  state.SetItemsProcessed(state.iterations());
}

// Argument: 0 = 4x3, 12 rules, 3x3; 1 = 13x3, 40 rules, 3x3; 2 = 30x4, 100 rules, 2x5.
BENCHMARK(OnlineTraining)->DenseRange(0, 2);
BENCHMARK(BatchTraining)->DenseRange(0, 2);
BENCHMARK(ForwardPass)->DenseRange(0, 2);

} // namespace

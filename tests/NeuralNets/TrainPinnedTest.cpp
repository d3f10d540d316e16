// Pinned results of seeded training runs through the library: every weight,
// gradient, momentum step and neuron value of the network and its two stores,
// and every epoch's error, reduced to one fingerprint per setting. The
// fingerprints were taken from the straightforward visitor implementation;
// a faster train module must reproduce them bit for bit.

#include "DataObject/Data.h"
#include "KQmessage/KQML.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TErrorObj.h"
#include "NeuralNets/TMLPNetwork.h"
#include "NeuralNets/TPrunedConnections.h"
#include "NeuralNets/TTrainModule.h"
#include "Vemo/TVemo.h"
#include "Vemo/TVemoBP.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace kestrane;

struct Fingerprint {
  uint64_t h = 1469598103934665603ull;
  void Add(const void *p, size_t n) {
    const auto *b = static_cast<const unsigned char *>(p);
    for (size_t i = 0; i < n; ++i)
      h = (h ^ b[i]) * 1099511628211ull;
  }
  void Add(double x) { Add(&x, sizeof x); }
  void Add(const std::vector<double> &v) { Add(v.data(), v.size() * sizeof(double)); }
};

// Weights of every existing arc, the raw blocks of the prunable matrices
// (frozen and removed arcs included) and every neuron value.
void AddNetwork(Fingerprint &fp, TBasicNetwork &net) {
  std::vector<double> w(static_cast<size_t>(net.GetNumWeights(FMaskExists)));
  net.GetWeights(w.data(), FMaskExists);
  fp.Add(w);
  for (TBasicConnections *conn : net.priv_conns)
    if (auto *pruned = dynamic_cast<TPrunedConnections *>(conn))
      fp.Add(pruned->array_weights);
  for (TBasicLayer *layer : net.layers)
    fp.Add(layer->activations);
}

std::unique_ptr<Data> RandomTable(int rows, int inputs, int outputs, unsigned seed) {
  auto table = std::make_unique<Data>(rows, inputs, outputs, false);
  std::vector<double> in(static_cast<size_t>(inputs)), out(static_cast<size_t>(outputs));
  srand(seed);
  for (int r = 0; r < rows; ++r) {
    for (double &v : in)
      v = rand() / static_cast<double>(RAND_MAX) * 1.2 - 0.1;
    for (double &v : out)
      v = rand() / static_cast<double>(RAND_MAX);
    table->AppendRow(in.data(), out.data());
  }
  return table;
}

struct Setting {
  const char *name;
  bool batch;
  double momentum;     // < 0: no MOMENTUM in the record
  const char *penalty; // nullptr: none given
  bool crossEntropy;
  bool noRate;
};

TKQstructure Record(const Setting &s) {
  TKQstructure record("Params");
  if (!s.noRate)
    record.SetNumber("LearningRate", 0.3);
  if (s.momentum >= 0)
    record.SetNumber("Momentum", s.momentum);
  record.SetBoolean("Batch", s.batch);
  if (s.crossEntropy)
    record.SetWord("ErrorFunction", "CrossEntropy");
  if (s.penalty != nullptr)
    record.Set("WeightPenalty", TKQstructure::Parse(s.penalty));
  return record;
}

// Runs three calls of Train (two epochs each) and fingerprints the lot.
uint64_t TrainAndFingerprint(TTrainModule &module, TBasicNetwork &net, Data &table,
                             const Setting &s) {
  TKQstructure record = Record(s);
  Fingerprint fp;
  for (int call = 0; call < 3; ++call) {
    int epochs = 2;
    fp.Add(module.Train(&table, &record, epochs));
    fp.Add(&epochs, sizeof epochs);
  }
  AddNetwork(fp, net);
  AddNetwork(fp, *module.gradients);
  AddNetwork(fp, *module.changes);
  return fp.h;
}

// Two inputs with 3 and 2 functions, 6 rules, two outputs with 3 and 2
// functions; a frozen, a removed and a flag-2 rule arc, a frozen condition
// centre and centres of -0.0, which the momentum step turns into +0.0.
std::unique_ptr<TVemo> PinnedVemo() {
  const int in[] = {3, 2}, out[] = {3, 2};
  auto net = std::make_unique<TVemo>(2, in, 6, out, 2);
  srand(11);
  net->InitWeights(-1, 1);
  net->FreezeWeight(2, 1, 0);
  net->priv_conns_index[4][3]->RemoveArc(2, 0);
  net->priv_conns_index[3][2]->SetFlags(4, 3, 2);
  net->FreezeWeight(1, 1, 0);
  net->SetWeightValue(1, 0, 0, -0.0);
  net->SetWeightValue(4, 3, 1, -0.0);
  return net;
}

const Setting kSettings[] = {
    {"online momentum", false, 0.6, nullptr, false, false},
    {"online plain", false, -1, nullptr, false, false},
    {"online zero momentum", false, 0.0, nullptr, false, false},
    {"online momentum 0.9", false, 0.9, nullptr, false, false},
    {"batch plain", true, -1, nullptr, false, false},
    {"batch momentum", true, 0.6, nullptr, false, false},
    {"online quad", false, 0.6, "(QUADPENALTY :EPSILON1 0.01 :EPSILON2 0.002 :BETA 2)", false,
     false},
    {"batch quad", true, -1, "(QUADPENALTY :EPSILON1 0.01 :EPSILON2 0.002)", false, false},
    {"online lwf", false, -1, "(LWF :FORGETTINGRATE 0.001)", false, false},
    {"batch lwf", true, 0.6, "(LWF :FORGETTINGRATE 0.001)", false, false},
    {"online cross-entropy", false, 0.6, nullptr, true, false},
    {"online no rate", false, 0.6, nullptr, false, true},
};

TEST(TrainPinned, SeededVemoRunsGiveThePinnedState) {
  const uint64_t expected[] = {
      0x88fca1571fecbb40ull,
      0xe20cf9ce2e91b40aull,
      0xe20cf9ce2e91b40aull,
      0x160e13b72c5a441cull,
      0x5d38d2d3e8f844dfull,
      0xcbd5def9adf427e7ull,
      // The four penalty runs: the penalties leave the membership centres alone.
      0xf8cd7656bc928081ull,
      0x076f35a6ff878acaull,
      0xc41d550e4e9826ccull,
      0xee79a2a538a99687ull,
      0x0723d4338d6c54d0ull,
      0x6eb81d925ceabe62ull,
  };
  auto table = RandomTable(9, 2, 2, 21);
  size_t i = 0;
  for (const Setting &s : kSettings) {
    auto net = PinnedVemo();
    TVemoBP bp(net.get());
    const uint64_t got = TrainAndFingerprint(bp, *net, *table, s);
    EXPECT_EQ(got, expected[i]) << s.name;
    ++i;
  }
}

// A centre of -0.0 has a zero gradient, yet the momentum step adds +0.0 to it
// (giving +0.0) while the plain step subtracts +0.0 (keeping -0.0).
TEST(TrainPinned, ZeroGradientStepsKeepTheSignOfZeroAsTheArithmeticGives) {
  auto table = RandomTable(4, 2, 2, 3);
  for (double momentum : {0.6, -1.0}) {
    auto net = PinnedVemo();
    TVemoBP bp(net.get());
    TKQstructure record = Record({"", false, momentum, nullptr, false, false});
    int epochs = 1;
    bp.Train(table.get(), &record, epochs);
    double centre = 1, output = 1;
    net->GetWeightValue(1, 0, 0, centre);
    net->GetWeightValue(4, 3, 1, output);
    EXPECT_EQ(centre, 0.0);
    EXPECT_EQ(std::signbit(centre), momentum < 0) << momentum;
    EXPECT_EQ(std::signbit(output), momentum < 0) << momentum;
  }
}

// Overrides a pattern step (with the same behaviour), which sends every epoch
// down the general visitor path.
class TGeneralPathVemoBP : public TVemoBP {
public:
  using TVemoBP::TVemoBP;
  void ComputeGradient(const double *inputs, const double *targets, bool crossEntropy,
                       TErrorObj *measure) override {
    TVemoBP::ComputeGradient(inputs, targets, crossEntropy, measure);
  }
};

class TOverridingBackprop : public TBackpropModule {
public:
  using TBackpropModule::TBackpropModule;
  void UpdateWeights(TKQstructure *record) override { TBackpropModule::UpdateWeights(record); }
};

// The fast path serves exactly the classes that declare the step they run:
// a subclass that overrides a step cannot inherit it.
TEST(TrainPinned, OnlyAClassThatDeclaresItsStepTakesTheFastPath) {
  auto vemo = PinnedVemo();
  const int sizes[] = {2, 2, 1};
  TMLPNetwork mlp(3, sizes, true);
  EXPECT_TRUE(TBackpropModule(&mlp).TakesFastPath());
  EXPECT_TRUE(TVemoBP(vemo.get()).TakesFastPath());
  EXPECT_FALSE(TOverridingBackprop(&mlp).TakesFastPath());
  EXPECT_FALSE(TGeneralPathVemoBP(vemo.get()).TakesFastPath());
}

// A wider network (rows in groups of 8, blocks past one chunk of arcs) with
// arcs removed, frozen and flagged 2 at random: the fast epoch and the
// general path end in the same state, bit for bit.
TEST(TrainPinned, FastEpochMatchesTheGeneralPathOnAWideNetwork) {
  auto table = RandomTable(12, 13, 3, 8);
  for (const Setting &s : kSettings) {
    uint64_t result[2];
    for (int general = 0; general < 2; ++general) {
      const std::vector<int> in(13, 3), out(3, 3);
      TVemo net(13, in.data(), 21, out.data(), 3);
      srand(4);
      net.InitWeights(-1, 1);
      for (int cell : {3 * 6 + 2, 4 * 6 + 3}) {
        TBasicConnections *conn = net.priv_conns[static_cast<size_t>(cell)];
        const int f = conn->GetNumFromNeurons(), t = conn->GetNumToNeurons();
        for (int k = 0; k < 25; ++k)
          conn->SetFlags(rand() % f, rand() % t, static_cast<unsigned char>(rand() % 3));
      }
      std::unique_ptr<TVemoBP> bp =
          general ? std::make_unique<TGeneralPathVemoBP>(&net) : std::make_unique<TVemoBP>(&net);
      // Frozen after the stores were copied: their flags no longer agree.
      net.priv_conns[3 * 6 + 2]->SetFlags(0, 0, FMaskExists);
      result[general] = TrainAndFingerprint(*bp, net, *table, s);
    }
    EXPECT_EQ(result[0], result[1]) << s.name;
  }
}

// Sigmoid-gain layers, a bias layer and prunable matrices through the
// general backward pass of TBackpropModule.
TEST(TrainPinned, SeededPerceptronRunsGiveThePinnedState) {
  const uint64_t expected[] = {0xef842043822560bcull, 0x74b28db33497dee1ull, 0x6c56954e936e1168ull};
  const Setting settings[] = {kSettings[0], kSettings[4], kSettings[6]};
  auto table = RandomTable(7, 3, 2, 5);
  size_t i = 0;
  for (const Setting &s : settings) {
    const int sizes[] = {3, 4, 2};
    TMLPNetwork net(3, sizes, true);
    srand(9);
    net.Randomize(-1, 1);
    net.priv_conns_index[2][1]->FreezeArc(1, 2);
    TBackpropModule bp(&net);
    const uint64_t got = TrainAndFingerprint(bp, net, *table, s);
    EXPECT_EQ(got, expected[i]) << s.name;
    ++i;
  }
}

} // namespace

namespace {

// A fully connected network (whose matrices the pattern loop holds by
// columns) and one with arcs removed and frozen (which it walks by rows),
// small and wide (columns and rows past the short four-lane kernels), on
// tables whose middle patterns fill a batch group of four, part of one, or
// several: the fast epoch ends where the general path does.
TEST(TrainPinned, PatternLoopMatchesTheGeneralPath) {
  struct Shape {
    std::vector<int> in;
    int rules;
    std::vector<int> out;
  };
  // Rules 12 and 16 wide: the kernels' fixed-width paths.
  const Shape shapes[] = {{{2, 3, 2}, 6, {3, 2}},
                          {{4, 4, 4, 4, 4}, 18, {3, 3}},
                          {{3, 2}, 12, {2, 2, 2}},
                          {{2, 2}, 16, {4}}};
  for (const Shape &shape : shapes)
    for (int rows : {3, 4, 6, 7, 11}) {
      const int inputs = static_cast<int>(shape.in.size());
      const int outputs = static_cast<int>(shape.out.size());
      auto table = RandomTable(rows, inputs, outputs, static_cast<unsigned>(rows));
      for (bool pruned : {false, true})
        for (const Setting &s : kSettings) {
          uint64_t result[2];
          for (int general = 0; general < 2; ++general) {
            TVemo net(inputs, shape.in.data(), shape.rules, shape.out.data(), outputs);
            srand(5);
            net.InitWeights(-1, 1);
            if (pruned) {
              net.priv_conns_index[3][2]->RemoveArc(1, 2);
              net.FreezeWeight(3, 0, 4);
            }
            std::unique_ptr<TVemoBP> bp = general ? std::make_unique<TGeneralPathVemoBP>(&net)
                                                  : std::make_unique<TVemoBP>(&net);
            result[general] = TrainAndFingerprint(*bp, net, *table, s);
          }
          EXPECT_EQ(result[0], result[1])
              << s.name << ", " << inputs << " inputs, " << rows << " rows, pruned " << pruned;
        }
    }
}

// An output centre beyond 1 lets some patterns' outputs leave [0, 1]: the
// epoch fails at the same pattern with the same message and output, leaving
// the network, its stores and the table's cursor as the general path does.
TEST(TrainPinned, PatternLoopFailsWhereTheGeneralPathFails) {
  auto table = RandomTable(23, 3, 2, 17);
  // Without a rate the on-line weights stay put, so that the run gets as far.
  for (const Setting &s : {kSettings[11], kSettings[4]}) {
    uint64_t state[2];
    int failedAt = 0;
    std::string printed[2], message[2];
    for (int general = 0; general < 2; ++general) {
      const int in[] = {2, 3, 2}, out[] = {3, 2};
      TVemo net(3, in, 6, out, 2);
      srand(7);
      net.InitWeights(-1, 1);
      net.SetWeightValue(4, 2, 0, 2.42);
      std::unique_ptr<TVemoBP> bp =
          general ? std::make_unique<TGeneralPathVemoBP>(&net) : std::make_unique<TVemoBP>(&net);
      TKQstructure record = Record(s);
      int epochs = 1;
      testing::internal::CaptureStdout();
      try {
        bp->Train(table.get(), &record, epochs);
      } catch (const TException &e) {
        message[general] = e.what();
      }
      printed[general] = testing::internal::GetCapturedStdout();
      Fingerprint fp;
      AddNetwork(fp, net);
      AddNetwork(fp, *bp->gradients);
      AddNetwork(fp, *bp->changes);
      fp.Add(&table->MbrNdxCursor, sizeof table->MbrNdxCursor);
      state[general] = fp.h;
      failedAt = table->MbrNdxCursor;
    }
    EXPECT_EQ(message[1], "Defuzzified output outside [0, 1]") << s.name;
    EXPECT_EQ(failedAt, 5) << s.name; // past a batch group of four
    EXPECT_EQ(message[0], message[1]) << s.name;
    EXPECT_EQ(printed[0], printed[1]) << s.name;
    EXPECT_EQ(state[0], state[1]) << s.name;
  }
}

} // namespace

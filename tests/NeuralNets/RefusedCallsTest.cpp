// Library calls a caller can make with arguments that cannot work: each must
// raise a TException and leave the network exactly as it was.

#include "DataObject/Data.h"
#include "KQmessage/KQML.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TMLPNetwork.h"
#include "NeuralNets/TTrainModule.h"
#include "tests/NeuralNets/NetFixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace kestrane;
using kestrane_test::WeightsOf;

// Layer sizes, every existing weight and every arc's flags.
std::string Snapshot(TBasicNetwork &net) {
  std::ostringstream out;
  out.precision(17);
  for (TBasicLayer *layer : net.layers)
    out << layer->numNeurons << ' ';
  for (double w : WeightsOf(net, FMaskExists))
    out << w << ' ';
  for (TBasicConnections *conn : net.priv_conns)
    for (unsigned char flags : conn->GetAllFlags())
      out << int(flags);
  return out.str();
}

struct World {
  World() {
    const int sizes[] = {2, 2, 1};
    net = std::make_unique<TMLPNetwork>(3, sizes, true);
    srand(5);
    net->Randomize(-1, 1);
    const double in[][2] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};
    const double out[] = {0, 1, 1, 0};
    table = std::make_unique<Data>(4, 2, 1, false);
    for (int r = 0; r < 4; ++r)
      table->AppendRow(in[r], &out[r]);
    record.SetNumber("LEARNINGRATE", 0.5);
    record.SetNumber("MOMENTUM", 0.5);
  }
  double Train() {
    int epochs = 2;
    return module->Train(table.get(), &record, epochs);
  }

  std::unique_ptr<TMLPNetwork> net;
  std::unique_ptr<Data> table;
  TKQstructure record{"Params"};
  std::unique_ptr<TBackpropModule> module;
};

struct Refusal {
  const char *what;
  std::function<void(World &)> prepare; // may change the network; not checked
  std::function<void(World &)> call;    // must throw and change nothing
};

void Module(World &w) { w.module = std::make_unique<TBackpropModule>(w.net.get()); }

TEST(RefusedCalls, ThrowAndChangeNothing) {
  const Refusal cases[] = {
      {"unknown error function",
       [](World &w) {
         Module(w);
         w.record.SetWord("ERRORFUNCTION", "HINGE");
       },
       [](World &w) { w.Train(); }},
      {"unknown penalty head",
       [](World &w) {
         Module(w);
         w.record.Set("WEIGHTPENALTY", std::make_unique<TKQstructure>("HUBER"));
       },
       [](World &w) { w.Train(); }},
      {"penalty gradient with an unknown head", Module,
       [](World &w) {
         TKQstructure penalty("HUBER");
         w.module->PenaltyGradient(&penalty, 1, 1, 0.5);
       }},
      {"cross-entropy over a tanh output layer",
       [](World &w) {
         w.net->layers[w.net->outLayer]->SetLayerActFunction(ActTanh);
         Module(w);
         w.record.SetWord("ERRORFUNCTION", "CROSSENTROPY");
       },
       [](World &w) { w.Train(); }},
      {"neuron added after the module was made",
       [](World &w) {
         Module(w);
         w.net->AddNeuron(2, 1, -1, 1, true);
       },
       [](World &w) { w.Train(); }},
      {"arc unfrozen after the module was made",
       [](World &w) {
         w.net->priv_conns_index[2][1]->FreezeArc(0, 0);
         Module(w);
         w.net->priv_conns_index[2][1]->UnfreezeArc(0, 0);
       },
       [](World &w) { w.module->TrainEpoch(w.table.get(), &w.record); }},
      {"connect a layer pair outside the network", [](World &) {},
       [](World &w) { w.net->Connect(1, 4); }},
      {"disconnect a negative layer", [](World &) {}, [](World &w) { w.net->Disconnect(-1, 2); }},
      {"gain function on a simple layer", [](World &) {},
       [](World &w) { w.net->layers[0]->SetLayerActFunction(ActSigmoidGain); }},
      {"gain function on a simple neuron", [](World &) {},
       [](World &w) { w.net->layers[1]->GetNeuron(0)->SetActFunction(ActTanhGain); }},
      {"condition function on a gain layer", [](World &) {},
       [](World &w) { w.net->layers[2]->SetLayerActFunction(ActVemoCondition); }},
      {"arc added after the module was made",
       [](World &w) {
         w.net->priv_conns_index[3][2]->RemoveArc(0, 0);
         Module(w);
         w.net->priv_conns_index[3][2]->AddArc(0, 0);
       },
       [](World &w) { w.Train(); }},
  };
  for (const Refusal &c : cases) {
    World w;
    c.prepare(w);
    const std::string before = Snapshot(*w.net);
    EXPECT_THROW(c.call(w), TException) << c.what;
    EXPECT_EQ(Snapshot(*w.net), before) << c.what;
  }
}

TEST(RefusedCalls, ConstructorsAndTheRegistryRejectWhatCannotWork) {
  const int sizes[] = {2, -1, 1};
  const int good[] = {2, 3, 1};
  const std::function<void()> calls[] = {
      [&] { TConnectedNetwork net(3, nullptr); },
      [&] { TConnectedNetwork net(3, sizes); },
      [&] { TConnectedNetwork net(0, good); },
      [&] { TConnectedNetwork net(-2, good); },
      [&] { TBasicNetwork net(-1); },
      [&] { TFnRegistry().GetFunction(nullptr); },
      [&] {
        TConnectedNetwork net(3, good);
        net.Connect(3, 0);
      },
  };
  int i = 0;
  for (const auto &call : calls)
    EXPECT_THROW(call(), TException) << "call " << i++;
  TFnRegistry registry;
  registry.RegisterBuiltins();
  EXPECT_EQ(registry.GetFunction("sigmoid"), ActSigmoid);
}

// A freeze or removal after the module was made leaves the stores a slot
// nobody reads, so training goes on.
TEST(RefusedCalls, FreezingOrRemovingAnArcLaterIsHarmless) {
  World w;
  Module(w);
  w.net->priv_conns_index[2][1]->FreezeArc(0, 0);
  w.net->priv_conns_index[3][2]->RemoveArc(0, 0);
  EXPECT_NO_THROW(w.Train());
}

// The same changes made before the module trains without complaint.
TEST(RefusedCalls, AModuleMadeAfterAShapeChangeTrains) {
  World w;
  w.net->AddNeuron(2, 1, -1, 1, true);
  w.net->priv_conns_index[2][1]->FreezeArc(0, 0);
  Module(w);
  const std::string before = Snapshot(*w.net);
  EXPECT_NO_THROW(w.Train());
  EXPECT_NE(Snapshot(*w.net), before);
}

} // namespace

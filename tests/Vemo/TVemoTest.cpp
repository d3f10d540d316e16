#include "Vemo/TVemo.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TBasicNetwork.h"
#include "Vemo/TConditionLayer.h"
#include "Vemo/TToConditionConnections.h"
#include "Vemo/TToOutputConnections.h"
#include "Vemo/TVemoOutputLayer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace kestrane;

// TVemo(2, {3, 2}, 4, {3}, 1): layer sizes 0, 2, 5, 4, 3, 1.
std::unique_ptr<TVemo> MakeNet() {
  const int in[] = {3, 2};
  const int out[] = {3};
  return std::make_unique<TVemo>(2, in, 4, out, 1);
}

TEST(Vemo, SizedConstructorBuildsTheLayerPlan) {
  auto net = MakeNet();
  EXPECT_EQ(net->GetNetworkNType(), std::string("Vemo"));
  ASSERT_EQ(net->numLayers, 6);
  EXPECT_EQ(net->inLayer, 1);
  EXPECT_EQ(net->outLayer, 5);
  const int sizes[] = {0, 2, 5, 4, 3, 1};
  const char *types[] = {"Simple", "Input", "FuzzyCondition", "Simple", "Simple", "Defuzzify"};
  const ActFunction fns[] = {ActNull, ActLinear, ActVemoCondition, ActSigmoid, ActSigmoid, ActCog};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(net->layers[i]->numNeurons, sizes[i]) << i;
    EXPECT_EQ(net->layers[i]->GetLayerNType(), std::string(types[i])) << i;
    EXPECT_EQ(net->layers[i]->GetLayerActFunction(), fns[i]) << i;
  }
  for (int to = 0; to < 6; ++to)
    for (int from = 0; from < 6; ++from) {
      const std::string type = net->priv_conns_index[to][from]->GetConnectionsNType();
      const char *expected = "Empty";
      if (from == 1 && to == 2)
        expected = "ToConditionConnections";
      else if ((from == 2 && to == 3) || (from == 3 && to == 4))
        expected = "Pruneable";
      else if (from == 4 && to == 5)
        expected = "ToOutputConnections";
      EXPECT_EQ(type, expected) << from << "->" << to;
    }
  std::vector<double> centres = net->GetWeightLayer(1);
  EXPECT_EQ(centres, (std::vector<double>{0.0, 0.5, 1.0, 0.0, 1.0}));
  EXPECT_EQ(net->GetWeightLayer(4), std::vector<double>(3, 0.0));
}

TEST(Vemo, EmptyConstructorLeavesLayersForTheReader) {
  TVemo net;
  EXPECT_EQ(net.numLayers, 6);
  EXPECT_EQ(net.priv_conns.size(), 36u);
  for (TBasicLayer *layer : net.layers)
    EXPECT_EQ(layer, nullptr);
  EXPECT_EQ(net.registry->GetUsed(), 12);
  net.FillUnsetLayers();
}

TEST(Vemo, TooFewMembershipFunctionsAreRejected) {
  struct Case {
    std::vector<int> in;
    std::vector<int> out;
    const char *message;
  };
  const Case cases[] = {
      {{1}, {1}, "Must be >= 2 MF per input"},
      {{2, 0}, {3}, "Must be >= 2 MF per input"},
      {{2}, {1}, "Must be >= 2 MF per output"},
  };
  for (const Case &c : cases) {
    try {
      TVemo net(static_cast<int>(c.in.size()), c.in.data(), 2, c.out.data(),
                static_cast<int>(c.out.size()));
      ADD_FAILURE() << c.message;
    } catch (const TException &e) {
      EXPECT_EQ(e.GetMessage(), c.message);
      EXPECT_EQ(e.GetCategory(), kBadParameter);
      EXPECT_EQ(e.GetFunctionName(), "TVemo::TVemo");
    }
  }
}

TEST(Vemo, SizedConstructorRejectsCountsThatCannotWork) {
  const int two[] = {2, 2};
  const int huge[] = {INT_MAX, 2};
  const std::function<void()> calls[] = {
      [&] { TVemo net(-1, two, 2, two, 1); },    [&] { TVemo net(1, two, -2, two, 1); },
      [&] { TVemo net(1, two, 2, two, -1); },    [&] { TVemo net(2, nullptr, 2, two, 1); },
      [&] { TVemo net(1, two, 2, nullptr, 1); }, [&] { TVemo net(2, huge, 2, two, 1); },
      [&] { TVemo net(1, two, 2, huge, 2); },
  };
  int i = 0;
  for (const auto &call : calls)
    EXPECT_THROW(call(), TException) << "call " << i++;
}

// The in-all-arcs cursor hands out each centre's own address.
TEST(Vemo, ArcsIteratorGivesTheCentresAddresses) {
  auto net = MakeNet();
  std::unique_ptr<TArcsIterator> it = net->CreateInAllArcsIterator();
  auto &cursor = static_cast<TConnInAllArcsIterator &>(*it);
  for (int layer : {2, 5}) {
    const int from = layer == 2 ? 1 : 4;
    cursor.Start(layer, layer == 2 ? 4 : 0);
    int arcs = 0;
    while (cursor.Next()) {
      ASSERT_EQ(cursor.GetFromLayer(), from);
      EXPECT_EQ(cursor.GetWeightPtr(), net->priv_conns_index[layer][from]->GetWeightPtr(
                                           cursor.GetFromNeuron(), cursor.GetToNeuron()));
      ++arcs;
    }
    EXPECT_EQ(arcs, net->layers[from]->numNeurons);
    while (cursor.Prev())
      EXPECT_EQ(cursor.GetWeightPtr(), net->priv_conns_index[layer][from]->GetWeightPtr(
                                           cursor.GetFromNeuron(), cursor.GetToNeuron()));
  }
}

TEST(Vemo, ConnectChoosesTheVemoMatrixClassesAndKeepsExistingOnes) {
  auto net = MakeNet();
  net->SetWeightValue(1, 0, 1, 0.4);
  net->Connect(1, 2);
  double v = 0;
  net->GetWeightValue(1, 0, 1, v);
  EXPECT_EQ(v, 0.4);
  net->Connect(0, 3);
  EXPECT_EQ(net->priv_conns_index[3][0]->GetConnectionsNType(), std::string("Pruneable"));
  net->Disconnect(4, 5);
  net->Connect(4, 5);
  EXPECT_EQ(net->priv_conns_index[5][4]->GetConnectionsNType(), std::string("ToOutputConnections"));
}

TEST(Vemo, WeightAccessByWeightLayer) {
  auto net = MakeNet();
  bool exists = true;
  net->WeightExists(1, 1, 2, exists);
  EXPECT_FALSE(exists);
  net->WeightExists(1, 1, 3, exists);
  EXPECT_TRUE(exists);
  net->WeightExists(4, 2, 0, exists);
  EXPECT_TRUE(exists);

  double v = -1;
  net->GetWeightValue(1, 0, 1, v);
  EXPECT_EQ(v, 0.5);

  net->SetWeightValue(2, 1, 2, 0.75);
  const std::vector<double> rules = net->GetWeightLayer(2);
  ASSERT_EQ(rules.size(), 20u);
  EXPECT_EQ(rules[6], 0.75);
  EXPECT_EQ(*net->priv_conns_index[3][2]->GetWeightPtr(1, 2), 0.75);

  net->SetWeightValue(4, 2, 0, 0.9);
  EXPECT_EQ(dynamic_cast<TToOutputConnections *>(net->priv_conns_index[5][4])->weights[2], 0.9);

  std::vector<double> actions(12);
  for (size_t i = 0; i < actions.size(); ++i)
    actions[i] = 0.01 * static_cast<double>(i);
  net->SetWeightLayer(3, actions.data());
  EXPECT_EQ(net->GetWeightLayer(3), actions);
  net->GetWeightValue(3, 2, 1, v); // position 2 * 3 + 1
  EXPECT_EQ(v, actions[7]);

  const std::vector<double> centres = {0.1, 0.2, 0.3, 0.4, 0.5};
  net->SetWeightLayer(1, centres.data());
  EXPECT_EQ(net->GetWeightLayer(1), centres);
  EXPECT_EQ(net->GetConditionLayer()->nodes[3].centre, 0.4);
}

TEST(Vemo, FreezeAndUnfreezeTakeTheToNodeFirst) {
  auto net = MakeNet();
  net->FreezeWeight(1, 4, 0);
  EXPECT_FALSE(net->GetConditionLayer()->nodes[4].trainable);
  net->UnfreezeWeight(1, 4, 0);
  EXPECT_TRUE(net->GetConditionLayer()->nodes[4].trainable);

  net->FreezeWeight(2, 3, 1); // arc from 1 to 3
  EXPECT_FALSE(net->priv_conns_index[3][2]->IsTrainable(1, 3));
  EXPECT_TRUE(net->priv_conns_index[3][2]->IsTrainable(3, 1));
  net->UnfreezeWeight(2, 3, 1);
  EXPECT_TRUE(net->priv_conns_index[3][2]->IsTrainable(1, 3));

  net->FreezeWeight(4, 0, 1);
  EXPECT_EQ(net->priv_conns_index[5][4]->GetFlags(1, 0), FMaskExists);
}

// Every failure of the weight access: message, function, nothing changed.
TEST(Vemo, WeightAccessFailuresRaiseBeforeChangingAnything) {
  auto net = MakeNet();
  net->priv_conns_index[3][2]->RemoveArc(0, 0);
  double v = 0;
  bool b = false;
  std::vector<double> values(20, 0.5);
  struct Case {
    const char *what;
    std::function<void(TVemo &)> call;
    const char *message;
    const char *function;
  };
  const Case cases[] = {
      {"get layer 0", [&](TVemo &n) { n.GetWeightValue(0, 0, 0, v); }, "Invalid weight layer",
       "TVemo::GetWeightValue"},
      {"get layer 5", [&](TVemo &n) { n.GetWeightValue(5, 0, 0, v); }, "Invalid weight layer",
       "TVemo::GetWeightValue"},
      {"get foreign input", [&](TVemo &n) { n.GetWeightValue(1, 1, 0, v); },
       "Invalid weight number", "TVemo::GetWeightValue"},
      {"get negative", [&](TVemo &n) { n.GetWeightValue(1, -1, 0, v); }, "Invalid weight number",
       "TVemo::GetWeightValue"},
      {"get beyond", [&](TVemo &n) { n.GetWeightValue(2, 5, 0, v); }, "Invalid weight number",
       "TVemo::GetWeightValue"},
      {"get removed", [&](TVemo &n) { n.GetWeightValue(2, 0, 0, v); }, "Invalid weight number",
       "TVemo::GetWeightValue"},
      {"get output beyond", [&](TVemo &n) { n.GetWeightValue(4, 0, 1, v); },
       "Invalid weight number", "TVemo::GetWeightValue"},
      {"set layer", [&](TVemo &n) { n.SetWeightValue(-1, 0, 0, 1.0); }, "Invalid weight layer",
       "TVemo::SetWeightValue"},
      {"set foreign input", [&](TVemo &n) { n.SetWeightValue(1, 0, 3, 1.0); },
       "Invalid weight number", "TVemo::SetWeightValue"},
      {"set negative", [&](TVemo &n) { n.SetWeightValue(4, -2, 0, 1.0); }, "Invalid weight number",
       "TVemo::SetWeightValue"},
      {"set negative to", [&](TVemo &n) { n.SetWeightValue(3, 0, -1, 1.0); },
       "Invalid weight number", "TVemo::SetWeightValue"},
      {"get whole layer", [&](TVemo &n) { n.GetWeightLayer(6); }, "Invalid weight layer",
       "TVemo::GetWeightLayer"},
      {"set whole layer", [&](TVemo &n) { n.SetWeightLayer(0, values.data()); },
       "Invalid weight layer", "TVemo::SetWeightLayer"},
      {"freeze layer", [&](TVemo &n) { n.FreezeWeight(9, 0, 0); }, "Invalid weight layer",
       "TVemo::FreezeWeight"},
      {"freeze removed", [&](TVemo &n) { n.FreezeWeight(2, 0, 0); }, "Invalid weight number",
       "TVemo::FreezeWeight"},
      {"freeze negative", [&](TVemo &n) { n.FreezeWeight(3, 0, -1); }, "Invalid weight number",
       "TVemo::FreezeWeight"},
      {"freeze condition beyond", [&](TVemo &n) { n.FreezeWeight(1, 5, 0); },
       "Invalid weight number", "TVemo::FreezeWeight"},
      {"freeze condition negative", [&](TVemo &n) { n.FreezeWeight(1, -1, 0); },
       "Invalid weight number", "TVemo::FreezeWeight"},
      {"freeze foreign output", [&](TVemo &n) { n.FreezeWeight(4, 1, 0); }, "Invalid weight number",
       "TVemo::FreezeWeight"},
      {"unfreeze layer", [&](TVemo &n) { n.UnfreezeWeight(0, 0, 0); }, "Invalid weight layer",
       "TVemo::UnfreezeWeight"},
      {"unfreeze removed", [&](TVemo &n) { n.UnfreezeWeight(2, 0, 0); }, "Invalid weight number",
       "TVemo::UnfreezeWeight"},
      {"unfreeze negative", [&](TVemo &n) { n.UnfreezeWeight(4, 0, -3); }, "Invalid weight number",
       "TVemo::UnfreezeWeight"},
      {"exists layer", [&](TVemo &n) { n.WeightExists(5, 0, 0, b); }, "Invalid weight layer",
       "TVemo::WeightExists"},
      {"exists to == C", [&](TVemo &n) { n.WeightExists(1, 0, 5, b); }, "Invalid node number",
       "TVemo::WeightExists"},
      {"exists from == I", [&](TVemo &n) { n.WeightExists(1, 2, 0, b); }, "Invalid node number",
       "TVemo::WeightExists"},
      {"exists negative", [&](TVemo &n) { n.WeightExists(2, -1, 0, b); }, "Invalid node number",
       "TVemo::WeightExists"},
      {"exists rule beyond", [&](TVemo &n) { n.WeightExists(3, 4, 0, b); }, "Invalid node number",
       "TVemo::WeightExists"},
      {"exists output beyond", [&](TVemo &n) { n.WeightExists(4, 0, 1, b); }, "Invalid node number",
       "TVemo::WeightExists"},
      {"activation layer", [&](TVemo &n) { n.GetActivationValue(6, 0, v); }, "Invalid node layer",
       "TVemo::GetActivationValue"},
      {"activation negative layer", [&](TVemo &n) { n.GetActivationValue(-1, 0, v); },
       "Invalid node layer", "TVemo::GetActivationValue"},
      {"activation beyond", [&](TVemo &n) { n.GetActivationValue(5, 1, v); }, "Invalid node number",
       "TVemo::GetActivationValue"},
      {"activation of empty bias", [&](TVemo &n) { n.GetActivationValue(0, 0, v); },
       "Invalid node number", "TVemo::GetActivationValue"},
      {"activation negative", [&](TVemo &n) { n.GetActivationValue(2, -1, v); },
       "Invalid node number", "TVemo::GetActivationValue"},
      {"init min above max", [&](TVemo &n) { n.InitWeights(1, -1); },
       "Invalid weight range: the minimum must not exceed the maximum", "TVemo::InitWeights"},
      {"init NaN", [&](TVemo &n) { n.InitWeights(std::nan(""), 1); },
       "Invalid weight range: the minimum must not exceed the maximum", "TVemo::InitWeights"},
      {"connect outside", [&](TVemo &n) { n.Connect(5, 6); },
       "No layer pair 5 -> 6 in a network of 6 layers", "TVemo::Connect"},
  };
  const int numWeights = net->GetNumWeights(FMaskExists);
  std::vector<double> before(static_cast<size_t>(numWeights));
  net->GetWeights(before.data(), FMaskExists);
  const std::vector<unsigned char> rulesFlags = net->priv_conns_index[3][2]->GetAllFlags();
  for (const Case &c : cases) {
    try {
      c.call(*net);
      ADD_FAILURE() << "no exception: " << c.what;
    } catch (const TException &e) {
      EXPECT_EQ(e.GetMessage(), c.message) << c.what;
      EXPECT_EQ(e.GetCategory(), kBadParameter) << c.what;
      EXPECT_EQ(e.GetFunctionName(), c.function) << c.what;
    }
    std::vector<double> after(static_cast<size_t>(numWeights));
    net->GetWeights(after.data(), FMaskExists);
    EXPECT_EQ(after, before) << c.what;
    EXPECT_EQ(net->priv_conns_index[3][2]->GetAllFlags(), rulesFlags) << c.what;
  }
  for (int j = 0; j < 5; ++j)
    EXPECT_TRUE(net->GetConditionLayer()->nodes[j].trainable);
}

TEST(Vemo, GetStructureHandsOutSizesAndCounts) {
  auto net = MakeNet();
  int inputs, conditions, rules, actions, outputs;
  std::vector<int> mfIn, mfOut;
  net->GetStructure(inputs, conditions, mfIn, rules, actions, mfOut, outputs);
  EXPECT_EQ(inputs, 2);
  EXPECT_EQ(conditions, 5);
  EXPECT_EQ(rules, 4);
  EXPECT_EQ(actions, 3);
  EXPECT_EQ(outputs, 1);
  EXPECT_EQ(mfIn, (std::vector<int>{3, 2}));
  EXPECT_EQ(mfOut, (std::vector<int>{3}));
}

TEST(Vemo, InitWeightsPlacesCentresAndDrawsRuleWeightsInOrder) {
  auto net = MakeNet();
  net->SetWeightValue(1, 0, 1, 0.3);
  std::srand(7);
  net->InitWeights(-1.0, 1.0);
  EXPECT_EQ(net->GetWeightLayer(1), (std::vector<double>{0.0, 0.5, 1.0, 0.0, 1.0}));
  EXPECT_EQ(net->GetWeightLayer(4), (std::vector<double>{0.0, 0.5, 1.0}));

  // Same seed: the 20 weights of 2->3 come first (storage order), then the 12 of 3->4.
  std::srand(7);
  TBasicNetwork shapes(*net);
  shapes.priv_conns_index[3][2]->Randomize(-1.0, 1.0);
  shapes.priv_conns_index[4][3]->Randomize(-1.0, 1.0);
  for (int layer = 2; layer <= 3; ++layer) {
    std::vector<double> a(32), b(32);
    const int n = net->priv_conns_index[layer + 1][layer]->GetWeights(a.data(), FMaskExists);
    shapes.priv_conns_index[layer + 1][layer]->GetWeights(b.data(), FMaskExists);
    EXPECT_EQ(a, b) << layer;
    EXPECT_GT(n, 0);
  }
}

TEST(Vemo, InitWeightsRefusesAnOutputWithOneFunction) {
  auto net = MakeNet();
  const int one[] = {1};
  net->GetOutputLayer()->SetOutputMFCounts(1, one); // as a network file could
  net->SetWeightValue(1, 0, 1, 0.3);
  EXPECT_THROW(net->InitWeights(0.0, 1.0), TException);
  double v;
  net->GetWeightValue(1, 0, 1, v);
  EXPECT_EQ(v, 0.3);
}

TEST(Vemo, CopyIsABasicNetworkWithTheSameParts) {
  auto net = MakeNet();
  net->InitWeights(-0.5, 0.5);
  TBasicNetwork copy(*net);
  EXPECT_EQ(copy.GetNetworkNType(), std::string("Basic"));
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(std::string(copy.layers[i]->GetLayerNType()), net->layers[i]->GetLayerNType());
  for (int i = 0; i < 36; ++i)
    EXPECT_EQ(std::string(copy.priv_conns[i]->GetConnectionsNType()),
              net->priv_conns[i]->GetConnectionsNType());
  const double x[] = {0.3, 0.6};
  double y1 = -1, y2 = -2;
  net->Recall(x, &y1);
  copy.Recall(x, &y2);
  EXPECT_EQ(y1, y2);
}

// Condition and action neurons belong to the fuzzy structure: pruning passes
// them over even without outgoing arcs, and removing one is refused.
TEST(Vemo, PruningKeepsStructuralNeuronsAndTheOutputs) {
  auto net = MakeNet();
  std::srand(3);
  net->InitWeights(-1.0, 1.0);
  for (int r = 0; r < 4; ++r)
    net->priv_conns_index[3][2]->RemoveArc(1, r); // condition neuron 1 is dead
  for (int a = 0; a < 3; ++a)
    net->priv_conns_index[4][3]->RemoveArc(2, a); // so is rule 2
  net->priv_conns_index[5][4]->SetFlags(0, 0, 0); // and action neuron 0, as a file could say
  const double xs[][2] = {{0.1, 0.9}, {0.5, 0.5}, {0.8, 0.2}};
  std::vector<double> before;
  for (const auto &x : xs) {
    double y = -1;
    net->Recall(x, &y);
    before.push_back(y);
  }

  EXPECT_EQ(net->PruneDeadNeurons(), 1);
  EXPECT_EQ(net->layers[2]->numNeurons, 5);
  EXPECT_EQ(net->layers[3]->numNeurons, 3);
  EXPECT_EQ(net->layers[4]->numNeurons, 3);
  for (size_t i = 0; i < before.size(); ++i) {
    double y = -1;
    net->Recall(xs[i], &y);
    EXPECT_EQ(y, before[i]) << i;
  }
  for (int layer : {2, 4}) {
    EXPECT_THROW(net->RemoveNeuron(layer, 0), TException) << layer;
    EXPECT_EQ(net->layers[layer]->numNeurons, layer == 2 ? 5 : 3);
  }
}

double Sigmoid(double x) { return 1.0 / (1.0 + std::exp(-x)); }

// One input with 3 functions, 2 rules, one output with 2 functions.
TEST(Vemo, ForwardPassMatchesHandComputation) {
  const int in[] = {3};
  const int out[] = {2};
  TVemo net(1, in, 2, out, 1);
  net.InitWeights(0.0, 0.0);
  // rule 0 <- functions 0 and 1, rule 1 <- function 2
  net.SetWeightValue(2, 0, 0, 2.0);
  net.SetWeightValue(2, 1, 0, -1.0);
  net.SetWeightValue(2, 2, 1, 3.0);
  net.SetWeightValue(3, 0, 0, 1.5);
  net.SetWeightValue(3, 1, 0, -0.5);
  net.SetWeightValue(3, 0, 1, -2.0);
  net.SetWeightValue(3, 1, 1, 1.0);

  const double x = 0.7;
  double y = -1;
  net.Recall(&x, &y);

  // Centres 0, 0.5, 1: x = 0.7 lies 0.2 above the middle centre.
  const double mu[] = {0.0, 1.0 - (0.7 - 0.5) / (1.0 - 0.5), 1.0 - (1.0 - 0.7) / (1.0 - 0.5)};
  double v;
  for (int j = 0; j < 3; ++j) {
    net.GetActivationValue(2, j, v);
    EXPECT_DOUBLE_EQ(v, mu[j]) << j;
  }
  const double r0 = Sigmoid(2.0 * mu[0] + -1.0 * mu[1]);
  const double r1 = Sigmoid(3.0 * mu[2]);
  const double a0 = Sigmoid(1.5 * r0 + -0.5 * r1);
  const double a1 = Sigmoid(-2.0 * r0 + 1.0 * r1);
  net.GetActivationValue(3, 1, v);
  EXPECT_DOUBLE_EQ(v, r1);
  net.GetActivationValue(4, 0, v);
  EXPECT_DOUBLE_EQ(v, a0);
  EXPECT_DOUBLE_EQ(y, (a0 * 0.0 + a1 * 1.0) / (a0 + a1));
  net.GetActivationValue(5, 0, v);
  EXPECT_EQ(v, y);
}

} // namespace

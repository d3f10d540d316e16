#include "Vemo/TVemoBP.h"

#include "DataObject/Data.h"
#include "KQmessage/KQML.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TErrorObj.h"
#include "NeuralNets/TMLPNetwork.h"
#include "NeuralNets/TPrunedConnections.h"
#include "Vemo/TVemo.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace kestrane;

std::unique_ptr<TVemo> MakeNet(std::vector<int> in, int rules, std::vector<int> out,
                               unsigned seed = 3) {
  auto net = std::make_unique<TVemo>(static_cast<int>(in.size()), in.data(), rules, out.data(),
                                     static_cast<int>(out.size()));
  srand(seed);
  net->InitWeights(-1, 1);
  return net;
}

std::unique_ptr<Data> Table(const std::vector<std::vector<double>> &rows, int inputs) {
  const int outputs = static_cast<int>(rows[0].size()) - inputs;
  auto table = std::make_unique<Data>(static_cast<int>(rows.size()), inputs, outputs, false);
  for (const auto &row : rows)
    table->AppendRow(row.data(), row.data() + inputs);
  return table;
}

std::vector<double> Degrees(double x, std::vector<double> centres) {
  std::vector<double> mu(centres.size());
  TVemoBP::DesiredDegrees(x, centres.data(), static_cast<int>(centres.size()), mu.data());
  return mu;
}

TEST(VemoBP, DesiredDegreesFuzzifyTheTargetWithShoulders) {
  EXPECT_EQ(Degrees(0.25, {0, 1}), (std::vector<double>{0.75, 0.25}));
  EXPECT_EQ(Degrees(-1, {0, 1}), (std::vector<double>{1, 0}));
  EXPECT_EQ(Degrees(2, {0, 1}), (std::vector<double>{0, 1}));
  EXPECT_EQ(Degrees(0.75, {0, 0.5, 1}), (std::vector<double>{0, 0.5, 0.5}));
  EXPECT_EQ(Degrees(0.5, {0, 0.5, 1}), (std::vector<double>{0, 1, 0}));
  EXPECT_EQ(Degrees(0, {0, 0.5, 1}), (std::vector<double>{1, 0, 0}));
}

// Two outputs with 3 and 2 functions: the second output's functions are
// action nodes 3 and 4; each action delta is (y - mu) times the sigmoid slope.
TEST(VemoBP, ActionDeltasFollowEachOutputsOwnCentres) {
  auto net = MakeNet({2, 2}, 3, {3, 2});
  TVemoBP bp(net.get());
  const double input[] = {0.3, 0.9};
  const double target[] = {0.75, 0.25};
  bp.ComputeGradient(input, target, false, nullptr);
  const double mu[] = {0, 0.5, 0.5, 0.75, 0.25};
  const double *y = net->layers[4]->activations.data();
  const double *delta = bp.gradients->layers[4]->activations.data();
  for (int k = 0; k < 5; ++k)
    EXPECT_DOUBLE_EQ(delta[k], (y[k] - mu[k]) * (y[k] * (1 - y[k]))) << k;
  // The rule layer got error passed down; the condition layer did not pass it on.
  bool any = false;
  for (double d : bp.gradients->layers[3]->activations)
    any = any || d != 0;
  EXPECT_TRUE(any);
  for (int l : {0, 1})
    for (double d : bp.gradients->layers[l]->activations)
      EXPECT_EQ(d, 0.0) << l;
}

TKQstructure Params(bool batch, double momentum) {
  TKQstructure record("Params");
  record.SetNumber("LearningRate", 0.5);
  record.SetNumber("Momentum", momentum);
  record.SetBoolean("Batch", batch);
  return record;
}

std::unique_ptr<TKQstructure> Penalty(const char *head) {
  auto penalty = std::make_unique<TKQstructure>(head);
  penalty->SetNumber("EPSILON1", 0.01);
  penalty->SetNumber("EPSILON2", 0.001);
  penalty->SetNumber("FORGETTINGRATE", 0.01);
  return penalty;
}

// Centres, frozen arcs and pruned arcs stay exactly as they were, whatever
// the penalty; the other rule and action weights learn.
TEST(VemoBP, OnlyTrainableRuleAndActionArcsChange) {
  for (const char *penalty : {"NONE", "QUADPENALTY", "LWF"}) {
    for (bool batch : {false, true}) {
      SCOPED_TRACE(std::string(penalty) + (batch ? " batch" : " on-line"));
      auto net = MakeNet({3, 2}, 4, {3});
      net->SetWeightValue(1, 0, 1, 0.3); // a loaded, uneven centre
      net->SetWeightValue(4, 1, 0, 0.6);
      net->FreezeWeight(2, 2, 1); // arc 1 -> 2 of matrix 2->3
      net->priv_conns_index[4][3]->RemoveArc(0, 1);
      const std::vector<double> c1 = net->GetWeightLayer(1), c4 = net->GetWeightLayer(4);
      const std::vector<double> w2 = net->GetWeightLayer(2), w3 = net->GetWeightLayer(3);
      double frozen;
      net->GetWeightValue(2, 1, 2, frozen);

      auto table = Table({{0.1, 0.8, 0.2}, {0.9, 0.1, 0.9}, {0.5, 0.5, 0.5}}, 2);
      TVemoBP bp(net.get());
      TKQstructure record = Params(batch, 0.9);
      record.Set("WEIGHTPENALTY", Penalty(penalty));
      int epochs = 20;
      bp.Train(table.get(), &record, epochs);

      EXPECT_EQ(net->GetWeightLayer(1), c1);
      EXPECT_EQ(net->GetWeightLayer(4), c4);
      double after;
      net->GetWeightValue(2, 1, 2, after);
      EXPECT_EQ(after, frozen);
      bool exists = true;
      net->WeightExists(3, 0, 1, exists);
      EXPECT_FALSE(exists);
      EXPECT_NE(net->GetWeightLayer(2), w2);
      EXPECT_NE(net->GetWeightLayer(3), w3);
    }
  }
}

// No step (no LEARNINGRATE): the epoch's error is the patterns' error plus
// the penalty of the rule and action weights, not of the centres.
TEST(VemoBP, PenaltyTermCountsRuleAndActionWeightsOnly) {
  auto net = MakeNet({2}, 3, {2});
  const std::vector<std::vector<double>> rows = {{0.2, 0.7}, {0.9, 0.1}};
  auto table = Table(rows, 1);
  TKQstructure record("Params");
  record.Set("WEIGHTPENALTY", Penalty("QUADPENALTY"));
  TVemoBP bp(net.get());
  const double error = bp.TrainEpoch(table.get(), &record);

  TErrorRMSObj expected(1);
  for (const auto &row : rows) {
    double out;
    net->Recall(&row[0], &out);
    expected.Accumulate(&row[1], &out);
  }
  std::vector<double> w = net->GetWeightLayer(2);
  const std::vector<double> w3 = net->GetWeightLayer(3);
  w.insert(w.end(), w3.begin(), w3.end());
  expected.AddPenalty(static_cast<int>(w.size()), w.data(), record.Find("WEIGHTPENALTY"));
  EXPECT_DOUBLE_EQ(error, expected.Value());
}

void ExpectRejected(TBasicNetwork &net, const std::string &start) {
  try {
    TVemoBP bp(&net);
    ADD_FAILURE() << "accepted; expected " << start;
  } catch (const TException &e) {
    EXPECT_EQ(e.GetMessage().rfind(start, 0), 0u) << e.GetMessage();
    EXPECT_EQ(e.GetCategory(), "Bad Parameter");
    EXPECT_EQ(e.GetFunctionName(), "TVemoBP::TVemoBP");
  }
}

TEST(VemoBP, RejectsNetworksItCannotTrain) {
  const int sizes[] = {2, 3, 1};
  TMLPNetwork mlp(3, sizes, true);
  ExpectRejected(mlp, "Not a Vemo network");

  auto noSlope = MakeNet({2}, 2, {2});
  noSlope->layers[3]->SetLayerActFunction(ActSaturatedLinear);
  ExpectRejected(*noSlope, "Layer 3 needs one common activation function");

  auto mixed = MakeNet({2}, 2, {2});
  mixed->layers[4]->GetNeuron(0)->actFunction = ActTanh;
  mixed->layers[4]->commonActFunction = nullptr;
  ExpectRejected(*mixed, "Layer 4 needs one common activation function");

  auto gainOnSimple = MakeNet({2}, 2, {2});
  // The layer refuses to set it; a caller could still write the fields.
  EXPECT_THROW(gainOnSimple->layers[4]->SetLayerActFunction(ActSigmoidGain), TException);
  for (TBasicNeuron *neuron :
       {gainOnSimple->layers[4]->GetNeuron(0), gainOnSimple->layers[4]->GetNeuron(1)})
    neuron->actFunction = ActSigmoidGain;
  gainOnSimple->layers[4]->commonActFunction = ActSigmoidGain;
  ExpectRejected(*gainOnSimple, "Layer 4 needs");

  auto noCentres = MakeNet({2}, 2, {2});
  noCentres->ReplaceConnections(4, 5, new TPrunedConnections(noCentres.get(), 4, 5));
  ExpectRejected(*noCentres, "Matrix 4 -> 5");

  auto noCondition = MakeNet({2}, 2, {2});
  noCondition->Disconnect(1, 2);
  ExpectRejected(*noCondition, "Matrix 1 -> 2");

  auto wrongOutput = MakeNet({2}, 2, {2});
  wrongOutput->layers[5]->Destroy();
  wrongOutput->layers[5] = new TSimpleLayer(wrongOutput.get(), 5, 1);
  ExpectRejected(*wrongOutput, "The output layer is not a defuzzifying layer");

  // An input layer in the hidden part would warn on every pattern it is fed.
  auto inputAsRules = MakeNet({2}, 2, {2});
  inputAsRules->layers[3]->Destroy();
  inputAsRules->layers[3] = new TSimpleInputLayer(inputAsRules.get(), 3, 2);
  ExpectRejected(*inputAsRules, "Layer 3 is of type Input");

  auto good = MakeNet({2, 3}, 2, {2, 4});
  EXPECT_NO_THROW(TVemoBP bp(good.get()));
}

// ---- recall over tables

TEST(VemoRecall, TablesKeepTheRowsInOrder) {
  auto net = MakeNet({2, 2}, 3, {3});
  auto table = Table({{0.1, 0.2, 0}, {0.7, 0.3, 0}, {1.0, 0.9, 0}}, 2);
  std::unique_ptr<Data> full, outputs, again;
  net->Recall(table.get(), full);
  net->RecallOutputOnly(table.get(), outputs);
  net->RecallOutputOnly(table.get(), again);
  ASSERT_EQ(full->MbrNdxDataRows, 3);
  EXPECT_EQ(full->MbrNdxInputs, 2);
  EXPECT_EQ(full->MbrNdxOutputs, 1);
  EXPECT_EQ(outputs->MbrNdxInputs, 0);
  EXPECT_FALSE(full->MbrBlnLabels);
  EXPECT_EQ(outputs->MbrDyaRtpOutputs, again->MbrDyaRtpOutputs);
  for (int r = 0; r < 3; ++r) {
    double y;
    net->TBasicNetwork::Recall(table->InputSlot(r), &y);
    EXPECT_EQ(full->GetInputDatum(r, 0), table->GetInputDatum(r, 0));
    EXPECT_EQ(full->GetInputDatum(r, 1), table->GetInputDatum(r, 1));
    EXPECT_EQ(full->GetOutputDatum(r, 0), y);
    EXPECT_EQ(outputs->GetOutputDatum(r, 0), y);
  }

  // Targets equal to the outputs: no error.
  auto matched =
      Table({{0.1, 0.2, full->GetOutputDatum(0, 0)}, {0.7, 0.3, full->GetOutputDatum(1, 0)}}, 2);
  double error = -1;
  net->RecallOutputOnly(matched.get(), error);
  EXPECT_EQ(error, 0.0);
}

TEST(VemoRecall, RejectsMissingOrNarrowTables) {
  auto net = MakeNet({2, 2}, 3, {3});
  std::unique_ptr<Data> result;
  double error;
  auto expect = [](auto call, const char *message, const char *function) {
    try {
      call();
      ADD_FAILURE() << function;
    } catch (const TException &e) {
      EXPECT_EQ(e.GetMessage(), message);
      EXPECT_EQ(e.GetFunctionName(), function);
    }
  };
  expect([&] { net->Recall(nullptr, result); }, "Null data pointer", "TVemo::Recall");
  expect([&] { net->RecallOutputOnly(nullptr, result); }, "Null data pointer",
         "TVemo::RecallOutputOnly");
  expect([&] { net->RecallOutputOnly(nullptr, error); }, "Null data pointer",
         "TVemo::RecallOutputOnly");
  auto narrow = Table({{0.5, 0.5}}, 1);
  expect([&] { net->Recall(narrow.get(), result); }, "Too few input columns for the network",
         "TVemo::Recall");
  auto twoTargets = Table({{0.5, 0.5, 0, 1}}, 2);
  expect([&] { net->RecallOutputOnly(twoTargets.get(), error); },
         "Output columns do not match the network", "TVemo::RecallOutputOnly");
}

} // namespace

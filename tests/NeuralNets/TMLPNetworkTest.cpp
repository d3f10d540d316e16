#include "NeuralNets/TMLPNetwork.h"

#include "DataObject/Data.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TErrorObj.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

using namespace kestrane;

namespace {

std::string TypeOf(TBasicNetwork &net, int from, int to) {
  return net.priv_conns_index[to][from]->GetConnectionsNType();
}

int ConnectedCount(TBasicNetwork &net) {
  int count = 0;
  for (auto *m : net.priv_conns)
    count += m->IsConnected() ? 1 : 0;
  return count;
}

} // namespace

TEST(TMLPNetwork, LayerPlanWithBias) {
  const int sizes[] = {4, 5, 2};
  TMLPNetwork net(3, sizes, true);
  EXPECT_STREQ(net.GetNetworkNType(), "MLP");
  ASSERT_EQ(net.numLayers, 4);
  EXPECT_EQ(net.inLayer, 1);
  EXPECT_EQ(net.outLayer, 3);
  const int counts[] = {1, 4, 5, 2};
  const char *types[] = {"Simple", "Input", "Gain", "Gain"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(net.layers[i]->numNeurons, counts[i]) << i;
    EXPECT_STREQ(net.layers[i]->GetLayerNType(), types[i]) << i;
  }
  EXPECT_EQ(net.layers[0]->GetLayerActFunction(), ActBias);
  EXPECT_EQ(net.layers[1]->GetLayerActFunction(), ActLinear);
  EXPECT_EQ(net.layers[2]->GetLayerActFunction(), ActSigmoid);
  EXPECT_EQ(net.layers[3]->GetLayerActFunction(), ActSigmoid);
  EXPECT_EQ(ConnectedCount(net), 4);
  EXPECT_EQ(TypeOf(net, 1, 2), "Pruneable");
  EXPECT_EQ(TypeOf(net, 2, 3), "Pruneable");
  EXPECT_EQ(TypeOf(net, 0, 2), "Pruneable");
  EXPECT_EQ(TypeOf(net, 0, 3), "Pruneable");
  // All arcs present and trainable, weights 0.
  EXPECT_EQ(net.GetNumWeights(FMaskAll), 4 * 5 + 5 * 2 + 5 + 2);
  EXPECT_EQ(net.GetNumWeights(FMaskExists), net.GetNumWeights(FMaskAll));
  const double in[] = {0.1, 0.2, 0.3, 0.4};
  double out[2];
  net.Recall(in, out);
  EXPECT_EQ(net.layers[0]->activations[0], 1.0);
  EXPECT_EQ(out[0], 0.5);
  EXPECT_EQ(out[1], 0.5);
}

TEST(TMLPNetwork, LayerPlanWithoutBias) {
  const int sizes[] = {4, 5, 2};
  TMLPNetwork net(3, sizes, false);
  EXPECT_EQ(net.layers[0]->numNeurons, 0);
  EXPECT_EQ(ConnectedCount(net), 2);
  EXPECT_EQ(TypeOf(net, 1, 2), "Pruneable");
  EXPECT_EQ(TypeOf(net, 2, 3), "Pruneable");
  EXPECT_EQ(net.GetNumWeights(FMaskAll), 4 * 5 + 5 * 2);
}

TEST(TMLPNetwork, InputLayerAloneIsTheOutputLayer) {
  const int sizes[] = {4};
  TMLPNetwork net(1, sizes, true);
  ASSERT_EQ(net.numLayers, 2);
  EXPECT_EQ(net.inLayer, 1);
  EXPECT_EQ(net.outLayer, 1);
  EXPECT_EQ(ConnectedCount(net), 0);
  const double in[] = {0.1, 0.2, 0.3, 0.4};
  double out[4];
  net.Recall(in, out);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(out[i], in[i]);
}

TEST(TMLPNetwork, GridOnlyConstructorLeavesLayersToTheCreator) {
  TMLPNetwork net(2, true);
  EXPECT_TRUE(net.bias);
  ASSERT_EQ(net.numLayers, 3);
  EXPECT_EQ(net.outLayer, 2);
  EXPECT_EQ(ConnectedCount(net), 0);
  for (auto *layer : net.layers)
    EXPECT_EQ(layer, nullptr);
  net.FillUnsetLayers(); // so that it can be destroyed
}

TEST(TMLPNetwork, BadConstructorArgumentsAreRejected) {
  const int sizes[] = {2, -1};
  EXPECT_THROW(TMLPNetwork(0, sizes, true), TException);
  EXPECT_THROW(TMLPNetwork(2, sizes, true), TException);
  EXPECT_THROW(TMLPNetwork(2, nullptr, true), TException);
}

namespace {

// Ten row slots, `filled` of them with data.
std::unique_ptr<Data> Rows(int filled) {
  auto table = std::make_unique<Data>(10, 2, 1, false);
  for (int r = 0; r < filled; ++r) {
    const double in[] = {0.1 * r, 1.0 - 0.1 * r};
    const double out[] = {r % 2 == 0 ? 1.0 : 0.0};
    table->AppendRow(in, out);
  }
  return table;
}

std::unique_ptr<TMLPNetwork> Small() {
  const int sizes[] = {2, 3, 1};
  auto net = std::make_unique<TMLPNetwork>(3, sizes, true);
  srand(42);
  net->Randomize(-1, 1);
  return net;
}

} // namespace

TEST(TMLPNetwork, RecallReadsEverySlotRecallOutputOnlyTheDataRows) {
  auto net = Small();
  auto full = Rows(10);
  auto recalled = net->Recall(full.get());
  EXPECT_EQ(recalled->MbrNdxDataRows, 10);
  EXPECT_EQ(recalled->MbrNdxInputs, 2);
  EXPECT_EQ(recalled->MbrNdxOutputs, 1);
  std::unique_ptr<Data> outputs;
  net->RecallOutputOnly(full.get(), outputs);
  ASSERT_NE(outputs, nullptr);
  EXPECT_EQ(outputs->MbrNdxDataRows, 10);
  EXPECT_EQ(outputs->MbrNdxInputs, 0);
  for (int r = 0; r < 10; ++r) {
    double in[2], out[1];
    full->GetInputRow(r, in);
    net->TBasicNetwork::Recall(in, out);
    EXPECT_EQ(recalled->GetInputDatum(r, 0), in[0]);
    EXPECT_EQ(recalled->GetInputDatum(r, 1), in[1]);
    EXPECT_EQ(recalled->GetOutputDatum(r, 0), out[0]);
    EXPECT_EQ(outputs->GetOutputDatum(r, 0), out[0]);
  }

  auto partial = Rows(4);
  EXPECT_EQ(net->Recall(partial.get())->MbrNdxDataRows, 10);
  net->RecallOutputOnly(partial.get(), outputs);
  EXPECT_EQ(outputs->MbrNdxDataRows, 4);
  // Twice the same: the cursor is reset each time.
  std::unique_ptr<Data> again;
  net->RecallOutputOnly(partial.get(), again);
  for (int r = 0; r < 4; ++r)
    EXPECT_EQ(again->GetOutputDatum(r, 0), outputs->GetOutputDatum(r, 0));

  // A table without data rows gives an empty result rather than an error.
  Data empty(3, 2, 1, false);
  EXPECT_EQ(net->Recall(&empty)->MbrNdxDataRows, 0);
  TErrorRMSObj rms(1);
  EXPECT_EQ(net->RecallError(&empty, &rms), 0.0);
}

// Every table recall refuses a missing table or error object as TVemo's do.
TEST(TMLPNetwork, RecallsWithoutTableOrMeasureRaise) {
  auto net = Small();
  auto table = Rows(2);
  std::unique_ptr<Data> result;
  TErrorRMSObj rms(1);
  const struct {
    std::function<void()> call;
    const char *message, *function;
  } cases[] = {
      {[&] { net->Recall(nullptr); }, "Null data pointer", "TMLPNetwork::Recall"},
      {[&] { net->RecallOutputOnly(nullptr, result); }, "Null data pointer",
       "TMLPNetwork::RecallOutputOnly"},
      {[&] { net->RecallError(nullptr, &rms); }, "Null data pointer", "TMLPNetwork::RecallError"},
      {[&] { net->RecallError(table.get(), nullptr); }, "Null error object",
       "TMLPNetwork::RecallError"},
  };
  for (const auto &c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.function << ": no exception";
    } catch (const TException &e) {
      EXPECT_EQ(e.GetMessage(), c.message);
      EXPECT_EQ(e.GetCategory(), "Null Pointer Parameter");
      EXPECT_EQ(e.GetFunctionName(), c.function);
    }
  }
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(rms.numPatterns, 0);
}

TEST(TMLPNetwork, RecallErrorFeedsTheCallersMeasureWithoutReset) {
  auto net = Small();
  auto table = Rows(10);
  double sum = 0.0;
  for (int r = 0; r < 10; ++r) {
    double in[2], target[1], out[1];
    table->GetInputRow(r, in);
    table->GetOutputRow(r, target);
    net->TBasicNetwork::Recall(in, out);
    sum += (target[0] - out[0]) * (target[0] - out[0]);
  }
  TErrorRMSObj rms(1);
  EXPECT_DOUBLE_EQ(net->RecallError(table.get(), &rms), std::sqrt(sum / 10));
  EXPECT_DOUBLE_EQ(net->RecallError(table.get(), &rms), std::sqrt(2 * sum / 20));
  EXPECT_EQ(rms.numPatterns, 20);
}

TEST(TMLPNetwork, TablesThatDoNotFitAreRejected) {
  auto net = Small();
  Data narrow(2, 1, 1, false);
  const double in[] = {0.5};
  const double out[] = {1.0};
  narrow.AppendRow(in, out);
  std::unique_ptr<Data> result;
  EXPECT_THROW(net->Recall(&narrow), TException);
  EXPECT_THROW(net->RecallOutputOnly(&narrow, result), TException);
  Data twoTargets(2, 2, 2, false);
  TErrorRMSObj rms(1);
  EXPECT_THROW(net->RecallError(&twoTargets, &rms), TException);
}

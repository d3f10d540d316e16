#include "FileHandler/NetworkFile.h"
#include "FileHandler/ParseTools.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TMLPNetwork.h"
#include "NeuralNets/TPrunedConnections.h"
#include "tests/FileHandler/NetworkFileHelpers.h"
#include "tests/Support/TestFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

using kestrane::FileTools;
using kestrane::TBasicConnections;
using kestrane::TBasicNetwork;
using netfiletest::ExpectStableRoundTrip;
using netfiletest::Read;
using netfiletest::ReadError;
using netfiletest::Write;

std::string Spaces(int n) { return std::string(static_cast<size_t>(n), ' '); }

// The three-layer example: bias, two inputs, one sigmoid output.
void BuildExample(kestrane::TConnectedNetwork &net) {
  net.layers[0] = new kestrane::TSimpleLayer(&net, 0, 1);
  net.layers[0]->SetLayerActFunction(kestrane::ActBias);
  net.layers[1] = new kestrane::TSimpleInputLayer(&net, 1, 2);
  net.layers[2] = new kestrane::TSimpleLayer(&net, 2, 1);
  net.layers[2]->SetLayerActFunction(kestrane::ActSigmoid);
  net.Connect(0, 2);
  net.Connect(1, 2);
  *net.priv_conns_index[2][0]->GetWeightPtr(0, 0) = 0.5;
  *net.priv_conns_index[2][1]->GetWeightPtr(0, 0) = 0.25;
  *net.priv_conns_index[2][1]->GetWeightPtr(1, 0) = -1.5;
}

const char *const kExampleText =
    "[FormatVersion = 1.0]\n\n"
    "[NeuralNetwork]\n[NetworkType = Connected]\n\n"
    "[NetworkInformation]\n[NumberOfLayers = 3]\n[InputLayer = 1]\n[OutputLayer = 2]\n"
    "[NumberOfInputs = 2]\n[NumberOfOutputs = 1]\n[BiasLayer = 0]\n[~NetworkInformation]\n\n"
    "[Layer = 0]\n[LayerType = Simple]\n[NumberOfNeurons = 1]\n"
    "[All ActivationFunction=bias ]\n[~Layer]\n\n"
    "[Layer = 1]\n[LayerType = Input]\n[NumberOfNeurons = 2]\n"
    "[All ActivationFunction=linear ]\n[~Layer]\n\n"
    "[Layer = 2]\n[LayerType = Simple]\n[NumberOfNeurons = 1]\n"
    "[All ActivationFunction=sigmoid ]\n[~Layer]\n\n"
    "[ConnectionLayer]\n[LayerFrom = 0]\n[LayerTo = 2]\n[ConnectionType = FullyConnected]\n"
    "[Attributes UnPrunable UnFreezable ]\n[Matrix Weights ]\n"
    "/* To->            0  From */\n"
    "                 0.5  /* 0 */\n"
    "[~Matrix]\n[~ConnectionLayer]\n\n"
    "[ConnectionLayer]\n[LayerFrom = 1]\n[LayerTo = 2]\n[ConnectionType = FullyConnected]\n"
    "[Attributes UnPrunable UnFreezable ]\n[Matrix Weights ]\n"
    "/* To->            0  From */\n"
    "                0.25  /* 0 */\n"
    "                -1.5  /* 1 */\n"
    "[~Matrix]\n[~ConnectionLayer]\n\n"
    "[~NeuralNetwork]\n";

// Layers, neurons, functions, parameters, matrices, arcs, flags and weights agree.
void ExpectSameNetwork(TBasicNetwork &a, TBasicNetwork &b) {
  ASSERT_EQ(a.numLayers, b.numLayers);
  EXPECT_STREQ(a.GetNetworkNType(), b.GetNetworkNType());
  EXPECT_EQ(a.inLayer, b.inLayer);
  EXPECT_EQ(a.outLayer, b.outLayer);
  for (int l = 0; l < a.numLayers; ++l) {
    kestrane::TBasicLayer &la = *a.layers[l];
    kestrane::TBasicLayer &lb = *b.layers[l];
    EXPECT_STREQ(la.GetLayerNType(), lb.GetLayerNType()) << "layer " << l;
    ASSERT_EQ(la.numNeurons, lb.numNeurons) << "layer " << l;
    for (int i = 0; i < la.numNeurons; ++i) {
      kestrane::TBasicNeuron &na = *la.GetNeuron(i);
      kestrane::TBasicNeuron &nb = *lb.GetNeuron(i);
      EXPECT_EQ(na.GetActFunction(), nb.GetActFunction()) << "layer " << l << " neuron " << i;
      ASSERT_EQ(na.GetNumParameters(), nb.GetNumParameters());
      std::vector<double> pa(static_cast<size_t>(na.GetNumParameters()) + 1);
      std::vector<double> pb(pa.size());
      na.GetParameters(pa.data());
      nb.GetParameters(pb.data());
      EXPECT_EQ(pa, pb) << "layer " << l << " neuron " << i;
    }
  }
  for (int t = 0; t < a.numLayers; ++t)
    for (int f = 0; f < a.numLayers; ++f) {
      TBasicConnections &ma = *a.priv_conns_index[t][f];
      TBasicConnections &mb = *b.priv_conns_index[t][f];
      ASSERT_STREQ(ma.GetConnectionsNType(), mb.GetConnectionsNType()) << f << "->" << t;
      if (!ma.IsConnected())
        continue;
      for (int j = 0; j < a.layers[f]->numNeurons; ++j)
        for (int k = 0; k < a.layers[t]->numNeurons; ++k) {
          ASSERT_EQ(ma.IsValid(j, k), mb.IsValid(j, k)) << f << "->" << t << " " << j << "," << k;
          if (!ma.IsValid(j, k))
            continue;
          EXPECT_EQ(ma.IsTrainable(j, k), mb.IsTrainable(j, k));
          // Files carry 15 significant digits (matrices) or 15 decimals (lists).
          EXPECT_NEAR(*ma.GetWeightPtr(j, k), *mb.GetWeightPtr(j, k), 1e-14)
              << f << "->" << t << " " << j << "," << k;
        }
    }
}

// Bias, 3 inputs, a gain layer whose neurons differ in function and gain, and a
// gain layer with a common function and gain. Pruned and frozen arcs in both
// the matrix form (1->2) and the list form (2->3); a fully connected 0->3.
void BuildRichBasic(TBasicNetwork &net) {
  using namespace kestrane;
  net.layers[0] = new TSimpleLayer(&net, 0, 1);
  net.layers[0]->SetLayerActFunction(ActBias);
  net.layers[1] = new TSimpleInputLayer(&net, 1, 3);
  auto *hidden = new TGainLayer(&net, 2, 4, 1.0);
  net.layers[2] = hidden;
  const ActFunction fns[] = {ActSigmoidGain, ActTanhGain, ActLinearGain, ActSigmoid};
  const double gains[] = {1.5, 2.5, 1.5, 0.25};
  for (int i = 0; i < 4; ++i) {
    hidden->nodes[i].SetActFunction(fns[i]);
    hidden->nodes[i].gain = gains[i];
  }
  auto *out = new TGainLayer(&net, 3, 2, 2.0);
  out->SetLayerActFunction(ActTanhGain);
  net.layers[3] = out;
  net.outLayer = 3;

  net.Connect(1, 2);
  TBasicConnections &m12 = *net.priv_conns_index[2][1];
  for (int j = 0; j < 3; ++j)
    for (int k = 0; k < 4; ++k)
      *m12.GetWeightPtr(j, k) = 0.123456789012345 * (j + 1) - 0.05 * k;
  *m12.GetWeightPtr(2, 3) = 1e-7;
  m12.RemoveArc(0, 1);
  m12.RemoveArc(2, 0);
  m12.FreezeArc(1, 1);
  m12.FreezeArc(1, 2);
  net.Connect(0, 2);
  *net.priv_conns_index[2][0]->GetWeightPtr(0, 2) = -0.75;

  net.Connect(2, 3);
  TBasicConnections &m23 = *net.priv_conns_index[3][2];
  for (int j = 0; j < 4; ++j)
    for (int k = 0; k < 2; ++k)
      if (!((j == 1 && k == 0) || (j == 3 && k == 1)))
        m23.RemoveArc(j, k);
  *m23.GetWeightPtr(1, 0) = -0.125;
  *m23.GetWeightPtr(3, 1) = 3.0625;
  m23.FreezeArc(3, 1);

  net.ReplaceConnections(0, 3, new TConnectedConnections(&net, 0, 3));
  *net.priv_conns_index[3][0]->GetWeightPtr(0, 1) = 2.5;
}

TEST(NetworkFileTest, WritesTheExampleByteForByte) {
  kestrane::TConnectedNetwork net(3);
  BuildExample(net);
  EXPECT_EQ(Write(net), kExampleText);
}

TEST(NetworkFileTest, ReadsTheExampleBack) {
  auto net = Read(kExampleText);
  ASSERT_NE(dynamic_cast<kestrane::TConnectedNetwork *>(net.get()), nullptr);
  EXPECT_EQ(net->numLayers, 3);
  EXPECT_EQ(net->inLayer, 1);
  EXPECT_EQ(net->outLayer, 2);
  EXPECT_STREQ(net->layers[1]->GetLayerNType(), "Input");
  EXPECT_EQ(net->layers[0]->GetLayerActFunction(), kestrane::ActBias);
  EXPECT_EQ(net->layers[2]->GetLayerActFunction(), kestrane::ActSigmoid);
  EXPECT_STREQ(net->priv_conns_index[2][1]->GetConnectionsNType(), "FullyConnected");
  EXPECT_EQ(*net->priv_conns_index[2][1]->GetWeightPtr(1, 0), -1.5);
  EXPECT_FALSE(net->priv_conns_index[1][0]->IsConnected());
  double out = 0;
  const double in[] = {1.0, 1.0};
  net->Recall(in, &out);
  EXPECT_NEAR(out, 1.0 / (1.0 + std::exp(0.75)), 1e-15);
  EXPECT_EQ(Write(*net), kExampleText);
}

TEST(NetworkFileTest, BasicNetworkRoundTripKeepsEverything) {
  TBasicNetwork net(4);
  BuildRichBasic(net);
  const std::string text = Write(net);
  // Per-neuron functions and gains in a neuron block; common ones as [All ...].
  EXPECT_NE(
      text.find("[Neurons]\n[Neuron=0 ActivationFunction=sigmoid-gain Gain=1.500000000000000 ]\n"
                "[Neuron=1 ActivationFunction=tanh-gain Gain=2.500000000000000 ]\n"),
      std::string::npos);
  EXPECT_NE(
      text.find("[All ActivationFunction=tanh-gain ]\n[All Gain=2.000000000000000 ]\n[~Layer]"),
      std::string::npos);
  // 2 of 8 arcs: a list with the frozen state; 10 of 12: a matrix with "-" and "F".
  EXPECT_NE(text.find("[WeightList]\n[From=1 To=0 Weight=-0.125000000000000 Trainable ]\n"
                      "[From=3 To=1 Weight=3.062500000000000 UnTrainable ]\n[~WeightList]"),
            std::string::npos);
  EXPECT_NE(text.find("[Matrix Weights TrainableInfo ]\n/* To->" + Spaces(14) + "0" + Spaces(22) +
                      "1" + Spaces(22) + "2" + Spaces(22) + "3  From */\n"),
            std::string::npos);
  EXPECT_NE(text.find(Spaces(19) + "- - "), std::string::npos);
  EXPECT_NE(text.find("               1e-07 T  /* 2 */"), std::string::npos);
  EXPECT_NE(text.find(" F "), std::string::npos);

  auto loaded = ExpectStableRoundTrip(net);
  EXPECT_EQ(typeid(*loaded), typeid(TBasicNetwork));
  ExpectSameNetwork(net, *loaded);
}

TEST(NetworkFileTest, ConnectedAndPerceptronRoundTrips) {
  kestrane::TConnectedNetwork connected(3);
  BuildExample(connected);
  auto loadedConnected = ExpectStableRoundTrip(connected);
  ExpectSameNetwork(connected, *loadedConnected);

  for (const bool bias : {true, false}) {
    const int sizes[] = {2, 3, 1};
    kestrane::TMLPNetwork mlp(3, sizes, bias);
    srand(7);
    mlp.Randomize(-1.0, 1.0);
    mlp.priv_conns_index[2][1]->FreezeArc(1, 2);
    auto loaded = ExpectStableRoundTrip(mlp);
    auto *asMlp = dynamic_cast<kestrane::TMLPNetwork *>(loaded.get());
    ASSERT_NE(asMlp, nullptr);
    EXPECT_EQ(asMlp->bias, bias);
    ExpectSameNetwork(mlp, *loaded);
  }
  // The type name is matched ignoring case, like the others.
  EXPECT_NE(Read("[NeuralNetwork][NetworkType = mlp][NetworkInformation][NumberOfLayers = 2]"
                 "[InputLayer = 0][~NetworkInformation]"
                 "[Layer = 0][LayerType = Input][NumberOfNeurons = 1][~Layer]"
                 "[Layer = 1][LayerType = Simple][NumberOfNeurons = 1][ALL ActivationFunction = "
                 "linear][~Layer][~NeuralNetwork]"),
            nullptr);
}

// A 5 x 2 pruneable matrix: 3 arcs are below 35 % of 10 (a list), 4 are not (a matrix).
TEST(NetworkFileTest, ListOrMatrixByTheThirtyFivePercentRule) {
  for (const int arcs : {3, 4}) {
    TBasicNetwork net(2);
    net.inLayer = 0;
    net.layers[0] = new kestrane::TSimpleInputLayer(&net, 0, 5);
    net.layers[1] = new kestrane::TSimpleLayer(&net, 1, 2);
    net.layers[1]->SetLayerActFunction(kestrane::ActLinear);
    net.Connect(0, 1);
    TBasicConnections &m = *net.priv_conns_index[1][0];
    int kept = 0;
    for (int j = 0; j < 5; ++j)
      for (int k = 0; k < 2; ++k)
        if (kept < arcs && k == 1)
          ++kept, *m.GetWeightPtr(j, k) = -0.5 * j;
        else
          m.RemoveArc(j, k);
    const std::string text = Write(net);
    EXPECT_EQ(text.find("[WeightList]") != std::string::npos, arcs == 3) << arcs;
    EXPECT_EQ(text.find("[Matrix Weights TrainableInfo ]") != std::string::npos, arcs == 4);
    auto loaded = ExpectStableRoundTrip(net);
    ExpectSameNetwork(net, *loaded);
  }
}

TEST(NetworkFileTest, ReaderDefaultsAndEquivalentForms) {
  // OutputLayer defaults to the last layer, InputLayer to 1; "[Gain = x]" and
  // "[ALL Gain=x]" are the same and may follow the type and count in any order.
  auto net =
      Read("/* comment */ [FormatVersion = 1.0]\n[NeuralNetwork][NetworkType = basic]"
           "[NetworkInformation][NumberOfLayers = 3][~NetworkInformation]"
           "[Layer = 0][NumberOfNeurons = 0][LayerType = Simple][~Layer]"
           "[Layer = 1][LayerType = Input][NumberOfNeurons = 2][~Layer]"
           "[Layer = 2][NumberOfNeurons = 3][LayerType = Gain][Gain = 2.5]"
           "[ALL ActivationFunction=sigmoid-gain][Neurons][Neuron=1 Gain=0.5][Neuron=0][Neuron=2]"
           "[~Neurons][~Layer]"
           "[ConnectionLayer][LayerTo = 2][LayerFrom = 1][ConnectionType = Pruneable]"
           "[Attributes anything at all]"
           "[WeightList][From=1 To=2 Weight=0.75][From=0 To=0 UnTrainable][~WeightList]"
           "[~ConnectionLayer][~NeuralNetwork][FormatVersion = 0.5]");
  EXPECT_EQ(net->inLayer, 1);
  EXPECT_EQ(net->outLayer, 2);
  auto &gain = dynamic_cast<kestrane::TGainLayer &>(*net->layers[2]);
  // The parameter array is shared by the layer's neuron lines.
  EXPECT_EQ(gain.nodes[0].gain, 0.5);
  EXPECT_EQ(gain.nodes[1].gain, 0.5);
  EXPECT_EQ(gain.nodes[2].gain, 0.5);
  TBasicConnections &m = *net->priv_conns_index[2][1];
  EXPECT_EQ(m.GetNumWeights(kestrane::FMaskExists), 2);
  EXPECT_EQ(*m.GetWeightPtr(1, 2), 0.75);
  EXPECT_TRUE(m.IsTrainable(1, 2));
  EXPECT_TRUE(m.IsValid(0, 0));
  EXPECT_FALSE(m.IsTrainable(0, 0));
  EXPECT_EQ(*m.GetWeightPtr(0, 0), 0.0);

  // Markers are fine where nothing evaluates them: an empty layer, an input layer.
  EXPECT_EQ(ReadError("[NeuralNetwork][NetworkType = Basic][NetworkInformation]"
                      "[NumberOfLayers = 2][~NetworkInformation]"
                      "[Layer = 0][LayerType = Simple][NumberOfNeurons = 0]"
                      "[ALL ActivationFunction=null][~Layer]"
                      "[Layer = 1][LayerType = Input][NumberOfNeurons = 1]"
                      "[ALL ActivationFunction=cog][~Layer][~NeuralNetwork]"),
            "no error");
}

// ---- every rejection of a file, as small inline files

const std::string kInfo2 = "[NeuralNetwork][NetworkType = Basic][NetworkInformation]"
                           "[NumberOfLayers = 2][InputLayer = 0][~NetworkInformation]";
const std::string kIn2 = "[Layer = 0][LayerType = Input][NumberOfNeurons = 2][~Layer]";
const std::string kOut1 =
    "[Layer = 1][LayerType = Simple][NumberOfNeurons = 1][ALL ActivationFunction=sigmoid][~Layer]";
const std::string kEnd = "[~NeuralNetwork]";

std::string WithInfo(const std::string &info) {
  return "[NeuralNetwork][NetworkType = Basic][NetworkInformation]" + info +
         "[~NetworkInformation]";
}
std::string WithLayer1(const std::string &layer) { return kInfo2 + kIn2 + layer + kEnd; }
std::string WithMatrix(const std::string &type, const std::string &body) {
  return kInfo2 + kIn2 + kOut1 +
         "[ConnectionLayer][LayerFrom = 0][LayerTo = 1][ConnectionType = " + type + "]" + body +
         "[~ConnectionLayer]" + kEnd;
}

struct Rejection {
  const char *what;
  std::string text;
  std::string message; // the whole message, or a part of it for our own wordings
};

TEST(NetworkFileTest, RejectsMalformedFilesWithClearErrors) {
  const std::string gainHead = "[Layer = 1][LayerType = Gain][NumberOfNeurons = 2]";
  const std::string fullMatrix = "[Matrix Weights] 1 2 [~Matrix]";
  const std::vector<Rejection> cases = {
      {"empty", "", "[NEURALNETWORK] expected"},
      {"type missing", "[NeuralNetwork][NetworkInformation]",
       "[NETWORKTYPE = <string>] expectedNetworkInformation"},
      {"open info statement", WithInfo("[NumberOfLayers = 2 x]"), "Too complicated statement"},
      {"unknown info key", WithInfo("[NumberOfLayers = 2][Depth = 1]"), "Unknown keyword"},
      {"value before key", WithInfo("[Depth = x]"), "integer-expected"},
      {"no layer count", WithInfo("[InputLayer = 0]"), "Must specify number of layers"},
      {"negative layer count", WithInfo("[NumberOfLayers = -1]"), "Must specify number of layers"},
      {"unknown type",
       "[NeuralNetwork][NetworkType = Fuzzy][NetworkInformation][NumberOfLayers = 2]"
       "[~NetworkInformation]",
       "Unknown network type"},
      {"[ALL]", WithLayer1("[Layer = 1][LayerType = Simple][NumberOfNeurons = 1][ALL][~Layer]"),
       "[ALL] is incomplete statment"},
      {"ALL word",
       WithLayer1("[Layer = 1][LayerType = Simple][NumberOfNeurons = 1][ALL x][~Layer]"),
       "Required syntax is [ALL <keyword>=<val>]"},
      {"two in one ALL",
       WithLayer1("[Layer = 1][LayerType = Gain][NumberOfNeurons = 1][ALL Gain=1 Gain=2][~Layer]"),
       "Too complicated statement"},
      {"inputs", WithInfo("[NumberOfLayers = 2][InputLayer = 0][NumberOfInputs = 3]") + kIn2,
       "wrong number inputs in header"},
      {"outputs",
       WithInfo("[NumberOfLayers = 2][InputLayer = 0][NumberOfOutputs = 2]") + kIn2 + kOut1,
       "wrong number outputs in header"},
      {"layer type", WithLayer1("[Layer = 1][LayerType = Hidden][NumberOfNeurons = 1][~Layer]"),
       "Unknown layer type"},
      {"condition without section",
       WithLayer1("[Layer = 1][LayerType = FuzzyCondition][NumberOfNeurons = 4][~Layer]"),
       "membership array missing in condition layer"},
      {"output without section",
       WithLayer1("[Layer = 1][LayerType = Defuzzify][NumberOfNeurons = 1][~Layer]"),
       "membership array missing in output layer"},
      {"gain not given", WithLayer1(gainHead + "[ALL ActivationFunction=sigmoid-gain][~Layer]"),
       "Incomplete Layer information"},
      {"repeated neuron",
       WithLayer1(gainHead + "[ALL ActivationFunction=sigmoid][Neurons][Neuron=1][Neuron=1]"),
       "repeated neuron"},
      {"neuron item", WithLayer1(gainHead + "[Neurons][Neuron=0 sigmoid]"),
       "Equals clause expected in neuron parameter"},
      {"neuron function", WithLayer1(gainHead + "[Neurons][Neuron=0 Gain=1][~Neurons][~Layer]"),
       "No activation function defined"},
      {"neuron missing",
       WithLayer1(gainHead +
                  "[ALL ActivationFunction=sigmoid][Neurons][Neuron=1][~Neurons][~Layer]"),
       "Neuron not defined"},
      {"connection key", WithMatrix("Pruneable][Size = 3", ""), "Unknown keyword in connections"},
      {"open connection statement", WithMatrix("Pruneable x", ""), "Too complicated statement"},
      {"connection end missing",
       kInfo2 + kIn2 + kOut1 +
           "[ConnectionLayer][LayerFrom = 0]"
           "[ConnectionType = Pruneable][~ConnectionLayer]",
       "Insufficient information to construct layer"},
      {"connection type", WithMatrix("Sparse", ""), "Insufficient information to construct layer"},
      {"connection twice",
       kInfo2 + kIn2 + kOut1 +
           "[ConnectionLayer][LayerFrom = 0][LayerTo = 1][ConnectionType = "
           "Pruneable][~ConnectionLayer]"
           "[ConnectionLayer][LayerFrom = 0][LayerTo = 1][ConnectionType = "
           "Pruneable][~ConnectionLayer]" +
           kEnd,
       "Connections already defined"},
      {"matrix item", WithMatrix("Pruneable", "[Matrix Weights=1] [~Matrix]"),
       "Keyword expected in matrix parameter"},
      {"matrix attribute", WithMatrix("Pruneable", "[Matrix Values] [~Matrix]"),
       "Unknown matrix attribute"},
      {"11 of 12 tokens", WithMatrix("Pruneable", "[Matrix Weights TrainableInfo] 1 T 2 [~Matrix]"),
       "Token Expected"},
      {"13 tokens", WithMatrix("Pruneable", "[Matrix Weights TrainableInfo] 1 T 2 T 3 [~Matrix]"),
       "End Tag expected"},
      {"bad weight", WithMatrix("Pruneable", "[Matrix Weights] 1 x [~Matrix]"), "number-expected"},
      {"list key", WithMatrix("Pruneable", "[WeightList][From=0 To=0 Size=1][~WeightList]"),
       "Unknown keyword in weights list"},
      {"list without From", WithMatrix("Pruneable", "[WeightList][To=0 Weight=1][~WeightList]"),
       "Insufficient information in weights list"},
      {"text after the network", kInfo2 + kIn2 + kOut1 + kEnd + "[More]", "End Tag expected"},
      {"unclosed network", kInfo2 + kIn2 + kOut1, "Unexpected end of file"},

      // Inputs that would otherwise reach internal checks.
      {"InputLayer too high", WithInfo("[NumberOfLayers = 2][InputLayer = 2]"),
       "InputLayer 2 is not"},
      {"InputLayer negative", WithInfo("[NumberOfLayers = 2][InputLayer = -1]"),
       "InputLayer -1 is not"},
      {"OutputLayer too high", WithInfo("[NumberOfLayers = 2][InputLayer = 0][OutputLayer = 7]"),
       "OutputLayer 7 is not"},
      {"Vemo of 5 layers",
       "[NeuralNetwork][NetworkType = VEMO][NetworkInformation][NumberOfLayers = 5]"
       "[~NetworkInformation]",
       "A Vemo network has 6 layers, not 5"},
      {"layer index high", kInfo2 + "[Layer = 2][LayerType = Simple][NumberOfNeurons = 1][~Layer]",
       "Layer 2 is not a layer"},
      {"layer index negative", kInfo2 + "[Layer = -1]", "Layer -1 is not a layer"},
      {"layer twice", kInfo2 + kIn2 + kIn2, "Layer 0 defined twice"},
      {"layer never defined", kInfo2 + kIn2 + kEnd, "Layer 1 not defined"},
      {"connection to an undefined layer",
       kInfo2 + kIn2 +
           "[ConnectionLayer][LayerFrom = 0][LayerTo = 1][ConnectionType = "
           "Pruneable][~ConnectionLayer]",
       "Layer 1 not defined"},
      {"misspelt layer block", kInfo2 + kIn2 + "[Layr = 1]" + kEnd, "End Tag expected"},
      {"parameter too early",
       WithLayer1("[Layer = 1][LayerType = Gain][Gain = 2][NumberOfNeurons = 1]"),
       "before LayerType and NumberOfNeurons"},
      {"unknown head parameter",
       WithLayer1("[Layer = 1][LayerType = Simple][NumberOfNeurons = 1][ALL Gain=2]"),
       "no parameter \"Gain\""},
      {"unknown neuron parameter",
       WithLayer1(gainHead + "[ALL ActivationFunction=sigmoid][Neurons][Neuron=0 Slope=2]"),
       "no parameter \"Slope\""},
      {"neuron outside",
       WithLayer1(gainHead + "[ALL ActivationFunction=sigmoid][Neurons][Neuron=2]"),
       "neuron 2 is not in a layer of 2"},
      {"no neuron count",
       WithLayer1("[Layer = 1][LayerType = Simple][ALL ActivationFunction=sigmoid]"
                  "[~Layer]"),
       "LayerType and NumberOfNeurons are both required"},
      {"no layer type", WithLayer1("[Layer = 1][NumberOfNeurons = 1][~Layer]"),
       "LayerType and NumberOfNeurons are both required"},
      {"negative neurons", WithLayer1("[Layer = 1][LayerType = Simple][NumberOfNeurons = -3]"),
       "must not be negative"},
      {"type changed",
       WithLayer1("[Layer = 1][LayerType = Simple][NumberOfNeurons = 1]"
                  "[LayerType = FuzzyCondition]"),
       "LayerType changed"},
      {"ten matrix items",
       WithMatrix("Pruneable", "[Matrix Weights Weights Weights Weights Weights Weights Weights "
                               "Weights Weights Weights] [~Matrix]"),
       "at most nine"},
      {"trainable info",
       WithMatrix("Pruneable", "[Matrix Weights TrainableInfo] 1 T 2 x [~Matrix]"),
       "must be T or F, not \"x\""},
      {"fully connected '-'", WithMatrix("FullyConnected", "[Matrix Weights] 1 - [~Matrix]"),
       "cannot lack arc From=1 To=0"},
      {"fully connected F",
       WithMatrix("FullyConnected", "[Matrix Weights TrainableInfo] 1 T 2 F [~Matrix]"),
       "cannot freeze arc From=1 To=0"},
      {"fully connected list gap",
       WithMatrix("FullyConnected", "[WeightList][From=0 To=0 Weight=1][~WeightList]"),
       "lacks arc From=1 To=0"},
      {"fully connected untrainable",
       WithMatrix("FullyConnected", "[WeightList][From=0 To=0 UnTrainable][~WeightList]"),
       "cannot hold the UnTrainable arc"},
      {"list arc outside", WithMatrix("Pruneable", "[WeightList][From=2 To=0][~WeightList]"),
       "arc From=2 To=0 lies outside"},
      {"LayerFrom outside", WithMatrix("Pruneable][LayerFrom = 9", ""),
       "LayerFrom 9 is not a layer"},
      {"to-condition into a simple layer", WithMatrix("ToConditionConnections", ""),
       "need a FuzzyCondition layer as LayerTo"},
      {"to-output into a simple layer", WithMatrix("ToOutputConnections", ""),
       "need a Defuzzify layer as LayerTo"},
      {"unknown function",
       WithLayer1(
           "[Layer = 1][LayerType = Simple][NumberOfNeurons = 1][ALL ActivationFunction=sigmod]"),
       "Unknown activation function \"sigmod\""},
      {"unknown neuron function",
       WithLayer1("[Layer = 1][LayerType = Simple][NumberOfNeurons = 1][Neurons]"
                  "[Neuron=0 ActivationFunction=fast]"),
       "Unknown activation function \"fast\""},
      {"error marker",
       WithLayer1("[Layer = 1][LayerType = Simple][NumberOfNeurons = 1]"
                  "[ALL ActivationFunction=error][~Layer]"),
       "\"error\" is a marker that cannot be evaluated"},
      {"null marker",
       WithLayer1("[Layer = 1][LayerType = Simple][NumberOfNeurons = 1]"
                  "[ALL ActivationFunction=null][~Layer]"),
       "\"null\" is a marker"},
      {"cog on a neuron",
       WithLayer1(gainHead + "[ALL Gain=1][Neurons][Neuron=0 ActivationFunction=cog]"
                             "[Neuron=1 ActivationFunction=sigmoid][~Neurons][~Layer]"),
       "\"cog\" is a marker"},
      {"no function at all",
       WithLayer1("[Layer = 1][LayerType = Simple][NumberOfNeurons = 1][~Layer]"),
       "\"error\" is a marker"},
      {"condition function elsewhere",
       WithLayer1("[Layer = 1][LayerType = Simple][NumberOfNeurons = 1]"
                  "[ALL ActivationFunction=Vemo-condition][~Layer]"),
       "needs the neurons of a FuzzyCondition layer"},
      {"gain function elsewhere",
       WithLayer1("[Layer = 1][LayerType = Simple][NumberOfNeurons = 1]"
                  "[ALL ActivationFunction=sigmoid-gain][~Layer]"),
       "needs the neurons of a Gain layer"},
      {"too many layers", WithInfo("[NumberOfLayers = 1000000]"), "exceeds the limit of 100"},
      {"too many neurons",
       WithLayer1("[Layer = 1][LayerType = Simple][NumberOfNeurons = 4000000000]"),
       "exceeds the limit of 1000000"},
      {"too many arcs",
       kInfo2 +
           "[Layer = 0][LayerType = Input][NumberOfNeurons = 20000][~Layer]"
           "[Layer = 1][LayerType = Simple][NumberOfNeurons = 20000][ALL ActivationFunction=linear]"
           "[~Layer][ConnectionLayer][LayerFrom = 0][LayerTo = 1][ConnectionType = Pruneable]"
           "[~ConnectionLayer]",
       "exceed the limit of 100000000 arcs"},
  };
  for (const Rejection &c : cases) {
    const std::string message = ReadError(c.text);
    EXPECT_NE(message.find(c.message), std::string::npos)
        << c.what << ": got \"" << message << "\", expected \"" << c.message << "\"";
  }
}

TEST(NetworkFileTest, ListEntriesWithUnknownWordsAreEchoed) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(ReadError(WithMatrix("Pruneable", "[WeightList][From=0 To=0 Weight=1 Frozen]")),
            "Unknown keyword in weights list");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Frozen\n");
}

// The arcs of matrix 0 -> 1 as "weight T|F" or "-", arc (0, 0) first.
std::string ArcsRead(const std::string &text) {
  std::unique_ptr<TBasicNetwork> net = Read(text);
  TBasicConnections &m = *net->priv_conns_index[1][0];
  std::ostringstream out;
  for (int j = 0; j < 2; ++j) {
    if (!m.IsValid(j, 0))
      out << "- ";
    else
      out << *m.GetWeightPtr(j, 0) << ((m.GetFlags(j, 0) & kestrane::FMaskTrainable) ? "T " : "F ");
  }
  return out.str();
}

// Neither the order of a matrix head's items nor the split of a block's
// weights into several sections changes what is read.
TEST(NetworkFileTest, WeightSectionsReadTheSameInAnyOrderOrSplit) {
  const struct {
    const char *what;
    std::string text;
    const char *arcs;
  } cases[] = {
      {"weights first", WithMatrix("Pruneable", "[Matrix Weights TrainableInfo] 1 F 2 T [~Matrix]"),
       "1F 2T "},
      {"trainable info first",
       WithMatrix("Pruneable", "[Matrix TrainableInfo Weights] F 1 T 2 [~Matrix]"), "1F 2T "},
      {"info first, arc absent",
       WithMatrix("Pruneable", "[Matrix TrainableInfo Weights] F - F 3 [~Matrix]"), "- 3F "},
      {"matrix completed by a list",
       WithMatrix("FullyConnected", "[Matrix Weights] 1 2 [~Matrix]"
                                    "[WeightList][From=1 To=0 Weight=5][~WeightList]"),
       "1T 5T "},
      {"two partial lists",
       WithMatrix("FullyConnected", "[WeightList][From=0 To=0 Weight=1][~WeightList]"
                                    "[WeightList][From=1 To=0 Weight=2][~WeightList]"),
       "1T 2T "},
      {"no weight section", WithMatrix("FullyConnected", ""), "0T 0T "},
  };
  for (const auto &c : cases)
    EXPECT_EQ(ArcsRead(c.text), c.arcs) << c.what;
  EXPECT_NE(
      ReadError(WithMatrix("FullyConnected", "[Matrix TrainableInfo] T T [~Matrix]"
                                             "[WeightList][From=1 To=0 Weight=5][~WeightList]"))
          .find("lacks arc From=0 To=0"),
      std::string::npos);
}

// ---- files

std::string TempPath(const std::string &name) {
  const auto *info = testing::UnitTest::GetInstance()->current_test_info();
  return testing::TempDir() + "kestrane_netfile_" + std::to_string(getpid()) + "_" + info->name() +
         "_" + name;
}

using testsupport::Entries;
using testsupport::Slurp;

std::string FileErrorOf(const std::function<void()> &call) {
  try {
    call();
  } catch (const FileTools::Error &e) {
    return e.GetMessage();
  }
  return "no error";
}

TEST(NetworkFileTest, SaveAndLoadThroughFiles) {
  kestrane::TConnectedNetwork net(3);
  BuildExample(net);
  FileTools tools;
  const std::string path = TempPath("net.wgt");
  tools.SaveNetwork(path.c_str(), net);
  EXPECT_EQ(Slurp(path), kExampleText);
  auto loaded = tools.LoadNetwork(path.c_str());
  ExpectSameNetwork(net, *loaded);
  std::remove(path.c_str());

  EXPECT_EQ(FileErrorOf([&] { tools.LoadNetwork(TempPath("missing.wgt").c_str()); }),
            "Error on File Open");
  EXPECT_EQ(FileErrorOf([&] { tools.LoadNetwork(testing::TempDir().c_str()); }),
            "Error on File Open");
}

TEST(NetworkFileTest, FailedSaveKeepsThePreviousFile) {
  FileTools tools;
  const std::string path = TempPath("kept.wgt");
  const std::string prefix = path.substr(testing::TempDir().size());
  std::ofstream(path, std::ios::binary) << "previous contents";

  // Two bias neurons: the writer stops half-way.
  kestrane::TConnectedNetwork bad(3);
  BuildExample(bad);
  bad.layers[1]->SetLayerActFunction(kestrane::ActBias);
  EXPECT_EQ(FileErrorOf([&] { tools.SaveNetwork(path.c_str(), bad); }),
            "Illegal number of bias nodes");
  EXPECT_EQ(Slurp(path), "previous contents");
  EXPECT_EQ(Entries(testing::TempDir(), prefix), std::vector<std::string>{prefix});

  // A directory that cannot hold the file: nothing is created.
  kestrane::TConnectedNetwork good(3);
  BuildExample(good);
  const std::string inFile = path + "/net.wgt"; // `path` is a file, not a directory
  EXPECT_EQ(FileErrorOf([&] { tools.SaveNetwork(inFile.c_str(), good); }),
            "cannot write " + inFile + ": Not a directory");
  const std::string noDir = TempPath("no/such/dir.wgt");
  EXPECT_EQ(FileErrorOf([&] { tools.SaveNetwork(noDir.c_str(), good); }),
            "cannot write " + noDir + ": No such file or directory");
  EXPECT_EQ(FileErrorOf([&] { tools.SaveNetwork(testing::TempDir().c_str(), good); }),
            "cannot write " + testing::TempDir() + ": it is a directory");

  if (geteuid() != 0) { // permissions do not bind the superuser
    const std::string dir = TempPath("readonly");
    ASSERT_EQ(mkdir(dir.c_str(), 0500), 0);
    EXPECT_EQ(FileErrorOf([&] { tools.SaveNetwork((dir + "/x.wgt").c_str(), good); }),
              "cannot write " + dir + "/x.wgt: Permission denied");
    rmdir(dir.c_str());
  }

  // A successful save replaces the old file and leaves nothing else behind.
  tools.SaveNetwork(path.c_str(), good);
  EXPECT_EQ(Slurp(path), kExampleText);
  EXPECT_EQ(Entries(testing::TempDir(), prefix), std::vector<std::string>{prefix});
  std::remove(path.c_str());
}

TEST(NetworkFileTest, WriteFailureOnAStreamIsReported) {
  kestrane::TConnectedNetwork net(3);
  BuildExample(net);
  std::ostringstream out;
  out.setstate(std::ios::badbit);
  FileTools tools;
  EXPECT_NE(FileErrorOf([&] { tools.WriteNetwork(out, net); }).find("Error writing network"),
            std::string::npos);
}

} // namespace

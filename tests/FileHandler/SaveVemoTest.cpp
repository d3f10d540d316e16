#include "FileHandler/ParseTools.h"
#include "Vemo/TConditionLayer.h"
#include "Vemo/TVemo.h"
#include "Vemo/TVemoOutputLayer.h"
#include "tests/FileHandler/NetworkFileHelpers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

using kestrane::TBasicConnections;
using kestrane::TVemo;
using netfiletest::ExpectStableRoundTrip;
using netfiletest::Read;
using netfiletest::ReadError;
using netfiletest::Write;

bool Contains(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

// Same outputs for the same inputs, and the same flags on every fuzzy and rule arc.
void ExpectSameVemo(TVemo &a, kestrane::TBasicNetwork &loaded) {
  auto *b = dynamic_cast<TVemo *>(&loaded);
  ASSERT_NE(b, nullptr);
  for (int t = 0; t < 6; ++t)
    for (int f = 0; f < 6; ++f) {
      TBasicConnections &ma = *a.priv_conns_index[t][f];
      TBasicConnections &mb = *b->priv_conns_index[t][f];
      ASSERT_STREQ(ma.GetConnectionsNType(), mb.GetConnectionsNType());
      for (int j = 0; j < a.layers[f]->numNeurons; ++j)
        for (int k = 0; k < a.layers[t]->numNeurons; ++k) {
          ASSERT_EQ(ma.IsValid(j, k), mb.IsValid(j, k));
          if (!ma.IsValid(j, k))
            continue;
          EXPECT_EQ(ma.IsTrainable(j, k), mb.IsTrainable(j, k))
              << f << "->" << t << " " << j << "," << k;
          EXPECT_NEAR(*ma.GetWeightPtr(j, k), *mb.GetWeightPtr(j, k), 1e-14);
        }
    }
  const int inputs = a.layers[1]->numNeurons;
  const int outputs = a.layers[5]->numNeurons;
  std::vector<double> in(static_cast<size_t>(inputs));
  std::vector<double> outA(static_cast<size_t>(outputs));
  std::vector<double> outB(static_cast<size_t>(outputs));
  for (int r = 0; r < 5; ++r) {
    for (int i = 0; i < inputs; ++i)
      in[i] = 0.1 + 0.2 * r + 0.05 * i;
    a.Recall(in.data(), outA.data());
    b->Recall(in.data(), outB.data());
    for (int o = 0; o < outputs; ++o)
      EXPECT_NEAR(outA[o], outB[o], 1e-12);
  }
}

TEST(SaveVemoTest, WritesTheSectionsInTheLayerBlocks) {
  const int mfIn[] = {3, 2};
  const int mfOut[] = {3};
  TVemo net(2, mfIn, 4, mfOut, 1);
  const std::string text = Write(net);
  EXPECT_TRUE(Contains(text, "[NetworkType = Vemo]\n"));
  EXPECT_TRUE(Contains(text,
                       "[LayerType = FuzzyCondition]\n[NumberOfNeurons = 5]\n"
                       "[All ActivationFunction=Vemo-condition ]\n"
                       "[InputMF]\n[Input=0 MF=3 ]\n[Input=1 MF=2 ]\n[~InputMF]\n[~Layer]\n"));
  EXPECT_TRUE(Contains(text, "[LayerType = Defuzzify]\n[NumberOfNeurons = 1]\n"
                             "[All ActivationFunction=cog ]\n"
                             "[OutputMF]\n[Output=0 MF=3 ]\n[~OutputMF]\n[~Layer]\n"));
  // The empty bias layer is closed too, or the file would not read back.
  EXPECT_TRUE(Contains(text, "[Layer = 0]\n[LayerType = Simple]\n[NumberOfNeurons = 0]\n"
                             "[All ActivationFunction=null ]\n[~Layer]\n"));
}

// Two inputs and one output: both fuzzy matrices are written as matrices.
TEST(SaveVemoTest, RoundTripInMatrixFormKeepsFrozenCentres) {
  const int mfIn[] = {3, 2};
  const int mfOut[] = {3};
  TVemo net(2, mfIn, 4, mfOut, 1);
  srand(11);
  net.InitWeights(-1.0, 1.0);
  net.SetWeightValue(1, 0, 1, 0.375);
  net.priv_conns_index[2][1]->FreezeArc(0, 1); // a frozen condition centre
  net.priv_conns_index[5][4]->FreezeArc(2, 0); // a frozen output centre
  net.FreezeWeight(3, 1, 2);
  TBasicConnections &rules = *net.priv_conns_index[3][2];
  for (int j = 0; j < 5; ++j)
    for (int k = 0; k < 4; ++k)
      if ((j + k) % 4 != 0)
        rules.RemoveArc(j, k); // 5 of 20: a weight list

  const std::string text = Write(net);
  EXPECT_TRUE(Contains(text,
                       "[ConnectionType = ToConditionConnections]\n"
                       "[Attributes Pruneable Freezable ]\n[Matrix Weights TrainableInfo ]\n"));
  EXPECT_TRUE(Contains(text, "               0.375 F "));
  EXPECT_TRUE(Contains(text, "                   1 F  /* 2 */"));
  EXPECT_TRUE(Contains(text, "[LayerFrom = 2]\n[LayerTo = 3]\n[ConnectionType = Pruneable]\n"
                             "[Attributes Pruneable Freezable ]\n[WeightList]\n"));
  auto loaded = ExpectStableRoundTrip(net);
  ExpectSameVemo(net, *loaded);
  EXPECT_FALSE(loaded->priv_conns_index[2][1]->IsTrainable(0, 1));
  EXPECT_TRUE(loaded->priv_conns_index[2][1]->IsTrainable(0, 0));
  EXPECT_FALSE(loaded->priv_conns_index[5][4]->IsTrainable(2, 0));
}

// Three inputs and three outputs: both fuzzy matrices fall below 35 % and are lists.
TEST(SaveVemoTest, RoundTripInListFormKeepsFrozenCentres) {
  const int mfIn[] = {2, 3, 2};
  const int mfOut[] = {2, 2, 3};
  TVemo net(3, mfIn, 5, mfOut, 3);
  srand(5);
  net.InitWeights(-0.5, 0.5);
  net.priv_conns_index[2][1]->FreezeArc(1, 3);
  net.priv_conns_index[5][4]->FreezeArc(4, 2);
  net.FreezeWeight(2, 0, 6);

  const std::string text = Write(net);
  EXPECT_TRUE(Contains(text, "[From=1 To=3 Weight=0.500000000000000 UnTrainable ]\n"));
  EXPECT_TRUE(Contains(text, "[From=4 To=2 Weight=0.000000000000000 UnTrainable ]\n"));
  EXPECT_TRUE(Contains(text, "[From=0 To=0 Weight=0.000000000000000 Trainable ]\n"));
  auto loaded = ExpectStableRoundTrip(net);
  ExpectSameVemo(net, *loaded);
  EXPECT_FALSE(loaded->priv_conns_index[2][1]->IsTrainable(1, 3));
  EXPECT_FALSE(loaded->priv_conns_index[5][4]->IsTrainable(4, 2));
  EXPECT_TRUE(loaded->priv_conns_index[5][4]->IsTrainable(5, 2));
}

// ---- reading sections

const std::string kHead = "[NeuralNetwork][NetworkType = Basic][NetworkInformation]"
                          "[NumberOfLayers = 3][InputLayer = 0][~NetworkInformation]";
const std::string kInputs = "[Layer = 0][LayerType = Input][NumberOfNeurons = 2][~Layer]";

std::string Condition(const std::string &entries, int neurons = 5) {
  return "[Layer = 1][LayerType = FuzzyCondition][NumberOfNeurons = " + std::to_string(neurons) +
         "][InputMF]" + entries + "[~InputMF][~Layer]";
}
std::string Output(const std::string &entries, int neurons = 1) {
  return "[Layer = 2][LayerType = Defuzzify][NumberOfNeurons = " + std::to_string(neurons) +
         "][ALL ActivationFunction=cog][OutputMF]" + entries + "[~OutputMF][~Layer]";
}
const std::string kCondition = Condition("[Input=0 MF=3][Input=1 MF=2]");
const std::string kOutput = Output("[Output=0 MF=5]");
std::string File(const std::string &layers, const std::string &connections = "") {
  return kHead + layers + connections + "[~NeuralNetwork]";
}
std::string Connection(const char *from, const char *to, const char *type,
                       const std::string &body) {
  return std::string("[ConnectionLayer][LayerFrom = ") + from + "][LayerTo = " + to +
         "][ConnectionType = " + type + "]" + body + "[~ConnectionLayer]";
}

TEST(SaveVemoTest, SectionsGiveTheLayersTheirCounts) {
  // Entries in any order; the condition matrix holds the centres.
  auto net = Read(File(kInputs + Condition("[Input=1 MF=2][Input=0 MF=3]") +
                           Output("[Output=1 MF=2][Output=0 MF=3]", 2),
                       Connection("0", "1", "ToConditionConnections",
                                  "[Matrix Weights] 0 0.25 1 - - - - - 0.5 0.75 [~Matrix]") +
                           Connection("1", "2", "ToOutputConnections", "")));
  auto &condition = dynamic_cast<kestrane::TConditionLayer &>(*net->layers[1]);
  EXPECT_EQ(condition.GetNumInputs(), 2);
  EXPECT_EQ(condition.GetMFCounts(), (std::vector<int>{3, 2}));
  EXPECT_EQ(condition.nodes[1].centre, 0.25);
  EXPECT_EQ(condition.nodes[4].centre, 0.75);
  auto &output = dynamic_cast<kestrane::TVemoOutputLayer &>(*net->layers[2]);
  EXPECT_EQ(output.GetMFCounts(), (std::vector<int>{3, 2}));
  EXPECT_EQ(output.GetTotalMF(), 5);

  // The number of inputs is the largest index + 1, not the number of entries read.
  kestrane::FileTools tools;
  kestrane::TBasicNetwork bare(2);
  bare.layers[0] = new kestrane::TSimpleInputLayer(&bare, 0, 3);
  auto *layer = new kestrane::TConditionLayer(&bare, 1, 4);
  bare.layers[1] = layer;
  std::istringstream in("[Input=1 MF=2] [Input=0 MF=2] [~InputMF]");
  tools.ReadMembershipSection(in, layer, "InputMF");
  EXPECT_EQ(layer->GetNumInputs(), 2);
  std::ostringstream out;
  tools.WriteInputMFSection(out, *layer);
  EXPECT_EQ(out.str(), "[InputMF]\n[Input=0 MF=2 ]\n[Input=1 MF=2 ]\n[~InputMF]\n");
}

struct Rejection {
  const char *what;
  std::string text;
  std::string message;
};

TEST(SaveVemoTest, RejectsBadSectionsAndMismatchedFuzzyMatrices) {
  const std::vector<Rejection> cases = {
      {"extra item", File(kInputs + Condition("[Input=0 MF=3 Extra=1]")),
       "invalid tag in membership2"},
      {"MF first", File(kInputs + Condition("[MF=3 Input=0]")), "invalid tag in membership1"},
      {"output entry in input section", File(kInputs + Condition("[Output=0 MF=3]")),
       "invalid tag in membership1"},
      {"word after index", File(kInputs + Condition("[Input=0 three]")),
       "invalid tag in membership2"},
      {"index not a number", File(kInputs + Condition("[Input=a MF=3]")), "integer-expected"},
      {"count not a number", File(kInputs + Condition("[Input=0 MF=b]")), "integer-expected"},
      {"closed single item", File(kInputs + Condition("[Input = 0]")), "End Tag expected"},
      {"index too high", File(kInputs + Condition("[Input=5 MF=5]")),
       "index 5 is not below the layer's 5"},
      {"negative index", File(kInputs + Condition("[Input=-1 MF=5]")), "index -1 is not below"},
      {"missing input", File(kInputs + Condition("[Input=1 MF=5]")), "no entry for input 0"},
      {"empty section", File(kInputs + Condition("")), "InputMF section without entries"},
      {"count below 2", File(kInputs + Condition("[Input=0 MF=1][Input=1 MF=4]")),
       "at least 2 needed"},
      {"counts too large", File(kInputs + Condition("[Input=0 MF=3][Input=1 MF=3]")),
       "the counts add up to 6, the layer has 5 neurons"},
      {"repeated input", File(kInputs + Condition("[Input=0 MF=3][Input=0 MF=2]")),
       "input 0 given twice"},
      {"more inputs than the layer below",
       File("[Layer = 0][LayerType = Input][NumberOfNeurons = 1][~Layer]" + kCondition),
       "More inputs than the input layer has neurons"},
      {"missing output", File(kInputs + kCondition + Output("[Output=0 MF=5]", 2)),
       "no entry for output 1"},
      {"repeated output", File(kInputs + kCondition + Output("[Output=0 MF=2][Output=0 MF=3]")),
       "output 0 given twice"},
      {"output count below 2", File(kInputs + kCondition + Output("[Output=0 MF=1]")),
       "at least 2 needed"},
      {"condition section in an output layer",
       File(kInputs + kCondition +
            "[Layer = 2][LayerType = Defuzzify][NumberOfNeurons = 1][InputMF][~InputMF][~Layer]"),
       "membership array missing in output layer"},
      {"input layer defined after the condition layer",
       File(kCondition + "[Layer = 0][LayerType = Input][NumberOfNeurons = 1][~Layer]" + kOutput,
            Connection("0", "1", "ToConditionConnections", "")),
       "the condition layer has 2 inputs, layer 0 only 1 neurons"},
      {"to-output of the wrong size",
       File(kInputs + kCondition + Output("[Output=0 MF=3]"),
            Connection("1", "2", "ToOutputConnections", "")),
       "the output layer has 3 output membership functions, layer 1 has 5 neurons"},
      {"to-condition into an output layer",
       File(kInputs + kCondition + kOutput, Connection("0", "2", "ToConditionConnections", "")),
       "need a FuzzyCondition layer as LayerTo, not Defuzzify"},
      {"to-output into a condition layer",
       File(kInputs + kCondition + kOutput, Connection("0", "1", "ToOutputConnections", "")),
       "need a Defuzzify layer as LayerTo, not FuzzyCondition"},
      {"condition function in an output layer",
       File(kInputs + kCondition +
            "[Layer = 2][LayerType = Defuzzify][NumberOfNeurons = 1][ALL "
            "ActivationFunction=Vemo-condition]"
            "[OutputMF][Output=0 MF=5][~OutputMF][~Layer]"),
       "needs the neurons of a FuzzyCondition layer"},
      {"'-' for a centre",
       File(kInputs + kCondition + kOutput,
            Connection("0", "1", "ToConditionConnections",
                       "[Matrix Weights] - 0.5 1 - - - - - 0 1 [~Matrix]")),
       "cannot lack arc From=0 To=0"},
      {"a centre that does not exist",
       File(kInputs + kCondition + kOutput,
            Connection("0", "1", "ToConditionConnections",
                       "[Matrix Weights] 0 0.5 1 0.2 - - - - 0 1 [~Matrix]")),
       "has no arc From=0 To=3"},
      {"a frozen arc that does not exist",
       File(kInputs + kCondition + kOutput,
            Connection("0", "1", "ToConditionConnections",
                       "[Matrix TrainableInfo] T T T F - - - - T T [~Matrix]")),
       "has no arc From=0 To=3"},
      {"a listed centre that does not exist",
       File(kInputs + kCondition + kOutput,
            Connection("1", "2", "ToOutputConnections", "[WeightList][From=2 To=1][~WeightList]")),
       "arc From=2 To=1 lies outside"},
      {"a listed centre of another input",
       File(kInputs + kCondition + kOutput, Connection("0", "1", "ToConditionConnections",
                                                       "[WeightList][From=1 To=0][~WeightList]")),
       "A ToConditionConnections matrix has no arc From=1 To=0"},
  };
  for (const Rejection &c : cases) {
    const std::string message = ReadError(c.text);
    EXPECT_NE(message.find(c.message), std::string::npos)
        << c.what << ": got \"" << message << "\", expected \"" << c.message << "\"";
  }
}

} // namespace

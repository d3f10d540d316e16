// The four-row recall of fuzzy networks must give, for every row, the bits
// of the layer-by-layer recall, and fail where it fails.

#include "Boot/FitPipeline.h"
#include "Boot/Model.h"
#include "KQmessage/Diagnostics.h"
#include "KQmessage/KestraneError.h"
#include "NeuralNets/TBasicConnections.h"
#include "Vemo/TToOutputConnections.h"
#include "Vemo/TVemo.h"
#include "Vemo/VemoFlatRecall.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace kestrane;

namespace {

TBasicConnections &MatrixInto(TVemo &net, int layer) {
  return *net.priv_conns_index[layer][layer - 1];
}

struct Case {
  const char *name;
  NetworkShape shape;
  bool oneHot;                       // inputs are category indicators, 0 or 1
  std::function<void(TVemo &)> edit; // applied after building
};

} // namespace

TEST(FlatRecallTest, GivesTheBitsOfTheLayerByLayerRecall) {
  const auto shape = [](int inputs, std::vector<int> inMFs, int rules, int outputs,
                        std::vector<int> outMFs, uint32_t seed) {
    NetworkShape s;
    s.inputs = inputs;
    s.inputMFs = std::move(inMFs);
    s.rules = rules;
    s.outputs = outputs;
    s.outputMFs = std::move(outMFs);
    s.seed = seed;
    return s;
  };
  const Case cases[] = {
      {"three classes", shape(3, {2, 3, 5}, 7, 3, {3}, 5), false, nullptr},
      {"uneven output terms", shape(2, {4}, 13, 5, {2, 4, 3, 2, 5}, 9), false, nullptr},
      {"rule count a multiple of four", shape(4, {3}, 40, 2, {5}, 3), false, nullptr},
      {"removed arcs", shape(3, {3}, 9, 3, {3}, 7), false,
       [](TVemo &net) {
         TBasicConnections &rules = MatrixInto(net, TVemo::kRuleLayer);
         TBasicConnections &actions = MatrixInto(net, TVemo::kActionLayer);
         for (int k = 0; k < 9; k += 2)
           rules.RemoveArc((k * 5) % 9, k);
         for (int k = 0; k < 9; ++k)
           actions.RemoveArc(k % 9, k);
         actions.RemoveArc(3, 0);
       }},
      {"categorical inputs", shape(5, {2}, 6, 4, {3}, 11), true, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<TVemo> net = BuildNetwork(c.shape);
    if (c.edit)
      c.edit(*net);
    ASSERT_TRUE(TVemoFlatRecall().Plan(*net));
    // 203 rows: the last group of four is short; every 17th value is missing.
    std::vector<std::vector<double>> rows;
    for (int r = 0; r < 203; ++r) {
      std::vector<double> row;
      for (int i = 0; i < c.shape.inputs; ++i) {
        const int v = (r * 37 + i * 101) % 1000;
        row.push_back((r + i) % 17 == 0 ? std::nan("")
                      : c.oneHot        ? (v % 3 == 0 ? 1.0 : 0.0)
                                        : v / 999.0);
      }
      rows.push_back(row);
    }
    const std::vector<double> outputs = RecallRows(*net, rows);
    const size_t O = static_cast<size_t>(c.shape.outputs);
    std::vector<double> one(O);
    for (size_t r = 0; r < rows.size(); ++r) {
      net->Recall(rows[r].data(), one.data());
      ASSERT_EQ(std::memcmp(&outputs[r * O], one.data(), O * sizeof(double)), 0) << "row " << r;
    }
  }
}

// An output outside [0, 1] stops the recall with the failure of the
// layer-by-layer recall, whichever row of a group of four it is in.
TEST(FlatRecallTest, AnOutputOutsideTheUnitRangeFailsAsBefore) {
  NetworkShape shape;
  shape.inputs = 2;
  shape.rules = 5;
  shape.outputs = 2;
  shape.seed = 4;
  std::unique_ptr<TVemo> net = BuildNetwork(shape);
  auto &centres = static_cast<TToOutputConnections &>(
      *net->priv_conns_index[TVemo::kOutputLayer][TVemo::kActionLayer]);
  for (double &c : centres.weights)
    c = 3.0;
  // The failing row's diagnostic and failure line, as one row's recall gives them.
  const auto failure = [](const std::function<void()> &recall) {
    TCollectingDiagnosticSink sink;
    const TDiagnosticScope scope(sink);
    std::string text;
    try {
      recall();
    } catch (const TKestraneError &e) {
      text = e.Line();
    }
    for (const Diagnostic &d : sink.Take())
      text += "\n" + d.line;
    return text;
  };
  const std::string expected = failure([&] {
    std::vector<double> out(2);
    const double row[] = {0.2, 0.7};
    net->Recall(row, out.data());
  });
  ASSERT_NE(expected, "");
  const std::vector<std::vector<double>> rows(9, {0.2, 0.7});
  EXPECT_EQ(failure([&] { RecallRows(*net, rows); }), expected);
}

// A table of rows one after another predicts as its rows one by one do:
// outputs, classes and clipped values, missing values included.
TEST(FlatRecallTest, ATablePredictsAsItsRows) {
  std::vector<std::vector<double>> rows;
  std::vector<std::string> labels;
  for (int i = 0; i < 30; ++i) {
    rows.push_back({(i % 3) * 2.0 + 0.1 * (i % 7), 1.0 + (i * 5) % 9});
    labels.push_back(i % 3 == 0 ? "a" : i % 3 == 1 ? "b" : "c");
  }
  NetworkShape shape;
  shape.rules = 5;
  TrainSettings settings;
  settings.epochs = 5;
  Model model = Fit(rows, labels, {"x", "y"}, shape, settings);
  std::vector<std::vector<double>> asked;
  std::vector<double> table;
  for (int r = 0; r < 4099; ++r) { // two threads, a short last group
    const double x = r % 31 == 0 ? std::nan("") : (r * 37 % 1000) / 100.0 - 1.0;
    asked.push_back({x, (r * 53 % 1000) / 90.0});
    table.insert(table.end(), asked.back().begin(), asked.back().end());
  }
  const Prediction byRows = model.Predict(asked);
  const Prediction byTable = model.Predict(table, asked.size(), 2);
  ASSERT_EQ(byTable.outputs.size(), byRows.outputs.size());
  EXPECT_EQ(std::memcmp(byTable.outputs.data(), byRows.outputs.data(),
                        byRows.outputs.size() * sizeof(double)),
            0);
  EXPECT_EQ(byTable.predicted, byRows.predicted);
  EXPECT_EQ(byTable.clipped, byRows.clipped);
  EXPECT_GT(byTable.clipped, 0);
  EXPECT_THROW(model.Predict(std::vector<double>(6), 2, 3), TRunError);
}

// The rules `rules` prints, applied by hand: on generated tables of several
// classes, a reader who compares each row's own values with the printed
// conditions and adds up the printed votes gets the network's class on at
// least 90 % of the rows, from at most 20 rules of at most 5 conditions, and
// the fidelity the report gives is what the reader gets.

#include "Boot/FitPipeline.h"
#include "Boot/Model.h"
#include "Boot/RuleReport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace kestrane;

TEST(VoteReading, ByHandAgreesWithTheNetworkOnGeneratedTables) {
  const struct {
    int classes, features;
    double spread;
  } tables[] = {{3, 2, 0.8}, {6, 4, 1.0}, {9, 5, 1.2}};
  for (const auto &table : tables) {
    SCOPED_TRACE(std::to_string(table.classes) + " classes");
    std::mt19937 random(static_cast<uint32_t>(table.classes));
    std::normal_distribution<double> noise(0.0, table.spread);
    std::vector<std::vector<double>> centres(static_cast<size_t>(table.classes));
    for (auto &centre : centres) {
      for (int f = 0; f < table.features; ++f)
        centre.push_back(static_cast<double>(random() % 1000) / 100.0);
    }
    std::vector<std::vector<double>> rows;
    std::vector<std::string> labels;
    std::vector<int> classOf;
    std::vector<std::string> names;
    for (int f = 0; f < table.features; ++f)
      names.push_back("f" + std::to_string(f));
    for (int r = 0; r < 60 * table.classes; ++r) {
      const int k = r % table.classes;
      std::vector<double> row;
      for (double c : centres[static_cast<size_t>(k)])
        row.push_back(c + noise(random));
      rows.push_back(row);
      labels.push_back("c" + std::to_string(k));
    }
    NetworkShape shape;
    shape.rules = table.features + table.classes;
    TrainSettings settings;
    settings.epochs = 300;
    Model model = Fit(rows, labels, names, shape, settings);
    for (const std::string &label : labels) {
      for (size_t k = 0; k < model.Classes().size(); ++k) {
        if (model.Classes()[k] == label)
          classOf.push_back(static_cast<int>(k));
      }
    }
    const RuleBase base = model.Rules(RuleOptions{}, &rows, &classOf);
    const nlohmann::json reading = nlohmann::json::parse(RulesJson(base, {}))["vote_rules"];
    const std::vector<int> answers = model.Predict(rows).predicted;

    ASSERT_LE(reading["rules"].size(), 20u);
    long agree = 0;
    for (size_t r = 0; r < rows.size(); ++r) {
      std::vector<long> total;
      for (const std::string &name : model.Classes())
        total.push_back(std::lround(reading["start"][name].get<double>() * 10));
      for (const auto &rule : reading["rules"]) {
        ASSERT_LE(rule["conditions"].size(), 5u);
        bool holds = true;
        for (const auto &c : rule["conditions"]) {
          const int input = std::stoi(c["input"].get<std::string>().substr(1));
          holds = holds && (rows[r][static_cast<size_t>(input)] >= c["value"].get<double>()) ==
                               c["at_least"].get<bool>();
        }
        const int k = std::stoi(rule["class"].get<std::string>().substr(1));
        if (holds)
          total[static_cast<size_t>(k)] += std::lround(rule["vote"].get<double>() * 10);
      }
      int best = 0;
      for (int k = 1; k < table.classes; ++k)
        best = total[static_cast<size_t>(k)] > total[static_cast<size_t>(best)] ? k : best;
      agree += best == answers[r] ? 1 : 0;
    }
    const double byHand = 100.0 * static_cast<double>(agree) / static_cast<double>(rows.size());
    EXPECT_EQ(byHand, reading["fidelity"].get<double>());
    EXPECT_GE(byHand, 90.0);
  }
}

} // namespace

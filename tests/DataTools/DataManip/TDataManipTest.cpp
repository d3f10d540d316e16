#include "DataTools/DataManip/TDataManip.h"
#include "KQmessage/TException.h"
#include "tests/Support/TableChecks.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <set>
#include <vector>

namespace {

using kestrane::Data;
using kestrane::TDataManip;
using kestrane::TException;
using kestrane::TLabelList;
using testsupport::ExpectSameTable;
using testsupport::ExpectThrows;

// `rows` rows of 2 inputs and 1 output: inputs (base + r, -(base + r)), output r.
std::unique_ptr<Data> Table(int32_t rows, double base = 0, bool labels = false,
                            int32_t slots = -1) {
  auto table = std::make_unique<Data>(slots < 0 ? rows : slots, 2, 1, labels);
  for (int32_t r = 0; r < rows; ++r) {
    const double in[2] = {base + r, -(base + r)};
    const double out[1] = {static_cast<double>(r)};
    TLabelList list(("row" + std::to_string(r)).c_str(), base + r);
    table->AppendRow(in, out, labels ? &list : nullptr);
  }
  return table;
}

TEST(TDataManipTest, TimeStepLagStacksCurrentRowFirst) {
  auto source = Table(5);
  auto lag = TDataManip::TimeStepLag(source.get(), 3);
  ASSERT_EQ(lag->MbrNdxRows, 3);
  ASSERT_EQ(lag->MbrNdxInputs, 6);
  EXPECT_EQ(lag->MbrNdxDataRows, 3);
  const std::vector<double> first(lag->InputSlot(0), lag->InputSlot(0) + 6);
  EXPECT_EQ(first, (std::vector<double>{2, -2, 1, -1, 0, -0.0}));
  EXPECT_EQ(lag->GetOutputDatum(0, 0), 2.0);
  EXPECT_EQ(lag->GetInputDatum(2, 0), 4.0);
}

TEST(TDataManipTest, TimeStepAdvanceStacksLaterRows) {
  auto source = Table(5, 0, true);
  auto advance = TDataManip::TimeStepAdvance(source.get(), 3);
  ASSERT_EQ(advance->MbrNdxRows, 3);
  const std::vector<double> first(advance->InputSlot(0), advance->InputSlot(0) + 6);
  EXPECT_EQ(first, (std::vector<double>{0, -0.0, 1, -1, 2, -2}));
  EXPECT_EQ(advance->GetOutputDatum(0, 0), 0.0);
  EXPECT_EQ(advance->GetOutputDatum(2, 0), 2.0);
  EXPECT_EQ(advance->GetLabels(2)->GetLabel(0).name, "row2");

  auto copy = TDataManip::TimeStepAdvance(source.get(), 1);
  ExpectSameTable(*copy, *source);
}

TEST(TDataManipTest, TimeStepFaults) {
  auto source = Table(2);
  ExpectThrows([&] { TDataManip::TimeStepLag(source.get(), 3); }, "Insufficient rows",
               "Bad Parameter", "TDataManip::TimeStepLag");
  ExpectThrows([&] { TDataManip::TimeStepAdvance(source.get(), 3); }, "Insufficient rows",
               "Bad Parameter", "TDataManip::TimeStepAdvance");
  ExpectThrows([&] { TDataManip::TimeStepLag(source.get(), 0); }, "Invalid time step window",
               "Bad Parameter", "TDataManip::TimeStepLag");
}

TEST(TDataManipTest, ExtractKeepsChosenColumnsInOrder) {
  auto source = std::make_unique<Data>(4, 3, 2, true);
  for (int r = 0; r < 3; ++r) {
    const double in[3] = {r + 0.0, r + 0.1, r + 0.2};
    const double out[2] = {r + 0.5, r + 0.6};
    TLabelList list("x", 1.0);
    source->AppendRow(in, out, &list);
  }
  const int32_t columns[2] = {2, 0};
  auto inputs = TDataManip::Extract(source.get(), 2, columns);
  EXPECT_EQ(inputs->MbrNdxRows, 4);
  EXPECT_EQ(inputs->MbrNdxDataRows, 3);
  EXPECT_EQ(inputs->MbrNdxInputs, 2);
  EXPECT_EQ(inputs->MbrNdxOutputs, 2);
  EXPECT_TRUE(inputs->MbrBlnLabels);
  EXPECT_EQ(inputs->GetLabels(0)->GetCount(), 0); // labels are not copied
  EXPECT_EQ(inputs->GetInputDatum(1, 0), 1.2);
  EXPECT_EQ(inputs->GetInputDatum(1, 1), 1.0);
  EXPECT_EQ(inputs->GetOutputDatum(2, 1), 2.6);

  const int32_t outColumns[1] = {1};
  auto both = TDataManip::Extract(source.get(), 1, columns, 1, outColumns);
  EXPECT_EQ(both->MbrNdxOutputs, 1);
  EXPECT_FALSE(both->MbrBlnLabels);
  EXPECT_EQ(both->GetInputDatum(2, 0), 2.2);
  EXPECT_EQ(both->GetOutputDatum(2, 0), 2.6);

  const int32_t bad[1] = {3};
  const int32_t four[4] = {0, 0, 0, 0};
  for (auto call : std::vector<std::function<void()>>{
           [&] { TDataManip::Extract(source.get(), 1, bad); },
           [&] { TDataManip::Extract(source.get(), 4, four); },
           [&] { TDataManip::Extract(source.get(), 1, columns, 1, columns); },
       })
    ExpectThrows(call, "Invalid data column", "Bad Parameter", "TDataManip::Extract");
  ExpectThrows([&] { TDataManip::Extract(nullptr, 1, columns, 1, outColumns); }, "Data source null",
               "Null Pointer Parameter", "TDataManip::Extract");
}

TEST(TDataManipTest, GetFirstRowsTakesRowsInAppendOrder) {
  auto source = Table(4, 10, true, 3); // wrapped: holds rows 1, 2, 3
  auto rows = TDataManip::GetFirstRows(3, source.get());
  ASSERT_EQ(rows->MbrNdxDataRows, 3);
  EXPECT_EQ(rows->GetInputDatum(0, 0), 11.0);
  EXPECT_EQ(rows->GetInputDatum(2, 0), 13.0);
  EXPECT_EQ(rows->GetLabels(2)->GetLabel(0).name, "row3");
  EXPECT_EQ(TDataManip::GetFirstRows(0, source.get())->MbrNdxRows, 0);
  ExpectThrows([&] { TDataManip::GetFirstRows(4, source.get()); }, "Insufficient rows",
               "Bad Parameter", "TDataManip::GetFirstRows");
  ExpectThrows([&] { TDataManip::GetFirstRows(-1, source.get()); }, "Invalid number of rows",
               "Bad Parameter", "TDataManip::GetFirstRows");
}

TEST(TDataManipTest, DivideFillsConsecutiveSubsets) {
  auto source = Table(6, 0, true);
  const int32_t sizes[2] = {2, 3};
  auto parts = TDataManip::Divide(source.get(), 2, sizes);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0]->MbrNdxDataRows, 2);
  EXPECT_EQ(parts[1]->MbrNdxDataRows, 3);
  EXPECT_FALSE(parts[1]->MbrBlnLabels);
  EXPECT_EQ(parts[0]->GetInputDatum(1, 0), 1.0);
  EXPECT_EQ(parts[1]->GetInputDatum(0, 0), 2.0);
  EXPECT_EQ(parts[1]->GetInputDatum(2, 0), 4.0);

  const int32_t zero[2] = {2, 0};
  const int32_t tooMany[2] = {4, 3};
  ExpectThrows([&] { TDataManip::Divide(source.get(), 0, sizes); }, "Invalid number of subsets",
               "Bad Parameter", "TDataManip::Divide");
  ExpectThrows([&] { TDataManip::Divide(nullptr, 2, sizes); }, "Data source null",
               "Null Pointer Parameter", "TDataManip::Divide");
  ExpectThrows([&] { TDataManip::Divide(source.get(), 2, zero); }, "Invalid number of subset rows",
               "Bad Parameter", "TDataManip::Divide");
  ExpectThrows([&] { TDataManip::Divide(source.get(), 2, tooMany); },
               "Total subset rows exceeds data rows in source", "Bad Parameter",
               "TDataManip::Divide");
}

TEST(TDataManipTest, ShufflePlacesRowJAtTheDrawnSlotAndUsesNDraws) {
  const int32_t n = 7;
  auto source = Table(n, 100, true);
  std::srand(42);
  auto shuffled = TDataManip::Shuffle(source.get());
  const int next = std::rand();

  std::srand(42);
  std::vector<int32_t> index(n);
  for (int32_t i = 0; i < n; ++i)
    index[i] = i;
  for (int32_t i = 0; i < n; ++i)
    std::swap(index[i], index[i + std::rand() % (n - i)]);
  EXPECT_EQ(std::rand(), next); // exactly n draws

  ASSERT_EQ(shuffled->MbrNdxDataRows, n);
  for (int32_t j = 0; j < n; ++j) {
    EXPECT_EQ(shuffled->GetInputDatum(index[j], 0), 100.0 + j);
    EXPECT_EQ(shuffled->GetLabels(index[j])->GetLabel(0).value, 100.0 + j);
  }
  std::srand(42);
  ExpectSameTable(*TDataManip::Shuffle(source.get()), *shuffled);
}

TEST(TDataManipTest, ShuffleOfTinyTablesAndNullSource) {
  auto one = Table(1, 5);
  auto copy = TDataManip::Shuffle(one.get());
  EXPECT_EQ(copy->GetInputDatum(0, 0), 5.0);
  Data empty(0, 2, 1, false);
  EXPECT_EQ(TDataManip::Shuffle(&empty)->MbrNdxRows, 0);
  ExpectThrows([&] { TDataManip::Shuffle(nullptr); }, "Null data source", "Null Pointer Parameter",
               "TDataManip::Shuffle");
}

TEST(TDataManipTest, ShuffleThroughSelectionZeroesUnselectedColumns) {
  auto source = std::make_unique<Data>(3, 3, 1, true);
  for (int r = 0; r < 3; ++r) {
    const double in[3] = {r + 1.0, r + 2.0, r + 3.0};
    TLabelList list("x", 1.0);
    source->AppendRow(in, in, &list);
  }
  const int32_t columns[1] = {2};
  source->SelectInputColumns(1, columns);
  auto shuffled = TDataManip::Shuffle(source.get());
  std::set<double> firsts;
  for (int32_t s = 0; s < 3; ++s) {
    firsts.insert(shuffled->GetInputDatum(s, 0));
    EXPECT_EQ(shuffled->GetInputDatum(s, 1), 0.0);
    EXPECT_EQ(shuffled->GetInputDatum(s, 2), 0.0);
    EXPECT_EQ(shuffled->GetLabels(s)->GetCount(), 0); // no labels through a selection
  }
  EXPECT_EQ(firsts, (std::set<double>{3, 4, 5}));
}

TEST(TDataManipTest, ConcatenateAppendsTableAfterTable) {
  auto a = Table(2, 0, true);
  auto b = Table(3, 10, false, 5);
  Data *tables[2] = {a.get(), b.get()};
  auto joined = TDataManip::Concatenate(2, tables);
  ASSERT_EQ(joined->MbrNdxRows, 5);
  EXPECT_TRUE(joined->MbrBlnLabels);
  const double expected[5] = {0, 1, 10, 11, 12};
  for (int32_t r = 0; r < 5; ++r)
    EXPECT_EQ(joined->GetInputDatum(r, 0), expected[r]);
  EXPECT_EQ(joined->GetLabels(1)->GetLabel(0).name, "row1");
  EXPECT_EQ(joined->GetLabels(3)->GetCount(), 0);
}

TEST(TDataManipTest, RecombineDrawsDistinctRowsPerClass) {
  auto zero = Table(6, 0);
  auto one = Table(8, 100);
  Data *classes[2] = {zero.get(), one.get()};
  const int32_t counts[2] = {2, 3};
  std::srand(7);
  auto drawn = TDataManip::Recombine(2, classes, counts);
  ASSERT_EQ(drawn->MbrNdxDataRows, 5);
  std::set<double> fromZero, fromOne;
  for (int32_t r = 0; r < 5; ++r) {
    const double v = drawn->GetInputDatum(r, 0);
    (v >= 100 ? fromOne : fromZero).insert(v);
  }
  EXPECT_EQ(fromZero.size(), 2u);
  EXPECT_EQ(fromOne.size(), 3u);
}

TEST(TDataManipTest, RecombineFaults) {
  auto zero = Table(3, 0);
  auto one = Table(3, 100);
  Data *classes[2] = {zero.get(), one.get()};
  const int32_t counts[2] = {2, 4};
  const int32_t negative[2] = {-1, 1};
  ExpectThrows([&] { TDataManip::Recombine(1, classes, counts); }, "Insufficient number of classes",
               "Bad Parameter", "TDataManip::Recombine");
  ExpectThrows([&] { TDataManip::Recombine(2, classes, negative); }, "Invalid number of rows",
               "Bad Parameter", "TDataManip::Recombine");
  ExpectThrows([&] { TDataManip::Recombine(2, classes, counts); }, "Insufficient rows",
               "Bad Parameter", "TDataManip::GetFirstRows");
  // A missing class fails in its shuffle, after the classes before it drew.
  Data *missing[3] = {zero.get(), nullptr, one.get()};
  const int32_t three[3] = {1, 1, 1};
  std::srand(5);
  ExpectThrows([&] { TDataManip::Recombine(3, missing, three); }, "Null data source",
               "Null Pointer Parameter", "TDataManip::Shuffle");
  const int afterFailure = std::rand();
  std::srand(5);
  for (int i = 0; i < 3; ++i)
    std::rand(); // class 0's shuffle of 3 rows
  EXPECT_EQ(afterFailure, std::rand());
}

// The composition Recombine stands for, built from the public operations.
std::unique_ptr<Data> RecombineStepByStep(int32_t count, Data *const *tables,
                                          const int32_t *counts) {
  std::vector<std::unique_ptr<Data>> shuffled, firsts;
  for (int32_t i = 0; i < count; ++i)
    shuffled.push_back(TDataManip::Shuffle(tables[i]));
  for (int32_t i = 0; i < count; ++i)
    firsts.push_back(TDataManip::GetFirstRows(counts[i], shuffled[i].get()));
  std::vector<Data *> parts;
  for (auto &t : firsts)
    parts.push_back(t.get());
  auto joined = TDataManip::Concatenate(count, parts.data());
  return TDataManip::Shuffle(joined.get());
}

TEST(TDataManipTest, RecombineEqualsItsCompositionTableAndDraws) {
  struct Case {
    const char *name;
    std::vector<int32_t> rows, slots, counts;
    bool labels, select;
  };
  const std::vector<Case> cases = {
      {"plain", {6, 9}, {6, 9}, {2, 3}, false, false},
      {"labels", {5, 7, 4}, {5, 7, 4}, {5, 1, 4}, true, false},
      {"wrapped rings", {9, 12}, {4, 5}, {3, 5}, true, false},
      {"selection", {8, 8}, {8, 8}, {4, 4}, true, true},
      {"empty class", {0, 6}, {0, 6}, {0, 6}, false, false},
      {"large class", {2000, 50}, {2000, 50}, {50, 50}, false, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::unique_ptr<Data>> owned;
    std::vector<Data *> classes;
    for (size_t i = 0; i < c.rows.size(); ++i) {
      owned.push_back(Table(c.rows[i], 1000.0 * i, c.labels, c.slots[i]));
      if (c.select) {
        const int32_t column[1] = {1};
        owned.back()->SelectInputColumns(1, column);
      }
      classes.push_back(owned.back().get());
    }
    const int32_t n = static_cast<int32_t>(classes.size());
    std::srand(1234);
    auto expected = RecombineStepByStep(n, classes.data(), c.counts.data());
    const int nextExpected = std::rand();
    std::vector<int32_t> cursors;
    for (Data *t : classes)
      cursors.push_back(t->MbrNdxCursor), t->MbrNdxCursor = 0;

    std::srand(1234);
    auto actual = TDataManip::Recombine(n, classes.data(), c.counts.data());
    EXPECT_EQ(std::rand(), nextExpected);
    ExpectSameTable(*actual, *expected);
    for (int32_t i = 0; i < n; ++i)
      EXPECT_EQ(classes[i]->MbrNdxCursor, cursors[i]);
  }
}

} // namespace

namespace {

// Within every class's rows it draws as Recombine does; beyond them, every
// row once and the rest repeated; a class without rows cannot give any.
TEST(TDataManipTest, RecombineWithReplacement) {
  struct Case {
    const char *name;
    std::vector<int32_t> rows, counts;
    const char *error; // nullptr: draws
  };
  const std::vector<Case> cases = {
      {"within the rows: Recombine's draws", {6, 9}, {6, 3}, nullptr},
      {"beyond a class's rows", {3, 9}, {8, 2}, nullptr},
      {"a class without rows", {0, 4}, {1, 4}, "Insufficient rows"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::unique_ptr<Data>> owned;
    std::vector<Data *> classes;
    for (size_t i = 0; i < c.rows.size(); ++i) {
      owned.push_back(Table(c.rows[i], 1000.0 * i, true));
      classes.push_back(owned.back().get());
    }
    std::srand(99);
    if (c.error) {
      ExpectThrows(
          [&] { TDataManip::RecombineWithReplacement(2, classes.data(), c.counts.data()); },
          c.error, "Bad Parameter", "TDataManip::GetFirstRows");
      continue;
    }
    auto drawn = TDataManip::RecombineWithReplacement(2, classes.data(), c.counts.data());
    const bool within = c.counts[0] <= c.rows[0] && c.counts[1] <= c.rows[1];
    if (within) {
      std::srand(99);
      ExpectSameTable(*drawn, *TDataManip::Recombine(2, classes.data(), c.counts.data()));
      continue;
    }
    ASSERT_EQ(drawn->MbrNdxDataRows, c.counts[0] + c.counts[1]);
    std::multiset<double> fromZero;
    for (int32_t r = 0; r < drawn->MbrNdxDataRows; ++r)
      if (drawn->GetInputDatum(r, 0) < 1000)
        fromZero.insert(drawn->GetInputDatum(r, 0));
    EXPECT_EQ(static_cast<int32_t>(fromZero.size()), c.counts[0]);
    for (int32_t r = 0; r < c.rows[0]; ++r)
      EXPECT_GE(fromZero.count(r), 1u) << "row " << r;
  }
}

} // namespace

#include "DataObject/Data.h"
#include "KQmessage/TException.h"
#include "tests/Support/TableChecks.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

using kestrane::Data;
using kestrane::TException;
using kestrane::TLabelList;
using testsupport::ExpectThrows;

// A table of `rows` slots with 4 inputs and 2 outputs; row r holds inputs
// r*10 + c and outputs -(r*10 + c).
std::unique_ptr<Data> Filled(int32_t slots, int32_t rows, bool labels = false) {
  auto table = std::make_unique<Data>(slots, 4, 2, labels);
  for (int32_t r = 0; r < rows; ++r) {
    const double in[4] = {r * 10.0, r * 10.0 + 1, r * 10.0 + 2, r * 10.0 + 3};
    const double out[2] = {-r * 10.0, -r * 10.0 - 1};
    table->AppendRow(in, out);
  }
  return table;
}

TEST(DataTest, NewTableIsEmptyAndZeroed) {
  Data table(5, 3, 2, true);
  EXPECT_EQ(table.MbrNdxRows, 5);
  EXPECT_EQ(table.MbrNdxDataRows, 0);
  EXPECT_EQ(table.MbrNdxFirst, 0);
  EXPECT_EQ(table.MbrNdxLast, 0);
  EXPECT_EQ(table.MbrNdxCursor, 0);
  EXPECT_EQ(table.MbrNdxChanges, 0);
  for (int32_t s = 0; s < 5; ++s) {
    for (int32_t c = 0; c < 3; ++c)
      EXPECT_EQ(table.InputSlot(s)[c], 0.0);
    for (int32_t c = 0; c < 2; ++c)
      EXPECT_EQ(table.OutputSlot(s)[c], 0.0);
  }
  Data noColumns(2, 0, -1, false);
  EXPECT_EQ(noColumns.InputSlot(0), nullptr);
  EXPECT_EQ(noColumns.MbrNdxOutputs, 0);
}

TEST(DataTest, RingOverwritesOldestRowWhenFull) {
  auto table = Filled(5, 5);
  EXPECT_EQ(table->MbrNdxFirst, 0);
  EXPECT_EQ(table->MbrNdxLast, 4);
  const double in[4] = {99, 99, 99, 99};
  table->AppendRow(in, nullptr);
  EXPECT_EQ(table->MbrNdxFirst, 1);
  EXPECT_EQ(table->MbrNdxLast, 0);
  EXPECT_EQ(table->MbrNdxDataRows, 5);
  EXPECT_EQ(table->GetInputDatum(0, 2), 99.0);
  EXPECT_EQ(table->GetOutputDatum(0, 1), -1.0); // a missing vector leaves that part
  EXPECT_EQ(table->MbrNdxChanges, 6);
  // Sequential reading follows append order across the wrap.
  table->Rewind();
  std::vector<double> seen;
  for (int i = 0; i < 5; ++i) {
    double row[4], out[2];
    table->GetNextRow(row, out);
    seen.push_back(row[0]);
  }
  EXPECT_EQ(seen, (std::vector<double>{10, 20, 30, 40, 99}));
}

TEST(DataTest, CursorMovesCyclicallyInBothDirections) {
  auto table = Filled(5, 3);
  double in[4], out[2];
  table->MbrNdxCursor = 2;
  table->GetNextRow(in, out);
  EXPECT_EQ(in[0], 0.0);
  table->Rewind();
  for (double expected : {0.0, 10.0, 20.0}) {
    table->GetNextRow(in, out);
    EXPECT_EQ(in[0], expected);
  }
  table->MbrNdxCursor = 0;
  table->GetPreviousRow(in, out);
  EXPECT_EQ(in[0], 20.0);
  table->ReadCurrentRow(in, out);
  EXPECT_EQ(out[1], -21.0);

  auto single = Filled(3, 1);
  single->GetNextRow(in, out);
  single->GetNextRow(in, out);
  EXPECT_EQ(single->MbrNdxCursor, 0);
}

TEST(DataTest, SequentialReadingOfEmptyTableRaises) {
  Data table(3, 1, 1, false);
  double in[1], out[1];
  ExpectThrows([&] { table.GetNextRow(in, out); }, "Data table is empty", "Bad Parameter",
               "Data::GetNextRow");
  ExpectThrows([&] { table.GetPreviousRow(in, out); }, "Data table is empty", "Bad Parameter",
               "Data::GetPreviousRow");
  ExpectThrows([&] { table.ReadCurrentRow(in, out); }, "Data table is empty", "Bad Parameter",
               "Data::ReadCurrentRow");
  Data noSlots(0, 1, 1, false);
  ExpectThrows([&] { noSlots.AppendRow(in, out); }, "Data table has no row slots", "Bad Parameter",
               "Data::AppendRow");
}

TEST(DataTest, InputSelectionShapesSequentialReadingOnly) {
  auto table = Filled(3, 3);
  const int32_t columns[2] = {3, 0};
  table->SelectInputColumns(2, columns);
  table->Rewind();
  double in[4] = {7, 7, 7, 7}, out[2];
  const TLabelList *labels = reinterpret_cast<const TLabelList *>(1);
  table->GetNextRow(in, out, &labels);
  EXPECT_EQ(in[0], 3.0);
  EXPECT_EQ(in[1], 0.0);
  EXPECT_EQ(in[2], 7.0); // beyond the selection nothing is written
  EXPECT_EQ(out[0], -0.0);
  EXPECT_EQ(out[1], -1.0);
  EXPECT_EQ(labels, nullptr);
  double all[4];
  table->GetInputRow(0, all);
  EXPECT_EQ(all[1], 1.0);
  EXPECT_EQ(all[3], 3.0);

  int32_t count = 0;
  std::vector<int32_t> copy;
  table->GetSelection(count, copy);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(copy, (std::vector<int32_t>{3, 0}));

  const int32_t outColumns[1] = {1};
  table->SetSelection(1, columns, 1, outColumns);
  table->GetNextRow(in, out);
  EXPECT_EQ(in[0], 13.0);
  EXPECT_EQ(out[0], -11.0);

  auto clone = table->Clone();
  EXPECT_EQ(clone->MbrDyaSelOutputs, (std::vector<int32_t>{1}));
  EXPECT_EQ(clone->MbrNdxCursor, table->MbrNdxCursor);
}

TEST(DataTest, SelectionsRejectColumnsOutsideTheTable) {
  auto table = Filled(3, 3);
  const int32_t bad[2] = {0, 4};
  const int32_t negative[1] = {-1};
  const int32_t good[1] = {1};
  const int32_t outBad[1] = {2};
  ExpectThrows([&] { table->SelectInputColumns(2, bad); }, "Invalid Input Data Column",
               "Bad Parameter", "Data::SelectInputColumns");
  ExpectThrows([&] { table->SetSelection(1, negative, 0, nullptr); }, "Invalid Input Data Column",
               "Bad Parameter", "Data::SetSelection");
  ExpectThrows([&] { table->SetSelection(1, good, 1, outBad); }, "Invalid Output Data Column",
               "Bad Parameter", "Data::SetSelection");
  const int32_t five[5] = {0, 0, 0, 0, 0};
  ExpectThrows([&] { table->SelectInputColumns(5, five); }, "Invalid selection count",
               "Bad Parameter", "Data::SelectInputColumns");
  EXPECT_EQ(table->MbrNdxSelInputs, 0); // failed calls changed nothing
  double values[2];
  ExpectThrows([&] { table->GetInputRow(0, values, 2, bad); }, "Invalid Input Data Column",
               "Bad Parameter", "Data::GetInputRow");
  ExpectThrows([&] { table->GetOutputRow(0, values, 1, outBad); }, "Invalid Output Data Column",
               "Bad Parameter", "Data::GetOutputRow");
  ExpectThrows([&] { table->GetOutputRow(5, values, 1, outBad); }, "Invalid Data Row",
               "Bad Parameter", "Data::GetOutputRow");
  const int32_t order[2] = {2, 1};
  table->GetInputRow(1, values, 2, order);
  EXPECT_EQ(values[0], 12.0);
  EXPECT_EQ(values[1], 11.0);
}

TEST(DataTest, EveryRowAndColumnFaultRaisesWithItsTexts) {
  auto table = Filled(5, 5, true);
  double buffer[4];
  kestrane::TLabelList list("x", 1.0);
  struct Case {
    const char *function;
    const char *message;
    std::function<void()> call;
  };
  const std::vector<Case> cases = {
      {"Data::GetInputDatum", "Invalid Data Row", [&] { table->GetInputDatum(7, 0); }},
      {"Data::GetInputDatum", "Invalid Data Row", [&] { table->GetInputDatum(-1, 99); }},
      {"Data::GetInputDatum", "Invalid Input Data Column", [&] { table->GetInputDatum(0, 4); }},
      {"Data::SetInputDatum", "Invalid Input Data Column", [&] { table->SetInputDatum(0, -1, 1); }},
      {"Data::SetInputDatum", "Invalid Data Row", [&] { table->SetInputDatum(5, 0, 1); }},
      {"Data::GetOutputDatum", "Invalid Output Data Column", [&] { table->GetOutputDatum(0, -1); }},
      {"Data::GetOutputDatum", "Invalid Data Row", [&] { table->GetOutputDatum(7, 0); }},
      {"Data::SetOutputDatum", "Invalid Output Data Column",
       [&] { table->SetOutputDatum(1, 2, 1); }},
      {"Data::SetOutputDatum", "Invalid Data Row", [&] { table->SetOutputDatum(9, 9, 1); }},
      {"Data::GetLabels", "Invalid Data Row", [&] { table->GetLabels(5); }},
      {"Data::SetLabels", "Invalid Data Row", [&] { table->SetLabels(-1, &list); }},
      {"Data::ClearLabels", "Invalid Data Row", [&] { table->ClearLabels(5); }},
      {"Data::AppendLabel", "Invalid Data Row", [&] { table->AppendLabel(5, 1.0, "a"); }},
      {"Data::SetRow", "Invalid Data Row", [&] { table->SetRow(5, buffer, nullptr); }},
      {"Data::GetInputRow", "Invalid Data Row", [&] { table->GetInputRow(5, buffer); }},
      {"Data::GetOutputRow", "Invalid Data Row", [&] { table->GetOutputRow(-1, buffer); }},
  };
  const auto before = table->Clone();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.function);
    ExpectThrows(c.call, c.message, "Bad Parameter", c.function);
  }
  EXPECT_EQ(table->MbrDyaRtpInputs, before->MbrDyaRtpInputs);
  EXPECT_EQ(table->MbrDyaRtpOutputs, before->MbrDyaRtpOutputs);
  EXPECT_EQ(table->MbrNdxChanges, before->MbrNdxChanges);
}

TEST(DataTest, RowsAndDataCanBeWrittenAndRead) {
  auto table = Filled(4, 2);
  const double in[4] = {1, 2, 3, 4};
  table->SetRow(1, in, nullptr);
  EXPECT_EQ(table->GetInputDatum(1, 3), 4.0);
  EXPECT_EQ(table->GetOutputDatum(1, 0), -10.0);
  table->SetOutputDatum(1, 1, 0.25);
  EXPECT_EQ(table->GetOutputDatum(1, 1), 0.25);
  table->SetInputDatum(0, 0, -2.5);
  EXPECT_EQ(table->GetInputDatum(0, 0), -2.5);
  EXPECT_THROW(table->GetInputDatum(2, 0), TException); // slot 2 holds no data yet
}

TEST(DataTest, GetBlockCopiesUpToTheNewestRow) {
  auto table = Filled(6, 4);
  double in[10][4] = {}, out[10][2] = {};
  double *ins[10], *outs[10];
  for (int i = 0; i < 10; ++i)
    ins[i] = in[i], outs[i] = out[i];
  int32_t count = -1;
  table->GetBlock(ins, outs, 1, 10, count);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(in[0][0], 10.0);
  EXPECT_EQ(in[2][3], 33.0);
  EXPECT_EQ(out[2][1], -31.0);
  count = -1;
  ExpectThrows([&] { table->GetBlock(ins, outs, 4, 5, count); }, "Data Block Fault",
               "Bad Parameter", "Data::GetBlock");
  EXPECT_EQ(count, 0);
}

TEST(DataTest, LabelsAccumulateByExactName) {
  auto table = Filled(3, 2, true);
  table->AppendLabel(1, 1.0, "a");
  table->AppendLabel(1, 1.0, "a");
  table->AppendLabel(1, 2.0, "b");
  table->AppendLabel(1, 0.5, "A");
  const TLabelList *labels = table->GetLabels(1);
  ASSERT_EQ(labels->GetCount(), 3);
  EXPECT_EQ(labels->GetLabel(0).name, "a");
  EXPECT_EQ(labels->GetLabel(0).value, 2.0);
  EXPECT_EQ(labels->GetLabel(1).value, 2.0);
  EXPECT_EQ(labels->Find("A")->value, 0.5);

  // Sequential reading hands out the stored list; Clone and SetLabels copy deeply.
  table->MbrNdxCursor = 0;
  double in[4], out[2];
  const TLabelList *read = nullptr;
  table->GetNextRow(in, out, &read);
  EXPECT_EQ(read, labels);
  auto clone = table->Clone();
  table->ClearLabels(1);
  EXPECT_EQ(table->GetLabels(1)->GetCount(), 0);
  EXPECT_EQ(clone->GetLabels(1)->GetCount(), 3);
  table->SetLabels(0, clone->GetLabels(1));
  EXPECT_EQ(*table->GetLabels(0), *clone->GetLabels(1));
  table->SetRow(0, in, out, nullptr); // no list clears them
  EXPECT_EQ(table->GetLabels(0)->GetCount(), 0);

  auto plain = Filled(2, 1);
  EXPECT_EQ(plain->GetLabels(0), nullptr);
  ExpectThrows([&] { plain->AppendLabel(0, 1.0, "a"); }, "Data table keeps no labels",
               "Bad Parameter", "Data::AppendLabel");
}

TEST(DataTest, CloneCopiesStateAndRows) {
  auto table = Filled(3, 3, true);
  table->AppendRow(nullptr, nullptr); // wraps
  table->AppendLabel(2, 3.0, "z");
  table->MbrNdxCursor = 1;
  auto clone = table->Clone();
  EXPECT_EQ(clone->MbrNdxFirst, 1);
  EXPECT_EQ(clone->MbrNdxLast, 0);
  EXPECT_EQ(clone->MbrNdxChanges, table->MbrNdxChanges);
  EXPECT_EQ(clone->MbrNdxCursor, 1);
  EXPECT_EQ(clone->MbrDyaRtpInputs, table->MbrDyaRtpInputs);
  EXPECT_EQ(clone->GetLabels(2)->Find("z")->value, 3.0);
}

} // namespace

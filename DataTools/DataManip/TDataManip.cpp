#include "DataTools/DataManip/TDataManip.h"

#include <algorithm>
#include <limits>

#include "KQmessage/RunRandom.h"
#include "KQmessage/TException.h"

namespace kestrane {

namespace {

void RequireSource(const Data *source, const char *message, const char *function) {
  if (source == nullptr)
    throw TException(message, kNullPointerParameter, function);
}

// Row buffers large enough for what either table reads or writes, zeroed so
// that columns a selection does not fill hold zeros, never stale memory.
struct RowBuffers {
  std::vector<double> inputs, outputs;
  RowBuffers(const Data &a, const Data &b) { Reset(a, b); }
  void Reset(const Data &a, const Data &b) {
    inputs.assign(static_cast<size_t>(std::max({a.MbrNdxInputs, b.MbrNdxInputs, 1})), 0.0);
    outputs.assign(static_cast<size_t>(std::max({a.MbrNdxOutputs, b.MbrNdxOutputs, 1})), 0.0);
  }
};

// The permutation that Shuffle places rows by: n draws (RandomDraw).
std::vector<int32_t> DrawPermutation(int32_t n) {
  std::vector<int32_t> DyaNdxIndex(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i)
    DyaNdxIndex[i] = i;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t k = i + RandomDraw() % (n - i);
    std::swap(DyaNdxIndex[i], DyaNdxIndex[k]);
  }
  return DyaNdxIndex;
}

int32_t CheckedTotal(int64_t total, const char *function) {
  if (total > std::numeric_limits<int32_t>::max())
    throw TException("Too many rows", kBadParameter, function);
  return static_cast<int32_t>(total);
}

std::unique_ptr<Data> TimeStep(Data *source, int32_t window, bool lag, const char *function) {
  RequireSource(source, "Null data source", function);
  if (window < 1)
    throw TException("Invalid time step window", kBadParameter, function);
  const int32_t rows = source->MbrNdxDataRows;
  if (rows < window)
    throw TException("Insufficient rows", kBadParameter, function);
  if (window == 1)
    return source->Clone();
  const int32_t width = source->MbrNdxInputs;
  auto PtrDatTimeStep = std::make_unique<Data>(rows - window + 1, window * width,
                                               source->MbrNdxOutputs, source->MbrBlnLabels);
  std::vector<double> in(static_cast<size_t>(std::max(window * width, 1)), 0.0);
  std::vector<double> out(static_cast<size_t>(std::max(source->MbrNdxOutputs, 1)), 0.0);
  const int32_t from = lag ? window - 1 : 0;
  const int32_t to = lag ? rows - 1 : rows - window;
  for (int32_t r = from; r <= to; ++r) {
    for (int32_t m = 0; m < window; ++m)
      source->GetInputRow(lag ? r - m : r + m, in.data() + static_cast<size_t>(m) * width);
    source->GetOutputRow(r, out.data());
    PtrDatTimeStep->AppendRow(in.data(), out.data(),
                              source->MbrBlnLabels ? source->GetLabels(r) : nullptr);
  }
  return PtrDatTimeStep;
}

void CheckColumns(int32_t count, const int32_t *columns, int32_t limit) {
  if (count < 0 || count > limit || (count > 0 && columns == nullptr))
    throw TException("Invalid data column", kBadParameter, "TDataManip::Extract");
  for (int32_t i = 0; i < count; ++i)
    if (columns[i] < 0 || columns[i] >= limit)
      throw TException("Invalid data column", kBadParameter, "TDataManip::Extract");
}

} // namespace

std::unique_ptr<Data> TDataManip::TimeStepLag(Data *source, int32_t window) {
  return TimeStep(source, window, true, "TDataManip::TimeStepLag");
}

std::unique_ptr<Data> TDataManip::TimeStepAdvance(Data *source, int32_t window) {
  return TimeStep(source, window, false, "TDataManip::TimeStepAdvance");
}

std::unique_ptr<Data> TDataManip::Extract(Data *source, int32_t inputCount,
                                          const int32_t *inputColumns) {
  RequireSource(source, "Data source null", "TDataManip::Extract");
  CheckColumns(inputCount, inputColumns, source->MbrNdxInputs);
  auto PtrDatWorking = std::make_unique<Data>(source->MbrNdxRows, inputCount, source->MbrNdxOutputs,
                                              source->MbrBlnLabels);
  RowBuffers buffers(*source, *PtrDatWorking);
  source->Rewind();
  for (int32_t i = 0; i < source->MbrNdxDataRows; ++i) {
    source->MoveCursor(+1);
    source->GetInputRow(source->MbrNdxCursor, buffers.inputs.data(), inputCount, inputColumns);
    source->GetOutputRow(source->MbrNdxCursor, buffers.outputs.data());
    PtrDatWorking->AppendRow(buffers.inputs.data(), buffers.outputs.data());
  }
  return PtrDatWorking;
}

std::unique_ptr<Data> TDataManip::Extract(Data *source, int32_t inputCount,
                                          const int32_t *inputColumns, int32_t outputCount,
                                          const int32_t *outputColumns) {
  RequireSource(source, "Data source null", "TDataManip::Extract");
  CheckColumns(inputCount, inputColumns, source->MbrNdxInputs);
  CheckColumns(outputCount, outputColumns, source->MbrNdxOutputs);
  auto PtrDatWorking = std::make_unique<Data>(source->MbrNdxRows, inputCount, outputCount, false);
  RowBuffers buffers(*source, *PtrDatWorking);
  source->Rewind();
  for (int32_t i = 0; i < source->MbrNdxDataRows; ++i) {
    source->MoveCursor(+1);
    source->GetInputRow(source->MbrNdxCursor, buffers.inputs.data(), inputCount, inputColumns);
    source->GetOutputRow(source->MbrNdxCursor, buffers.outputs.data(), outputCount, outputColumns);
    PtrDatWorking->AppendRow(buffers.inputs.data(), buffers.outputs.data());
  }
  return PtrDatWorking;
}

std::unique_ptr<Data> TDataManip::GetFirstRows(int32_t count, Data *source) {
  RequireSource(source, "Null data source", "TDataManip::GetFirstRows");
  if (count < 0)
    throw TException("Invalid number of rows", kBadParameter, "TDataManip::GetFirstRows");
  if (source->MbrNdxDataRows < count)
    throw TException("Insufficient rows", kBadParameter, "TDataManip::GetFirstRows");
  auto PtrDatWorking = std::make_unique<Data>(count, source->MbrNdxInputs, source->MbrNdxOutputs,
                                              source->MbrBlnLabels);
  RowBuffers buffers(*source, *PtrDatWorking);
  source->Rewind();
  for (int32_t i = 0; i < count; ++i) {
    const TLabelList *labels = nullptr;
    source->GetNextRow(buffers.inputs.data(), buffers.outputs.data(), &labels);
    PtrDatWorking->AppendRow(buffers.inputs.data(), buffers.outputs.data(), labels);
  }
  return PtrDatWorking;
}

std::vector<std::unique_ptr<Data>> TDataManip::Divide(Data *source, int32_t count,
                                                      const int32_t *sizes) {
  const char *function = "TDataManip::Divide";
  if (count <= 0)
    throw TException("Invalid number of subsets", kBadParameter, function);
  RequireSource(source, "Data source null", function);
  if (sizes == nullptr)
    throw TException("Null subset sizes", kNullPointerParameter, function);
  int64_t total = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (sizes[i] <= 0)
      throw TException("Invalid number of subset rows", kBadParameter, function);
    total += sizes[i];
  }
  if (total > source->MbrNdxDataRows)
    throw TException("Total subset rows exceeds data rows in source", kBadParameter, function);

  std::vector<std::unique_ptr<Data>> subsets;
  source->Rewind();
  for (int32_t i = 0; i < count; ++i) {
    auto PtrDatWorking =
        std::make_unique<Data>(sizes[i], source->MbrNdxInputs, source->MbrNdxOutputs, false);
    RowBuffers buffers(*source, *PtrDatWorking);
    for (int32_t r = 0; r < sizes[i]; ++r) {
      source->GetNextRow(buffers.inputs.data(), buffers.outputs.data());
      PtrDatWorking->AppendRow(buffers.inputs.data(), buffers.outputs.data());
    }
    subsets.push_back(std::move(PtrDatWorking));
  }
  return subsets;
}

std::unique_ptr<Data> TDataManip::Shuffle(Data *source) {
  RequireSource(source, "Null data source", "TDataManip::Shuffle");
  const int32_t n = source->MbrNdxDataRows;
  auto PtrDatWorking =
      std::make_unique<Data>(n, source->MbrNdxInputs, source->MbrNdxOutputs, source->MbrBlnLabels);
  // Every slot must hold a row before rows are placed at random slots.
  for (int32_t j = 0; j < n; ++j)
    PtrDatWorking->AppendRow(nullptr, nullptr);
  const std::vector<int32_t> DyaNdxIndex = DrawPermutation(n);
  RowBuffers buffers(*source, *PtrDatWorking);
  source->Rewind();
  for (int32_t j = 0; j < n; ++j) {
    const TLabelList *labels = nullptr;
    source->GetNextRow(buffers.inputs.data(), buffers.outputs.data(), &labels);
    PtrDatWorking->SetRow(DyaNdxIndex[j], buffers.inputs.data(), buffers.outputs.data(), labels);
  }
  return PtrDatWorking;
}

std::unique_ptr<Data> TDataManip::Concatenate(int32_t count, Data *const *tables) {
  const char *function = "TDataManip::Concatenate";
  if (count < 1 || tables == nullptr)
    throw TException("Invalid number of tables", kBadParameter, function);
  int64_t total = 0;
  for (int32_t i = 0; i < count; ++i) {
    RequireSource(tables[i], "Null data source", function);
    total += tables[i]->MbrNdxDataRows;
  }
  const Data &first = *tables[0];
  auto PtrDatWorking = std::make_unique<Data>(CheckedTotal(total, function), first.MbrNdxInputs,
                                              first.MbrNdxOutputs, first.MbrBlnLabels);
  for (int32_t i = 0; i < count; ++i) {
    Data &table = *tables[i];
    RowBuffers buffers(table, *PtrDatWorking);
    table.Rewind();
    for (int32_t r = 0, rows = table.MbrNdxDataRows; r < rows; ++r) {
      const TLabelList *labels = nullptr;
      table.GetNextRow(buffers.inputs.data(), buffers.outputs.data(), &labels);
      PtrDatWorking->AppendRow(buffers.inputs.data(), buffers.outputs.data(), labels);
    }
  }
  return PtrDatWorking;
}

// Equal to Shuffle of every class, GetFirstRows of each, Concatenate and a
// final Shuffle (same table, same draws), but it copies only the rows it
// takes: row k of GetFirstRows(c, Shuffle(t)) is the source row j whose slot
// index[j] is k.
std::unique_ptr<Data> TDataManip::Recombine(int32_t count, Data *const *tables,
                                            const int32_t *counts) {
  return Draw(count, tables, counts, false, "TDataManip::Recombine");
}

std::unique_ptr<Data> TDataManip::RecombineWithReplacement(int32_t count, Data *const *tables,
                                                           const int32_t *counts) {
  return Draw(count, tables, counts, true, "TDataManip::RecombineWithReplacement");
}

// With `withReplacement`, a class asked for more rows than it has gives all of
// them in their shuffled order, then draws the rest one by one.
std::unique_ptr<Data> TDataManip::Draw(int32_t count, Data *const *tables, const int32_t *counts,
                                       bool withReplacement, const char *function) {
  if (count < 2)
    throw TException("Insufficient number of classes", kBadParameter, function);
  if (tables == nullptr || counts == nullptr)
    throw TException("Null data source", kNullPointerParameter, function);
  int64_t total = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (counts[i] < 0)
      throw TException("Invalid number of rows", kBadParameter, function);
    total += counts[i];
  }
  CheckedTotal(total, function);

  // Source positions (in append order) of the rows each class contributes.
  std::vector<std::vector<int32_t>> picks(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    // A missing class fails in its own shuffle, after the classes before it drew.
    RequireSource(tables[i], "Null data source", "TDataManip::Shuffle");
    Data &table = *tables[i];
    const int32_t n = table.MbrNdxDataRows;
    const std::vector<int32_t> index = DrawPermutation(n);
    table.Rewind(); // where a full pass of sequential reading leaves the cursor
    const bool beyond = counts[i] > n;
    if (beyond && (!withReplacement || n == 0))
      continue;
    std::vector<int32_t> &pick = picks[static_cast<size_t>(i)];
    pick.assign(static_cast<size_t>(beyond ? n : counts[i]), 0);
    for (int32_t j = 0; j < n; ++j)
      if (index[j] < counts[i])
        pick[static_cast<size_t>(index[j])] = j;
    for (int32_t k = n; k < counts[i]; ++k)
      pick.push_back(RandomDraw() % n);
  }
  for (int32_t i = 0; i < count; ++i)
    if (counts[i] > tables[i]->MbrNdxDataRows &&
        (!withReplacement || tables[i]->MbrNdxDataRows == 0))
      throw TException("Insufficient rows", kBadParameter, "TDataManip::GetFirstRows");

  const Data &first = *tables[0];
  auto concatenation = std::make_unique<Data>(static_cast<int32_t>(total), first.MbrNdxInputs,
                                              first.MbrNdxOutputs, first.MbrBlnLabels);
  for (int32_t i = 0; i < count; ++i) {
    const Data &table = *tables[i];
    RowBuffers buffers(table, *concatenation);
    for (int32_t j : picks[static_cast<size_t>(i)]) {
      const int32_t slot = (table.MbrNdxFirst + j) % table.MbrNdxRows;
      const TLabelList *labels = nullptr;
      table.ReadRowAt(slot, buffers.inputs.data(), buffers.outputs.data(), &labels);
      concatenation->AppendRow(buffers.inputs.data(), buffers.outputs.data(), labels);
    }
  }
  return Shuffle(concatenation.get());
}

} // namespace kestrane

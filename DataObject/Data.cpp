#include "DataObject/Data.h"

#include <algorithm>
#include <cstring>

#include "KQmessage/KAssert.h"
#include "KQmessage/TException.h"

namespace kestrane {

namespace {
constexpr const char *kInvalidRow = "Invalid Data Row";
constexpr const char *kInvalidInputColumn = "Invalid Input Data Column";
constexpr const char *kInvalidOutputColumn = "Invalid Output Data Column";

size_t Offset(int32_t slot, int32_t width) {
  return static_cast<size_t>(slot) * static_cast<size_t>(width);
}
} // namespace

// ---- TLabelList

TLabelList::TLabelList(const char *name, double value) {
  labels.emplace_back(name ? name : "", value);
}

void TLabelList::Append(const char *name, double value) {
  const std::string key = name ? name : "";
  for (TLabel &label : labels) {
    if (label.name == key) {
      label.value += value;
      return;
    }
  }
  labels.emplace_back(key, value);
}

const TLabel *TLabelList::Find(const char *name) const {
  for (const TLabel &label : labels)
    if (label.name == name)
      return &label;
  return nullptr;
}

bool TLabelList::operator==(const TLabelList &other) const {
  if (labels.size() != other.labels.size())
    return false;
  for (size_t i = 0; i < labels.size(); ++i)
    if (labels[i].name != other.labels[i].name || labels[i].value != other.labels[i].value)
      return false;
  return true;
}

// ---- Data: construction

Data::Data(int32_t rows, int32_t inputs, int32_t outputs, bool labels) {
  if (rows < 0)
    throw TException("Invalid number of rows", kBadParameter, "Data::Data");
  MbrNdxRows = rows;
  MbrNdxInputs = std::max(inputs, 0);
  MbrNdxOutputs = std::max(outputs, 0);
  MbrBlnLabels = labels;
  MbrDyaRtpInputs.assign(Offset(rows, MbrNdxInputs), 0.0);
  MbrDyaRtpOutputs.assign(Offset(rows, MbrNdxOutputs), 0.0);
  if (labels)
    MbrDyaLabels.resize(static_cast<size_t>(rows));
}

Data::~Data() = default;

std::unique_ptr<Data> Data::Clone() const {
  auto PtrDatClone = std::make_unique<Data>(MbrNdxRows, MbrNdxInputs, MbrNdxOutputs, MbrBlnLabels);
  // Slots that hold no data hold the zeros of construction in both tables.
  PtrDatClone->MbrDyaRtpInputs = MbrDyaRtpInputs;
  PtrDatClone->MbrDyaRtpOutputs = MbrDyaRtpOutputs;
  PtrDatClone->MbrDyaLabels = MbrDyaLabels;
  PtrDatClone->MbrNdxDataRows = MbrNdxDataRows;
  PtrDatClone->MbrNdxFirst = MbrNdxFirst;
  PtrDatClone->MbrNdxLast = MbrNdxLast;
  PtrDatClone->MbrNdxChanges = MbrNdxChanges;
  PtrDatClone->MbrNdxCursor = MbrNdxCursor;
  PtrDatClone->SetSelection(MbrNdxSelInputs, MbrDyaSelInputs.data(), MbrNdxSelOutputs,
                            MbrDyaSelOutputs.data());
  return PtrDatClone;
}

// ---- checks

void Data::CheckRow(int32_t row, const char *function) const {
  if (!IsValidRow(row))
    throw TException(kInvalidRow, kBadParameter, function);
}

void Data::CheckNotEmpty(const char *function) const {
  if (MbrNdxDataRows == 0)
    throw TException("Data table is empty", kBadParameter, function);
}

void Data::CheckColumns(int32_t count, const int32_t *columns, int32_t limit, const char *message,
                        const char *function) const {
  if (count < 0)
    throw TException(message, kBadParameter, function);
  if (count > 0 && columns == nullptr)
    throw TException("Null column list", kNullPointerParameter, function);
  for (int32_t i = 0; i < count; ++i)
    if (columns[i] < 0 || columns[i] >= limit)
      throw TException(message, kBadParameter, function);
}

// ---- storage

const double *Data::InputSlot(int32_t slot) const {
  KASSERT(slot >= 0 && slot < MbrNdxRows);
  return MbrNdxInputs > 0 ? MbrDyaRtpInputs.data() + Offset(slot, MbrNdxInputs) : nullptr;
}

const double *Data::OutputSlot(int32_t slot) const {
  KASSERT(slot >= 0 && slot < MbrNdxRows);
  return MbrNdxOutputs > 0 ? MbrDyaRtpOutputs.data() + Offset(slot, MbrNdxOutputs) : nullptr;
}

double *Data::InputSlotMutable(int32_t slot) { return const_cast<double *>(InputSlot(slot)); }
double *Data::OutputSlotMutable(int32_t slot) { return const_cast<double *>(OutputSlot(slot)); }

void Data::WriteSlot(int32_t slot, const double *inputs, const double *outputs,
                     const TLabelList *labels) {
  if (inputs && MbrNdxInputs > 0)
    std::memmove(InputSlotMutable(slot), inputs, sizeof(double) * MbrNdxInputs);
  if (outputs && MbrNdxOutputs > 0)
    std::memmove(OutputSlotMutable(slot), outputs, sizeof(double) * MbrNdxOutputs);
  if (MbrBlnLabels) {
    TLabelList &target = MbrDyaLabels[static_cast<size_t>(slot)];
    if (labels == nullptr)
      target.Clear();
    else if (labels != &target)
      target = *labels;
  }
}

// ---- filling

void Data::AppendRow(const double *inputs, const double *outputs, const TLabelList *labels) {
  if (MbrNdxRows == 0)
    throw TException("Data table has no row slots", kBadParameter, "Data::AppendRow");
  KASSERT(MbrNdxDataRows <= MbrNdxRows);
  ++MbrNdxChanges;
  if (MbrNdxDataRows == 0) {
    WriteSlot(0, inputs, outputs, labels);
    MbrNdxDataRows = 1;
  } else if (MbrNdxDataRows < MbrNdxRows) {
    WriteSlot(MbrNdxDataRows, inputs, outputs, labels);
    ++MbrNdxDataRows;
    MbrNdxLast = MbrNdxDataRows - 1;
  } else {
    MbrNdxFirst = (MbrNdxFirst + 1) % MbrNdxRows;
    MbrNdxLast = (MbrNdxLast + 1) % MbrNdxRows;
    WriteSlot(MbrNdxLast, inputs, outputs, labels);
  }
}

void Data::AppendRows(int32_t count, const double *const *inputs, const double *const *outputs,
                      const TLabelList *const *labels) {
  for (int32_t i = 0; i < count; ++i)
    AppendRow(inputs ? inputs[i] : nullptr, outputs ? outputs[i] : nullptr,
              labels ? labels[i] : nullptr);
}

void Data::SetRow(int32_t row, const double *inputs, const double *outputs,
                  const TLabelList *labels) {
  CheckRow(row, "Data::SetRow");
  ++MbrNdxChanges;
  WriteSlot(row, inputs, outputs, labels);
}

void Data::SetInputDatum(int32_t row, int32_t column, double value) {
  CheckRow(row, "Data::SetInputDatum");
  if (column < 0 || column >= MbrNdxInputs)
    throw TException(kInvalidInputColumn, kBadParameter, "Data::SetInputDatum");
  ++MbrNdxChanges;
  InputSlotMutable(row)[column] = value;
}

void Data::SetOutputDatum(int32_t row, int32_t column, double value) {
  CheckRow(row, "Data::SetOutputDatum");
  if (column < 0 || column >= MbrNdxOutputs)
    throw TException(kInvalidOutputColumn, kBadParameter, "Data::SetOutputDatum");
  ++MbrNdxChanges;
  OutputSlotMutable(row)[column] = value;
}

// ---- reading

double Data::GetInputDatum(int32_t row, int32_t column) const {
  CheckRow(row, "Data::GetInputDatum");
  if (column < 0 || column >= MbrNdxInputs)
    throw TException(kInvalidInputColumn, kBadParameter, "Data::GetInputDatum");
  return InputSlot(row)[column];
}

double Data::GetOutputDatum(int32_t row, int32_t column) const {
  CheckRow(row, "Data::GetOutputDatum");
  if (column < 0 || column >= MbrNdxOutputs)
    throw TException(kInvalidOutputColumn, kBadParameter, "Data::GetOutputDatum");
  return OutputSlot(row)[column];
}

void Data::GetInputRow(int32_t row, double *values) const {
  CheckRow(row, "Data::GetInputRow");
  if (MbrNdxInputs > 0)
    std::memcpy(values, InputSlot(row), sizeof(double) * MbrNdxInputs);
}

void Data::GetInputRow(int32_t row, double *values, int32_t count, const int32_t *columns) const {
  CheckRow(row, "Data::GetInputRow");
  CheckColumns(count, columns, MbrNdxInputs, kInvalidInputColumn, "Data::GetInputRow");
  const double *slot = InputSlot(row);
  for (int32_t i = 0; i < count; ++i)
    values[i] = slot[columns[i]];
}

void Data::GetOutputRow(int32_t row, double *values) const {
  CheckRow(row, "Data::GetOutputRow");
  if (MbrNdxOutputs > 0)
    std::memcpy(values, OutputSlot(row), sizeof(double) * MbrNdxOutputs);
}

void Data::GetOutputRow(int32_t row, double *values, int32_t count, const int32_t *columns) const {
  CheckRow(row, "Data::GetOutputRow");
  CheckColumns(count, columns, MbrNdxOutputs, kInvalidOutputColumn, "Data::GetOutputRow");
  const double *slot = OutputSlot(row);
  for (int32_t i = 0; i < count; ++i)
    values[i] = slot[columns[i]];
}

void Data::GetBlock(double *const *inputs, double *const *outputs, int32_t first, int32_t last,
                    int32_t &count) const {
  count = 0;
  if (!IsValidRow(first))
    throw TException("Data Block Fault", kBadParameter, "Data::GetBlock");
  const int32_t end = std::min(last, MbrNdxLast);
  for (int32_t row = first; row <= end; ++row, ++count) {
    if (inputs && MbrNdxInputs > 0)
      std::memcpy(inputs[count], InputSlot(row), sizeof(double) * MbrNdxInputs);
    if (outputs && MbrNdxOutputs > 0)
      std::memcpy(outputs[count], OutputSlot(row), sizeof(double) * MbrNdxOutputs);
  }
}

// ---- sequential reading

void Data::MoveCursor(int32_t step) {
  if (MbrNdxRows == 0)
    return;
  if (step > 0)
    MbrNdxCursor = MbrNdxCursor == MbrNdxLast ? MbrNdxFirst : (MbrNdxCursor + 1) % MbrNdxRows;
  else if (step < 0)
    MbrNdxCursor =
        MbrNdxCursor == MbrNdxFirst ? MbrNdxLast : (MbrNdxCursor + MbrNdxRows - 1) % MbrNdxRows;
}

void Data::ReadRowAt(int32_t slot, double *inputs, double *outputs,
                     const TLabelList **labels) const {
  if (MbrNdxSelInputs == 0) {
    ReadCurrentRowAt(slot, inputs, outputs, labels);
    return;
  }
  if (inputs) {
    const double *row = InputSlot(slot);
    for (int32_t i = 0; i < MbrNdxSelInputs; ++i)
      inputs[i] = row[MbrDyaSelInputs[i]];
  }
  if (outputs && MbrNdxOutputs > 0) {
    const double *row = OutputSlot(slot);
    if (MbrNdxSelOutputs > 0)
      for (int32_t i = 0; i < MbrNdxSelOutputs; ++i)
        outputs[i] = row[MbrDyaSelOutputs[i]];
    else
      std::memcpy(outputs, row, sizeof(double) * MbrNdxOutputs);
  }
  if (labels)
    *labels = nullptr;
}

void Data::ReadCurrentRowAt(int32_t slot, double *inputs, double *outputs,
                            const TLabelList **labels) const {
  // Every training pattern comes through here: one range check, no slot calls.
  KASSERT(slot >= 0 && slot < MbrNdxRows);
  if (inputs && MbrNdxInputs > 0)
    std::memcpy(inputs, MbrDyaRtpInputs.data() + Offset(slot, MbrNdxInputs),
                sizeof(double) * MbrNdxInputs);
  if (outputs && MbrNdxOutputs > 0)
    std::memcpy(outputs, MbrDyaRtpOutputs.data() + Offset(slot, MbrNdxOutputs),
                sizeof(double) * MbrNdxOutputs);
  if (labels)
    *labels = MbrBlnLabels ? &MbrDyaLabels[static_cast<size_t>(slot)] : nullptr;
}

void Data::GetNextRow(double *inputs, double *outputs, const TLabelList **labels) {
  CheckNotEmpty("Data::GetNextRow");
  MoveCursor(+1);
  if (MbrNdxSelInputs == 0) // the training loop's case, one call shorter
    ReadCurrentRowAt(MbrNdxCursor, inputs, outputs, labels);
  else
    ReadRowAt(MbrNdxCursor, inputs, outputs, labels);
}

void Data::GetPreviousRow(double *inputs, double *outputs) {
  CheckNotEmpty("Data::GetPreviousRow");
  MoveCursor(-1);
  ReadRowAt(MbrNdxCursor, inputs, outputs, nullptr);
}

void Data::ReadCurrentRow(double *inputs, double *outputs, const TLabelList **labels) const {
  CheckNotEmpty("Data::ReadCurrentRow");
  ReadCurrentRowAt(MbrNdxCursor, inputs, outputs, labels);
}

// ---- selections

void Data::SelectInputColumns(int32_t count, const int32_t *columns) {
  if (count > MbrNdxInputs)
    throw TException("Invalid selection count", kBadParameter, "Data::SelectInputColumns");
  CheckColumns(count, columns, MbrNdxInputs, kInvalidInputColumn, "Data::SelectInputColumns");
  MbrDyaSelInputs.assign(columns, columns + count);
  MbrNdxSelInputs = count;
}

void Data::SetSelection(int32_t inputCount, const int32_t *inputColumns, int32_t outputCount,
                        const int32_t *outputColumns) {
  if (inputCount > MbrNdxInputs || outputCount > MbrNdxOutputs)
    throw TException("Invalid selection count", kBadParameter, "Data::SetSelection");
  CheckColumns(inputCount, inputColumns, MbrNdxInputs, kInvalidInputColumn, "Data::SetSelection");
  CheckColumns(outputCount, outputColumns, MbrNdxOutputs, kInvalidOutputColumn,
               "Data::SetSelection");
  MbrDyaSelInputs.assign(inputColumns, inputColumns + inputCount);
  MbrNdxSelInputs = inputCount;
  MbrDyaSelOutputs.assign(outputColumns, outputColumns + outputCount);
  MbrNdxSelOutputs = outputCount;
}

void Data::GetSelection(int32_t &count, std::vector<int32_t> &columns) const {
  count = MbrNdxSelInputs;
  columns = MbrDyaSelInputs;
}

// ---- labels

const TLabelList *Data::GetLabels(int32_t row) const {
  CheckRow(row, "Data::GetLabels");
  return MbrBlnLabels ? &MbrDyaLabels[static_cast<size_t>(row)] : nullptr;
}

void Data::SetLabels(int32_t row, const TLabelList *labels) {
  CheckRow(row, "Data::SetLabels");
  if (!MbrBlnLabels) {
    if (labels == nullptr)
      return;
    throw TException("Data table keeps no labels", kBadParameter, "Data::SetLabels");
  }
  ++MbrNdxChanges;
  TLabelList &target = MbrDyaLabels[static_cast<size_t>(row)];
  if (labels == nullptr)
    target.Clear();
  else if (labels != &target)
    target = *labels;
}

void Data::ClearLabels(int32_t row) {
  CheckRow(row, "Data::ClearLabels");
  if (!MbrBlnLabels)
    return;
  ++MbrNdxChanges;
  MbrDyaLabels[static_cast<size_t>(row)].Clear();
}

void Data::AppendLabel(int32_t row, double value, const char *name) {
  CheckRow(row, "Data::AppendLabel");
  if (!MbrBlnLabels)
    throw TException("Data table keeps no labels", kBadParameter, "Data::AppendLabel");
  ++MbrNdxChanges;
  MbrDyaLabels[static_cast<size_t>(row)].Append(name, value);
}

} // namespace kestrane

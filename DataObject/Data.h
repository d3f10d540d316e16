#ifndef KESTRANE_DATAOBJECT_DATA_H
#define KESTRANE_DATAOBJECT_DATA_H

// Data: the table of examples. A fixed number of row slots used as a ring
// (appending to a full table overwrites the oldest row), each slot holding an
// input vector, an expected-output vector and, in tables that keep labels, a
// list of named labels. A cursor serves cyclic sequential reading, and an
// input (and output) column selection restricts what sequential reading
// presents.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrane {

// One named label of a row.
class TLabel {
public:
  TLabel(std::string name, double value) : value(value), name(std::move(name)) {}

  double value;
  std::string name;
};

class TLabelList {
public:
  TLabelList() = default;
  TLabelList(const char *name, double value);

  // Adds value to the label of exactly this name (case-sensitive), or appends
  // a new label at the end.
  void Append(const char *name, double value);
  void Clear() { labels.clear(); }

  int32_t GetCount() const { return static_cast<int32_t>(labels.size()); }
  const TLabel &GetLabel(int32_t index) const { return labels.at(static_cast<size_t>(index)); }
  // The label of this name, or none.
  const TLabel *Find(const char *name) const;

  bool operator==(const TLabelList &other) const;
  bool operator!=(const TLabelList &other) const { return !(*this == other); }

  std::vector<TLabel> labels;
};

class Data {
public:
  // An empty table of `rows` slots, all holding zeros; column counts <= 0 mean
  // no columns of that kind.
  Data(int32_t rows, int32_t inputs, int32_t outputs, bool labels);
  virtual ~Data();

  Data(const Data &) = delete;
  Data &operator=(const Data &) = delete;

  // Moves the cursor one row forward and copies that row as sequential reading
  // presents it (see ReadRowAt).
  virtual void GetNextRow(double *inputs, double *outputs, const TLabelList **labels = nullptr);

  std::unique_ptr<Data> Clone() const;

  // ---- filling (a missing vector leaves that part of the row unchanged)
  void AppendRow(const double *inputs, const double *outputs, const TLabelList *labels = nullptr);
  void AppendRows(int32_t count, const double *const *inputs, const double *const *outputs,
                  const TLabelList *const *labels = nullptr);
  void SetRow(int32_t row, const double *inputs, const double *outputs,
              const TLabelList *labels = nullptr);
  void SetInputDatum(int32_t row, int32_t column, double value);
  void SetOutputDatum(int32_t row, int32_t column, double value);

  // ---- reading (row indices are slot indices)
  double GetInputDatum(int32_t row, int32_t column) const;
  double GetOutputDatum(int32_t row, int32_t column) const;
  void GetInputRow(int32_t row, double *values) const;
  void GetInputRow(int32_t row, double *values, int32_t count, const int32_t *columns) const;
  void GetOutputRow(int32_t row, double *values) const;
  void GetOutputRow(int32_t row, double *values, int32_t count, const int32_t *columns) const;
  // Copies rows first .. min(last, MbrNdxLast), one per buffer; count gets the number copied.
  void GetBlock(double *const *inputs, double *const *outputs, int32_t first, int32_t last,
                int32_t &count) const;

  // ---- sequential reading; each raises TException on an empty table
  void GetPreviousRow(double *inputs, double *outputs);
  void ReadCurrentRow(double *inputs, double *outputs, const TLabelList **labels = nullptr) const;
  // Copies slot `slot` the way GetNextRow presents the cursor row: with an input
  // selection the selected inputs (and outputs, when selected) and no labels;
  // otherwise the whole row and its labels. Label out is none without labels.
  void ReadRowAt(int32_t slot, double *inputs, double *outputs,
                 const TLabelList **labels = nullptr) const;
  void MoveCursor(int32_t step);
  // After Rewind, GetNextRow yields the rows from the oldest on.
  void Rewind() { MbrNdxCursor = MbrNdxLast; }

  bool IsValidRow(int32_t row) const { return row >= 0 && row < MbrNdxDataRows; }
  // The number of input and output values GetNextRow presents (see ReadRowAt).
  int32_t PresentedInputs() const { return MbrNdxSelInputs > 0 ? MbrNdxSelInputs : MbrNdxInputs; }
  int32_t PresentedOutputs() const {
    return MbrNdxSelInputs > 0 && MbrNdxSelOutputs > 0 ? MbrNdxSelOutputs : MbrNdxOutputs;
  }

  // ---- selections (columns are checked against the table)
  void SelectInputColumns(int32_t count, const int32_t *columns);
  void SetSelection(int32_t inputCount, const int32_t *inputColumns, int32_t outputCount,
                    const int32_t *outputColumns);
  void GetSelection(int32_t &count, std::vector<int32_t> &columns) const;

  // ---- labels (none when the table keeps no labels)
  const TLabelList *GetLabels(int32_t row) const;
  void SetLabels(int32_t row, const TLabelList *labels);
  void ClearLabels(int32_t row);
  void AppendLabel(int32_t row, double value, const char *name);

  // Direct access to a slot's storage (no row check beyond the slot range);
  // none when the table has no columns of that kind.
  const double *InputSlot(int32_t slot) const;
  const double *OutputSlot(int32_t slot) const;

  // The table's state. Callers read these freely; the only field meant to be
  // set from outside is MbrNdxCursor (to rewind, set it to MbrNdxLast).
  int32_t MbrNdxRows = 0;
  int32_t MbrNdxDataRows = 0;
  std::vector<double> MbrDyaRtpInputs;  // MbrNdxRows rows of MbrNdxInputs, contiguous
  std::vector<double> MbrDyaRtpOutputs; // MbrNdxRows rows of MbrNdxOutputs, contiguous
  std::vector<TLabelList> MbrDyaLabels; // one per slot when MbrBlnLabels, else empty
  int32_t MbrNdxInputs = 0;
  int32_t MbrNdxOutputs = 0;
  bool MbrBlnLabels = false;
  int32_t MbrNdxFirst = 0;
  int32_t MbrNdxLast = 0;
  int32_t MbrNdxChanges = 0;
  int32_t MbrNdxCursor = 0;
  int32_t MbrNdxSelInputs = 0; // 0: no input selection
  std::vector<int32_t> MbrDyaSelInputs;
  int32_t MbrNdxSelOutputs = 0; // 0: all outputs
  std::vector<int32_t> MbrDyaSelOutputs;

private:
  void CheckRow(int32_t row, const char *function) const;
  void CheckNotEmpty(const char *function) const;
  void CheckColumns(int32_t count, const int32_t *columns, int32_t limit, const char *message,
                    const char *function) const;
  void ReadCurrentRowAt(int32_t slot, double *inputs, double *outputs,
                        const TLabelList **labels) const;
  void WriteSlot(int32_t slot, const double *inputs, const double *outputs,
                 const TLabelList *labels);
  double *InputSlotMutable(int32_t slot);
  double *OutputSlotMutable(int32_t slot);
};

} // namespace kestrane

#endif

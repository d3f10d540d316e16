// Recall of a TVemo over data tables.

#include "Vemo/TVemo.h"

#include "DataObject/Data.h"
#include "NeuralNets/TErrorObj.h"
#include "NeuralNets/TableRecall.h"

namespace kestrane {

void TVemo::Recall(Data *in, std::unique_ptr<Data> &result) {
  Data &table = CheckRecallTable(*this, in, false, "TVemo::Recall");
  const int n = table.MbrNdxDataRows;
  auto recalled = std::make_unique<Data>(n, GetNumInputs(), GetNumOutputs(), false);
  RecallEachRow(*this, table, n, false,
                [&](const double *input, const double *, const double *output) {
                  recalled->AppendRow(input, output);
                });
  result = std::move(recalled);
}

void TVemo::RecallOutputOnly(Data *in, std::unique_ptr<Data> &result) {
  Data &table = CheckRecallTable(*this, in, false, "TVemo::RecallOutputOnly");
  const int n = table.MbrNdxDataRows;
  auto recalled = std::make_unique<Data>(n, 0, GetNumOutputs(), false);
  RecallEachRow(*this, table, n, false, [&](const double *, const double *, const double *output) {
    recalled->AppendRow(nullptr, output);
  });
  result = std::move(recalled);
}

void TVemo::RecallOutputOnly(Data *in, double &error) {
  Data &table = CheckRecallTable(*this, in, true, "TVemo::RecallOutputOnly");
  TErrorRMSObj measure(GetNumOutputs());
  RecallEachRow(*this, table, table.MbrNdxDataRows, true,
                [&](const double *, const double *target, const double *output) {
                  measure.Accumulate(target, output);
                });
  error = measure.Value();
}

} // namespace kestrane

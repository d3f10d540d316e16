// Recall of a TVemo over data tables.

#include "Vemo/TVemo.h"

#include "DataObject/Data.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TErrorObj.h"

#include <algorithm>

namespace kestrane {

namespace {

// Buffers for sequential reading must hold a whole row: the table may
// present more values than the network reads.
std::vector<double> RowBuffer(int tableColumns, int networkColumns) {
  return std::vector<double>(static_cast<size_t>(std::max({tableColumns, networkColumns, 1})),
                             0.0);
}

void CheckInputs(const Data &in, int numInputs, const char *function) {
  // Missing inputs would be fed to the network as stale buffer values.
  if (in.PresentedInputs() < numInputs)
    throw TException("Too few input columns for the network", kBadParameter, function);
}

} // namespace

void TVemo::Recall(Data *in, std::unique_ptr<Data> &result) {
  if (in == nullptr)
    throw TException("Null data pointer", kNullPointerParameter, "TVemo::Recall");
  const int I = layers[inLayer]->numNeurons;
  const int O = layers[outLayer]->numNeurons;
  CheckInputs(*in, I, "TVemo::Recall");
  in->Rewind();
  const int n = in->MbrNdxDataRows;
  auto table = std::make_unique<Data>(n, I, O, false);
  std::vector<double> input = RowBuffer(in->MbrNdxInputs, I);
  std::vector<double> output = RowBuffer(0, O);
  for (int r = 0; r < n; ++r) {
    in->GetNextRow(input.data(), nullptr);
    Recall(input.data(), output.data());
    table->AppendRow(input.data(), output.data());
  }
  result = std::move(table);
}

void TVemo::RecallOutputOnly(Data *in, std::unique_ptr<Data> &result) {
  if (in == nullptr)
    throw TException("Null data pointer", kNullPointerParameter, "TVemo::RecallOutputOnly");
  const int I = layers[inLayer]->numNeurons;
  const int O = layers[outLayer]->numNeurons;
  CheckInputs(*in, I, "TVemo::RecallOutputOnly");
  in->Rewind();
  const int n = in->MbrNdxDataRows;
  auto table = std::make_unique<Data>(n, 0, O, false);
  std::vector<double> input = RowBuffer(in->MbrNdxInputs, I);
  std::vector<double> output = RowBuffer(0, O);
  for (int r = 0; r < n; ++r) {
    in->GetNextRow(input.data(), nullptr);
    Recall(input.data(), output.data());
    table->AppendRow(nullptr, output.data());
  }
  result = std::move(table);
}

void TVemo::RecallOutputOnly(Data *in, double &error) {
  if (in == nullptr)
    throw TException("Null data pointer", kNullPointerParameter, "TVemo::RecallOutputOnly");
  const int I = layers[inLayer]->numNeurons;
  const int O = layers[outLayer]->numNeurons;
  CheckInputs(*in, I, "TVemo::RecallOutputOnly");
  if (in->PresentedOutputs() != O)
    throw TException("Output columns do not match the network", kBadParameter,
                     "TVemo::RecallOutputOnly");
  in->Rewind();
  const int n = in->MbrNdxDataRows;
  std::vector<double> input = RowBuffer(in->MbrNdxInputs, I);
  std::vector<double> target = RowBuffer(in->MbrNdxOutputs, O);
  std::vector<double> output = RowBuffer(0, O);
  TErrorRMSObj measure(O);
  for (int r = 0; r < n; ++r) {
    in->GetNextRow(input.data(), target.data());
    Recall(input.data(), output.data());
    measure.Accumulate(target.data(), output.data());
  }
  error = measure.Value();
}

} // namespace kestrane

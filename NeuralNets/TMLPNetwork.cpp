#include "NeuralNets/TMLPNetwork.h"

#include "DataObject/Data.h"
#include "KQmessage/KAssert.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TErrorObj.h"

#include <algorithm>
#include <vector>

namespace kestrane {

namespace {

// A table without data rows has nothing to read (GetNextRow would refuse it).
int RowsToRead(const Data &in, int count) { return in.MbrNdxDataRows > 0 ? count : 0; }

} // namespace

TMLPNetwork::TMLPNetwork(int n, const int *sizes, bool bias) : bias(bias) {
  if (sizes == nullptr)
    throw TException("Null layer sizes", kNullPointerParameter, "TMLPNetwork::TMLPNetwork");
  if (n < 1)
    throw TException("Invalid number of layers", kBadParameter, "TMLPNetwork::TMLPNetwork");
  for (int i = 0; i < n; ++i)
    if (sizes[i] < 0)
      throw TException("Invalid layer size", kBadParameter, "TMLPNetwork::TMLPNetwork");

  SetupGrid(n + 1);
  layers[0] = new TSimpleLayer(this, 0, bias ? 1 : 0);
  layers[1] = new TSimpleInputLayer(this, 1, sizes[0]);
  for (int k = 2; k <= n; ++k)
    layers[k] = new TGainLayer(this, k, sizes[k - 1], 1.0);

  layers[1]->SetLayerActFunction(ActLinear);
  for (int k = 2; k <= n; ++k) {
    Connect(k - 1, k);
    layers[k]->SetLayerActFunction(ActSigmoid);
  }
  if (bias) {
    layers[0]->SetLayerActFunction(ActBias);
    for (int k = 2; k <= n; ++k)
      Connect(0, k);
  }
  inLayer = 1;
}

TMLPNetwork::TMLPNetwork(int n, bool bias) : bias(bias) {
  if (n < 0)
    throw TException("Invalid number of layers", kBadParameter, "TMLPNetwork::TMLPNetwork");
  SetupGrid(n + 1);
}

void TMLPNetwork::CheckFits(const Data &in, bool withTargets, const char *function) const {
  if (in.PresentedInputs() < layers[inLayer]->numNeurons)
    throw TException("Too few input columns for the network", kBadParameter, function);
  if (withTargets && in.PresentedOutputs() != layers[outLayer]->numNeurons)
    throw TException("Output columns do not match the network", kBadParameter, function);
}

std::unique_ptr<Data> TMLPNetwork::Recall(Data *in) {
  KASSERT_TEXT(in != nullptr, "in != nil");
  CheckFits(*in, false, "TMLPNetwork::Recall");
  in->Rewind();
  const int rows = in->MbrNdxRows;
  const int numIn = layers[inLayer]->numNeurons;
  const int numOut = layers[outLayer]->numNeurons;
  auto result = std::make_unique<Data>(rows, numIn, numOut, false);
  // The buffer must hold whatever the table presents, which may exceed the input layer.
  std::vector<double> input(static_cast<size_t>(std::max(in->PresentedInputs(), 1)));
  std::vector<double> output(static_cast<size_t>(std::max(numOut, 1)));
  for (int r = RowsToRead(*in, rows); r > 0; --r) {
    in->GetNextRow(input.data(), nullptr);
    TBasicNetwork::Recall(input.data(), output.data());
    result->AppendRow(input.data(), output.data());
  }
  return result;
}

void TMLPNetwork::RecallOutputOnly(Data *in, std::unique_ptr<Data> &result) {
  if (in == nullptr)
    throw TException("Null data pointer", kNullPointerParameter, "TMLPNetwork::RecallOutputOnly");
  CheckFits(*in, false, "TMLPNetwork::RecallOutputOnly");
  in->Rewind();
  const int rows = in->MbrNdxDataRows;
  const int numOut = layers[outLayer]->numNeurons;
  auto table = std::make_unique<Data>(rows, 0, numOut, false);
  std::vector<double> input(static_cast<size_t>(std::max(in->PresentedInputs(), 1)));
  std::vector<double> output(static_cast<size_t>(std::max(numOut, 1)));
  for (int r = 0; r < rows; ++r) {
    in->GetNextRow(input.data(), nullptr);
    TBasicNetwork::Recall(input.data(), output.data());
    table->AppendRow(nullptr, output.data());
  }
  result = std::move(table);
}

double TMLPNetwork::RecallError(Data *in, TErrorObj *error) {
  KASSERT_TEXT(in != nullptr, "in != nil");
  KASSERT_TEXT(error != nullptr, "err != nil");
  CheckFits(*in, true, "TMLPNetwork::RecallError");
  in->Rewind();
  const int numOut = layers[outLayer]->numNeurons;
  std::vector<double> input(static_cast<size_t>(std::max(in->PresentedInputs(), 1)));
  std::vector<double> target(static_cast<size_t>(std::max(in->MbrNdxOutputs, 1)));
  std::vector<double> output(static_cast<size_t>(std::max(numOut, 1)));
  for (int r = RowsToRead(*in, in->MbrNdxRows); r > 0; --r) {
    in->GetNextRow(input.data(), target.data());
    TBasicNetwork::Recall(input.data(), output.data());
    error->Accumulate(target.data(), output.data());
  }
  return error->Value();
}

} // namespace kestrane

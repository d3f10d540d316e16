#include "NeuralNets/TMLPNetwork.h"

#include "DataObject/Data.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TErrorObj.h"
#include "NeuralNets/TableRecall.h"

namespace kestrane {

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

std::unique_ptr<Data> TMLPNetwork::Recall(Data *in) {
  Data &table = CheckRecallTable(*this, in, false, "TMLPNetwork::Recall");
  const int rows = table.MbrNdxRows;
  auto result = std::make_unique<Data>(rows, GetNumInputs(), GetNumOutputs(), false);
  RecallEachRow(*this, table, rows, false,
                [&](const double *input, const double *, const double *output) {
                  result->AppendRow(input, output);
                });
  return result;
}

void TMLPNetwork::RecallOutputOnly(Data *in, std::unique_ptr<Data> &result) {
  Data &table = CheckRecallTable(*this, in, false, "TMLPNetwork::RecallOutputOnly");
  const int rows = table.MbrNdxDataRows;
  auto recalled = std::make_unique<Data>(rows, 0, GetNumOutputs(), false);
  RecallEachRow(*this, table, rows, false,
                [&](const double *, const double *, const double *output) {
                  recalled->AppendRow(nullptr, output);
                });
  result = std::move(recalled);
}

double TMLPNetwork::RecallError(Data *in, TErrorObj *error) {
  Data &table = CheckRecallTable(*this, in, true, "TMLPNetwork::RecallError");
  if (error == nullptr)
    throw TException("Null error object", kNullPointerParameter, "TMLPNetwork::RecallError");
  RecallEachRow(*this, table, table.MbrNdxRows, true,
                [&](const double *, const double *target, const double *output) {
                  error->Accumulate(target, output);
                });
  return error->Value();
}

} // namespace kestrane

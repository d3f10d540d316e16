#include "Boot/FiniteChecks.h"

#include "DataObject/Data.h"
#include "KQmessage/KestraneError.h"
#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TBasicNetwork.h"

#include <cmath>
#include <sstream>

namespace kestrane {

namespace {

class TIterateObjCountNonFinite : public TIterateObj {
public:
  void Visit() override {
    if (!std::isfinite(*weight))
      ++count;
  }
  long count = 0;
};

} // namespace

long CountNonFiniteWeights(TBasicNetwork &network) {
  TIterateObjCountNonFinite visitor;
  for (int to = 0; to < network.numLayers; ++to)
    for (int from = 0; from < network.numLayers; ++from)
      if (TBasicConnections *conn = network.priv_conns_index[to][from])
        conn->Iterate(visitor, FMaskExists);
  return visitor.count;
}

void RequireFiniteWeights(TBasicNetwork &network, const std::string &name) {
  if (const long bad = CountNonFiniteWeights(network)) {
    throw TRunError("Network " + name + " holds " + std::to_string(bad) +
                    " weights or centres that are not finite numbers");
  }
}

std::string FirstNonFiniteValue(const Data &table) {
  auto &rows = const_cast<Data &>(table);
  for (int32_t r = 0; r < table.MbrNdxDataRows; ++r) {
    for (int part = 0; part < 2; ++part) {
      const double *values = part == 0 ? rows.InputSlot(r) : rows.OutputSlot(r);
      const int32_t n =
          part == 0 ? table.MbrNdxInputs : (table.MbrBlnLabels ? 0 : table.MbrNdxOutputs);
      for (int32_t c = 0; c < n; ++c) {
        if (std::isfinite(values[c]) || (part == 0 && std::isnan(values[c])))
          continue;
        std::ostringstream text;
        text << "row " << r + 1 << ", " << (part == 0 ? "input" : "output") << " column " << c + 1
             << " is " << values[c];
        return text.str();
      }
    }
  }
  return std::string();
}

} // namespace kestrane

#include "Vemo/FuzzyArcKernels.h"

#include "Vemo/TConditionLayer.h"
#include "Vemo/TToConditionConnections.h"
#include "Vemo/TToOutputConnections.h"
#include "Vemo/TVemoOutputLayer.h"

#include <algorithm>

namespace kestrane {

namespace {

using kernels::ArcBlock;
using kernels::Strided;

Strided Centres(TToConditionConnections &m) {
  Strided s;
  s.base = reinterpret_cast<char *>(&m.conditionLayer->nodes[0].centre);
  s.stride = sizeof(TConditionNeuron);
  return s;
}

Strided Centres(TToOutputConnections &m) {
  Strided s;
  s.base = reinterpret_cast<char *>(m.weights.data());
  return s;
}

// Arcs the matrix visits: its condition neurons with flags and an input.
int ArcsOf(const TToConditionConnections &m) {
  if (!m.conditionLayer->HasCounts())
    return 0;
  return std::min(static_cast<int>(m.flags.size()), m.conditionLayer->numNeurons);
}

int ArcsOf(const TToOutputConnections &m) {
  return std::min(m.NumCentres(), m.outputLayer->GetNumMapped());
}

size_t Capacity(const TToConditionConnections &m) { return m.conditionLayer->nodes.size(); }
size_t Capacity(const TToOutputConnections &m) { return m.weights.size(); }

template <class M>
bool List(TBasicConnections &conn, TBasicConnections &grad, TBasicConnections &change,
          ArcBlock &b) {
  auto &c = static_cast<M &>(conn), &g = static_cast<M &>(grad), &d = static_cast<M &>(change);
  const int n = ArcsOf(c);
  if (n <= 0 || Capacity(g) < static_cast<size_t>(n) || Capacity(d) < static_cast<size_t>(n))
    return false;
  b.n = n;
  b.flags = c.flags.data();
  b.lw = Centres(c);
  b.lg = Centres(g);
  b.ld = Centres(d);
  return true;
}

} // namespace

const std::vector<kernels::ListedClass> &FuzzyMatrixArcs() {
  static const std::vector<kernels::ListedClass> classes = {
      {&typeid(TToConditionConnections), &List<TToConditionConnections>},
      {&typeid(TToOutputConnections), &List<TToOutputConnections>}};
  return classes;
}

} // namespace kestrane

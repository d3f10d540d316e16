#include "NeuralNets/TBasicConnections.h"

#include "KQmessage/KAssert.h"
#include "KQmessage/RunRandom.h"
#include "NeuralNets/TBasicNetwork.h"

#include <cstring>

namespace kestrane {

double RandomWeight(double min, double max) {
  const unsigned r = static_cast<unsigned>(RandomDraw());
  return min + ((r % 32767u) * (1.0 / 32767)) * (max - min);
}

TBasicConnections::TBasicConnections(TBasicNetwork *network, int from, int to)
    : network(network), from(from), to(to) {}

int TBasicConnections::GetNumWeights(int mask) {
  TIterateObjGetNumWeights visitor;
  Iterate(visitor, mask);
  return visitor.count;
}

int TBasicConnections::GetWeights(double *out, int mask) {
  TIterateObjGetWeights visitor(out);
  Iterate(visitor, mask);
  return visitor.count;
}

int TBasicConnections::SetWeights(const double *in, int mask) {
  TIterateObjSetWeights visitor(in);
  Iterate(visitor, mask);
  return visitor.count;
}

void TBasicConnections::Randomize(double min, double max) {
  TIterateObjRandomize visitor(min, max);
  Iterate(visitor, 0);
}

void TBasicConnections::AddNetInputs(double *net) {
  const int t = GetNumToNeurons();
  for (int k = 0; k < t; ++k) {
    TIterateObjAggregate visitor;
    IterateInArcs(visitor, k, FMaskExists);
    net[k] = net[k] + visitor.sum;
  }
}

void TBasicConnections::RemoveArc(int, int) { KASSERT_TEXT(false, "false"); }
void TBasicConnections::AddArc(int, int) { KASSERT_TEXT(false, "false"); }
void TBasicConnections::UnfreezeArc(int, int) { KASSERT_TEXT(false, "false"); }
void TBasicConnections::FreezeArc(int, int) { KASSERT_TEXT(false, "false"); }

unsigned char TBasicConnections::GetFlags(int, int) const { return FMaskAll; }

void TBasicConnections::SetFlags(int, int, unsigned char val) {
  KASSERT_TEXT((val == FMaskAll) || (val == FMaskExists), "(val==FMaskAll) || (val==FMaskExists)");
}

void TBasicConnections::InsertFromNeuron(int, double, double, bool) {
  KASSERT_TEXT(false, "false");
}

void TBasicConnections::InsertToNeuron(int, double, double, bool) { KASSERT_TEXT(false, "false"); }

std::vector<unsigned char> TBasicConnections::GetAllFlags() {
  std::vector<unsigned char> bytes(static_cast<size_t>(GetNumWeights(FMaskExists)));
  TIterateObjGetFlags visitor(bytes.data());
  Iterate(visitor, FMaskExists);
  return bytes;
}

void TBasicConnections::SetAllFlags(const unsigned char *bytes) {
  TIterateObjSetFlags visitor(bytes);
  Iterate(visitor, FMaskExists);
}

void TBasicConnections::MakeAllUntrainable() {
  TIterateObjAllUntrainable visitor;
  Iterate(visitor, FMaskExists);
}

TBasicLayer *TBasicConnections::GetFromLayer() const { return network->layers[from]; }

TBasicLayer *TBasicConnections::GetToLayer() const { return network->layers[to]; }

int TBasicConnections::GetNumFromNeurons() const { return network->layers[from]->numNeurons; }

int TBasicConnections::GetNumToNeurons() const { return network->layers[to]->numNeurons; }

TBasicConnections *TBasicConnections::TwinIn(TBasicNetwork *other) const {
  return other->priv_conns_index[to][from];
}

void TBasicConnections::CheckSameClass2(const TBasicConnections *conn1,
                                        const TBasicConnections *conn2) {
  KASSERT_TEXT(std::strcmp(conn1->GetConnectionsNType(), conn2->GetConnectionsNType()) == 0,
               "conn1 -> GetConnectionsNType() == conn2 -> GetConnectionsNType()");
}

void TBasicConnections::CheckSameClass3(const TBasicConnections *conn1,
                                        const TBasicConnections *conn3) {
  KASSERT_TEXT(std::strcmp(conn1->GetConnectionsNType(), conn3->GetConnectionsNType()) == 0,
               "conn1 -> GetConnectionsNType() == conn3 -> GetConnectionsNType()");
}

// ---- TEmptyConnections ----

TEmptyConnections::TEmptyConnections(TBasicNetwork *network, int from, int to)
    : TBasicConnections(network, from, to) {}

double *TEmptyConnections::GetWeightPtr(int, int) {
  KASSERT_TEXT(false, "false");
  return nullptr;
}

TBasicConnections *TEmptyConnections::Clone(TBasicNetwork *owner) const {
  auto *x = new TEmptyConnections(owner, from, to);
  KASSERT_TEXT(x != nullptr, "x!=NULL");
  return x;
}

} // namespace kestrane

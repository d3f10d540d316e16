#ifndef KESTRANE_FILEHANDLER_NETWORKFILE_H
#define KESTRANE_FILEHANDLER_NETWORKFILE_H

// Pieces shared by the network file reader (NetworkReader.cpp) and writer
// (NetworkWriter.cpp): the size limits the reader enforces, the one table per kind
// of class a file can name, and the weight-list visitor of the writer.
// The reader and writer themselves are FileTools operations (ParseTools.h).
// The arc counter the writer uses is TIterateObjCount (NeuralNets/TIterateObj.h).

#include "NeuralNets/TIterateObj.h"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

namespace kestrane {

class FileTools;
class TBasicConnections;
class TBasicLayer;
class TBasicNetwork;

// Size limits of a network read from a file. A few bytes of text could
// otherwise ask for gigabytes, or for sizes whose products overflow 32 bits.
// The layer grid grows with the square of the layer count (one matrix object per
// ordered layer pair), hence the low layer limit.
namespace netfile_limits {
inline constexpr long kMaxLayers = 100;        // NumberOfLayers
inline constexpr long kMaxNeurons = 1000000;   // per layer and per network
inline constexpr int64_t kMaxArcs = 100000000; // from x to, per matrix and per network
} // namespace netfile_limits

// The classes a network file can name, one table per kind. Each row carries the
// class's own kTypeName (what its Get...NType() returns and the writer stores),
// how the reader makes it, and what the file code must know about it. Names are
// looked up without regard to case, as files have always been read.
struct NetworkKind {
  const char *name;
  // The network for `layers` layers as the file counts them (bias layer
  // included), or null with `why` set when the class cannot have that many.
  std::unique_ptr<TBasicNetwork> (*make)(int layers, bool bias, std::string &why);
};

struct LayerKind {
  const char *name;
  std::unique_ptr<TBasicLayer> (*make)(TBasicNetwork *net, int index, int count);
  bool evaluatesFunctions; // input and defuzzifying layers never call their neurons' functions
  bool gainNeurons;        // its neurons can run the gain functions
  bool conditionNeurons;   // its neurons can run the condition function
  // The membership section the layer block must carry (nullptr: none), the
  // reader's complaint when it is missing, and how the writer stores it.
  const char *membershipSection;
  const char *membershipMissing;
  void (*writeMembership)(FileTools &tools, std::ostream &out, TBasicLayer &layer);
};

struct MatrixKind {
  const char *name;
  std::unique_ptr<TBasicConnections> (*make)(TBasicNetwork *net, int from, int to);
  bool freezable; // arcs may be frozen (and removed); stored with "T"/"F" and "Trainable"
  bool allArcs;   // every arc exists: no "-", and every weight must be given
  bool fixedArcs; // the class decides which arcs exist (one per condition or action neuron)
  // Why layer `from` (index `fromIndex`) cannot feed `to` through this class,
  // or an empty text; `pair` names the two layers for the message.
  std::string (*misfit)(const TBasicLayer &from, const TBasicLayer &to, int fromIndex,
                        const std::string &pair);
};

// The row for `name`, or nullptr when the file code knows no such class.
const NetworkKind *FindNetworkKind(const char *name);
const LayerKind *FindLayerKind(const char *name);
const MatrixKind *FindMatrixKind(const char *name);

// Writes one weight-list line per visited arc:
// "[From=f To=t Weight=w Trainable ]" ("Trainable"/"UnTrainable" only when freezable).
class TIterateObjSaveWeights : public TIterateObj {
public:
  TIterateObjSaveWeights(std::ostream &out, FileTools &tools, bool freezable, int precision)
      : out(out), tools(tools), freezable(freezable), precision(precision) {}
  void Visit() override;

  std::ostream &out;
  FileTools &tools;
  bool freezable;
  int precision;
};

} // namespace kestrane

#endif

#ifndef KESTRANE_FILEHANDLER_NETWORKFILE_H
#define KESTRANE_FILEHANDLER_NETWORKFILE_H

// Pieces of the network file reader and writer that other code may want to see:
// the size limits the reader enforces and the weight-list visitor of the writer.
// The reader and writer themselves are FileTools operations (ParseTools.h).
// The arc counter the writer uses is TIterateObjCount (NeuralNets/TIterateObj.h).

#include "NeuralNets/TIterateObj.h"

#include <cstdint>
#include <iosfwd>

namespace kestrane {

class FileTools;

// Size limits of a network read from a file. A few bytes of text could
// otherwise ask for gigabytes, or for sizes whose products overflow 32 bits.
// The layer grid grows with the square of the layer count (one matrix object per
// ordered layer pair), hence the low layer limit.
namespace netfile_limits {
inline constexpr long kMaxLayers = 100;                  // NumberOfLayers
inline constexpr long kMaxNeurons = 1000000;             // per layer and per network
inline constexpr int64_t kMaxArcs = 100000000;           // from x to, per matrix and per network
} // namespace netfile_limits

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

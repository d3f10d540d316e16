#ifndef KESTRANE_TESTS_FILEHANDLER_NETWORKFILEHELPERS_H
#define KESTRANE_TESTS_FILEHANDLER_NETWORKFILEHELPERS_H

#include "FileHandler/ParseTools.h"
#include "NeuralNets/TBasicNetwork.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

namespace netfiletest {

inline std::string Write(kestrane::TBasicNetwork &net) {
  kestrane::FileTools tools;
  std::ostringstream out;
  tools.WriteNetwork(out, net);
  return out.str();
}

inline std::unique_ptr<kestrane::TBasicNetwork> Read(const std::string &text) {
  kestrane::FileTools tools;
  std::istringstream in(text);
  return tools.ReadNetwork(in);
}

// The message of the FileTools::Error that reading `text` raises, or "no error".
inline std::string ReadError(const std::string &text) {
  try {
    Read(text);
  } catch (const kestrane::FileTools::Error &e) {
    return e.GetMessage();
  }
  return "no error";
}

// Save, load, save: the second text must equal the first.
inline std::unique_ptr<kestrane::TBasicNetwork>
ExpectStableRoundTrip(kestrane::TBasicNetwork &net) {
  const std::string first = Write(net);
  std::unique_ptr<kestrane::TBasicNetwork> loaded = Read(first);
  EXPECT_EQ(Write(*loaded), first);
  return loaded;
}

} // namespace netfiletest

#endif

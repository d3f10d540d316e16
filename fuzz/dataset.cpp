// The data-set file readers on arbitrary bytes: the whole-file load (with
// label brackets), the training-set load, the chunked reader in a few chunks
// and the probe. Each must succeed or raise a clear error; a loaded file must
// save and load again to the same tables.

#include "DataObject/Data.h"
#include "FileHandler/ParseTools.h"
#include "KQmessage/KQML.h"
#include "KQmessage/TException.h"

#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

using kestrane::Data;
using kestrane::FileTools;

namespace {

const std::string &TempName(const char *suffix) {
  static std::string names[2];
  std::string &name = names[suffix[0] == 'i' ? 0 : 1];
  if (name.empty()) {
    const char *dir = std::getenv("TMPDIR");
    name = std::string(dir && *dir ? dir : "/tmp") + "/kestrane-fuzz-" + std::to_string(getpid()) +
           suffix;
  }
  return name;
}

bool Load(FileTools &tools, const std::string &file, std::unique_ptr<Data> &first,
          std::unique_ptr<Data> &second) {
  try {
    return tools.LoadDataSet(file.c_str(), first, second) == kestrane::kDataSetSuccess;
  } catch (const FileTools::Error &) {
  } catch (const kestrane::TException &) {
  }
  return false;
}

bool Same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

bool SameTable(const Data *a, const Data *b) {
  if ((a == nullptr) != (b == nullptr))
    return false;
  if (a == nullptr)
    return true;
  if (a->MbrNdxDataRows != b->MbrNdxDataRows || a->MbrNdxInputs != b->MbrNdxInputs ||
      a->MbrNdxOutputs != b->MbrNdxOutputs || a->MbrBlnLabels != b->MbrBlnLabels)
    return false;
  for (int32_t r = 0; r < a->MbrNdxDataRows; ++r) {
    for (int32_t c = 0; c < a->MbrNdxInputs; ++c)
      if (!Same(a->InputSlot(r)[c], b->InputSlot(r)[c]))
        return false;
    if (a->MbrBlnLabels) {
      if (!(a->MbrDyaLabels[r] == b->MbrDyaLabels[r]))
        return false;
    } else {
      for (int32_t c = 0; c < a->MbrNdxOutputs; ++c)
        if (!Same(a->OutputSlot(r)[c], b->OutputSlot(r)[c]))
          return false;
    }
  }
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string &input = TempName("in.ds");
  const std::string &output = TempName("out.ds");
  {
    std::ofstream file(input, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
  }
  FileTools tools;
  std::unique_ptr<Data> first, second;
  if (Load(tools, input, first, second)) {
    if (tools.SaveDataSet(output.c_str(), first.get(), second.get()) != kestrane::kDataSetSuccess)
      std::abort();
    std::unique_ptr<Data> first2, second2;
    if (!Load(tools, output, first2, second2))
      std::abort();
    if (!SameTable(first.get(), first2.get()) || !SameTable(second.get(), second2.get()))
      std::abort();
    std::remove(output.c_str());
  }

  try {
    std::unique_ptr<Data> table;
    tools.LoadTrainingSet(input.c_str(), table);
  } catch (const FileTools::Error &) {
  } catch (const kestrane::TException &) {
  }

  // Chunks of 1, 2 and 3 rows until the data runs out.
  int64_t offset = 0;
  for (int32_t chunk = 1; chunk <= 3; ++chunk) {
    try {
      std::unique_ptr<Data> a, b;
      if (tools.LoadDataSetChunk(input.c_str(), offset, chunk, a, b) != kestrane::kDataSetSuccess)
        break;
    } catch (const FileTools::Error &) {
      break;
    } catch (const kestrane::TException &) {
      break;
    }
  }

  try {
    tools.ProbeFile(input.c_str());
  } catch (const FileTools::Error &) {
  } catch (const kestrane::TKQstructure::Error &) {
  }
  return 0;
}

// The CSV import on arbitrary bytes: reading, scaling and the class split,
// and the ranges file. Each must succeed or raise an ImportError.
//
// Input: one option byte, then the CSV text, optionally followed by a line
// "%%" and a ranges file. Option bits 0-1 pick the separator, bits 2-3 the
// hold-out fraction, bit 4 names the class column "0" instead of the last.
// A successful import must write ranges that read back to the same text, its
// tables must hold every row once with every scaled value finite and in
// [0, 1], and the same CSV must import again through its own ranges file.

#include "DataObject/Data.h"
#include "DataTools/CsvImport/CsvImport.h"
#include "DataTools/CsvImport/CsvReader.h"
#include "DataTools/CsvImport/ImportError.h"
#include "DataTools/CsvImport/RangesFile.h"
#include "KQmessage/TException.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace kestrane;

namespace {

std::string RangesText(const ImportRanges &ranges) {
  std::ostringstream out;
  WriteRanges(out, ranges);
  return out.str();
}

std::optional<ImportResult> Import(const CsvTable &csv, const ImportRequest &request) {
  try {
    return ImportCsv(csv, request);
  } catch (const ImportError &) {
  }
  return std::nullopt;
}

bool ScaledValuesAreSound(const ImportResult &result) {
  std::vector<const Data *> tables;
  if (result.test)
    tables.push_back(result.test.get());
  for (const auto &table : result.training)
    tables.push_back(table.get());
  for (const Data *table : tables)
    for (int32_t r = 0; r < table->MbrNdxDataRows; ++r)
      for (int32_t c = 0; c < table->MbrNdxInputs; ++c) {
        const double value = table->InputSlot(r)[c];
        if (!std::isfinite(value) || value < 0.0 || value > 1.0)
          return false;
      }
  return true;
}

size_t RowsIn(const ImportResult &result) {
  size_t rows = result.test ? static_cast<size_t>(result.test->MbrNdxDataRows) : 0;
  for (const auto &table : result.training)
    rows += static_cast<size_t>(table->MbrNdxDataRows);
  return rows;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0)
    return 0;
  const uint8_t options = data[0];
  const std::string all(reinterpret_cast<const char *>(data) + 1, size - 1);
  const size_t mark = all.find("\n%%\n");
  const std::string csvText = all.substr(0, mark);

  static const char kSeparators[] = {',', ';', '\t', ' '};
  static const double kHoldouts[] = {0.0, 0.25, 0.5, 0.9};
  ImportRequest request;
  request.holdout = kHoldouts[(options >> 2) & 3];
  request.seed = options;
  if (options & 16)
    request.classColumn = "0";

  std::optional<CsvTable> csv;
  try {
    std::istringstream in(csvText);
    csv = ReadCsv(in, kSeparators[options & 3]);
  } catch (const ImportError &) {
  }

  if (csv) {
    if (std::optional<ImportResult> result = Import(*csv, request)) {
      if (RowsIn(*result) != csv->rows.size() || !ScaledValuesAreSound(*result))
        std::abort();
      const std::string first = RangesText(result->ranges);
      std::istringstream again(first);
      const ImportRanges reread = ReadRanges(again); // must not fail
      if (RangesText(reread) != first)
        std::abort();
      // The same data through the ranges of its own import.
      ImportRequest reuse;
      reuse.reuse = &reread;
      std::optional<ImportResult> second = Import(*csv, reuse);
      if (!second || RowsIn(*second) != csv->rows.size() || !ScaledValuesAreSound(*second))
        std::abort();
    }
  }

  if (mark != std::string::npos) {
    std::optional<ImportRanges> ranges;
    try {
      std::istringstream in(all.substr(mark + 4));
      ranges = ReadRanges(in);
    } catch (const ImportError &) {
    }
    if (ranges && csv) {
      ImportRequest reuse;
      reuse.reuse = &*ranges;
      if (std::optional<ImportResult> result = Import(*csv, reuse))
        if (RowsIn(*result) != csv->rows.size() || !ScaledValuesAreSound(*result))
          std::abort();
    }
  }
  return 0;
}

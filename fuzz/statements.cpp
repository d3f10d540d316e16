// The statement reader alone: reads statements the way the file readers do
// (blocks opened by a keyword, closed by their end tag, items of open
// brackets) until the input ends or a FileTools::Error reports it malformed.

#include "FileHandler/ParseTools.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

using kestrane::FileTools;
using kestrane::Statement;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char *>(data), size));
  FileTools tools;
  std::vector<std::string> blocks;
  bool inBracket = false;
  try {
    for (;;) {
      const char *block = blocks.empty() ? nullptr : blocks.back().c_str();
      const Statement s = tools.ReadStatement(inBracket ? nullptr : block, in, inBracket);
      if (s.kind == kestrane::StmtEnd) {
        if (blocks.empty())
          break;
        tools.ExpectEnd(s, in);
        blocks.pop_back();
        continue;
      }
      inBracket = s.open;
      if (s.kind == kestrane::StmtKeyword && !s.open) {
        blocks.push_back(tools.ExpectBlock(s, in, nullptr));
      } else if (s.kind == kestrane::StmtAssign) {
        // The typed readers on every value, as the header readers use them.
        try {
          tools.ReadInteger(s, in, s.keyword->c_str());
        } catch (const FileTools::Error &) {
        }
        try {
          tools.ReadNumber(s, in, s.keyword->c_str());
        } catch (const FileTools::Error &) {
        }
        tools.ReadString(s, in, s.keyword->c_str());
      } else if (s.kind == kestrane::StmtToken) {
        try {
          tools.ReadNumberToken(s, in);
        } catch (const FileTools::Error &) {
        }
      }
    }
  } catch (const FileTools::Error &) {
  }
  return 0;
}

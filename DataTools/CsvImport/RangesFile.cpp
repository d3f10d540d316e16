#include "DataTools/CsvImport/RangesFile.h"

#include "KQmessage/QuotedField.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <istream>
#include <ostream>
#include <unordered_set>

namespace kestrane {

namespace {

std::string OneLine(std::string name) {
  for (char &c : name) {
    if (c == '\t' || c == '\n' || c == '\r')
      c = ' ';
  }
  return name;
}

// 15 significant digits when they read back exactly (4.3, not 4.2999999999999998), else 17.
std::string Exact(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.15g", value);
  if (std::strtod(text, nullptr) != value)
    std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::vector<std::string> SplitTabs(const std::string &line) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    parts.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos)
      return parts;
    start = tab + 1;
  }
}

// std::getline, except that a NUL byte ends the line at once (/dev/zero has
// no line ends) and so does a line longer than any the file may hold, with a
// carriage return. `bytes` counts what was read.
bool ReadLine(std::istream &in, std::string &line, int64_t &bytes) {
  line.clear();
  for (int c = in.get(); c != std::char_traits<char>::eof(); c = in.get()) {
    ++bytes;
    if (c == '\n')
      return true;
    line += static_cast<char>(c);
    if (c == 0 || line.size() > ranges_limits::kMaxLine + 1)
      return true;
  }
  return !line.empty();
}

// The longest text of a number Exact writes ("-2.2250738585072014e-308").
constexpr int64_t kNumberText = 24;

} // namespace

void CheckRangesWritable(const ImportRanges &ranges) {
  using namespace ranges_limits;
  const size_t columns = ranges.features.size() + ranges.classes.size();
  if (columns > kMaxColumns) {
    throw ImportError(std::to_string(ranges.features.size()) + " features and " +
                      std::to_string(ranges.classes.size()) + " classes, more than the " +
                      std::to_string(kMaxColumns) +
                      " columns a ranges file and a data-set row hold; choose fewer with "
                      "--features");
  }
  // What WriteRanges writes, its numbers counted at their longest.
  int64_t bytes = 120 + 7 + static_cast<int64_t>(ranges.classColumn.size());
  std::unordered_set<std::string> seen;
  auto check = [&](const std::string &name, const char *what, int64_t lineBytes) {
    if (name.size() > kMaxName) {
      throw ImportError(std::string(what) + " name of " + std::to_string(name.size()) +
                        " bytes, more than the " + std::to_string(kMaxName) +
                        " a ranges file holds");
    }
    if (!seen.insert(OneLine(name)).second)
      throw ImportError(std::string("two ") + what + "s would be named " +
                        QuotedField(OneLine(name)) + " in the ranges file");
    bytes += lineBytes + static_cast<int64_t>(name.size());
  };
  check(ranges.classColumn, "class column", 0);
  seen.clear();
  for (const FeatureRange &f : ranges.features)
    check(f.name, "feature", 11 + 2 * kNumberText);
  seen.clear();
  for (const std::string &c : ranges.classes)
    check(c, "class", 8);
  if (bytes > kMaxBytes) {
    throw ImportError("the ranges file would take more than " + std::to_string(kMaxBytes) +
                      " bytes; choose fewer or shorter columns with --features");
  }
}

void WriteRanges(std::ostream &out, const ImportRanges &ranges) {
  CheckRangesWritable(ranges);
  out << "kestrane-ranges 1\n"
      << "# Scaling of the features to [0, 1] and the classes in output order.\n"
      << "class\t" << OneLine(ranges.classColumn) << "\n";
  for (const FeatureRange &f : ranges.features) {
    if (f.categorical)
      out << "category\t" << OneLine(f.column) << "\t" << OneLine(f.category) << "\n";
    else
      out << "feature\t" << Exact(f.min) << "\t" << Exact(f.max) << "\t" << OneLine(f.name) << "\n";
  }
  for (const std::string &c : ranges.classes)
    out << "output\t" << OneLine(c) << "\n";
}

ImportRanges ReadRanges(std::istream &in) {
  using namespace ranges_limits;
  ImportRanges ranges;
  std::string line;
  int number = 0;
  int64_t bytes = 0;
  bool haveClass = false;
  std::unordered_set<std::string> features, classes;
  auto fail = [&](const std::string &what) {
    return ImportError("ranges file, line " + std::to_string(number) + ": " + what);
  };
  while (ReadLine(in, line, bytes)) {
    ++number;
    if (line.find('\0') != std::string::npos)
      throw fail("NUL byte: not a text file");
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.size() > kMaxLine)
      throw fail("longer than " + std::to_string(kMaxLine) + " bytes");
    if (bytes > kMaxBytes)
      throw fail("the file passes " + std::to_string(kMaxBytes) + " bytes");
    if (number == 1) {
      if (line != "kestrane-ranges 1")
        throw fail("not a ranges file (\"kestrane-ranges 1\" expected)");
      continue;
    }
    if (line.empty() || line[0] == '#')
      continue;
    const std::vector<std::string> parts = SplitTabs(line);
    if (parts[0] == "class" && parts.size() == 2) {
      ranges.classColumn = parts[1];
      haveClass = true;
    } else if (parts[0] == "feature" && parts.size() == 4) {
      FeatureRange f;
      f.name = parts[3];
      char *end1 = nullptr;
      char *end2 = nullptr;
      f.min = std::strtod(parts[1].c_str(), &end1);
      f.max = std::strtod(parts[2].c_str(), &end2);
      if (parts[1].empty() || parts[2].empty() || *end1 || *end2 || !std::isfinite(f.min) ||
          !std::isfinite(f.max) || f.min > f.max) {
        throw fail("a feature needs two numbers, minimum <= maximum");
      }
      if (!features.insert(f.name).second)
        throw fail("two features are named " + QuotedField(f.name));
      ranges.features.push_back(f);
    } else if (parts[0] == "category" && parts.size() == 3) {
      FeatureRange f;
      f.name = parts[1] + "=" + parts[2];
      f.max = 1.0;
      f.categorical = true;
      f.column = parts[1];
      f.category = parts[2];
      ranges.features.push_back(f);
    } else if (parts[0] == "output" && parts.size() == 2) {
      if (!classes.insert(parts[1]).second)
        throw fail("two classes are named " + QuotedField(parts[1]));
      ranges.classes.push_back(parts[1]);
    } else {
      throw fail("unknown line " + QuotedField(line));
    }
    if (ranges.features.size() + ranges.classes.size() > kMaxColumns)
      throw fail("more than " + std::to_string(kMaxColumns) + " features and classes");
  }
  if (number == 0)
    throw ImportError("ranges file is empty");
  if (!haveClass || ranges.features.empty() || ranges.classes.empty()) {
    throw ImportError("ranges file lacks its class, feature or output lines");
  }
  return ranges;
}

} // namespace kestrane

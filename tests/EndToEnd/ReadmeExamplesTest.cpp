// The sample outputs of the README's "Reading the rules" section, checked
// against the programs: the iris example is trained as examples/iris/run.sh
// trains it, every tool command shown there is run in a copy of the example,
// and its output must match the excerpt printed below the command.

#include "tests/Support/TestFiles.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testsupport::ScratchDir;
using testsupport::Slurp;

const std::string kShownTool = "../../build-example/kestrane-tool";

// A command of the README and the output printed under it.
struct Example {
  std::string command; // as shown, without the program
  std::vector<std::string> excerpt;
};

std::string Trimmed(const std::string &line) {
  std::string text;
  for (char c : line) {
    if (c == ' ' && (text.empty() || text.back() == ' '))
      continue;
    text += c;
  }
  while (!text.empty() && text.back() == ' ')
    text.pop_back();
  return text;
}

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(Trimmed(line));
  while (!lines.empty() && lines.back().empty())
    lines.pop_back();
  return lines;
}

// Indented blocks of the section: a command line, a blank line, its output.
std::vector<Example> ExamplesOf(const std::string &readme, const std::string &section) {
  const size_t start = readme.find("\n## " + section + "\n");
  const size_t end = readme.find("\n## ", start + 1);
  std::vector<std::string> lines;
  std::istringstream in(readme.substr(start, end - start));
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  std::vector<Example> examples;
  for (size_t i = 0; i + 2 < lines.size(); ++i) {
    const std::string shown = "    " + kShownTool + " ";
    if (lines[i].compare(0, shown.size(), shown) != 0 || !lines[i + 1].empty())
      continue;
    Example example{lines[i].substr(shown.size()), {}};
    size_t k = i + 2;
    for (; k < lines.size() && (lines[k].empty() || lines[k].compare(0, 4, "    ") == 0); ++k)
      example.excerpt.push_back(Trimmed(lines[k].substr(lines[k].empty() ? 0 : 4)));
    while (!example.excerpt.empty() && example.excerpt.back().empty())
      example.excerpt.pop_back();
    examples.push_back(example);
    i = k;
  }
  return examples;
}

// "..." alone stands for any lines; within a line, for any text.
bool LineMatches(const std::string &pattern, const std::string &line) {
  size_t at = 0;
  size_t from = 0;
  for (bool first = true;; first = false) {
    const size_t dots = pattern.find("...", from);
    const std::string piece = Trimmed(pattern.substr(from, dots - from));
    if (dots == std::string::npos) {
      return first ? line == piece
                   : line.size() >= at + piece.size() &&
                         line.compare(line.size() - piece.size(), piece.size(), piece) == 0;
    }
    const size_t found = first ? (line.compare(0, piece.size(), piece) == 0 ? 0 : std::string::npos)
                               : line.find(piece, at);
    if (found == std::string::npos)
      return false;
    at = found + piece.size();
    from = dots + 3;
  }
}

bool Matches(const std::vector<std::string> &pattern, size_t p, const std::vector<std::string> &out,
             size_t o) {
  if (p == pattern.size())
    return o == out.size();
  if (pattern[p] == "...") {
    for (size_t skip = o; skip <= out.size(); ++skip) {
      if (Matches(pattern, p + 1, out, skip))
        return true;
    }
    return false;
  }
  return o < out.size() && LineMatches(pattern[p], out[o]) && Matches(pattern, p + 1, out, o + 1);
}

int Shell(const std::string &dir, const std::string &command, const std::string &log) {
  const int raw =
      std::system(("cd '" + dir + "' && " + command + " >'" + log + "' 2>/dev/null").c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

TEST(ReadmeExamplesTest, RulesAndSimplifyPrintWhatTheReadmeShows) {
  const std::string source = KESTRANE_SOURCE_DIR;
  const std::vector<Example> examples =
      ExamplesOf(Slurp(source + "/README.md"), "Reading the rules");
  ASSERT_GE(examples.size(), 2u) << "the section shows rules and simplify";

  ScratchDir dir;
  for (const auto &entry : std::filesystem::directory_iterator(source + "/examples/iris"))
    std::filesystem::copy(entry.path(), dir.Path() + "/" + entry.path().filename().string());
  const std::string log = dir.Path() + "/log.txt";
  ASSERT_EQ(Shell(dir.Path(), std::string("'") + KESTRANE_BINARY + "' iris.param", log), 0);

  for (const Example &example : examples) {
    ASSERT_EQ(
        Shell(dir.Path(), std::string("'") + KESTRANE_TOOL_BINARY + "' " + example.command, log), 0)
        << example.command;
    const std::vector<std::string> out = Lines(Slurp(log));
    std::string printed;
    for (const std::string &line : out)
      printed += line + "\n";
    EXPECT_TRUE(Matches(example.excerpt, 0, out, 0)) << example.command << " printed:\n" << printed;
  }
}

} // namespace

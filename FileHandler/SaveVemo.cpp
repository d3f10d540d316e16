// Membership-function sections of the two fuzzy layers of a network file:
// [InputMF] [Input=i MF=m] ... [~InputMF] and the same with Output.

#include "FileHandler/ParseTools.h"

#include "FileHandler/NetworkFile.h"
#include "KQmessage/KAssert.h"
#include "KQmessage/TException.h"
#include "Vemo/TConditionLayer.h"
#include "Vemo/TVemoOutputLayer.h"

#include <algorithm>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace kestrane {

void FileTools::ReadMembershipSection(std::istream &in, TBasicLayer *layer,
                                      const std::string &sectionKeyword) {
  const bool output = strcasecmp(sectionKeyword.c_str(), "OUTPUTMF") == 0;
  KASSERT_TEXT(output || strcasecmp(sectionKeyword.c_str(), "INPUTMF") == 0, "0");
  auto *condition = output ? nullptr : dynamic_cast<TConditionLayer *>(layer);
  auto *defuzzify = output ? dynamic_cast<TVemoOutputLayer *>(layer) : nullptr;
  if (condition == nullptr && defuzzify == nullptr)
    throw Error(sectionKeyword + " section in a layer of the wrong type", &in);
  const char *entryKey = output ? "OUTPUT" : "INPUT";
  const char *block = sectionKeyword.c_str();

  const int numnodes = layer->numNeurons;
  std::vector<int> counts(static_cast<size_t>(numnodes), 0);
  std::vector<char> given(static_cast<size_t>(numnodes), 0);
  long largest = -1;
  long long total = 0;

  Statement s = ReadStatement(block, in);
  while (s.kind == StmtAssign && s.open) {
    if (strcasecmp(s.keyword->c_str(), entryKey) != 0)
      throw Error("invalid tag in membership1", &in);
    const long i = ParseInteger(in, *s.value);
    if (i < 0 || i >= numnodes)
      throw Error(sectionKeyword + ": index " + std::to_string(i) + " is not below the layer's " +
                      std::to_string(numnodes) + " neurons",
                  &in);
    const Statement mf = ReadStatement(block, in, true);
    if (mf.kind != StmtAssign || mf.open || strcasecmp(mf.keyword->c_str(), "MF") != 0)
      throw Error("invalid tag in membership2", &in);
    const long m = ParseInteger(in, *mf.value);
    // Counts must add up to the layer's neurons (condition layer) or the action
    // layer's (output layer); either way no count can exceed the neuron limit.
    if (m < 2 || m > netfile_limits::kMaxNeurons)
      throw Error(sectionKeyword + ": " + std::to_string(m) + " membership functions for " +
                      (output ? "output " : "input ") + std::to_string(i) + " (at least 2 needed)",
                  &in);
    // A repeated entry would leave the counts and their total disagreeing.
    if (given[i])
      throw Error(sectionKeyword + ": " + (output ? "output " : "input ") + std::to_string(i) +
                      " given twice",
                  &in);
    given[i] = 1;
    counts[i] = static_cast<int>(m);
    total += m;
    if (i > largest)
      largest = i;
    s = ReadStatement(block, in);
  }
  ExpectEnd(s, in);

  if (largest < 0)
    throw Error(sectionKeyword + " section without entries", &in);
  // Inputs: 0 .. largest must all be there; outputs: one entry per output neuron.
  const long expected = output ? numnodes : largest + 1;
  for (long i = 0; i < expected; ++i)
    if (!given[i])
      throw Error(sectionKeyword + ": no entry for " + (output ? "output " : "input ") +
                      std::to_string(i),
                  &in);

  if (output) {
    if (total > netfile_limits::kMaxNeurons)
      throw Error(sectionKeyword + ": too many membership functions", &in);
    defuzzify->SetOutputMFCounts(static_cast<int>(total), counts.data());
    return;
  }
  if (total != numnodes)
    throw Error(sectionKeyword + ": the counts add up to " + std::to_string(total) +
                    ", the layer has " + std::to_string(numnodes) + " neurons",
                &in);
  try {
    condition->SetInputMFCounts(static_cast<int>(largest + 1), counts.data());
  } catch (const TException &e) {
    throw Error(sectionKeyword + ": " + e.GetMessage(), &in);
  }
}

namespace {

void WriteSection(FileTools &tools, std::ostream &out, const char *section, const char *entry,
                  const std::vector<int> &counts) {
  tools.WriteKeyword(out, section, true);
  for (size_t i = 0; i < counts.size(); ++i) {
    tools.OpenBracket(out, true);
    tools.WriteInteger(out, entry, static_cast<long>(i), false);
    tools.WriteInteger(out, "MF", counts[i], false);
    tools.CloseBracket(out, true, true);
  }
  tools.WriteEndTag(out, section);
}

} // namespace

void FileTools::WriteInputMFSection(std::ostream &out, TConditionLayer &layer) {
  std::vector<int> counts = layer.GetMFCounts();
  counts.resize(static_cast<size_t>(std::max(layer.GetNumInputs(), 0)), 0);
  WriteSection(*this, out, "InputMF", "Input", counts);
}

void FileTools::WriteOutputMFSection(std::ostream &out, TVemoOutputLayer &layer) {
  std::vector<int> counts = layer.GetMFCounts();
  counts.resize(static_cast<size_t>(std::max(layer.numNeurons, 0)), 0);
  WriteSection(*this, out, "OutputMF", "Output", counts);
}

} // namespace kestrane

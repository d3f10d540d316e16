#include "Tool/ToolCreate.h"

#include "Boot/FitPipeline.h"
#include "FileHandler/ParseTools.h"
#include "Tool/ToolCommon.h"
#include "Vemo/TVemo.h"

#include <memory>
#include <ostream>

namespace kestrane {

const char *const kToolCreateHelp =
    "Usage: kestrane-tool create --inputs N --rules N --outputs N [options] -o FILE\n"
    "Writes an initial fuzzy network: evenly placed membership functions and\n"
    "random rule and action weights.\n"
    "  --inputs N          number of inputs (features)\n"
    "  --input-mfs LIST    membership functions per input: one number for every\n"
    "                      input or a comma list, one per input; at least 2 (default 3)\n"
    "  --rules N           number of rules, at least 1\n"
    "  --outputs N         number of outputs (one per class)\n"
    "  --output-mfs LIST   membership functions per output, like --input-mfs (default 3)\n"
    "  --weights MIN,MAX   range of the random rule and action weights (default -0.5,0.5)\n"
    "  --seed N            seed of the random weights (default 1)\n"
    "  -o FILE             network file to write\n";

namespace {

// Keeps a mistyped count from asking for gigabytes of weights.
constexpr int kMaxCount = 100000;

} // namespace

int ToolCreate(const std::vector<std::string> &args, std::ostream &out, std::ostream &) {
  const ToolArguments a(args,
                        {"--inputs", "--input-mfs", "--rules", "--outputs", "--output-mfs",
                         "--weights", "--seed", "-o"},
                        {}, "create");
  if (a.Help()) {
    out << kToolCreateHelp;
    return 0;
  }
  if (!a.Operands().empty())
    throw ToolError("unexpected argument \"" + a.Operands()[0] + "\"");
  const int inputs = ParseCount(a.Require("--inputs"), "--inputs", 1, kMaxCount);
  const std::vector<int> inputMFs = ParseCountList(
      a.Get("--input-mfs", DefaultText(Setting::kInputMFs)), inputs, "--input-mfs", 2, kMaxCount);
  const int rules = ParseCount(a.Require("--rules"), "--rules", 1, kMaxCount);
  const int outputs = ParseCount(a.Require("--outputs"), "--outputs", 1, kMaxCount);
  const std::vector<int> outputMFs =
      ParseCountList(a.Get("--output-mfs", DefaultText(Setting::kOutputMFs)), outputs,
                     "--output-mfs", 2, kMaxCount);
  double min = kDefaults.weightMin;
  double max = kDefaults.weightMax;
  if (a.Has("--weights"))
    ParseWeightRange(a.Get("--weights"), min, max);
  const uint32_t seed = ParseSeed(a.Get("--seed", DefaultText(Setting::kSeed)));
  const std::string file = a.Require("-o");
  if (file.empty())
    throw ToolError("-o: empty file name");

  NetworkShape shape;
  shape.inputs = inputs;
  shape.inputMFs = inputMFs;
  shape.rules = rules;
  shape.outputs = outputs;
  shape.outputMFs = outputMFs;
  shape.weightMin = min;
  shape.weightMax = max;
  shape.seed = seed;
  const std::unique_ptr<TVemo> network = BuildNetwork(shape);

  PendingFiles pending;
  FileTools tools;
  tools.WriteNetwork(pending.Add(file), *network);
  pending.Commit();
  long long conditions = 0;
  long long actions = 0;
  for (int c : inputMFs)
    conditions += c;
  for (int c : outputMFs)
    actions += c;
  out << "Wrote " << file << ": " << inputs << " inputs, " << conditions << " input functions, "
      << rules << " rules, " << actions << " output functions, " << outputs << " outputs\n";
  return 0;
}

} // namespace kestrane

#include "Tool/ToolCreate.h"

#include "Boot/FitPipeline.h"
#include "Boot/RuleToolInputs.h"
#include "DataObject/Data.h"
#include "FileHandler/ParseTools.h"
#include "Tool/ToolCommon.h"
#include "Vemo/TVemo.h"

#include <memory>
#include <ostream>

namespace kestrane {

const char *const kToolCreateHelp =
    "Usage: kestrane-tool create --inputs N --rules N --outputs N [options] -o FILE\n"
    "Writes an initial fuzzy network: evenly placed membership functions (or\n"
    "placed from the data) and random rule and action weights.\n"
    "  --inputs N          number of inputs (features)\n"
    "  --input-mfs LIST    membership functions per input: one number for every\n"
    "                      input or a comma list, one per input; at least 2 (default 3)\n"
    "  --rules N           number of rules, at least 1\n"
    "  --outputs N         number of outputs (one per class)\n"
    "  --output-mfs LIST   membership functions per output, like --input-mfs (default 3)\n"
    "  --weights MIN,MAX   range of the random rule and action weights (default -0.5,0.5)\n"
    "  --seed N            seed of the random weights (default 1)\n"
    "  --centres P         even: each input's functions evenly over [0, 1]; quantile:\n"
    "                      at the quantiles of the input's values in the --data files,\n"
    "                      so that each covers about as many rows (default even)\n"
    "  --data LIST         comma list of data-set files (import's class files) whose\n"
    "                      rows place the centres; needs --centres quantile\n"
    "  -o FILE             network file to write\n";

namespace {

// Keeps a mistyped count from asking for gigabytes of weights.
constexpr int kMaxCount = 100000;

// The inputs of every row of the data-set files in `list`, in order.
std::vector<std::vector<double>> DataRows(const std::string &list, int inputs) {
  std::vector<std::vector<double>> rows;
  for (const std::string &name : SplitList(list)) {
    std::unique_ptr<Data> table;
    try {
      table = LoadInputOutputDataSet(name);
    } catch (const TRunError &e) {
      throw ToolError("--data: " + e.Line());
    }
    if (table->MbrNdxInputs != inputs) {
      throw ToolError("--data: " + name + ": " + std::to_string(table->MbrNdxInputs) +
                      " inputs per row, --inputs says " + std::to_string(inputs));
    }
    for (int32_t r = 0; r < table->MbrNdxDataRows; ++r) {
      const double *in = table->InputSlot(r);
      rows.emplace_back(in, in + inputs);
    }
  }
  if (rows.empty())
    throw ToolError("--data: the files hold no rows");
  return rows;
}

} // namespace

int ToolCreate(const std::vector<std::string> &args, std::ostream &out, std::ostream &) {
  const ToolArguments a(args,
                        {"--inputs", "--input-mfs", "--rules", "--outputs", "--output-mfs",
                         "--weights", "--seed", "--centres", "--data", "-o"},
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
  const std::string placement = a.Get("--centres", "even");
  if (placement != "even" && placement != "quantile")
    throw ToolError("--centres: \"" + placement + "\" is neither even nor quantile");
  if ((placement == "quantile") != a.Has("--data"))
    throw ToolError("--centres quantile and --data go together (the rows place the centres)");
  if (placement == "quantile") {
    ExpandShape(shape);
    shape.inputCentres = QuantileCentres(DataRows(a.Get("--data"), inputs), shape.inputMFs);
  }
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

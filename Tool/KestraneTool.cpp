// kestrane-tool: the companion program of Kestrane. Dispatches to the
// subcommands, each of which reports its own failures.

#include "Boot/Version.h"
#include "FileHandler/CheckedOutput.h"
#include "FileHandler/Spool.h"
#include "Tool/ToolCommon.h"
#include "Tool/ToolCreate.h"
#include "Tool/ToolCv.h"
#include "Tool/ToolEval.h"
#include "Tool/ToolImport.h"
#include "Tool/ToolPredict.h"
#include "Tool/ToolReport.h"
#include "Tool/ToolRules.h"

#include <unistd.h>

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char *const kUsage =
    "Usage: kestrane-tool create|import|eval|predict|cv|rules|simplify|report [options] ...\n"
    "  create   write an initial fuzzy network file\n"
    "  import   turn a CSV file into data-set files and a parameter file\n"
    "  eval     measure a network on data-set files\n"
    "  predict  answer the class of new CSV rows\n"
    "  cv       cross-validate settings on a CSV file\n"
    "  rules    print the rules a network has learnt\n"
    "  simplify remove weak rule arcs within an accuracy limit\n"
    "  report   write an HTML page about a network and labelled rows\n"
    "kestrane-tool COMMAND --help describes a command; --version gives the version.\n";

int RunTool(int argc, char **argv) {
  using namespace kestrane;
  if (argc < 2) {
    std::cerr << kUsage;
    return 1;
  }
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << kUsage;
    return 0;
  }
  if (command == "--version") {
    std::cout << "kestrane-tool " << kVersion << '\n';
    return 0;
  }
  int (*run)(const std::vector<std::string> &, std::ostream &, std::ostream &) = nullptr;
  if (command == "create")
    run = ToolCreate;
  if (command == "import")
    run = ToolImport;
  if (command == "eval")
    run = ToolEval;
  if (command == "predict")
    run = ToolPredict;
  if (command == "cv")
    run = ToolCv;
  if (command == "rules")
    run = ToolRules;
  if (command == "simplify")
    run = ToolSimplify;
  if (command == "report")
    run = ToolReport;
  if (!run) {
    std::cerr << "unknown command \"" << command << "\" (see kestrane-tool --help)\n";
    return 1;
  }
  // cv prints every combination as soon as it is known, so that a long search
  // stopped half-way keeps what it found; it writes nothing before its checks pass.
  if (run == ToolCv)
    return RunGuarded([&] { return run(args, std::cout, std::cerr); }, std::cerr);
  // Any other report reaches standard output only after a complete run: a failure
  // half-way (a file that cannot be written, a bad setting found late) is
  // its one error line and nothing else. A long report (predict's table)
  // waits in a temporary file rather than in memory.
  Spool report;
  int status = RunGuarded([&] { return run(args, report.Stream(), std::cerr); }, std::cerr);
  if (status == 0) {
    status = RunGuarded(
        [&] {
          report.CopyTo(std::cout);
          return 0;
        },
        std::cerr);
  }
  return status;
}

} // namespace

int main(int argc, char **argv) {
  kestrane::ReserveStandardDescriptors();
  // A file-size limit then fails the write (EFBIG), which the save or the
  // check of standard output reports, instead of the signal ending the
  // program without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  // Every command's results, --help and --version included, end here: one
  // that did not reach standard output fails the command.
  kestrane::CheckedOutput output(std::cout, "standard output");
  return output.Finish(RunTool(argc, argv), std::cerr, STDOUT_FILENO);
}

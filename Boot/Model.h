#ifndef KESTRANE_BOOT_MODEL_H
#define KESTRANE_BOOT_MODEL_H

// A trained classifier as every front end holds it: the scaling of its
// features, its class names in output order and its network. The tool's
// commands, the Python module and cross-validation ask it for answers; it
// prints nothing.

#include "Boot/Explain.h"
#include "Boot/HtmlReport.h"
#include "DataTools/CsvImport/RangesFile.h"
#include "NeuralNets/TBasicNetwork.h"
#include "Vemo/RuleBase.h"
#include "Vemo/RuleRows.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kestrane {

class TVemo;

// The ranges of a ranges file's text (ImportError when malformed), and the
// text of ranges.
ImportRanges RangesFromText(const std::string &text);
std::string RangesText(const ImportRanges &ranges);

// The answers for a batch of rows.
struct Prediction {
  std::vector<double> outputs; // rows x classes
  std::vector<int> predicted;  // per row, the index into the model's classes
  long clipped = 0;            // values outside the fitted ranges
};

// The sizes of a fuzzy network.
struct NetworkStructure {
  int inputs = 0;
  std::vector<int> inputMFs;
  int rules = 0;
  std::vector<int> outputMFs;
  int outputs = 0;
};

// The text of a network file holding `network` (std::bad_alloc when memory
// runs out while it is written).
std::string NetworkFileText(TBasicNetwork &network);

class Model {
public:
  // `ranges` must give one feature per network input and, unless it names no
  // classes, one class per output (TRunError otherwise).
  Model(ImportRanges ranges, std::unique_ptr<TBasicNetwork> network, double trainingError = 0.0);

  // A network file's text and its import's ranges.
  static Model FromText(const std::string &networkText, ImportRanges ranges);
  // A network file and a ranges file, named in the messages.
  static Model FromFiles(const std::string &networkFile, const std::string &rangesFile);

  // The files of a saved model: PREFIX.wgt and PREFIX.ranges, read as the
  // programs read them (a NUL byte refused at once, names as bytes). For each
  // of `besideSuffixes` the text of PREFIX+suffix goes into `beside` when that
  // file exists; it is read by the same rule.
  static Model Load(const std::string &prefix, const std::vector<std::string> &besideSuffixes = {},
                    std::vector<std::pair<std::string, std::string>> *beside = nullptr);
  // Writes PREFIX.wgt, PREFIX.ranges and every (suffix, text) of `beside` as
  // PREFIX+suffix through the safe save (FileHandler/SafeSave.h), committed
  // as one set under the journal PREFIX.journal as import commits its files:
  // all or none, also when killed (the next save finishes or undoes a killed
  // one), modes, symlinks and devices kept. A name the ranges file cannot
  // hold (a tab or a line break), an empty prefix or one naming a folder is
  // refused (TRunError) before anything is written.
  void Save(const std::string &prefix,
            const std::vector<std::pair<std::string, std::string>> &beside = {}) const;

  const ImportRanges &Ranges() const { return ranges_; }
  const std::vector<FeatureRange> &Features() const { return ranges_.features; }
  const std::vector<std::string> &Classes() const { return ranges_.classes; }
  // The error of the last training epoch (what the driver prints); 0 for a loaded model.
  double TrainingError() const { return trainingError_; }
  int Inputs() const;
  int Outputs() const;

  // The network file's text, as the programs write it.
  std::string NetworkText() const;
  // The ranges file's text, as import writes it.
  std::string RangesText() const { return kestrane::RangesText(ranges_); }

  // Marks the inputs a front end encoded itself as one category of a column
  // each: (column, category) per input, an empty column for an ordinary one.
  // Only an input of range [0, 1] named "column=category" is marked (another
  // one would read back from the ranges file with another scaling); the
  // ranges file then keeps the categories as import writes them, and the
  // rules read such inputs as "column is category".
  void MarkCategories(const std::vector<std::pair<std::string, std::string>> &columnAndCategory);

  // Replaces the network by what its file text reads back as (the weights at
  // the file's precision): a model kept this way, its saved files and the
  // programs reading them all give the same answers.
  void KeepAsSaved();

  TBasicNetwork &Network() { return *network_; }
  // The network as a fuzzy network; TRunError when it is none.
  TVemo &Fuzzy();

  // Scales a copy of `rows` (one value per feature, in feature order; values
  // outside the ranges are clipped) and runs the network on every row.
  // Recall writes into the network's layers: one call at a time per model.
  Prediction Predict(std::vector<std::vector<double>> rows);
  // The same for `rows` rows stored one after another, `cols` values each
  // (scaled in place: no copy of every row on its own).
  Prediction Predict(std::vector<double> values, size_t rows, size_t cols);

  // Scales a copy of `rows` as Predict does and explains every row, with
  // the conditions of its `top` strongest rules (Boot/Explain.h).
  std::vector<ExplainedRow> Explain(std::vector<std::vector<double>> rows,
                                    int top = kExplainedRules);

  NetworkStructure Structure();
  // Weight layer 1: condition centres; 2: condition -> rule; 3: rule ->
  // action; 4: output centres.
  std::vector<double> WeightLayer(int layer);
  // The degree of every membership function of `feature` for each of the
  // scaled input values, the other inputs held at 0.5: values x functions.
  std::vector<double> Memberships(int feature, const std::vector<double> &scaledValues);
  // The rule base in the words of the ranges (or of `classNames`, when
  // given); with labelled rows (unscaled values and class indices) its
  // measures on them.
  RuleBase Rules(const RuleOptions &options, const std::vector<std::vector<double>> *rows = nullptr,
                 const std::vector<int> *classOf = nullptr,
                 const std::vector<std::string> *classNames = nullptr);

  // The HTML page of Boot/HtmlReport.h on labelled rows (unscaled values
  // and class indices), in the words of the ranges or of `classNames`.
  std::string Report(const std::vector<std::vector<double>> &rows, const std::vector<int> &classOf,
                     const std::string &title,
                     const std::vector<std::string> *classNames = nullptr);

private:
  // Rows scaled as Predict scales them, with their class indices.
  ClassRows Labelled(const std::vector<std::vector<double>> &rows,
                     const std::vector<int> &classOf) const;
  ImportRanges Named(const std::vector<std::string> *classNames) const;

  ImportRanges ranges_;
  std::unique_ptr<TBasicNetwork> network_;
  TVemo *fuzzy_ = nullptr;
  double trainingError_ = 0.0;
};

// The network's outputs for every row of scaled values, row after row (rows x
// outputs values).
std::vector<double> RecallRows(TBasicNetwork &network,
                               const std::vector<std::vector<double>> &scaled);
// The same for `rows` rows stored one after another, `cols` values each.
std::vector<double> RecallRows(TBasicNetwork &network, const double *scaled, size_t rows,
                               size_t cols);
// The class for one row's outputs: the first largest of O >= 2 outputs; with
// one output, 1 at or above 0.5, else 0.
int PredictedClass(const double *outputs, int O);

} // namespace kestrane

#endif

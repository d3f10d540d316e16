#include "Boot/Model.h"

#include "Boot/RuleToolInputs.h"
#include "DataTools/CsvImport/FeatureScaling.h"
#include "FileHandler/ParseTools.h"
#include "FileHandler/SafeSave.h"
#include "FileHandler/TextFile.h"
#include "KQmessage/Diagnostics.h"
#include "KQmessage/KestraneError.h"
#include "Vemo/RuleRows.h"
#include "Vemo/TVemo.h"
#include "Vemo/VemoFlatRecall.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <sstream>
#include <system_error>
#include <thread>
#include <typeinfo>

namespace kestrane {

Model::Model(ImportRanges ranges, std::unique_ptr<TBasicNetwork> network, double trainingError)
    : ranges_(std::move(ranges)), network_(std::move(network)), trainingError_(trainingError) {
  if (!network_)
    throw TRunError("a model needs a network");
  fuzzy_ = dynamic_cast<TVemo *>(network_.get());
  if (static_cast<int>(ranges_.features.size()) != Inputs()) {
    throw TRunError("the ranges give " + std::to_string(ranges_.features.size()) +
                    " features, the network takes " + std::to_string(Inputs()));
  }
  if (!ranges_.classes.empty() && static_cast<int>(ranges_.classes.size()) != Outputs()) {
    throw TRunError("the ranges name " + std::to_string(ranges_.classes.size()) +
                    " classes, the network has " + std::to_string(Outputs()) + " outputs");
  }
}

Model Model::FromText(const std::string &networkText, ImportRanges ranges) {
  std::istringstream in(networkText);
  FileTools tools;
  return Model(std::move(ranges), tools.ReadNetwork(in));
}

Model Model::FromFiles(const std::string &networkFile, const std::string &rangesFile) {
  FuzzyNetworkFile loaded = LoadFuzzyNetwork(networkFile);
  ImportRanges ranges = LoadRangesFile(rangesFile);
  CheckRangesFit(ranges, *loaded.network, networkFile);
  return Model(std::move(ranges), std::move(loaded.owner));
}

namespace {

constexpr const char *kNetworkSuffix = ".wgt";
constexpr const char *kRangesSuffix = ".ranges";

// The name in a message: on one line, escaped, at most 60 characters.
std::string Excerpt(const std::string &name) {
  std::string out;
  for (char c : name.substr(0, 60)) {
    if (c == '\t')
      out += "\\t";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return name.size() > 60 ? out + "..." : out;
}

void RequireOneLine(const std::string &name, const std::string &what) {
  if (name.find_first_of("\t\r\n") != std::string::npos) {
    throw TRunError(what + " \"" + Excerpt(name) +
                    "\" holds a tab or a line break, which the ranges file cannot hold");
  }
}

void RequirePrefix(const std::string &prefix) {
  if (prefix.empty() || prefix.back() == '/')
    throw TRunError("the file prefix \"" + prefix + "\" names no file (PREFIX.wgt is written)");
}

} // namespace

Model Model::Load(const std::string &prefix, const std::vector<std::string> &besideSuffixes,
                  std::vector<std::pair<std::string, std::string>> *beside) {
  RequirePrefix(prefix);
  Model model = FromFiles(prefix + kNetworkSuffix, prefix + kRangesSuffix);
  for (const std::string &suffix : besideSuffixes) {
    const std::string name = prefix + suffix;
    std::string text;
    try {
      if (!ReadTextFile(name.c_str(), text))
        continue;
    } catch (const FileTools::Error &e) {
      throw TRunError(e.GetMessage());
    }
    if (beside)
      beside->emplace_back(suffix, std::move(text));
  }
  return model;
}

void Model::Save(const std::string &prefix,
                 const std::vector<std::pair<std::string, std::string>> &beside) const {
  RequirePrefix(prefix);
  RequireOneLine(ranges_.classColumn, "class column");
  for (const FeatureRange &f : ranges_.features)
    RequireOneLine(f.name, "feature name");
  for (const std::string &c : ranges_.classes)
    RequireOneLine(c, "class name");
  std::vector<std::pair<std::string, std::string>> files;
  files.emplace_back(prefix + kNetworkSuffix, NetworkText());
  files.emplace_back(prefix + kRangesSuffix, RangesText());
  for (const auto &[suffix, text] : beside)
    files.emplace_back(prefix + suffix, text);
  // The set's journal, as import keeps for its files: a save killed during
  // its renames is finished or undone by the next save of the prefix, and
  // readers refuse the set until then.
  const std::string journal = SetJournal(prefix);
  SafeSave::Recover(journal);
  std::vector<std::unique_ptr<SafeSave>> saves;
  std::vector<SafeSave *> all;
  for (const auto &[name, text] : files) {
    saves.push_back(std::make_unique<SafeSave>(name));
    saves.back()->Stream() << text;
    all.push_back(saves.back().get());
  }
  SafeSave::CommitTogether(all, journal);
}

int Model::Inputs() const { return network_->GetNumInputs(); }
int Model::Outputs() const { return network_->GetNumOutputs(); }

std::string NetworkFileText(TBasicNetwork &network) {
  std::ostringstream out;
  FileTools tools;
  try {
    tools.WriteNetwork(out, network);
  } catch (const FileTools::Error &) {
    // A string stream fails only when its memory runs out.
    if (out.bad())
      throw std::bad_alloc();
    throw;
  }
  return out.str();
}

std::string Model::NetworkText() const { return NetworkFileText(*network_); }

void Model::MarkCategories(
    const std::vector<std::pair<std::string, std::string>> &columnAndCategory) {
  const size_t n = std::min(columnAndCategory.size(), ranges_.features.size());
  for (size_t i = 0; i < n; ++i) {
    FeatureRange &f = ranges_.features[i];
    const auto &[column, category] = columnAndCategory[i];
    if (column.empty() || f.min != 0.0 || f.max != 1.0 || f.name != column + "=" + category)
      continue;
    f.categorical = true;
    f.column = column;
    f.category = category;
  }
}

void Model::KeepAsSaved() {
  std::istringstream in(NetworkText());
  FileTools tools;
  network_ = tools.ReadNetwork(in);
  fuzzy_ = dynamic_cast<TVemo *>(network_.get());
}

TVemo &Model::Fuzzy() {
  if (!fuzzy_)
    throw TRunError("the network is no fuzzy (Vemo) network");
  return *fuzzy_;
}

namespace {

std::vector<int> PredictedClasses(const std::vector<double> &outputs, size_t rows, int O) {
  std::vector<int> predicted(rows);
  for (size_t r = 0; r < rows; ++r)
    predicted[r] = PredictedClass(outputs.data() + r * static_cast<size_t>(O), O);
  return predicted;
}

} // namespace

Prediction Model::Predict(std::vector<std::vector<double>> rows) {
  for (const std::vector<double> &row : rows) {
    if (row.size() != ranges_.features.size()) {
      throw TRunError("a row of " + std::to_string(row.size()) + " values; the model takes " +
                      std::to_string(ranges_.features.size()));
    }
  }
  Prediction prediction;
  prediction.clipped = ScaleRows(ranges_.features, rows);
  prediction.outputs = RecallRows(*network_, rows);
  prediction.predicted = PredictedClasses(prediction.outputs, rows.size(), Outputs());
  return prediction;
}

std::vector<ExplainedRow> Model::Explain(std::vector<std::vector<double>> rows, int top) {
  for (const std::vector<double> &row : rows) {
    if (row.size() != ranges_.features.size()) {
      throw TRunError("a row of " + std::to_string(row.size()) + " values; the model takes " +
                      std::to_string(ranges_.features.size()));
    }
  }
  TVemo &vemo = Fuzzy();
  ScaleRows(ranges_.features, rows);
  std::vector<ExplainedRow> explained;
  explained.reserve(rows.size());
  for (const std::vector<double> &row : rows)
    explained.push_back(ExplainRow(vemo, row.data(), top));
  return explained;
}

NetworkStructure Model::Structure() {
  NetworkStructure s;
  int conditions = 0;
  int actions = 0;
  Fuzzy().GetStructure(s.inputs, conditions, s.inputMFs, s.rules, actions, s.outputMFs, s.outputs);
  return s;
}

std::vector<double> Model::WeightLayer(int layer) { return Fuzzy().GetWeightLayer(layer); }

std::vector<double> Model::Memberships(int feature, const std::vector<double> &scaledValues) {
  TVemo &vemo = Fuzzy();
  const NetworkStructure s = Structure();
  if (feature < 0 || feature >= s.inputs) {
    throw TRunError("no feature " + std::to_string(feature) + " among " + std::to_string(s.inputs));
  }
  int first = 0;
  for (int i = 0; i < feature; ++i)
    first += s.inputMFs[static_cast<size_t>(i)];
  const int m = s.inputMFs[static_cast<size_t>(feature)];
  std::vector<double> degrees(scaledValues.size() * static_cast<size_t>(m));
  std::vector<double> in(static_cast<size_t>(s.inputs), 0.5);
  std::vector<double> out(static_cast<size_t>(s.outputs));
  for (size_t r = 0; r < scaledValues.size(); ++r) {
    in[static_cast<size_t>(feature)] = scaledValues[r];
    vemo.Recall(in.data(), out.data());
    for (int k = 0; k < m; ++k) {
      vemo.GetActivationValue(TVemo::kConditionLayer, first + k,
                              degrees[r * static_cast<size_t>(m) + static_cast<size_t>(k)]);
    }
  }
  return degrees;
}

ClassRows Model::Labelled(const std::vector<std::vector<double>> &rows,
                          const std::vector<int> &classOf) const {
  if (classOf.size() != rows.size())
    throw TRunError("one class index per row expected");
  std::vector<std::vector<double>> scaled = rows;
  for (const std::vector<double> &row : scaled) {
    if (row.size() != ranges_.features.size()) {
      throw TRunError("a row of " + std::to_string(row.size()) + " values; the model takes " +
                      std::to_string(ranges_.features.size()));
    }
  }
  ScaleRows(ranges_.features, scaled);
  ClassRows labelled;
  labelled.inputs = static_cast<int>(ranges_.features.size());
  for (const std::vector<double> &row : scaled)
    labelled.values.insert(labelled.values.end(), row.begin(), row.end());
  for (int k : classOf) {
    if (k < 0 || k >= Outputs())
      throw TRunError("class index " + std::to_string(k) + " out of range");
  }
  labelled.classes = classOf;
  return labelled;
}

ImportRanges Model::Named(const std::vector<std::string> *classNames) const {
  ImportRanges named = ranges_;
  if (classNames) {
    if (static_cast<int>(classNames->size()) != Outputs()) {
      throw TRunError(std::to_string(classNames->size()) + " class names for " +
                      std::to_string(Outputs()) + " outputs");
    }
    named.classes = *classNames;
  }
  return named;
}

RuleBase Model::Rules(const RuleOptions &options, const std::vector<std::vector<double>> *rows,
                      const std::vector<int> *classOf, const std::vector<std::string> *classNames) {
  TVemo &vemo = Fuzzy();
  ClassRows labelled;
  if (rows) {
    if (!classOf)
      throw TRunError("one class index per row expected");
    labelled = Labelled(*rows, *classOf);
  }
  return ExtractRules(vemo, VocabularyOf(Named(classNames)), options, rows ? &labelled : nullptr);
}

std::string Model::Report(const std::vector<std::vector<double>> &rows,
                          const std::vector<int> &classOf, const std::string &title,
                          const std::vector<std::string> *classNames) {
  TVemo &vemo = Fuzzy();
  const ClassRows labelled = Labelled(rows, classOf);
  if (labelled.Rows() == 0)
    throw TRunError("no rows to report on");
  return HtmlReport(vemo, Named(classNames), labelled, HtmlReportSource{title, "", ""});
}

ImportRanges RangesFromText(const std::string &text) {
  std::istringstream in(text);
  return ReadRanges(in);
}

std::string RangesText(const ImportRanges &ranges) {
  std::ostringstream out;
  WriteRanges(out, ranges);
  return out.str();
}

namespace {

// Below this many rows a second thread and a copy of the network cost more
// than they save.
constexpr size_t kParallelRecallRows = 4096;

// Row r of a table: the rows of vectors or of one array.
struct RowsOf {
  const std::vector<std::vector<double>> *vectors;
  const double *values;
  size_t cols;
  const double *operator[](size_t r) const {
    return vectors != nullptr ? (*vectors)[r].data() : values + r * cols;
  }
};

void RecallRange(TBasicNetwork &network, const RowsOf &scaled, size_t first, size_t last,
                 double *outputs) {
  const size_t O = static_cast<size_t>(network.GetNumOutputs());
  // A fuzzy network of the usual layout recalls four rows at a time through
  // flat loops, with the same bits. The last row, and any row whose output
  // fails, go the general way: the network is then left as the general
  // recall leaves it, and a failure is reported as it always was.
  TVemoFlatRecall flat;
  size_t r = first;
  if (last - first > 1 && typeid(network) == typeid(TVemo) &&
      flat.Plan(static_cast<TVemo &>(network))) {
    constexpr size_t kLanes = TVemoFlatRecall::kLanes;
    const double *in[kLanes];
    double *out[kLanes];
    while (r + 1 < last) {
      const int n = static_cast<int>(std::min(kLanes, last - 1 - r));
      for (int p = 0; p < n; ++p) {
        in[p] = scaled[r + static_cast<size_t>(p)];
        out[p] = outputs + (r + static_cast<size_t>(p)) * O;
      }
      const int done = flat.Recall(n, in, out);
      r += static_cast<size_t>(done);
      if (done < n) {
        network.Recall(scaled[r], outputs + r * O);
        ++r;
      }
    }
  }
  for (; r < last; ++r)
    network.Recall(scaled[r], outputs + r * O);
}

// A copy of the network for a second thread, when it is one whose copy is
// known to recall as the original does (a recall writes into the layers, so
// two threads cannot share one network); else none.
std::unique_ptr<TBasicNetwork> RecallCopy(const TBasicNetwork &network) {
  if (typeid(network) == typeid(TVemo))
    return std::make_unique<TVemo>(static_cast<const TVemo &>(network));
  return nullptr;
}

// Keeps every line of the second half's recall, so that they reach the
// caller's sink after the first half's, as one thread would have sent them.
class HeldLines : public TDiagnosticSink {
public:
  void Write(DiagnosticKind kind, std::string_view line) override {
    lines_.push_back(Diagnostic{kind, std::string(line)});
  }
  void PassOn() const {
    for (const Diagnostic &d : lines_)
      Diagnose(d.kind, d.line);
  }

private:
  std::vector<Diagnostic> lines_;
};

// What a caller does to rows first .. last-1 in the thread that recalls them:
// before the recall (scaling them in place) and after it.
struct RangeWork {
  std::function<void(size_t, size_t)> before;
  std::function<void(size_t, size_t, const double *outputs)> after;
  void Recall(TBasicNetwork &network, const RowsOf &scaled, size_t first, size_t last,
              double *outputs) const {
    if (before)
      before(first, last);
    RecallRange(network, scaled, first, last, outputs);
    if (after)
      after(first, last, outputs);
  }
};

std::vector<double> RecallTable(TBasicNetwork &network, const RowsOf &scaled, size_t rows,
                                const RangeWork &work = {}) {
  const int O = network.GetNumOutputs();
  std::vector<double> outputs(rows * static_cast<size_t>(O));
  // Every row's outputs depend on that row alone: a large table is answered
  // in two halves at once, each value as one thread would give it.
  size_t half = rows;
  std::unique_ptr<TBasicNetwork> copy;
  std::thread helper;
  std::exception_ptr helperFailure;
  HeldLines held;
  if (rows >= kParallelRecallRows && std::thread::hardware_concurrency() >= 2)
    copy = RecallCopy(network);
  if (copy) {
    half = rows / 2;
    try {
      helper = std::thread([&] {
        try {
          const TDiagnosticScope scope(held);
          work.Recall(*copy, scaled, half, rows, outputs.data());
        } catch (...) {
          helperFailure = std::current_exception();
        }
      });
    } catch (const std::system_error &) {
      half = rows; // no thread to be had: all on this one
    }
  }
  std::exception_ptr failure;
  try {
    work.Recall(network, scaled, 0, half, outputs.data());
  } catch (...) {
    failure = std::current_exception();
  }
  if (helper.joinable())
    helper.join();
  // A failure in the first half ends the recall there, as it would have.
  if (!failure) {
    held.PassOn();
    failure = helperFailure;
  }
  if (failure)
    std::rethrow_exception(failure);
  return outputs;
}

} // namespace

std::vector<double> RecallRows(TBasicNetwork &network,
                               const std::vector<std::vector<double>> &scaled) {
  const int I = network.GetNumInputs();
  for (size_t r = 0; r < scaled.size(); ++r) {
    if (static_cast<int>(scaled[r].size()) < I) {
      throw TRunError("row " + std::to_string(r + 1) + " has " + std::to_string(scaled[r].size()) +
                      " values, the network takes " + std::to_string(I));
    }
  }
  return RecallTable(network, RowsOf{&scaled, nullptr, 0}, scaled.size());
}

std::vector<double> RecallRows(TBasicNetwork &network, const double *scaled, size_t rows,
                               size_t cols) {
  const int I = network.GetNumInputs();
  if (rows > 0 && static_cast<int>(cols) < I) {
    throw TRunError("row 1 has " + std::to_string(cols) + " values, the network takes " +
                    std::to_string(I));
  }
  return RecallTable(network, RowsOf{nullptr, scaled, cols}, rows);
}

int PredictedClass(const double *outputs, int O) { return ClassOfOutputs(outputs, O); }

Prediction Model::Predict(std::vector<double> values, size_t rows, size_t cols) {
  if (rows > 0 && cols != ranges_.features.size()) {
    throw TRunError("a row of " + std::to_string(cols) + " values; the model takes " +
                    std::to_string(ranges_.features.size()));
  }
  if (values.size() != rows * cols)
    throw TRunError("a table of " + std::to_string(values.size()) + " values is not " +
                    std::to_string(rows) + " rows of " + std::to_string(cols));
  const int I = network_->GetNumInputs();
  if (rows > 0 && static_cast<int>(cols) < I) {
    throw TRunError("row 1 has " + std::to_string(cols) + " values, the network takes " +
                    std::to_string(I));
  }
  // Each thread scales its own rows and picks their classes.
  const int O = Outputs();
  Prediction prediction;
  prediction.predicted.resize(rows);
  long clipped[2] = {0, 0};
  RangeWork work;
  work.before = [&](size_t first, size_t last) {
    clipped[first == 0 ? 0 : 1] =
        ScaleTable(ranges_.features, values.data() + first * cols, last - first);
  };
  work.after = [&](size_t first, size_t last, const double *outputs) {
    for (size_t r = first; r < last; ++r)
      prediction.predicted[r] = PredictedClass(outputs + r * static_cast<size_t>(O), O);
  };
  prediction.outputs = RecallTable(*network_, RowsOf{nullptr, values.data(), cols}, rows, work);
  prediction.clipped = clipped[0] + clipped[1];
  return prediction;
}

} // namespace kestrane

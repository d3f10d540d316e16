// The Python extension kestrane._kestrane: the headless pipeline (fit, the
// model and its answers, the rule report) over NumPy arrays. The pure-Python
// package on top of it holds the scikit-learn estimator.

#include "Boot/Pipeline.h"

#include "CallDiagnostics.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace py = pybind11;
using kestrane::FeatureRange;
using kestrane_python::Reporting;

namespace {

using RowArray = py::array_t<double, py::array::c_style | py::array::forcecast>;
using IndexArray = py::array_t<int32_t, py::array::c_style | py::array::forcecast>;

std::vector<std::vector<double>> Rows(const RowArray &X) {
  if (X.ndim() != 2)
    throw py::value_error("expected a 2-D array of feature values");
  const auto n = static_cast<size_t>(X.shape(0));
  const auto f = static_cast<size_t>(X.shape(1));
  std::vector<std::vector<double>> rows(n);
  const double *data = X.data();
  for (size_t r = 0; r < n; ++r)
    rows[r].assign(data + r * f, data + (r + 1) * f);
  return rows;
}

std::vector<FeatureRange> MakeRanges(const std::vector<std::string> &names,
                                     const std::vector<double> &mins,
                                     const std::vector<double> &maxs) {
  if (names.size() != mins.size() || names.size() != maxs.size()) {
    throw py::value_error("one name, minimum and maximum per feature expected");
  }
  std::vector<FeatureRange> ranges(names.size());
  for (size_t i = 0; i < names.size(); ++i)
    ranges[i] = FeatureRange{names[i], mins[i], maxs[i]};
  return ranges;
}

// Names are bytes in the files; the programs take any. Python sees them as
// str, bytes that are no UTF-8 as surrogates (as os.fsdecode gives file names).
py::str Decoded(const std::string &text) {
  PyObject *decoded =
      PyUnicode_DecodeUTF8(text.data(), static_cast<py::ssize_t>(text.size()), "surrogateescape");
  if (decoded == nullptr)
    throw py::error_already_set();
  return py::reinterpret_steal<py::str>(decoded);
}

py::list DecodedList(const std::vector<std::string> &texts) {
  py::list list;
  for (const std::string &text : texts)
    list.append(Decoded(text));
  return list;
}

py::list RangeTuples(const std::vector<FeatureRange> &features) {
  py::list list;
  for (const FeatureRange &f : features)
    list.append(py::make_tuple(Decoded(f.name), f.min, f.max));
  return list;
}

// The estimator's parameter of every setting.
std::string ParameterName(kestrane::Setting setting) {
  using kestrane::Setting;
  switch (setting) {
  case Setting::kRules:
    return "n_rules";
  case Setting::kInputMFs:
    return "input_mfs";
  case Setting::kOutputMFs:
    return "output_mfs";
  case Setting::kWeightRange:
    return "weight_range";
  case Setting::kEpochs:
    return "epochs";
  case Setting::kChangeAfter:
    return "change_after";
  case Setting::kLearningRate:
    return "learning_rate";
  case Setting::kMomentum:
    return "momentum";
  case Setting::kBatch:
    return "batch";
  case Setting::kExamples:
    return "examples_per_class";
  case Setting::kSeed:
    return "random_state";
  case Setting::kLearnCentres:
    return "learn_centres";
  }
  return "setting";
}

// A model of the pipeline. Its recall writes into the network's layers, so
// one model answers one call at a time.
class PyModel {
public:
  explicit PyModel(kestrane::Model model) : model_(std::move(model)) {}

  static std::unique_ptr<PyModel>
  FromText(const std::string &text, const std::vector<std::string> &names,
           const std::vector<double> &mins, const std::vector<double> &maxs,
           const std::vector<std::string> &classes, const std::string &classColumn) {
    kestrane::ImportRanges ranges;
    ranges.classColumn = classColumn;
    ranges.features = MakeRanges(names, mins, maxs);
    ranges.classes = classes;
    return std::make_unique<PyModel>(kestrane::Model::FromText(text, std::move(ranges)));
  }

  std::string Text() {
    std::lock_guard<std::mutex> hold(lock_);
    return model_.NetworkText();
  }
  // PREFIX.wgt, PREFIX.ranges and the files beside them (suffix, text),
  // through the library's safe save; the prefix as the file system's bytes.
  void Save(const py::bytes &prefix,
            const std::vector<std::pair<std::string, std::string>> &beside) {
    const std::string path = prefix;
    try {
      py::gil_scoped_release free;
      std::lock_guard<std::mutex> hold(lock_);
      model_.Save(path, beside);
    } catch (const kestrane::TRunError &) {
      throw; // a prefix or a name the files cannot take: a ValueError
    } catch (const kestrane::TKestraneError &) {
      // The file system refused: what Python reports as an OSError.
      PyErr_SetString(PyExc_OSError,
                      kestrane::FailureLine(std::current_exception(), ParameterName).c_str());
      throw py::error_already_set();
    }
  }

  // The model of PREFIX.wgt and PREFIX.ranges, and {suffix: text} of the files
  // beside them that exist.
  static py::tuple Load(const py::bytes &prefix, const std::vector<std::string> &suffixes) {
    const std::string path = prefix;
    std::vector<std::pair<std::string, std::string>> beside;
    std::unique_ptr<PyModel> model;
    {
      py::gil_scoped_release free;
      model = std::make_unique<PyModel>(kestrane::Model::Load(path, suffixes, &beside));
    }
    py::dict texts;
    for (const auto &[suffix, text] : beside)
      texts[py::str(suffix)] = Decoded(text);
    return py::make_tuple(std::move(model), texts);
  }
  std::string RangesText() {
    std::lock_guard<std::mutex> hold(lock_);
    return model_.RangesText();
  }

  // The raw outputs and the predicted class index of every row.
  py::tuple Recall(const RowArray &X) {
    if (X.ndim() != 2)
      throw py::value_error("expected a 2-D array of feature values");
    const auto n = static_cast<size_t>(X.shape(0));
    const auto f = static_cast<size_t>(X.shape(1));
    std::vector<double> values(X.data(), X.data() + n * f);
    kestrane::Prediction prediction;
    {
      py::gil_scoped_release free;
      std::lock_guard<std::mutex> hold(lock_);
      prediction = model_.Predict(std::move(values), n, f);
    }
    const auto rows = static_cast<py::ssize_t>(prediction.predicted.size());
    py::array_t<double> outputs({rows, static_cast<py::ssize_t>(model_.Outputs())});
    std::copy(prediction.outputs.begin(), prediction.outputs.end(), outputs.mutable_data());
    py::array_t<int64_t> predicted(rows);
    std::copy(prediction.predicted.begin(), prediction.predicted.end(), predicted.mutable_data());
    return py::make_tuple(outputs, predicted);
  }

  // Per input, (column, category) or None: see Model::MarkCategories.
  void MarkCategories(const std::vector<std::pair<std::string, std::string>> &columnAndCategory) {
    std::lock_guard<std::mutex> hold(lock_);
    model_.MarkCategories(columnAndCategory);
  }
  py::list Categories() const {
    py::list list;
    for (const FeatureRange &f : model_.Features()) {
      if (f.categorical)
        list.append(py::make_tuple(Decoded(f.column), Decoded(f.category)));
      else
        list.append(py::none());
    }
    return list;
  }

  int Inputs() const { return model_.Inputs(); }
  int Outputs() const { return model_.Outputs(); }
  py::list Ranges() const { return RangeTuples(model_.Features()); }
  py::list Classes() const { return DecodedList(model_.Classes()); }
  py::str ClassColumn() const { return Decoded(model_.Ranges().classColumn); }
  double Error() const { return model_.TrainingError(); }

  py::dict Structure() {
    std::lock_guard<std::mutex> hold(lock_);
    const kestrane::NetworkStructure s = model_.Structure();
    py::dict d;
    d["inputs"] = s.inputs;
    d["input_mfs"] = s.inputMFs;
    d["rules"] = s.rules;
    d["output_mfs"] = s.outputMFs;
    d["outputs"] = s.outputs;
    return d;
  }

  std::vector<double> WeightLayer(int layer) {
    std::lock_guard<std::mutex> hold(lock_);
    return model_.WeightLayer(layer);
  }

  py::array_t<double> Memberships(int feature, const std::vector<double> &values) {
    std::vector<double> degrees;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (feature < 0 || feature >= model_.Inputs())
        throw py::index_error("no such feature");
      degrees = model_.Memberships(feature, values);
    }
    const auto n = static_cast<py::ssize_t>(values.size());
    const py::ssize_t m = n == 0 ? 0 : static_cast<py::ssize_t>(degrees.size()) / n;
    py::array_t<double> out({n, m});
    std::copy(degrees.begin(), degrees.end(), out.mutable_data());
    return out;
  }

  // The rule base as kestrane-tool rules --json reports it, for the given
  // class names; with rows (X and their class indices) the measures on them.
  std::string RulesJson(const std::vector<std::string> &classes, double minWeightShare,
                        double minWeight, int top, int shuffles, uint32_t seed,
                        const std::optional<RowArray> &X,
                        const std::optional<IndexArray> &classOf) {
    kestrane::RuleOptions options;
    options.minWeightShare = minWeightShare;
    options.minWeight = minWeight;
    options.shuffles = shuffles;
    options.seed = seed;
    if (top >= 0)
      options.votes.maxRules = top;
    std::optional<std::vector<std::vector<double>>> rows;
    std::vector<int> classIndex;
    if (X) {
      rows = Rows(*X);
      if (!classOf || classOf->ndim() != 1 ||
          static_cast<size_t>(classOf->shape(0)) != rows->size()) {
        throw py::value_error("one class index per row expected");
      }
      classIndex.assign(classOf->data(), classOf->data() + classOf->shape(0));
    }
    py::gil_scoped_release free;
    std::lock_guard<std::mutex> hold(lock_);
    // The names the estimator gives win over those the model was made with.
    kestrane::RuleBase base =
        model_.Rules(options, rows ? &*rows : nullptr, rows ? &classIndex : nullptr,
                     classes.empty() ? nullptr : &classes);
    kestrane::KeepTopRules(base, top);
    return kestrane::RulesJson(base, kestrane::RuleReportSource{});
  }

  // Every row explained (Boot/Explain.h), as arrays over the rows: the
  // rules' terms of every action neuron's net input sum, in node order and
  // after the base, to the net input bit for bit.
  py::dict Explain(const RowArray &X, int top) {
    std::vector<std::vector<double>> rows = Rows(X);
    std::vector<kestrane::ExplainedRow> explained;
    {
      py::gil_scoped_release free;
      std::lock_guard<std::mutex> hold(lock_);
      explained = model_.Explain(std::move(rows), top);
    }
    const auto n = static_cast<py::ssize_t>(explained.size());
    const kestrane::NetworkStructure s = Structure_();
    py::ssize_t A = 0, C = 0;
    for (int m : s.outputMFs)
      A += m;
    for (int m : s.inputMFs)
      C += m;
    const py::ssize_t R = s.rules, O = s.outputs, I = s.inputs;
    py::array_t<double> outputs({n, O}), margins({n, O}), voteBase({n, O});
    py::array_t<int64_t> predicted(n);
    py::array_t<double> scaled({n, I}), degrees({n, C});
    py::array_t<double> firing({n, R}), ruleNet({n, R}), ruleBase({n, R});
    py::array_t<double> toTerms({n, R, A}), votes({n, R, O});
    py::array_t<double> base({n, A}), net({n, A}), activation({n, A});
    py::list strongest;
    for (py::ssize_t r = 0; r < n; ++r) {
      const kestrane::ExplainedRow &e = explained[static_cast<size_t>(r)];
      std::copy(e.outputs.begin(), e.outputs.end(), outputs.mutable_data(r, 0));
      std::copy(e.margins.begin(), e.margins.end(), margins.mutable_data(r, 0));
      std::copy(e.voteBase.begin(), e.voteBase.end(), voteBase.mutable_data(r, 0));
      predicted.mutable_at(r) = e.predicted;
      std::copy(e.scaled.begin(), e.scaled.end(), scaled.mutable_data(r, 0));
      std::copy(e.degrees.begin(), e.degrees.end(), degrees.mutable_data(r, 0));
      for (py::ssize_t q = 0; q < R; ++q) {
        const kestrane::ExplainedRule &rule = e.rules[static_cast<size_t>(q)];
        firing.mutable_at(r, q) = rule.firing;
        ruleNet.mutable_at(r, q) = rule.net;
        ruleBase.mutable_at(r, q) = rule.base;
        std::copy(rule.toTerms.begin(), rule.toTerms.end(), toTerms.mutable_data(r, q, 0));
        std::copy(rule.votes.begin(), rule.votes.end(), votes.mutable_data(r, q, 0));
      }
      for (py::ssize_t k = 0; k < A; ++k) {
        const kestrane::ExplainedTerm &t = e.terms[static_cast<size_t>(k)];
        base.mutable_at(r, k) = t.base;
        net.mutable_at(r, k) = t.net;
        activation.mutable_at(r, k) = t.activation;
      }
      py::list rules;
      for (size_t q = 0; q < e.strongest.size(); ++q) {
        py::list conditions;
        for (const kestrane::ExplainedCondition &c : e.behind[q]) {
          const std::string &feature = model_.Features()[static_cast<size_t>(c.input)].name;
          const int terms = s.inputMFs[static_cast<size_t>(c.input)];
          conditions.append(py::dict(py::arg("feature") = feature,
                                     py::arg("term") = kestrane::TermName(c.term, terms),
                                     py::arg("degree") = c.degree, py::arg("weight") = c.weight,
                                     py::arg("contribution") = c.contribution));
        }
        rules.append(
            py::dict(py::arg("rule") = e.strongest[q], py::arg("conditions") = conditions));
      }
      strongest.append(rules);
    }
    py::dict d;
    d["outputs"] = outputs;
    d["predicted"] = predicted;
    d["margins"] = margins;
    d["vote_base"] = voteBase;
    d["scaled"] = scaled;
    d["degrees"] = degrees;
    d["firing"] = firing;
    d["rule_net"] = ruleNet;
    d["rule_base"] = ruleBase;
    d["contributions"] = toTerms;
    d["votes"] = votes;
    d["base"] = base;
    d["net"] = net;
    d["activation"] = activation;
    d["strongest"] = strongest;
    return d;
  }

  // The HTML report (Boot/HtmlReport.h) on rows X and their class indices.
  std::string ReportHtml(const std::vector<std::string> &classes, const RowArray &X,
                         const IndexArray &classOf, const std::string &title) {
    std::vector<std::vector<double>> rows = Rows(X);
    if (classOf.ndim() != 1 || static_cast<size_t>(classOf.shape(0)) != rows.size())
      throw py::value_error("one class index per row expected");
    std::vector<int> classIndex(classOf.data(), classOf.data() + classOf.shape(0));
    py::gil_scoped_release free;
    std::lock_guard<std::mutex> hold(lock_);
    return model_.Report(rows, classIndex, title, &classes);
  }

private:
  kestrane::NetworkStructure Structure_() {
    std::lock_guard<std::mutex> hold(lock_);
    return model_.Structure();
  }

  kestrane::Model model_;
  std::mutex lock_;
};

// Thrown through the trainer when Python has an exception to raise: the run
// stops at once and the fit raises it.
struct PythonErrorPending {};

// Hears every epoch of a fit while the GIL is released: keeps the epoch's
// error and, every 0.2 s, takes the GIL to let Python run its signal handlers
// (Ctrl-C raises KeyboardInterrupt there) and to hand `report` the epoch, the
// epoch budget, the error and the seconds since the start.
class FitWatch {
public:
  FitWatch(py::object report, double reportEvery)
      : report_(std::move(report)), reportEvery_(reportEvery), start_(Clock::now()),
        nextCheck_(start_ + kCheckEvery), nextReport_(start_ + Span(reportEvery)) {}

  void operator()(const kestrane::TVemoBPBootStrap::Progress &progress) {
    errors.push_back(progress.error);
    const Clock::time_point now = Clock::now();
    if (now < nextCheck_)
      return;
    nextCheck_ = now + kCheckEvery;
    py::gil_scoped_acquire hold;
    if (PyErr_CheckSignals() != 0)
      throw PythonErrorPending{};
    if (report_.is_none() || now < nextReport_)
      return;
    nextReport_ = now + Span(reportEvery_);
    try {
      report_(progress.epochsSpent, progress.totalEpochs, progress.error,
              std::chrono::duration<double>(now - start_).count());
    } catch (py::error_already_set &e) {
      e.restore();
      throw PythonErrorPending{};
    }
  }

  std::vector<double> errors; // of every epoch

private:
  using Clock = std::chrono::steady_clock;
  static Clock::duration Span(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  }
  static constexpr std::chrono::milliseconds kCheckEvery{200};
  py::object report_;
  double reportEvery_;
  Clock::time_point start_;
  Clock::time_point nextCheck_;
  Clock::time_point nextReport_;
};

// Import (no hold-out), create --seed and a Kestrane run with Seed, in
// memory: the pipeline's Fit, the model kept as its file holds it. Returns
// the model and the error of every epoch.
py::tuple Fit(const RowArray &X, const std::vector<std::string> &labels,
              const std::vector<std::string> &featureNames, const std::string &classColumn,
              const kestrane::NetworkShape &shape, const kestrane::TrainSettings &settings,
              const std::vector<int32_t> &rowCopies, const py::object &report, double reportEvery,
              const py::object &validationScores) {
  std::vector<std::vector<double>> rows = Rows(X);
  if (labels.size() != rows.size())
    throw py::value_error("one class label per row expected");
  if (rows.empty())
    throw py::value_error("no rows to fit");
  auto watch = std::make_shared<FitWatch>(report, reportEvery);
  std::unique_ptr<PyModel> fitted;
  kestrane::ValidationScores validation;
  try {
    py::gil_scoped_release free;
    kestrane::Model model = kestrane::Fit(
        rows, labels, featureNames, shape, settings,
        [watch](const auto &progress) { (*watch)(progress); }, classColumn, rowCopies, &validation);
    model.KeepAsSaved();
    fitted = std::make_unique<PyModel>(std::move(model));
  } catch (const PythonErrorPending &) {
    throw py::error_already_set();
  }
  py::array_t<double> errors(static_cast<py::ssize_t>(watch->errors.size()));
  std::copy(watch->errors.begin(), watch->errors.end(), errors.mutable_data());
  if (!validationScores.is_none()) {
    for (double score : validation.scores)
      validationScores.attr("append")(score);
  }
  return py::make_tuple(std::move(fitted), errors);
}

// The self-tuning search (Boot/AutoSearch.h) on X and its labels, the GIL
// released. Signals are handled, and report(entry, fold, planned) called, as
// a fold starts on the calling thread: the error indicator and the signal
// handlers belong to it. Returns a dict of the entries that ran.
py::dict AutoSearch(const RowArray &X, const std::vector<std::string> &labels,
                    const std::vector<std::string> &featureNames, int folds, uint32_t seed,
                    int jobs, double timeBudget, int maxCombinations, double weightMin,
                    double weightMax, const py::object &report) {
  kestrane::LabelledData data{Rows(X), labels, featureNames, "class"};
  if (labels.size() != data.rows.size())
    throw py::value_error("one class label per row expected");
  kestrane::AutoRequest request;
  request.folds = folds;
  request.seed = seed;
  request.jobs = jobs;
  request.timeBudget = timeBudget;
  request.maxCombinations = maxCombinations;
  request.weightMin = weightMin;
  request.weightMax = weightMax;
  const std::thread::id caller = std::this_thread::get_id();
  std::optional<kestrane::AutoResult> result;
  try {
    py::gil_scoped_release free;
    result.emplace(
        kestrane::AutoSearch(data, request, [&](long long entry, int fold, long long planned) {
          if (std::this_thread::get_id() != caller)
            return;
          py::gil_scoped_acquire hold;
          if (PyErr_CheckSignals() != 0)
            throw PythonErrorPending{};
          if (report.is_none())
            return;
          try {
            report(entry, fold, planned);
          } catch (py::error_already_set &e) {
            e.restore();
            throw PythonErrorPending{};
          }
        }));
  } catch (const PythonErrorPending &) {
    throw py::error_already_set();
  }
  const kestrane::AutoResult &r = *result;
  const auto value = [&](const kestrane::GridPoint &p, kestrane::GridAxis axis) {
    return r.grid.values[axis][p.pick[axis]];
  };
  py::list points;
  for (const kestrane::GridPoint &p : r.search.points) {
    py::dict point;
    point["n_rules"] = p.shape.rules;
    point["input_mfs"] = static_cast<int>(value(p, kestrane::kGridInputMFs));
    point["learning_rate"] = value(p, kestrane::kGridLearningRate);
    point["epochs"] = p.settings.epochs;
    point["balanced"] = p.settings.sampling == kestrane::ClassSampling::kBalanced;
    point["percent"] = p.percent;
    point["mean"] = p.mean;
    point["deviation"] = p.deviation;
    point["diverged"] = p.diverged;
    points.append(point);
  }
  py::dict out;
  out["points"] = points;
  out["best"] = r.search.best;
  out["entries"] = r.entries;
  out["cut"] = r.cut;
  out["first_seconds"] = r.firstSeconds;
  return out;
}

py::dict Defaults() {
  const kestrane::FitDefaults &d = kestrane::kDefaults;
  py::dict out;
  out["input_mfs"] = d.inputMFs;
  out["output_mfs"] = d.outputMFs;
  out["weight_range"] = py::make_tuple(d.weightMin, d.weightMax);
  out["epochs"] = d.epochs;
  out["change_after"] = d.changeAfter;
  out["learning_rate"] = d.learningRate;
  out["momentum"] = d.momentum;
  out["batch"] = d.batch;
  out["learn_centres"] = d.learnCentres;
  out["random_state"] = d.seed;
  out["scaling"] = d.robustScaling ? "robust" : "minmax";
  out["centres"] = d.quantileCentres ? "quantile" : "even";
  out["time_budget"] = kestrane::kAutoTimeBudget;
  out["cv"] = kestrane::kAutoFolds;
  return out;
}

} // namespace

PYBIND11_MODULE(_kestrane, m) {
  m.doc() = "The Kestrane library: fit pipeline, network files and recall.";
  kestrane_python::AddWarningCategory(m);

  py::register_exception_translator([](std::exception_ptr p) {
    // Every failure reads as the programs word it, on one line; a bad
    // setting names the estimator's parameter.
    try {
      if (p)
        std::rethrow_exception(p);
    } catch (const kestrane::TException &) {
      PyErr_SetString(PyExc_RuntimeError, kestrane::FailureLine(p, ParameterName).c_str());
    } catch (const kestrane::TKestraneError &) {
      PyErr_SetString(PyExc_ValueError, kestrane::FailureLine(p, ParameterName).c_str());
    } catch (const std::bad_alloc &) {
      PyErr_SetString(PyExc_MemoryError, kestrane::FailureLine(p, ParameterName).c_str());
    }
  });

  py::class_<kestrane::NetworkShape>(m, "NetworkShape")
      .def(py::init<>())
      .def_readwrite("rules", &kestrane::NetworkShape::rules)
      .def_readwrite("input_mfs", &kestrane::NetworkShape::inputMFs)
      .def_readwrite("output_mfs", &kestrane::NetworkShape::outputMFs)
      .def_readwrite("weight_min", &kestrane::NetworkShape::weightMin)
      .def_readwrite("weight_max", &kestrane::NetworkShape::weightMax)
      .def_readwrite("seed", &kestrane::NetworkShape::seed)
      .def_readwrite("input_centres", &kestrane::NetworkShape::inputCentres);
  py::enum_<kestrane::RangeFit>(m, "RangeFit")
      .value("minmax", kestrane::RangeFit::kMinMax)
      .value("robust", kestrane::RangeFit::kRobust);
  py::enum_<kestrane::CentrePlacement>(m, "CentrePlacement")
      .value("even", kestrane::CentrePlacement::kEven)
      .value("quantile", kestrane::CentrePlacement::kQuantile);
  py::enum_<kestrane::ClassSampling>(m, "ClassSampling")
      .value("balanced", kestrane::ClassSampling::kBalanced)
      .value("proportional", kestrane::ClassSampling::kProportional);
  py::class_<kestrane::TrainSettings>(m, "TrainSettings")
      .def(py::init<>())
      .def_readwrite("examples", &kestrane::TrainSettings::examples)
      .def_readwrite("sampling", &kestrane::TrainSettings::sampling)
      .def_readwrite("examples_per_round", &kestrane::TrainSettings::examplesPerRound)
      .def_readwrite("with_replacement", &kestrane::TrainSettings::withReplacement)
      .def_readwrite("epochs", &kestrane::TrainSettings::epochs)
      .def_readwrite("change_after", &kestrane::TrainSettings::changeAfter)
      .def_readwrite("learning_rate", &kestrane::TrainSettings::learningRate)
      .def_readwrite("momentum", &kestrane::TrainSettings::momentum)
      .def_readwrite("batch", &kestrane::TrainSettings::batch)
      .def_readwrite("learn_centres", &kestrane::TrainSettings::learnCentres)
      .def_readwrite("seed", &kestrane::TrainSettings::seed)
      .def_readwrite("scaling", &kestrane::TrainSettings::scaling)
      .def_readwrite("centres", &kestrane::TrainSettings::centres)
      .def_readwrite("validation_fraction", &kestrane::TrainSettings::validationFraction)
      .def_readwrite("rounds_no_change", &kestrane::TrainSettings::roundsNoChange)
      .def_readwrite("tolerance", &kestrane::TrainSettings::tolerance);

  py::class_<PyModel>(m, "Model")
      .def_static("from_text", Reporting(&PyModel::FromText), py::arg("text"), py::arg("names"),
                  py::arg("mins"), py::arg("maxs"), py::arg("classes") = std::vector<std::string>{},
                  py::arg("class_column") = "class",
                  "A model from network file text and the scaling ranges of its inputs.")
      .def("text", Reporting(&PyModel::Text), "The network file text, as the programs write it.")
      .def("save", Reporting(&PyModel::Save), py::arg("prefix"), py::arg("beside"),
           "Writes PREFIX.wgt, PREFIX.ranges and PREFIX+suffix for every (suffix, text) of "
           "beside, all or none, as the programs save their files.")
      .def_static("load", Reporting(&PyModel::Load), py::arg("prefix"), py::arg("suffixes"),
                  "(model, {suffix: text}) of PREFIX.wgt, PREFIX.ranges and the files "
                  "PREFIX+suffix that exist, read as the programs read them.")
      .def("ranges_text", Reporting(&PyModel::RangesText),
           "The ranges file text, as import writes it.")
      .def("recall", Reporting(&PyModel::Recall), py::arg("X"),
           "Raw outputs (rows x outputs) and predicted output index of every row of X, "
           "X scaled by the fitted ranges first.")
      .def_property_readonly("inputs", &PyModel::Inputs)
      .def_property_readonly("outputs", &PyModel::Outputs)
      .def("mark_categories", Reporting(&PyModel::MarkCategories), py::arg("column_and_category"),
           "Marks inputs encoded from a column of categories: (column, category) per input, "
           "('', '') for an ordinary one.")
      .def_property_readonly("categories", &PyModel::Categories,
                             "Per input, (column, category) of a categorical input, else None.")
      .def_property_readonly("ranges", &PyModel::Ranges,
                             "(name, minimum, maximum) of every feature.")
      .def_property_readonly("classes", &PyModel::Classes, "The class names in output order.")
      .def_property_readonly("class_column", &PyModel::ClassColumn)
      .def_property_readonly("error", &PyModel::Error, "Error of the last training epoch.")
      .def("structure", Reporting(&PyModel::Structure))
      .def("weight_layer", Reporting(&PyModel::WeightLayer), py::arg("layer"))
      .def("memberships", Reporting(&PyModel::Memberships), py::arg("feature"), py::arg("values"))
      .def("explain", Reporting(&PyModel::Explain), py::arg("X"), py::arg("top"))
      .def("report_html", Reporting(&PyModel::ReportHtml), py::arg("classes"), py::arg("X"),
           py::arg("class_index"), py::arg("title"))
      .def("rules_json", Reporting(&PyModel::RulesJson), py::arg("classes"),
           py::arg("min_weight_share"), py::arg("min_weight"), py::arg("top"), py::arg("shuffles"),
           py::arg("seed"), py::arg("X") = py::none(), py::arg("class_index") = py::none());

  m.def("fit", Reporting(&Fit), py::arg("X"), py::arg("labels"), py::arg("feature_names"),
        py::arg("class_column"), py::arg("shape"), py::arg("settings"),
        py::arg("row_copies") = std::vector<int32_t>{}, py::arg("report") = py::none(),
        py::arg("report_every") = 1.0, py::arg("validation_scores") = py::none(),
        "Scales X, encodes the labels (numbers in numeric order, else text order), builds one "
        "table per class, creates the network as create --seed does and trains it as Kestrane "
        "does with Seed; (model, error of every epoch). Releases the GIL; signals are handled "
        "every 0.2 s, and report(epoch, epochs, error, seconds) is called at most every "
        "report_every seconds. An early-stopped fit appends the validation score of every round "
        "to the list validation_scores.");
  m.def("auto_search", Reporting(&AutoSearch), py::arg("X"), py::arg("labels"),
        py::arg("feature_names"), py::arg("folds"), py::arg("seed"), py::arg("jobs"),
        py::arg("time_budget"), py::arg("max_combinations"), py::arg("weight_min"),
        py::arg("weight_max"), py::arg("report") = py::none(),
        "The self-tuning search of cv --auto: the entries that ran, their fold accuracies "
        "in %, the best one's index, whether the time budget left entries out.");
  m.def("defaults", Reporting(&Defaults),
        "The defaults of every setting, shared with the programs.");
  m.def(
      "sorted_class_names",
      +[](const std::vector<std::string> &labels) { return kestrane::EncodeClasses(labels).names; },
      py::arg("labels"), "The classes of the labels in output order.");
  m.def("starter_rule_count", Reporting(&kestrane::StarterRuleCount), py::arg("features"),
        py::arg("classes"), "The rule count import suggests for create.");
  m.def("ranges_text",
        Reporting(+[](const std::string &classColumn, const std::vector<std::string> &names,
                      const std::vector<double> &mins, const std::vector<double> &maxs,
                      const std::vector<std::string> &classes) {
          kestrane::ImportRanges ranges;
          ranges.classColumn = classColumn;
          ranges.features = MakeRanges(names, mins, maxs);
          ranges.classes = classes;
          return kestrane::RangesText(ranges);
        }),
        py::arg("class_column"), py::arg("names"), py::arg("mins"), py::arg("maxs"),
        py::arg("classes"), "The ranges file text import writes.");
  m.def("parse_ranges", Reporting(+[](const std::string &text) {
          const kestrane::ImportRanges ranges = kestrane::RangesFromText(text);
          return py::make_tuple(Decoded(ranges.classColumn), RangeTuples(ranges.features),
                                DecodedList(ranges.classes));
        }),
        py::arg("text"), "(class column, [(name, min, max)], classes) of ranges file text.");
}

// The Python extension kestrane._kestrane: the headless pipeline (fit, the
// model and its answers, the rule report) over NumPy arrays. The pure-Python
// package on top of it holds the scikit-learn estimator.

#include "Boot/Pipeline.h"

#include "CallDiagnostics.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
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

py::list RangeTuples(const std::vector<FeatureRange> &features) {
  py::list list;
  for (const FeatureRange &f : features)
    list.append(py::make_tuple(f.name, f.min, f.max));
  return list;
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
  std::string RangesText() {
    std::lock_guard<std::mutex> hold(lock_);
    return model_.RangesText();
  }

  // The raw outputs and the predicted class index of every row.
  py::tuple Recall(const RowArray &X) {
    std::vector<std::vector<double>> rows = Rows(X);
    kestrane::Prediction prediction;
    {
      py::gil_scoped_release free;
      std::lock_guard<std::mutex> hold(lock_);
      prediction = model_.Predict(std::move(rows));
    }
    const auto n = static_cast<py::ssize_t>(prediction.predicted.size());
    py::array_t<double> outputs({n, static_cast<py::ssize_t>(model_.Outputs())});
    std::copy(prediction.outputs.begin(), prediction.outputs.end(), outputs.mutable_data());
    py::array_t<int64_t> predicted(n);
    std::copy(prediction.predicted.begin(), prediction.predicted.end(), predicted.mutable_data());
    return py::make_tuple(outputs, predicted);
  }

  int Inputs() const { return model_.Inputs(); }
  int Outputs() const { return model_.Outputs(); }
  py::list Ranges() const { return RangeTuples(model_.Features()); }
  std::vector<std::string> Classes() const { return model_.Classes(); }
  std::string ClassColumn() const { return model_.Ranges().classColumn; }
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
        model_.Rules(options, rows ? &*rows : nullptr, rows ? &classIndex : nullptr, &classes);
    kestrane::KeepTopRules(base, top);
    return kestrane::RulesJson(base, kestrane::RuleReportSource{});
  }

private:
  kestrane::Model model_;
  std::mutex lock_;
};

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
  }
  return "setting";
}

// Import (no hold-out), create --seed and a Kestrane run with Seed, in
// memory: the pipeline's Fit, the model kept as its file holds it.
std::unique_ptr<PyModel> Fit(const RowArray &X, const std::vector<std::string> &labels,
                             const std::vector<std::string> &featureNames,
                             const std::string &classColumn, const kestrane::NetworkShape &shape,
                             const kestrane::TrainSettings &settings) {
  std::vector<std::vector<double>> rows = Rows(X);
  if (labels.size() != rows.size())
    throw py::value_error("one class label per row expected");
  if (rows.empty())
    throw py::value_error("no rows to fit");
  py::gil_scoped_release free;
  kestrane::Model model =
      kestrane::Fit(rows, labels, featureNames, shape, settings, nullptr, classColumn);
  model.KeepAsSaved();
  return std::make_unique<PyModel>(std::move(model));
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
  out["random_state"] = d.seed;
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
    }
  });

  py::class_<kestrane::NetworkShape>(m, "NetworkShape")
      .def(py::init<>())
      .def_readwrite("rules", &kestrane::NetworkShape::rules)
      .def_readwrite("input_mfs", &kestrane::NetworkShape::inputMFs)
      .def_readwrite("output_mfs", &kestrane::NetworkShape::outputMFs)
      .def_readwrite("weight_min", &kestrane::NetworkShape::weightMin)
      .def_readwrite("weight_max", &kestrane::NetworkShape::weightMax)
      .def_readwrite("seed", &kestrane::NetworkShape::seed);
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
      .def_readwrite("seed", &kestrane::TrainSettings::seed);

  py::class_<PyModel>(m, "Model")
      .def_static("from_text", Reporting(&PyModel::FromText), py::arg("text"), py::arg("names"),
                  py::arg("mins"), py::arg("maxs"), py::arg("classes") = std::vector<std::string>{},
                  py::arg("class_column") = "class",
                  "A model from network file text and the scaling ranges of its inputs.")
      .def("text", Reporting(&PyModel::Text), "The network file text, as the programs write it.")
      .def("ranges_text", Reporting(&PyModel::RangesText),
           "The ranges file text, as import writes it.")
      .def("recall", Reporting(&PyModel::Recall), py::arg("X"),
           "Raw outputs (rows x outputs) and predicted output index of every row of X, "
           "X scaled by the fitted ranges first.")
      .def_property_readonly("inputs", &PyModel::Inputs)
      .def_property_readonly("outputs", &PyModel::Outputs)
      .def_property_readonly("ranges", &PyModel::Ranges,
                             "(name, minimum, maximum) of every feature.")
      .def_property_readonly("classes", &PyModel::Classes, "The class names in output order.")
      .def_property_readonly("class_column", &PyModel::ClassColumn)
      .def_property_readonly("error", &PyModel::Error, "Error of the last training epoch.")
      .def("structure", Reporting(&PyModel::Structure))
      .def("weight_layer", Reporting(&PyModel::WeightLayer), py::arg("layer"))
      .def("memberships", Reporting(&PyModel::Memberships), py::arg("feature"), py::arg("values"))
      .def("rules_json", Reporting(&PyModel::RulesJson), py::arg("classes"),
           py::arg("min_weight_share"), py::arg("min_weight"), py::arg("top"), py::arg("shuffles"),
           py::arg("seed"), py::arg("X") = py::none(), py::arg("class_index") = py::none());

  m.def("fit", Reporting(&Fit), py::arg("X"), py::arg("labels"), py::arg("feature_names"),
        py::arg("class_column"), py::arg("shape"), py::arg("settings"),
        "Scales X, encodes the labels (numbers in numeric order, else text order), builds one "
        "table per class, creates the network as create --seed does and trains it as Kestrane "
        "does with Seed. Releases the GIL.");
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
          return py::make_tuple(ranges.classColumn, RangeTuples(ranges.features), ranges.classes);
        }),
        py::arg("text"), "(class column, [(name, min, max)], classes) of ranges file text.");
}

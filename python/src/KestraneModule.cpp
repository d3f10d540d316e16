// The Python extension kestrane._kestrane: the fit pipeline, the network file
// text and the answers of a trained network, over NumPy arrays. The pure-Python
// package on top of it holds the scikit-learn estimator.

#include "Boot/FitPipeline.h"
#include "Boot/RuleReport.h"
#include "Boot/RuleToolInputs.h"
#include "DataObject/Data.h"
#include "DataTools/CsvImport/ImportError.h"
#include "DataTools/CsvImport/RangesFile.h"
#include "DataTools/CsvImport/StarterParameters.h"
#include "FileHandler/ParseTools.h"
#include "KQmessage/KestraneError.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TBasicNetwork.h"
#include "Vemo/TConditionLayer.h"
#include "Vemo/TVemo.h"

#include "CallDiagnostics.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace py = pybind11;
using kestrane::FeatureRange;
using kestrane::TBasicNetwork;
using kestrane_python::Reporting;

namespace {

using RowArray = py::array_t<double, py::array::c_style | py::array::forcecast>;
using IndexArray = py::array_t<int32_t, py::array::c_style | py::array::forcecast>;

// The C library's rand state is one per process: creating and training a
// network must not interleave with another fit in a second thread.
std::mutex &RandLock() {
  static std::mutex lock;
  return lock;
}

std::vector<std::vector<double>> Rows(const RowArray &X) {
  if (X.ndim() != 2) throw py::value_error("expected a 2-D array of feature values");
  const auto n = static_cast<size_t>(X.shape(0));
  const auto f = static_cast<size_t>(X.shape(1));
  std::vector<std::vector<double>> rows(n);
  const double *data = X.data();
  for (size_t r = 0; r < n; ++r) rows[r].assign(data + r * f, data + (r + 1) * f);
  return rows;
}

// A trained network and the scaling it was trained for. A network's recall
// writes into its layers, so one model answers one call at a time.
class Model {
public:
  Model(std::vector<FeatureRange> ranges, std::unique_ptr<TBasicNetwork> network, double error)
      : ranges_(std::move(ranges)), network_(std::move(network)), error_(error) {
    vemo_ = dynamic_cast<kestrane::TVemo *>(network_.get());
  }

  static std::unique_ptr<Model> FromText(const std::string &text, std::vector<FeatureRange> ranges) {
    std::istringstream in(text);
    kestrane::FileTools tools;
    auto network = tools.ReadNetwork(in);
    const int inputs = network->layers.at(network->inLayer)->GetNumNeurons();
    if (static_cast<int>(ranges.size()) != inputs) {
      throw kestrane::TRunError("the ranges give " + std::to_string(ranges.size()) +
                                " features, the network takes " + std::to_string(inputs));
    }
    return std::make_unique<Model>(std::move(ranges), std::move(network), 0.0);
  }

  std::string Text() {
    std::lock_guard<std::mutex> hold(lock_);
    std::ostringstream out;
    kestrane::FileTools tools;
    tools.WriteNetwork(out, *network_);
    return out.str();
  }

  int Inputs() const { return network_->layers.at(network_->inLayer)->GetNumNeurons(); }
  int Outputs() const { return network_->layers.at(network_->outLayer)->GetNumNeurons(); }

  // The raw outputs and the class eval counts for every row, scaled by the
  // fitted ranges first (values outside them clipped, as import --ranges does).
  py::tuple Recall(const RowArray &X) {
    std::vector<std::vector<double>> rows = Rows(X);
    const int O = Outputs();
    py::array_t<double> outputs({static_cast<py::ssize_t>(rows.size()), static_cast<py::ssize_t>(O)});
    py::array_t<int64_t> predicted(static_cast<py::ssize_t>(rows.size()));
    double *out = outputs.mutable_data();
    int64_t *classes = predicted.mutable_data();
    {
      py::gil_scoped_release free;
      std::lock_guard<std::mutex> hold(lock_);
      CheckWidth(rows);
      kestrane::ScaleRows(ranges_, rows);
      const std::vector<double> recalled = kestrane::RecallRows(*network_, rows);
      std::copy(recalled.begin(), recalled.end(), out);
      for (size_t r = 0; r < rows.size(); ++r) {
        classes[r] = kestrane::PredictedClass(&recalled[r * static_cast<size_t>(O)], O);
      }
    }
    return py::make_tuple(outputs, predicted);
  }

  void CheckWidth(const std::vector<std::vector<double>> &rows) const {
    for (const auto &row : rows) {
      if (row.size() != ranges_.size()) {
        throw kestrane::TRunError("a row of " + std::to_string(row.size()) +
                                  " values; the model takes " + std::to_string(ranges_.size()));
      }
    }
  }

  py::list Ranges() const {
    py::list list;
    for (const FeatureRange &f : ranges_) list.append(py::make_tuple(f.name, f.min, f.max));
    return list;
  }

  kestrane::TVemo &Vemo() {
    if (!vemo_) throw kestrane::TRunError("the network is no fuzzy (Vemo) network");
    return *vemo_;
  }

  py::dict Structure() {
    int inputs, conditions, rules, actions, outputs;
    std::vector<int> inputMFs, outputMFs;
    std::lock_guard<std::mutex> hold(lock_);
    Vemo().GetStructure(inputs, conditions, inputMFs, rules, actions, outputMFs, outputs);
    py::dict d;
    d["inputs"] = inputs;
    d["input_mfs"] = inputMFs;
    d["rules"] = rules;
    d["output_mfs"] = outputMFs;
    d["outputs"] = outputs;
    return d;
  }

  // Weight layer 1: condition centres; 2: condition -> rule; 3: rule ->
  // action; 4: output centres (TVemo::GetWeightLayer).
  std::vector<double> WeightLayer(int layer) {
    std::lock_guard<std::mutex> hold(lock_);
    return Vemo().GetWeightLayer(layer);
  }

  // The degree of every membership function of `feature` for each of the
  // scaled input values, the other inputs held at 0.5: rows x functions.
  py::array_t<double> Memberships(int feature, const std::vector<double> &values) {
    std::lock_guard<std::mutex> hold(lock_);
    kestrane::TVemo &vemo = Vemo();
    int inputs, conditions, rules, actions, outputs;
    std::vector<int> inputMFs, outputMFs;
    vemo.GetStructure(inputs, conditions, inputMFs, rules, actions, outputMFs, outputs);
    if (feature < 0 || feature >= inputs) throw py::index_error("no such feature");
    int first = 0;
    for (int i = 0; i < feature; ++i) first += inputMFs[i];
    const int m = inputMFs[feature];
    py::array_t<double> degrees({static_cast<py::ssize_t>(values.size()), static_cast<py::ssize_t>(m)});
    double *d = degrees.mutable_data();
    std::vector<double> in(static_cast<size_t>(inputs), 0.5);
    std::vector<double> out(static_cast<size_t>(outputs));
    for (size_t r = 0; r < values.size(); ++r) {
      in[feature] = values[r];
      vemo.Recall(in.data(), out.data());
      for (int k = 0; k < m; ++k) vemo.GetActivationValue(2, first + k, d[r * m + k]);
    }
    return degrees;
  }

  double Error() const { return error_; }

  // The rule base as kestrane-tool rules --json reports it, for the given
  // class names; with rows (X and their class indices) the measures on them.
  std::string RulesJson(const std::vector<std::string> &classes, double minWeightShare,
                        double minWeight, int top, int shuffles, uint32_t seed,
                        const std::optional<RowArray> &X, const std::optional<IndexArray> &classOf) {
    kestrane::ImportRanges ranges;
    ranges.features = ranges_;
    ranges.classes = classes;
    kestrane::RuleOptions options;
    options.minWeightShare = minWeightShare;
    options.minWeight = minWeight;
    options.shuffles = shuffles;
    options.seed = seed;
    std::optional<kestrane::ClassRows> rows;
    if (X) {
      std::vector<std::vector<double>> values = Rows(*X);
      if (!classOf || classOf->ndim() != 1 || static_cast<size_t>(classOf->shape(0)) != values.size()) {
        throw py::value_error("one class index per row expected");
      }
      rows.emplace();
      rows->inputs = static_cast<int>(ranges_.size());
      rows->classes.assign(classOf->data(), classOf->data() + classOf->shape(0));
      CheckWidth(values);
      kestrane::ScaleRows(ranges_, values);
      for (const auto &row : values) rows->values.insert(rows->values.end(), row.begin(), row.end());
    }
    py::gil_scoped_release free;
    std::lock_guard<std::mutex> hold(lock_);
    kestrane::RuleBase base =
        kestrane::ExtractRules(Vemo(), kestrane::VocabularyOf(ranges), options, rows ? &*rows : nullptr);
    kestrane::KeepTopRules(base, top);
    return kestrane::RulesJson(base, kestrane::RuleReportSource{});
  }

private:
  std::vector<FeatureRange> ranges_;
  std::unique_ptr<TBasicNetwork> network_;
  kestrane::TVemo *vemo_ = nullptr;
  double error_;
  std::mutex lock_;
};

struct FitRequest {
  int rules = 0;
  std::vector<int> inputMFs;
  std::vector<int> outputMFs;
  double weightMin = -0.5;
  double weightMax = 0.5;
  int epochs = 500;
  int changeAfter = 10;
  float learningRate = 0.1f;
  float momentum = 0.5f;
  bool batch = false;
  std::vector<int32_t> examples;
  uint32_t seed = 1;
};

// The steps of import (no hold-out), create --seed and a Kestrane run with
// Seed, on rows already encoded by class index 0 .. classes - 1.
std::unique_ptr<Model> Fit(const RowArray &X, const IndexArray &classOf, int numClasses,
                           const std::vector<std::string> &featureNames, const FitRequest &request) {
  std::vector<std::vector<double>> rows = Rows(X);
  if (classOf.ndim() != 1 || static_cast<size_t>(classOf.shape(0)) != rows.size()) {
    throw py::value_error("one class index per row expected");
  }
  if (rows.empty()) throw py::value_error("no rows to fit");
  if (featureNames.size() != rows[0].size()) throw py::value_error("one name per feature expected");
  std::vector<int> classes(classOf.data(), classOf.data() + classOf.shape(0));
  for (int c : classes) {
    if (c < 0 || c >= numClasses) throw py::value_error("class index out of range");
  }

  py::gil_scoped_release free;
  std::vector<FeatureRange> ranges = kestrane::ComputeRanges(featureNames, rows);
  kestrane::ScaleRows(ranges, rows);
  const auto tables = kestrane::BuildClassTables(rows, classes, numClasses);
  rows.clear();
  std::vector<kestrane::Data *> classTables;
  for (const auto &table : tables) classTables.push_back(table.get());

  kestrane::NetworkShape shape;
  shape.inputs = static_cast<int>(featureNames.size());
  shape.inputMFs = request.inputMFs;
  shape.rules = request.rules;
  shape.outputs = numClasses;
  shape.outputMFs = request.outputMFs;
  shape.weightMin = request.weightMin;
  shape.weightMax = request.weightMax;
  shape.seed = request.seed;
  kestrane::TrainSettings settings;
  settings.examples = request.examples;
  settings.epochs = request.epochs;
  settings.changeAfter = request.changeAfter;
  settings.learningRate = request.learningRate;
  settings.momentum = request.momentum;
  settings.batch = request.batch;
  settings.seed = request.seed;

  std::unique_ptr<TBasicNetwork> trained;
  double error;
  {
    std::lock_guard<std::mutex> hold(RandLock());
    trained = kestrane::CreateNetwork(shape);
    error = kestrane::TrainNetwork(*trained, classTables, settings);
  }
  // The model answers with the network as its file holds it (the weights at
  // the file's precision), so that the fitted estimator, a pickled copy, a
  // saved and loaded one and the programs reading the saved file all agree.
  kestrane::FileTools tools;
  std::stringstream text;
  tools.WriteNetwork(text, *trained);
  trained.reset();
  return std::make_unique<Model>(std::move(ranges), tools.ReadNetwork(text), error);
}

std::vector<FeatureRange> MakeRanges(const std::vector<std::string> &names,
                                     const std::vector<double> &mins, const std::vector<double> &maxs) {
  if (names.size() != mins.size() || names.size() != maxs.size()) {
    throw py::value_error("one name, minimum and maximum per feature expected");
  }
  std::vector<FeatureRange> ranges(names.size());
  for (size_t i = 0; i < names.size(); ++i) ranges[i] = FeatureRange{names[i], mins[i], maxs[i]};
  return ranges;
}

std::string RangesText(const std::string &classColumn, const std::vector<std::string> &names,
                       const std::vector<double> &mins, const std::vector<double> &maxs,
                       const std::vector<std::string> &classes) {
  kestrane::ImportRanges ranges;
  ranges.classColumn = classColumn;
  ranges.features = MakeRanges(names, mins, maxs);
  ranges.classes = classes;
  std::ostringstream out;
  kestrane::WriteRanges(out, ranges);
  return out.str();
}

py::tuple ParseRanges(const std::string &text) {
  std::istringstream in(text);
  const kestrane::ImportRanges ranges = kestrane::ReadRanges(in);
  py::list features;
  for (const FeatureRange &f : ranges.features) features.append(py::make_tuple(f.name, f.min, f.max));
  return py::make_tuple(ranges.classColumn, features, ranges.classes);
}

// The estimator's parameter of every setting.
std::string ParameterName(kestrane::Setting setting) {
  using kestrane::Setting;
  switch (setting) {
  case Setting::kRules: return "n_rules";
  case Setting::kInputMFs: return "input_mfs";
  case Setting::kOutputMFs: return "output_mfs";
  case Setting::kWeightRange: return "weight_range";
  case Setting::kEpochs: return "epochs";
  case Setting::kChangeAfter: return "change_after";
  case Setting::kLearningRate: return "learning_rate";
  case Setting::kMomentum: return "momentum";
  case Setting::kExamples: return "examples_per_class";
  case Setting::kSeed: return "random_state";
  }
  return "setting";
}

} // namespace

PYBIND11_MODULE(_kestrane, m) {
  m.doc() = "The Kestrane library: fit pipeline, network files and recall.";
  kestrane_python::AddWarningCategory(m);

  py::register_exception_translator([](std::exception_ptr p) {
    // Every failure reads as the programs would word it, on one line; a bad
    // setting names the estimator's parameter.
    try {
      if (p) std::rethrow_exception(p);
    } catch (const kestrane::TException &) {
      PyErr_SetString(PyExc_RuntimeError, kestrane::FailureLine(p, ParameterName).c_str());
    } catch (const kestrane::TKestraneError &) {
      PyErr_SetString(PyExc_ValueError, kestrane::FailureLine(p, ParameterName).c_str());
    }
  });

  py::class_<Model>(m, "Model")
      .def_static("from_text",
                  Reporting(+[](const std::string &text, const std::vector<std::string> &names,
                                const std::vector<double> &mins, const std::vector<double> &maxs) {
                    return Model::FromText(text, MakeRanges(names, mins, maxs));
                  }),
                  py::arg("text"), py::arg("names"), py::arg("mins"), py::arg("maxs"),
                  "A model from network file text and the scaling ranges of its inputs.")
      .def("text", Reporting(&Model::Text), "The network file text, as the programs write it.")
      .def("recall", Reporting(&Model::Recall), py::arg("X"),
           "Raw outputs (rows x outputs) and predicted output index of every row of X, "
           "X scaled by the fitted ranges first.")
      .def_property_readonly("inputs", &Model::Inputs)
      .def_property_readonly("outputs", &Model::Outputs)
      .def_property_readonly("ranges", &Model::Ranges, "(name, minimum, maximum) of every feature.")
      .def_property_readonly("error", &Model::Error, "Error of the last training epoch.")
      .def("structure", Reporting(&Model::Structure))
      .def("weight_layer", Reporting(&Model::WeightLayer), py::arg("layer"))
      .def("memberships", Reporting(&Model::Memberships), py::arg("feature"), py::arg("values"))
      .def("rules_json", Reporting(&Model::RulesJson), py::arg("classes"),
           py::arg("min_weight_share"), py::arg("min_weight"), py::arg("top"), py::arg("shuffles"),
           py::arg("seed"), py::arg("X") = py::none(), py::arg("class_index") = py::none());

  m.def(
      "fit",
      Reporting(+[](const RowArray &X, const IndexArray &classOf, int numClasses,
         const std::vector<std::string> &featureNames, int rules, std::vector<int> inputMFs,
         std::vector<int> outputMFs, double weightMin, double weightMax, int epochs,
         int changeAfter, double learningRate, double momentum, bool batch,
         std::vector<int32_t> examples, uint32_t seed) {
        FitRequest r;
        r.rules = rules;
        r.inputMFs = std::move(inputMFs);
        r.outputMFs = std::move(outputMFs);
        r.weightMin = weightMin;
        r.weightMax = weightMax;
        r.epochs = epochs;
        r.changeAfter = changeAfter;
        r.learningRate = static_cast<float>(learningRate);
        r.momentum = static_cast<float>(momentum);
        r.batch = batch;
        r.examples = std::move(examples);
        r.seed = seed;
        return Fit(X, classOf, numClasses, featureNames, r);
      }),
      py::arg("X"), py::arg("class_index"), py::arg("n_classes"), py::arg("feature_names"),
      py::arg("rules"), py::arg("input_mfs"), py::arg("output_mfs"), py::arg("weight_min"),
      py::arg("weight_max"), py::arg("epochs"), py::arg("change_after"),
      py::arg("learning_rate"), py::arg("momentum"), py::arg("batch"), py::arg("examples"),
      py::arg("seed"),
      "Scales X, builds one table per class, creates the network as create --seed does and "
      "trains it as Kestrane does with Seed. Releases the GIL; one fit at a time trains.");
  m.def("starter_rule_count", Reporting(&kestrane::StarterRuleCount), py::arg("features"),
        py::arg("classes"), "The rule count import suggests for create.");
  m.def("ranges_text", Reporting(&RangesText), py::arg("class_column"), py::arg("names"),
        py::arg("mins"), py::arg("maxs"), py::arg("classes"),
        "The ranges file text import writes.");
  m.def("parse_ranges", Reporting(&ParseRanges), py::arg("text"),
        "(class column, [(name, min, max)], classes) of ranges file text.");
}

#ifndef KESTRANE_PYTHON_CALLDIAGNOSTICS_H
#define KESTRANE_PYTHON_CALLDIAGNOSTICS_H

// What the library reports during a call from Python (KQmessage/Diagnostics.h)
// reaches Python as warnings of the category kestrane.KestraneWarning, never
// the interpreter's standard streams. Each call collects its own lines in a
// sink of its own thread, also while the GIL is released, and hands them to
// the warnings module once the C++ call is over, with the GIL held.
//
//   AddWarningCategory(m)        at import: creates kestrane.KestraneWarning
//   .def("name", Reporting(&Model::Name))   every binding that runs library code

#include "Boot/Pipeline.h"

#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace kestrane_python {

namespace py = pybind11;

inline PyObject *&WarningCategory() {
  static PyObject *category = nullptr; // one reference kept for the process
  return category;
}

inline void AddWarningCategory(py::module_ &m) {
  PyObject *category = PyErr_NewExceptionWithDoc(
      "kestrane.KestraneWarning",
      "What the Kestrane library reports without failing: warnings, and lines the programs print.",
      PyExc_UserWarning, nullptr);
  if (category == nullptr)
    throw py::error_already_set();
  WarningCategory() = category;
  m.add_object("KestraneWarning", py::handle(category));
}

// The sink of one call, installed for the calling thread while it lives.
class CallDiagnostics {
public:
  CallDiagnostics() : scope_(std::in_place, sink_) {}

  // Issues the lines as warnings; a warning the filters turn into an error
  // propagates as that error.
  void Emit() {
    scope_.reset();
    for (const std::string &line : Lines()) {
      if (PyErr_WarnEx(WarningCategory(), line.c_str(), 1) < 0)
        throw py::error_already_set();
    }
  }

  // The same beside a failure on its way to Python: the failure is what the
  // caller sees, even when a warning is turned into an error.
  void EmitBesideFailure() noexcept {
    scope_.reset();
    for (const std::string &line : Lines()) {
      if (PyErr_WarnEx(WarningCategory(), line.c_str(), 1) < 0) {
        PyErr_Clear();
        return;
      }
    }
  }

private:
  std::vector<std::string> Lines() {
    const size_t dropped = sink_.Dropped();
    std::vector<std::string> lines;
    for (kestrane::Diagnostic &d : sink_.Take())
      lines.push_back(std::move(d.line));
    if (dropped > 0)
      lines.push_back(std::to_string(dropped) + " more messages left out");
    return lines;
  }

  kestrane::TCollectingDiagnosticSink sink_;
  std::optional<kestrane::TDiagnosticScope> scope_;
};

template <typename Call>
auto Reported(Call &&call) -> decltype(call()) {
  CallDiagnostics diagnostics;
  try {
    if constexpr (std::is_void_v<decltype(call())>) {
      call();
      diagnostics.Emit();
    } else {
      auto result = call();
      diagnostics.Emit();
      return result;
    }
  } catch (...) {
    diagnostics.EmitBesideFailure();
    throw;
  }
}

// A binding's function with the same signature, run under its own sink.
template <typename Return, typename... Args>
auto Reporting(Return (*f)(Args...)) {
  return [f](Args... args) -> Return {
    return Reported([&] { return f(std::forward<Args>(args)...); });
  };
}

template <typename Return, typename Class, typename... Args>
auto Reporting(Return (Class::*f)(Args...)) {
  return [f](Class &self, Args... args) -> Return {
    return Reported([&] { return (self.*f)(std::forward<Args>(args)...); });
  };
}

template <typename Return, typename Class, typename... Args>
auto Reporting(Return (Class::*f)(Args...) const) {
  return [f](const Class &self, Args... args) -> Return {
    return Reported([&] { return (self.*f)(std::forward<Args>(args)...); });
  };
}

} // namespace kestrane_python

#endif

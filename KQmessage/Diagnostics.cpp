#include "KQmessage/Diagnostics.h"

#include <algorithm>
#include <iostream>
#include <sstream>
#include <utility>

namespace kestrane {

namespace {

// What the programs print: output lines on standard output, the rest on
// standard error, each line flushed as it is written.
class TStandardStreamsSink : public TDiagnosticSink {
public:
  void Write(DiagnosticKind kind, std::string_view line) override {
    std::ostream &out = kind == DiagnosticKind::kOutput ? std::cout : std::cerr;
    std::lock_guard<std::mutex> hold(lock_);
    out << line << '\n';
    out.flush();
  }

private:
  std::mutex lock_;
};

thread_local TDiagnosticSink *installed = nullptr;

} // namespace

TDiagnosticSink &DefaultDiagnosticSink() {
  static TStandardStreamsSink sink;
  return sink;
}

TDiagnosticSink &CurrentDiagnosticSink() {
  return installed != nullptr ? *installed : DefaultDiagnosticSink();
}

void Diagnose(DiagnosticKind kind, std::string_view line) {
  CurrentDiagnosticSink().Write(kind, line);
}

std::string StreamText(double value) {
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text << value;
  return text.str();
}

TDiagnosticScope::TDiagnosticScope(TDiagnosticSink &sink) : previous_(installed) {
  installed = &sink;
}

TDiagnosticScope::~TDiagnosticScope() { installed = previous_; }

void TStreamDiagnosticSink::Write(DiagnosticKind, std::string_view line) {
  std::lock_guard<std::mutex> hold(lock_);
  out_ << line << '\n';
  out_.flush();
}

void TCollectingDiagnosticSink::Write(DiagnosticKind kind, std::string_view line) {
  std::lock_guard<std::mutex> hold(lock_);
  const bool seen = std::any_of(kept_.begin(), kept_.end(), [&](const Diagnostic &d) {
    return d.kind == kind && d.line == line;
  });
  if (seen)
    return;
  if (kept_.size() < limit_)
    kept_.push_back(Diagnostic{kind, std::string(line)});
  else
    ++dropped_;
}

size_t TCollectingDiagnosticSink::Dropped() const {
  std::lock_guard<std::mutex> hold(lock_);
  return dropped_;
}

std::vector<Diagnostic> TCollectingDiagnosticSink::Take() {
  std::lock_guard<std::mutex> hold(lock_);
  dropped_ = 0;
  return std::exchange(kept_, {});
}

} // namespace kestrane

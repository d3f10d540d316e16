#ifndef KESTRANE_KQMESSAGE_DIAGNOSTICS_H
#define KESTRANE_KQMESSAGE_DIAGNOSTICS_H

// Where the library's messages go. Library code never writes to the standard
// streams: it hands each line to Diagnose, and the sink in force for the
// calling thread decides where the line ends up.
//
//   kWarning    "!Warning: ..." lines; processing goes on       default: standard error
//   kErrorText  a reader's complaint beside a failed result       default: standard error
//   kOutput     a value the programs print beside a failure       default: standard output
//               (a defuzzified value outside [0, 1], an unknown word in a weights list)
//
// The default sink writes each line and its line end and flushes, which is
// what the programs have always printed. A front end routes the lines of its
// own calls elsewhere by installing a sink for the calling thread with
// TDiagnosticScope (kestrane-tool: everything to the command's error stream;
// Python: warnings). The installed sink is per thread: work a call hands to
// another thread reports to the process default unless that thread installs
// the caller's sink (CurrentDiagnosticSink()) itself.

#include <iosfwd>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane {

enum class DiagnosticKind { kWarning, kErrorText, kOutput };

class TDiagnosticSink {
public:
  virtual ~TDiagnosticSink() = default;
  // One line, without its line end. A sink installed in several threads is
  // called from all of them at once.
  virtual void Write(DiagnosticKind kind, std::string_view line) = 0;
};

// Reports `line` to the calling thread's sink.
void Diagnose(DiagnosticKind kind, std::string_view line);
inline void Warn(std::string_view line) { Diagnose(DiagnosticKind::kWarning, line); }

// The text std::cout gives a double by default (six significant digits).
std::string StreamText(double value);

// The process default: standard output for kOutput, standard error for the
// rest; safe to call from several threads, each line written whole.
TDiagnosticSink &DefaultDiagnosticSink();
// The sink Diagnose uses in the calling thread.
TDiagnosticSink &CurrentDiagnosticSink();

// Installs `sink` for the calling thread for the scope's lifetime; scopes
// nest, and each must end in the thread that began it. The sink must outlive
// the scope.
class TDiagnosticScope {
public:
  explicit TDiagnosticScope(TDiagnosticSink &sink);
  ~TDiagnosticScope();
  TDiagnosticScope(const TDiagnosticScope &) = delete;
  TDiagnosticScope &operator=(const TDiagnosticScope &) = delete;

private:
  TDiagnosticSink *previous_;
};

// Every line, whatever its kind, to one stream.
class TStreamDiagnosticSink : public TDiagnosticSink {
public:
  explicit TStreamDiagnosticSink(std::ostream &out) : out_(out) {}
  void Write(DiagnosticKind kind, std::string_view line) override;

private:
  std::ostream &out_;
  std::mutex lock_;
};

struct Diagnostic {
  DiagnosticKind kind;
  std::string line;
};

// Keeps the lines for the caller to pass on once the call is over. A line
// repeated (a warning on every pattern of a long recall) is kept once, and
// at most `limit` distinct lines are kept; the rest are only counted.
class TCollectingDiagnosticSink : public TDiagnosticSink {
public:
  explicit TCollectingDiagnosticSink(size_t limit = 100) : limit_(limit) {}
  void Write(DiagnosticKind kind, std::string_view line) override;
  // Lines left out once the limit was reached (a repeat of a kept line is
  // not counted). Read it before Take, which starts the count again.
  size_t Dropped() const;
  // The lines kept so far, oldest first; the sink starts empty again.
  std::vector<Diagnostic> Take();

private:
  const size_t limit_;
  std::vector<Diagnostic> kept_;
  size_t dropped_ = 0;
  mutable std::mutex lock_;
};

} // namespace kestrane

#endif

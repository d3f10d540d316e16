// The sink in force is per thread and nests; the sinks a front end installs
// keep whole lines when threads share them. What the default sink prints is
// pinned where each message is raised (KQML, layers, output layer, readers).

#include "KQmessage/Diagnostics.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using kestrane::CurrentDiagnosticSink;
using kestrane::DefaultDiagnosticSink;
using kestrane::Diagnose;
using kestrane::DiagnosticKind;
using kestrane::TCollectingDiagnosticSink;
using kestrane::TDiagnosticScope;
using kestrane::TStreamDiagnosticSink;

std::vector<std::string> Lines(TCollectingDiagnosticSink &sink) {
  std::vector<std::string> lines;
  for (const auto &d : sink.Take())
    lines.push_back(d.line);
  return lines;
}

TEST(DiagnosticsTest, EachThreadReportsToItsOwnSinkAndScopesNest) {
  TCollectingDiagnosticSink outer, inner;
  std::vector<TCollectingDiagnosticSink> perThread(4);
  {
    TDiagnosticScope useOuter(outer);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < perThread.size(); ++t) {
      threads.emplace_back([&, t] {
        // A new thread starts on the process default, not on its parent's sink.
        EXPECT_EQ(&CurrentDiagnosticSink(), &DefaultDiagnosticSink());
        TDiagnosticScope use(perThread[t]);
        for (int i = 0; i < 1000; ++i)
          kestrane::Warn("thread " + std::to_string(t));
      });
    }
    {
      TDiagnosticScope useInner(inner);
      Diagnose(DiagnosticKind::kOutput, "inner");
    }
    Diagnose(DiagnosticKind::kErrorText, "outer");
    for (auto &thread : threads)
      thread.join();
  }
  EXPECT_EQ(&CurrentDiagnosticSink(), &DefaultDiagnosticSink());
  for (size_t t = 0; t < perThread.size(); ++t)
    EXPECT_EQ(Lines(perThread[t]), std::vector<std::string>{"thread " + std::to_string(t)});
  EXPECT_EQ(Lines(inner), std::vector<std::string>{"inner"});
  EXPECT_EQ(Lines(outer), std::vector<std::string>{"outer"});
}

TEST(DiagnosticsTest, CollectingKeepsDistinctLinesInOrderUpToItsLimit) {
  TCollectingDiagnosticSink sink(3);
  for (const char *line : {"a", "b", "a", "c", "d", "e", "b"})
    sink.Write(DiagnosticKind::kWarning, line);
  sink.Write(DiagnosticKind::kOutput, "z");
  EXPECT_EQ(sink.Dropped(), 3u);
  const auto kept = sink.Take();
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_EQ(kept[2].line, "c");
  EXPECT_EQ(kept[2].kind, DiagnosticKind::kWarning);
  EXPECT_EQ(sink.Dropped(), 0u);
  EXPECT_TRUE(sink.Take().empty());
}

TEST(DiagnosticsTest, AStreamSinkSharedByThreadsWritesWholeLines) {
  std::ostringstream out;
  TStreamDiagnosticSink sink(out);
  const std::string line(200, 'x');
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      TDiagnosticScope use(sink);
      for (int i = 0; i < 500; ++i)
        Diagnose(DiagnosticKind::kWarning, line);
    });
  }
  for (auto &thread : threads)
    thread.join();
  std::string expected;
  for (int i = 0; i < 4 * 500; ++i)
    expected += line + "\n";
  EXPECT_EQ(out.str(), expected);
}

} // namespace

// Headers that ask for more than the file can hold are refused before the
// tables are allocated: a few bytes must never cost gigabytes. A pipe, whose
// length nobody knows, is read as its rows come.

#include "DataObject/Data.h"
#include "FileHandler/ParseTools.h"
#include "tests/Support/TestFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using kestrane::Data;
using kestrane::FileTools;

std::string WriteFile(const std::string &text) {
  const auto *info = testing::UnitTest::GetInstance()->current_test_info();
  const std::string path = testing::TempDir() + "kestrane_limits_" + std::to_string(getpid()) +
                           "_" + info->name() + ".dat";
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

std::string DataSet(const std::string &header, const std::string &rows) {
  return "[DataSet]\n" + header + "\n[Data]\n" + rows + "[~Data]\n[~DataSet]\n";
}

// The message of the FileTools::Error that loading raises; empty when none.
std::string LoadError(const std::string &text) {
  const std::string path = WriteFile(text);
  FileTools tools;
  std::unique_ptr<Data> first, second;
  std::string message;
  try {
    tools.LoadDataSet(path.c_str(), first, second);
  } catch (const FileTools::Error &e) {
    message = e.GetMessage();
  }
  std::remove(path.c_str());
  return message;
}

TEST(DataSetLimitsTest, HeadersPromisingMoreNumbersThanTheFileHoldsAreRefused) {
  struct Case {
    const char *name;
    std::string header;
    const char *message; // start of the message
  };
  const std::vector<Case> cases = {
      {"rows", "[Rows = 2000000000] [Inputs = 1]", "Data set header promises 2000000000 rows of 1"},
      {"rows times columns overflow 32 bits", "[Rows = 65536] [Inputs = 65536]",
       "Data set too large: 65536 rows of 65536 numbers exceed 2147483647"},
      {"every group counts",
       "[Rows = 100] [Inputs = 1] [ExpectedOutputs = 1] [GeneratedOutputs = 1] [Error = 1]",
       "Data set header promises 100 rows of 4"},
      {"label brackets take room too", "[Rows = 1000000] [ExpectedOutputs = Labels]",
       "Data set header promises 1000000 rows of 0"},
      {"columns without rows", "[Rows = 0] [Inputs = 2000000000]",
       "Data set header asks for 2000000000 numbers per row"},
      {"columns add up beyond 32 bits",
       "[Rows = 1] [Inputs = 2147483647] [ExpectedOutputs = 2147483647] [GeneratedOutputs = "
       "2147483647]",
       "Data set header asks for 6442450941 numbers per row"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string message = LoadError(DataSet(c.header, "1 2 3 4\n"));
    EXPECT_EQ(message.rfind(c.message, 0), 0u) << message;
  }
}

TEST(DataSetLimitsTest, AHeaderThatEndsTheFileLeavesNoRoomForRows) {
  // Found by fuzzing: "[Data" without its bracket ends the file, where the
  // stream can no longer tell its position; 147483649 rows were allocated.
  const std::string message = LoadError(
      "[DataSet]\n[Rows = 147483649-2147483648]\n[Inputs = 1]\n[GeneratedOutputs = 2]\n[Data");
  EXPECT_EQ(message, "Data set header promises 147483649 rows of 3 numbers, more than the 0 bytes "
                     "left in the file can hold");
}

TEST(DataSetLimitsTest, FilesThatJustHoldTheirRowsStillLoad) {
  // Two numbers of one character each, the last one ending the data block.
  EXPECT_EQ(LoadError("[DataSet] [Rows = 1] [Inputs = 2] [Data] 1 2[~Data] [~DataSet]"), "");
  EXPECT_EQ(LoadError(DataSet("[Rows = 0] [Inputs = 1000000]", "")), "");
}

TEST(DataSetLimitsTest, RowsWithoutColumnsAreNotCountedOneByOne) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(LoadError(DataSet("[Rows = 2147483647]", "")), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(DataSetLimitsTest, ChunksLargerThanTheRestOfTheFileAreRefused) {
  const std::string path = WriteFile(DataSet("[Rows = 2] [Inputs = 1]", "1\n2\n"));
  FileTools tools;
  std::unique_ptr<Data> first, second;
  int64_t offset = 0;
  EXPECT_THROW(tools.LoadDataSetChunk(path.c_str(), offset, 2000000000, first, second),
               FileTools::Error);
  EXPECT_EQ(first, nullptr);
  ASSERT_EQ(tools.LoadDataSetChunk(path.c_str(), offset, 2, first, second), 0);
  EXPECT_EQ(first->GetInputDatum(1, 0), 2.0);
  // Past the end of the file nothing is left for a chunk.
  int64_t beyond = 1 << 20;
  EXPECT_THROW(tools.LoadDataSetChunk(path.c_str(), beyond, 1, first, second), FileTools::Error);
  std::remove(path.c_str());
}

// Loads `text` through a FIFO in a folder of the test's own, the writer
// running beside the reader; the message of the error, empty when none.
std::string LoadThroughFifo(const std::string &text, std::unique_ptr<Data> &first,
                            std::unique_ptr<Data> &second, bool chunk = false) {
  testsupport::ScratchDir dir("kestrane_fifo_");
  const std::string fifo = dir.File("data.fifo");
  if (mkfifo(fifo.c_str(), 0600) != 0)
    return "no FIFO";
  // A reader that stops early fails the writer's next write, quietly.
  void (*const previous)(int) = std::signal(SIGPIPE, SIG_IGN);
  std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << text; });
  std::string message;
  try {
    FileTools tools;
    int64_t offset = 0;
    if (chunk)
      tools.LoadDataSetChunk(fifo.c_str(), offset, 1, first, second);
    else
      tools.LoadDataSet(fifo.c_str(), first, second);
  } catch (const FileTools::Error &e) {
    message = e.GetMessage();
  }
  writer.join();
  std::signal(SIGPIPE, previous);
  return message;
}

TEST(DataSetLimitsTest, APipeIsReadAsItsRowsComeAndKeepsTheProtection) {
  // Rows of a million numbers: pieces of two rows each, joined in order.
  std::string rows;
  for (int r = 0; r < 5; ++r) {
    rows += std::to_string(r + 1);
    for (int i = 1; i < 1000000; ++i)
      rows += i == 999999 ? " 0.5" : " 0";
    rows += "\n";
  }
  const std::string text = DataSet("[Rows = 5] [Inputs = 999999] [ExpectedOutputs = 1]", rows);
  std::unique_ptr<Data> piped, unused;
  ASSERT_EQ(LoadThroughFifo(text, piped, unused), "");
  const std::string path = WriteFile(text);
  std::unique_ptr<Data> file, second;
  FileTools tools;
  ASSERT_EQ(tools.LoadDataSet(path.c_str(), file, second), 0);
  std::remove(path.c_str());
  ASSERT_NE(piped, nullptr);
  EXPECT_EQ(piped->MbrDyaRtpInputs, file->MbrDyaRtpInputs);
  EXPECT_EQ(piped->MbrDyaRtpOutputs, file->MbrDyaRtpOutputs);
  EXPECT_EQ(piped->GetInputDatum(4, 0), 5.0);
  for (const auto &[a, b] : {std::pair{piped->MbrNdxRows, file->MbrNdxRows},
                             {piped->MbrNdxDataRows, file->MbrNdxDataRows},
                             {piped->MbrNdxFirst, file->MbrNdxFirst},
                             {piped->MbrNdxLast, file->MbrNdxLast},
                             {piped->MbrNdxCursor, file->MbrNdxCursor}})
    EXPECT_EQ(a, b);

  // Labels and a second table come through too.
  const std::string labelled =
      DataSet("[Rows = 2] [Inputs = 1] [ExpectedOutputs = Labels] [Error = 1]",
              "1 0.5 [cat]\n2 0.25 [dog=2]\n");
  std::unique_ptr<Data> first, errors;
  ASSERT_EQ(LoadThroughFifo(labelled, first, errors), "");
  EXPECT_EQ(first->GetLabels(1)->GetLabel(0).name, "dog");
  EXPECT_EQ(errors->GetOutputDatum(1, 0), 0.25);

  // Two billion rows promised, two sent: refused when the rows run out,
  // having held no more than a piece.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(LoadThroughFifo(DataSet("[Rows = 2000000000] [Inputs = 1]", "1 2\n"), first, errors),
            "Token (number) expected");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(first, nullptr);
  EXPECT_EQ(LoadThroughFifo(DataSet("[Rows = 65536] [Inputs = 65536]", ""), first, errors)
                .rfind("Data set too large", 0),
            0u);
  // Chunks are found by seeking, which a pipe cannot.
  EXPECT_EQ(LoadThroughFifo(labelled, first, errors, true),
            "Chunks are read from a file that can seek, not from a pipe or FIFO");
}

} // namespace

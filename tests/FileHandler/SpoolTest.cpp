#include "FileHandler/Spool.h"
#include "tests/Support/TestFiles.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

// Output of some megabytes, in pieces of uneven length, through a spool whose
// temporary file goes to `folder`, limited to `fileLimit` bytes (0: none).
// Run in a child, which owns its environment and limits; true when the copy
// is the output, byte for byte, and the folder holds no file afterwards.
bool CopiesWhole(const std::string &folder, rlim_t fileLimit) {
  const pid_t child = fork();
  if (child == 0) {
    setenv("TMPDIR", folder.c_str(), 1);
    if (fileLimit > 0) {
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit = {fileLimit, fileLimit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::string expected;
    kestrane::Spool spool;
    for (int i = 0; expected.size() < (3u << 20); ++i) {
      const std::string piece =
          std::to_string(i) + std::string(static_cast<size_t>(i % 7), '.') + "\n";
      spool.Stream() << piece;
      expected += piece;
    }
    std::ostringstream copy;
    spool.CopyTo(copy);
    _exit(copy.str() == expected && testsupport::Entries(folder).empty() ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(SpoolTest, GivesBackTheWholeOutputWhereverItWaited) {
  testsupport::ScratchDir scratch("kestrane_spool_");
  ASSERT_FALSE(scratch.Path().empty());
  EXPECT_TRUE(CopiesWhole(scratch.Path(), 0)) << "in a temporary file";
  EXPECT_TRUE(CopiesWhole(scratch.File("missing"), 0)) << "in memory, without a temporary file";
  EXPECT_TRUE(CopiesWhole(scratch.Path(), 3u << 19)) << "back in memory once the file is full";
}

} // namespace

#include "FileHandler/SafeSave.h"
#include "FileHandler/ParseTools.h"
#include "tests/Support/TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <vector>

namespace {

using kestrane::FileTools;
using kestrane::SafeSave;

// Every test works in a folder of its own, so that leftovers can be counted.
class SafeSaveTest : public testing::Test {
protected:
  void SetUp() override { ASSERT_FALSE(dir.empty()); }

  std::string Path(const std::string &name) const { return scratch.File(name); }
  std::vector<std::string> Entries() const { return testsupport::Entries(dir); }

  testsupport::ScratchDir scratch{"kestrane_safesave_"};
  std::string dir = scratch.Path();
};

using testsupport::Slurp;

void Save(const std::string &path, const std::string &text) {
  SafeSave save(path);
  save.Stream() << text;
  save.Commit();
}

std::string SaveError(const std::function<void()> &save) {
  try {
    save();
  } catch (const FileTools::Error &e) {
    return e.GetMessage();
  }
  return "(no error)";
}

mode_t TypeOf(const std::string &path) {
  struct stat st {};
  lstat(path.c_str(), &st);
  return st.st_mode & S_IFMT;
}

TEST_F(SafeSaveTest, EachKindOfTargetIsWrittenTheRightWay) {
  // Missing: created with the usual protection.
  Save(Path("new"), "one");
  EXPECT_EQ(Slurp(Path("new")), "one");
  const mode_t mask = umask(0);
  umask(mask);
  struct stat st {};
  stat(Path("new").c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);

  // Regular: replaced, its protection kept.
  std::ofstream(Path("private")) << "old";
  chmod(Path("private").c_str(), 0600);
  Save(Path("private"), "new");
  EXPECT_EQ(Slurp(Path("private")), "new");
  stat(Path("private").c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  // Symlinks, also dangling and relative ones: the file they name is written,
  // the link stays.
  ASSERT_EQ(symlink("private", Path("link").c_str()), 0);
  Save(Path("link"), "through the link");
  EXPECT_EQ(TypeOf(Path("link")), S_IFLNK);
  EXPECT_EQ(Slurp(Path("private")), "through the link");
  ASSERT_EQ(symlink(Path("later").c_str(), Path("dangling").c_str()), 0);
  Save(Path("dangling"), "created");
  EXPECT_EQ(TypeOf(Path("dangling")), S_IFLNK);
  EXPECT_EQ(Slurp(Path("later")), "created");

  // A symlink planted under a temporary name of the old scheme is not followed.
  std::ofstream(Path("victim")) << "untouched";
  ASSERT_EQ(symlink("victim", Path("out.dat.saving").c_str()), 0);
  Save(Path("out.dat"), "saved");
  EXPECT_EQ(Slurp(Path("victim")), "untouched");
  EXPECT_EQ(Slurp(Path("out.dat")), "saved");

  // A FIFO is written straight through and stays a FIFO.
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = Slurp(Path("fifo")); });
  Save(Path("fifo"), "down the pipe");
  reader.join();
  EXPECT_EQ(received, "down the pipe");
  EXPECT_EQ(TypeOf(Path("fifo")), S_IFIFO);

  // A private node of the null device: still a device afterwards.
  if (mknod(Path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
    Save(Path("null"), "discarded");
    EXPECT_EQ(TypeOf(Path("null")), S_IFCHR);
  }

  // A directory: one clear error, nothing created.
  mkdir(Path("folder").c_str(), 0755);
  EXPECT_EQ(SaveError([&] { Save(Path("folder"), "x"); }),
            "cannot write " + Path("folder") + ": it is a directory");
  EXPECT_EQ(SaveError([&] { Save(Path("missing/file"), "x"); }),
            "cannot write " + Path("missing/file") + ": No such file or directory");

  std::vector<std::string> expected = {"dangling", "fifo",  "folder",  "later",
                                       "link",     "new",   "out.dat", "out.dat.saving",
                                       "private",  "victim"};
  if (TypeOf(Path("null")) == S_IFCHR)
    expected.push_back("null");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Entries(), expected);
}

TEST_F(SafeSaveTest, AnythingUncommittedLeavesTheTargetAndNoTemporaryFile) {
  std::ofstream(Path("kept")) << "previous";
  {
    SafeSave save(Path("kept"));
    save.Stream() << "half of it";
  }
  EXPECT_EQ(Slurp(Path("kept")), "previous");

  // Killed in the middle of a save.
  const pid_t child = fork();
  if (child == 0) {
    SafeSave save(Path("kept"));
    save.Stream() << std::string(100000, 'x');
    save.Stream().flush();
    raise(SIGKILL);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(Slurp(Path("kept")), "previous");
  EXPECT_EQ(Entries(), std::vector<std::string>{"kept"});
}

TEST_F(SafeSaveTest, AFileSizeLimitIsAnErrorThatRemovesTheTemporaryFile) {
  std::ofstream(Path("kept")) << "previous";
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    const std::string message = SaveError([&] { Save(Path("kept"), std::string(1 << 20, 'x')); });
    _exit(message == "cannot write " + Path("kept") + ": File too large" ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Slurp(Path("kept")), "previous");
  EXPECT_EQ(Entries(), std::vector<std::string>{"kept"});
}

TEST_F(SafeSaveTest, ACommitWaitsForTheFolderLockAndRenamesTheSetTogether) {
  const int held = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    SafeSave a(Path("a")), b(Path("b"));
    a.Stream() << "A";
    b.Stream() << "B";
    SafeSave::CommitTogether({&a, &b});
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(done);
  EXPECT_EQ(Entries(), std::vector<std::string>{});
  flock(held, LOCK_UN);
  close(held);
  writer.join();
  EXPECT_EQ(Slurp(Path("a")) + Slurp(Path("b")), "AB");
  EXPECT_EQ(Entries(), (std::vector<std::string>{"a", "b"}));
}

// A set of files committed with a journal, killed at the journal's first
// appearance or at the first rename: recovered, the set is wholly old or
// wholly new, and nothing else is left.
TEST_F(SafeSaveTest, AJournalledSetKilledDuringItsCommitIsRecoveredWhole) {
  const int kFiles = 60;
  const std::string journal = kestrane::SetJournal(Path("set"));
  std::string firstNew, firstOld;
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    for (int i = 0; i < kFiles; ++i)
      std::ofstream(Path("set-" + std::to_string(i))) << "old " << i;
    struct stat before {};
    stat(Path("set-0").c_str(), &before);
    const pid_t child = fork();
    if (child == 0) {
      std::vector<std::unique_ptr<SafeSave>> saves;
      std::vector<SafeSave *> set;
      for (int i = 0; i < kFiles; ++i) {
        saves.push_back(std::make_unique<SafeSave>(Path("set-" + std::to_string(i))));
        saves.back()->Stream() << "new " << i;
        set.push_back(saves.back().get());
      }
      SafeSave::CommitTogether(set, journal);
      _exit(0);
    }
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
      struct stat now {};
      const bool seen = round % 2 == 0
                            ? stat(journal.c_str(), &now) == 0
                            : stat(Path("set-0").c_str(), &now) == 0 && now.st_ino != before.st_ino;
      if (seen || waitpid(child, nullptr, WNOHANG) == child ||
          std::chrono::steady_clock::now() - start > std::chrono::seconds(20))
        break;
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    SafeSave::Recover(journal);
    const std::string kind = Slurp(Path("set-0")).substr(0, 3);
    for (int i = 0; i < kFiles; ++i)
      ASSERT_EQ(Slurp(Path("set-" + std::to_string(i))), kind + " " + std::to_string(i));
    EXPECT_EQ(Entries().size(), static_cast<size_t>(kFiles));
  }
}

TEST_F(SafeSaveTest, RecoveryCarriesOutWhatItsJournalMayAskAndNothingElse) {
  const std::string journal = kestrane::SetJournal(Path("set"));
  const auto prepare = [&](const std::string &state, const std::string &temporaryB) {
    std::ofstream(Path("a")) << "old a";
    std::ofstream(Path("b")) << "old b";
    std::ofstream(Path(".a.77.1.tmp")) << "new a";
    std::ofstream(Path(temporaryB)) << "new b";
    std::ofstream(journal) << "kestrane-journal 1\n"
                           << state << "\n1 a\n11 .a.77.1.tmp\n1 b\n"
                           << temporaryB.size() << " " << temporaryB << "\n";
  };
  prepare("redo", ".b.77.2.tmp");
  EXPECT_TRUE(SafeSave::Recover(journal));
  EXPECT_EQ(Slurp(Path("a")) + ", " + Slurp(Path("b")), "new a, new b");
  EXPECT_EQ(Entries(), (std::vector<std::string>{"a", "b"}));

  prepare("undo", ".b.77.2.tmp");
  EXPECT_TRUE(SafeSave::Recover(journal));
  EXPECT_EQ(Slurp(Path("a")) + ", " + Slurp(Path("b")), "old a, old b");
  EXPECT_EQ(Entries(), (std::vector<std::string>{"a", "b"}));
  EXPECT_FALSE(SafeSave::Recover(journal));

  // A file that is no temporary file of its target is never moved.
  prepare("redo", "victim");
  EXPECT_EQ(SaveError([&] { SafeSave::Recover(journal); }),
            "cannot finish the interrupted save that " + journal +
                " records: it names a file that is no temporary file of " + Path("b"));
  EXPECT_EQ(Slurp(Path("victim")), "new b");
  EXPECT_EQ(Slurp(Path("a")), "old a");
}

} // namespace

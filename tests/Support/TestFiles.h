#ifndef KESTRANE_TESTS_SUPPORT_TESTFILES_H
#define KESTRANE_TESTS_SUPPORT_TESTFILES_H

// Files and folders for tests: a scratch folder of their own, whole-file
// reads and writes.

#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace testsupport {

// The whole file, byte for byte; empty when it cannot be read.
inline std::string Slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void Put(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Tests run in parallel processes and a process id comes round again: a
// fresh folder of one's own, removed with everything in it, means no file
// left by an earlier run can pass for one this run wrote. Path() is empty
// when the folder could not be made.
class ScratchDir {
public:
  explicit ScratchDir(const std::string &prefix = "kestrane_") {
    std::string pattern = testing::TempDir() + prefix + "XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr)
      path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty())
      std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;

  const std::string &Path() const { return path_; }
  std::string File(const std::string &name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

// Names in `dir` that start with `prefix` ("." and ".." left out), sorted.
inline std::vector<std::string> Entries(const std::string &dir, const std::string &prefix = "") {
  std::vector<std::string> names;
  if (DIR *d = opendir(dir.c_str())) {
    while (dirent *e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != ".." && name.rfind(prefix, 0) == 0)
        names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

} // namespace testsupport

#endif

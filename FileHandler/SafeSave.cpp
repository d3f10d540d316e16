#include "FileHandler/SafeSave.h"

#include "FileHandler/BlockBuffer.h"
#include "FileHandler/ParseTools.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <locale>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace kestrane {

namespace {

[[noreturn]] void Fail(const std::string &target, const std::string &reason) {
  throw FileTools::Error("cannot write " + target + ": " + reason);
}

[[noreturn]] void FailErrno(const std::string &target, int error) {
  Fail(target, std::strerror(error));
}

// Writes straight to a descriptor and keeps the first failure's errno, which
// the commit reports ("No space left on device", "File too large"). After a
// failure the rest is discarded but the stream stays good, so that a writer
// checking its stream does not report the failure without its reason.
class DescriptorBuffer : public BlockBuffer {
public:
  DescriptorBuffer() : BlockBuffer(1 << 16) {}
  void Attach(int fd) { fd_ = fd; }
  int Error() const { return error_; }

private:
  void Drain(const char *p, size_t left) override {
    while (left > 0 && error_ == 0) {
      const ssize_t n = ::write(fd_, p, left);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        error_ = n < 0 ? errno : EIO;
      else {
        p += n;
        left -= static_cast<size_t>(n);
      }
    }
  }

  int fd_ = -1;
  int error_ = 0;
};

// Asking umask() for the mask sets it, for a moment, for every thread of the
// process: a file another thread creates then would get mode 0666. The kernel
// shows the mask in /proc/self/status; only without /proc is it asked, once.
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 6, "Umask:") == 0) {
      return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
    }
  }
  static mode_t mask;
  static std::once_flag once;
  std::call_once(once, [] {
    mask = umask(0);
    umask(mask);
  });
  return mask;
}

std::string Folder(const std::string &path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos)
    return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string &path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symlinks to the file they name, which need not exist yet.
std::string FollowLinks(const std::string &target) {
  std::string path = target;
  for (int hops = 0;; ++hops) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
      return path;
    if (hops == 40)
      FailErrno(target, ELOOP);
    std::vector<char> text(static_cast<size_t>(PATH_MAX) + 1);
    const ssize_t n = readlink(path.c_str(), text.data(), text.size() - 1);
    if (n < 0)
      FailErrno(target, errno);
    const std::string link(text.data(), static_cast<size_t>(n));
    path = link[0] == '/' || path.find('/') == std::string::npos ? link : Folder(path) + "/" + link;
  }
}

int OpenRetrying(const char *path, int flags, mode_t mode = 0) {
  for (;;) {
    const int fd = ::open(path, flags, mode);
    if (fd >= 0 || errno != EINTR)
      return fd;
  }
}

// A name beside the target that nothing else uses: it shows whose temporary
// file it is and is short enough for a target name of any legal length.
std::string TemporaryName(const std::string &folder, const std::string &base) {
  static std::atomic<unsigned> counter{0};
  return folder + "/." + base.substr(0, 100) + "." + std::to_string(getpid()) + "." +
         std::to_string(++counter) + ".tmp";
}

} // namespace

struct SafeSave::State {
  std::string target;    // as the caller named it
  std::string path;      // the file written: the target with its symlinks followed
  bool straight = false; // a device or FIFO, written in place
  bool exists = false;
  struct stat existing {};
  int fd = -1;
  std::string temporary; // the temporary file's name once it has one
  bool committed = false;
  DescriptorBuffer buffer;
  std::ostream stream{&buffer};

  void Abandon() {
    if (fd >= 0)
      ::close(fd);
    fd = -1;
    if (!temporary.empty())
      ::unlink(temporary.c_str());
    temporary.clear();
  }

  void CreateTemporary() {
    const std::string folder = Folder(path);
    const mode_t mode = exists ? (existing.st_mode & 07777) : (0666 & ~CurrentUmask());
#ifdef O_TMPFILE
    // Unnamed until the commit links it in: a killed process leaves nothing.
    fd = OpenRetrying(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
      FailErrno(target, errno);
#endif
    while (fd < 0) {
      // Exclusive creation: a symlink planted under the name is never followed.
      const std::string name = TemporaryName(folder, BaseName(path));
      fd = OpenRetrying(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600);
      if (fd >= 0)
        temporary = name;
      else if (errno != EEXIST)
        FailErrno(target, errno);
    }
    buffer.Attach(fd);
    if (fchmod(fd, mode) != 0) {
      const int error = errno;
      Abandon();
      FailErrno(target, error);
    }
    // Run as root, a save keeps another user's file theirs.
    if (exists && geteuid() == 0 && existing.st_uid != 0)
      (void)!fchown(fd, existing.st_uid, existing.st_gid);
  }

  void OpenStraight() {
    fd = OpenRetrying(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
      FailErrno(target, errno);
    buffer.Attach(fd);
    // Two runs writing one FIFO or device take turns rather than interleave.
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
  }

  // Everything written has reached the file (for a temporary file, the disk).
  void Finish() {
    if (!straight && fd < 0)
      Fail(target, "the save was abandoned");
    if (straight && fd < 0)
      OpenStraight();
    stream.flush();
    if (buffer.Error() != 0 || !stream)
      FailErrno(target, buffer.Error() ? buffer.Error() : EIO);
    if (!straight && fsync(fd) != 0)
      FailErrno(target, errno);
  }

  // Gives the complete temporary file the target's name.
  void Place() {
    if (straight) {
      if (::close(fd) != 0) {
        fd = -1;
        FailErrno(target, errno);
      }
      fd = -1;
      return;
    }
    while (temporary.empty()) {
      const std::string name = TemporaryName(Folder(path), BaseName(path));
      const std::string self = "/proc/self/fd/" + std::to_string(fd);
      int linked = linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
#ifdef AT_EMPTY_PATH
      if (linked != 0 && errno == ENOENT)
        linked = linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH);
#endif
      if (linked == 0)
        temporary = name;
      else if (errno != EEXIST)
        FailErrno(target, errno);
    }
    if (::close(fd) != 0) {
      fd = -1;
      FailErrno(target, errno);
    }
    fd = -1;
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
      FailErrno(target, errno);
    temporary.clear();
  }
};

SafeSave::SafeSave(const std::string &target) : state_(std::make_unique<State>()) {
  State &s = *state_;
  s.target = target;
  s.stream.imbue(std::locale::classic()); // the files read the same everywhere
  if (target.empty())
    Fail("\"\"", "empty file name");
  s.path = FollowLinks(target);
  if (stat(s.path.c_str(), &s.existing) == 0) {
    s.exists = true;
    const mode_t type = s.existing.st_mode & S_IFMT;
    if (type == S_IFDIR)
      Fail(target, "it is a directory");
    if (type == S_IFCHR || type == S_IFIFO)
      s.straight = true;
    else if (type != S_IFREG)
      Fail(target, "not a regular file, character device or FIFO");
    // The old protection holds: a read-only file stays as it is.
    if (access(s.path.c_str(), W_OK) != 0)
      FailErrno(target, errno);
  } else if (errno != ENOENT) {
    FailErrno(target, errno);
  }
  if (!s.straight)
    s.CreateTemporary();
}

SafeSave::~SafeSave() {
  if (!state_->committed)
    state_->Abandon();
  else if (state_->fd >= 0)
    ::close(state_->fd);
}

std::ostream &SafeSave::Stream() {
  if (state_->straight && state_->fd < 0 && !state_->committed)
    state_->OpenStraight();
  return state_->stream;
}

const std::string &SafeSave::Target() const { return state_->target; }

void SafeSave::Commit() { CommitTogether({this}); }

void SafeSave::CommitTogether(const std::vector<SafeSave *> &saves) {
  try {
    for (SafeSave *save : saves)
      save->state_->Finish();

    // The lock is taken on the folders: the target itself is replaced by the
    // rename and may not exist yet. One descriptor per folder, in a fixed
    // order, so that two runs locking overlapping sets cannot deadlock.
    std::vector<std::pair<std::pair<dev_t, ino_t>, int>> folders;
    for (SafeSave *save : saves) {
      if (save->state_->straight)
        continue;
      const int fd =
          OpenRetrying(Folder(save->state_->path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      struct stat st {};
      if (fd < 0)
        continue; // unreadable folder: saved unlocked
      fstat(fd, &st);
      folders.push_back({{st.st_dev, st.st_ino}, fd});
    }
    std::sort(folders.begin(), folders.end());
    struct Unlock {
      std::vector<std::pair<std::pair<dev_t, ino_t>, int>> &folders;
      ~Unlock() {
        for (const auto &f : folders)
          ::close(f.second);
      }
    } unlock{folders};
    for (size_t i = 0; i < folders.size(); ++i) {
      if (i > 0 && folders[i].first == folders[i - 1].first)
        continue;
      while (flock(folders[i].second, LOCK_EX) != 0 && errno == EINTR) {
      }
    }

    for (SafeSave *save : saves)
      save->state_->Place();
    for (SafeSave *save : saves)
      save->state_->committed = true;
    // The renames themselves reach the disk.
    for (size_t i = 0; i < folders.size(); ++i)
      if (i == 0 || folders[i].first != folders[i - 1].first)
        fsync(folders[i].second);
  } catch (...) {
    for (SafeSave *save : saves)
      if (!save->state_->committed)
        save->state_->Abandon();
    throw;
  }
}

} // namespace kestrane

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
#include <iterator>
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

  // Gives the complete temporary file a name of its own: `wanted`, or when
  // that is empty any free one beside the target; and closes it.
  void Name(const std::string &wanted) {
    while (temporary.empty()) {
      const std::string name =
          wanted.empty() ? TemporaryName(Folder(path), BaseName(path)) : wanted;
      const std::string self = "/proc/self/fd/" + std::to_string(fd);
      int linked = linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
#ifdef AT_EMPTY_PATH
      if (linked != 0 && errno == ENOENT)
        linked = linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH);
#endif
      if (linked == 0)
        temporary = name;
      else if (errno != EEXIST || !wanted.empty())
        FailErrno(target, errno);
    }
    Close();
  }

  void Close() {
    if (fd >= 0 && ::close(fd) != 0) {
      fd = -1;
      FailErrno(target, errno);
    }
    fd = -1;
  }

  // Gives the named temporary file the target's name.
  void Rename() {
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
      FailErrno(target, errno);
    temporary.clear();
  }

  // Gives the complete temporary file the target's name.
  void Place() {
    if (straight) {
      Close();
      return;
    }
    Name(std::string());
    Rename();
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

namespace {

void SyncFolder(const std::string &folder) {
  const int fd = OpenRetrying(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    ::close(fd);
  }
}

// A journal: its first line, the state ("undo" or "redo"), then for every
// file its target and its temporary file, each as "<length> <bytes>\n" so
// that any name survives. A target in the journal's folder is written by its
// name alone, one elsewhere by its full path; the temporary file by its name
// alone, in its target's folder.
constexpr const char *kJournalHead = "kestrane-journal 1\n";
constexpr off_t kMaxJournalBytes = off_t{1} << 26;

void AppendField(std::string &text, const std::string &field) {
  text += std::to_string(field.size());
  text += ' ';
  text += field;
  text += '\n';
}

// The field at `at`, or false when the text does not hold one there.
bool ReadField(const std::string &text, size_t &at, std::string &field) {
  size_t length = 0, digits = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 9) {
    length = length * 10 + static_cast<size_t>(text[at++] - '0');
    ++digits;
  }
  if (digits == 0 || at >= text.size() || text[at++] != ' ' || text.size() - at < length + 1 ||
      text[at + length] != '\n')
    return false;
  field = text.substr(at, length);
  at += length + 1;
  return true;
}

// The target a journal names, as a path from here.
std::string JournalTarget(const std::string &journal, const std::string &target) {
  return target[0] == '/' ? target : Folder(journal) + "/" + target;
}

// True when `name` is a temporary name TemporaryName gives for `target`:
// a journal moves nothing else.
bool IsTemporaryOf(const std::string &name, const std::string &target) {
  const std::string start = "." + BaseName(target).substr(0, 100) + ".";
  if (name.compare(0, start.size(), start) != 0 || name.size() < start.size() + 4 ||
      name.compare(name.size() - 4, 4, ".tmp") != 0)
    return false;
  const std::string numbers = name.substr(start.size(), name.size() - 4 - start.size());
  const size_t dot = numbers.find('.');
  const auto digits = [](const std::string &text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
  };
  return dot != std::string::npos && digits(numbers.substr(0, dot)) &&
         digits(numbers.substr(dot + 1));
}

} // namespace

void SafeSave::CommitTogether(const std::vector<SafeSave *> &saves, const std::string &journal) {
  // One descriptor per folder, locked in a fixed order.
  std::vector<std::pair<std::pair<dev_t, ino_t>, int>> folders;
  struct Unlock {
    std::vector<std::pair<std::pair<dev_t, ino_t>, int>> &folders;
    ~Unlock() {
      for (const auto &f : folders)
        ::close(f.second);
    }
  } unlock{folders};
  try {
    for (SafeSave *save : saves)
      save->state_->Finish();

    // The lock is taken on the folders: the target itself is replaced by the
    // rename and may not exist yet. One descriptor per folder, in a fixed
    // order, so that two runs locking overlapping sets cannot deadlock.
    std::vector<std::string> folderNames;
    size_t renamed = 0;
    for (SafeSave *save : saves) {
      if (!save->state_->straight) {
        folderNames.push_back(Folder(save->state_->path));
        ++renamed;
      }
    }
    const bool journalled = !journal.empty() && renamed > 1;
    if (journalled)
      folderNames.push_back(Folder(journal));
    for (const std::string &name : folderNames) {
      const int fd = OpenRetrying(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      struct stat st {};
      if (fd < 0)
        continue; // unreadable folder: saved unlocked
      fstat(fd, &st);
      folders.push_back({{st.st_dev, st.st_ino}, fd});
    }
    std::sort(folders.begin(), folders.end());
    std::vector<int> distinct;
    for (size_t i = 0; i < folders.size(); ++i) {
      if (i > 0 && folders[i].first == folders[i - 1].first)
        continue;
      distinct.push_back(folders[i].second);
      while (flock(folders[i].second, LOCK_EX) != 0 && errno == EINTR) {
      }
    }

    if (journalled) {
      CommitJournalled(saves, journal, distinct);
      return;
    }
    for (SafeSave *save : saves)
      save->state_->Place();
    for (SafeSave *save : saves)
      save->state_->committed = true;
    // The renames themselves reach the disk.
    for (int fd : distinct)
      fsync(fd);
  } catch (...) {
    for (SafeSave *save : saves)
      if (!save->state_->committed)
        save->state_->Abandon();
    throw;
  }
}

namespace {

[[noreturn]] void FailRecovery(const std::string &journal, const std::string &reason) {
  throw FileTools::Error("cannot finish the interrupted save that " + journal +
                         " records: " + reason);
}

// Recover's work, the journal's folder being locked.
bool RecoverLocked(const std::string &journal) {
  struct stat st {};
  if (lstat(journal.c_str(), &st) != 0) {
    if (errno == ENOENT)
      return false;
    FailRecovery(journal, std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode) || st.st_size > kMaxJournalBytes)
    FailRecovery(journal, "not a journal");
  std::string text;
  {
    std::ifstream in(journal, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.is_open() || in.bad())
      FailRecovery(journal, "it cannot be read");
  }
  const size_t head = std::strlen(kJournalHead);
  const bool redo = text.compare(head, 5, "redo\n") == 0;
  if (text.compare(0, head, kJournalHead) != 0 || (!redo && text.compare(head, 5, "undo\n") != 0))
    FailRecovery(journal, "not a journal");
  std::vector<std::pair<std::string, std::string>> moves; // temporary file, target
  for (size_t at = head + 5; at < text.size();) {
    std::string target, temporary;
    if (!ReadField(text, at, target) || !ReadField(text, at, temporary) || target.empty())
      FailRecovery(journal, "not a journal");
    target = JournalTarget(journal, target);
    if (!IsTemporaryOf(temporary, target))
      FailRecovery(journal, "it names a file that is no temporary file of " + target);
    moves.emplace_back(Folder(target) + "/" + temporary, target);
  }
  std::vector<std::string> touched;
  for (const auto &move : moves) {
    struct stat file {};
    if (lstat(move.first.c_str(), &file) != 0) {
      if (errno == ENOENT)
        continue; // renamed (redo) or never named (undo) before the kill
      FailRecovery(journal, std::strerror(errno));
    }
    if (redo ? std::rename(move.first.c_str(), move.second.c_str()) != 0
             : ::unlink(move.first.c_str()) != 0)
      FailRecovery(journal, move.second + ": " + std::strerror(errno));
    touched.push_back(Folder(move.second));
  }
  std::sort(touched.begin(), touched.end());
  touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
  for (const std::string &name : touched)
    SyncFolder(name);
  if (::unlink(journal.c_str()) != 0)
    FailRecovery(journal, std::strerror(errno));
  SyncFolder(Folder(journal));
  return true;
}

// Writes `text` as the journal, which must not exist, on disk before it has
// its name; returns a descriptor open for writing on it.
int CreateJournal(const std::string &journal, const std::string &text) {
  const std::string folder = Folder(journal);
  std::string temporary;
  int fd = -1;
#ifdef O_TMPFILE
  fd = OpenRetrying(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
#endif
  while (fd < 0) {
    temporary = TemporaryName(folder, BaseName(journal));
    fd =
        OpenRetrying(temporary.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && errno != EEXIST)
      FailErrno(journal, errno);
  }
  const auto fail = [&](int error) {
    ::close(fd);
    if (!temporary.empty())
      ::unlink(temporary.c_str());
    FailErrno(journal, error);
  };
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      fail(n < 0 ? errno : EIO);
    done += static_cast<size_t>(n);
  }
  if (fsync(fd) != 0)
    fail(errno);
  if (temporary.empty()) {
    // The file gets its one name at once: a kill leaves it whole or nothing.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    int linked = linkat(AT_FDCWD, self.c_str(), AT_FDCWD, journal.c_str(), AT_SYMLINK_FOLLOW);
#ifdef AT_EMPTY_PATH
    if (linked != 0 && errno == ENOENT)
      linked = linkat(fd, "", AT_FDCWD, journal.c_str(), AT_EMPTY_PATH);
#endif
    if (linked != 0)
      fail(errno);
  } else if (std::rename(temporary.c_str(), journal.c_str()) != 0) {
    fail(errno);
  }
  SyncFolder(folder);
  return fd;
}

} // namespace

void SafeSave::CommitJournalled(const std::vector<SafeSave *> &saves, const std::string &journal,
                                const std::vector<int> &folders) {
  // An earlier commit of the set that was killed is finished first.
  RecoverLocked(journal);
  std::vector<State *> files;
  for (SafeSave *save : saves)
    if (!save->state_->straight)
      files.push_back(save->state_.get());
  char *here = getcwd(nullptr, 0);
  const std::string cwd = here ? here : ".";
  std::free(here);
  std::vector<std::string> names; // the temporary files, each with its folder
  std::string text = std::string(kJournalHead) + "undo\n";
  const size_t stateAt = std::strlen(kJournalHead);
  for (State *file : files) {
    const std::string folder = Folder(file->path);
    names.push_back(file->temporary.empty() ? TemporaryName(folder, BaseName(file->path))
                                            : file->temporary);
    std::string target = file->path;
    if (folder == Folder(journal))
      target = BaseName(target);
    else if (target[0] != '/')
      target = cwd + "/" + target;
    AppendField(text, target);
    AppendField(text, BaseName(names.back()));
  }

  const int journalFd = CreateJournal(journal, text);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{journalFd};
  try {
    for (size_t i = 0; i < files.size(); ++i)
      files[i]->Name(names[i]);
    for (int fd : folders)
      fsync(fd);
    // Four bytes in place: the journal says "undo" or "redo", never anything between.
    if (pwrite(journalFd, "redo", 4, static_cast<off_t>(stateAt)) != 4 || fsync(journalFd) != 0)
      FailErrno(journal, errno ? errno : EIO);
  } catch (...) {
    ::unlink(journal.c_str()); // the caller removes the temporary files
    throw;
  }
  // From here on the journal finishes the set: nothing it lists is removed.
  for (size_t i = 0; i < files.size(); ++i) {
    try {
      files[i]->Rename();
    } catch (const FileTools::Error &e) {
      for (size_t j = i; j < files.size(); ++j)
        files[j]->temporary.clear();
      throw FileTools::Error(e.GetMessage() + "; " + journal +
                             " lists the files still to be put in place");
    }
  }
  for (SafeSave *save : saves)
    if (save->state_->straight)
      save->state_->Place();
  for (SafeSave *save : saves)
    save->state_->committed = true;
  for (int fd : folders)
    fsync(fd);
  ::unlink(journal.c_str());
  SyncFolder(Folder(journal));
}

bool SafeSave::Recover(const std::string &journal) {
  struct stat st {};
  if (lstat(journal.c_str(), &st) != 0) {
    if (errno == ENOENT)
      return false;
    FailRecovery(journal, std::strerror(errno));
  }
  const int folder = OpenRetrying(Folder(journal).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0)
    FailRecovery(journal, std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{folder};
  // A commit under way holds the folder; its journal is gone when it ends.
  while (flock(folder, LOCK_EX) != 0 && errno == EINTR) {
  }
  return RecoverLocked(journal);
}

std::string SetJournal(const std::string &prefix) { return prefix + ".journal"; }

void RequireNoSetJournal(const std::string &file) {
  const size_t slash = file.find_last_of('/');
  const size_t dot = file.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return;
  const std::string journal = SetJournal(file.substr(0, dot));
  struct stat st {};
  if (lstat(journal.c_str(), &st) == 0) {
    throw FileTools::Error(file + ": " + journal +
                           " shows that this set of files is being replaced or that its "
                           "replacement was interrupted; run the import that writes it again");
  }
}

} // namespace kestrane

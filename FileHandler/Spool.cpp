#include "FileHandler/Spool.h"

#include "FileHandler/BlockBuffer.h"
#include "FileHandler/ParseTools.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ostream>
#include <streambuf>
#include <string>
#include <unistd.h>

namespace kestrane {

namespace {

constexpr size_t kInMemory = size_t{1} << 20;
constexpr size_t kBlock = size_t{1} << 16;

int OpenUnnamed() {
  const char *env = std::getenv("TMPDIR");
  const std::string folder = env != nullptr && *env != '\0' ? env : "/tmp";
#ifdef O_TMPFILE
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0)
    return fd;
#endif
  std::string name = folder + "/kestrane-spool-XXXXXX";
  const int named = mkostemp(&name[0], O_CLOEXEC);
  if (named >= 0)
    ::unlink(name.c_str());
  return named;
}

[[noreturn]] void ReadBackFailed(int error) {
  throw FileTools::Error(std::string("cannot read back the output held in a temporary file: ") +
                         std::strerror(error));
}

} // namespace

class Spool::Buffer : public BlockBuffer {
public:
  Buffer() : BlockBuffer(kBlock) {}
  ~Buffer() override {
    if (fd_ >= 0)
      ::close(fd_);
  }

  void CopyTo(std::ostream &out) {
    Empty();
    if (fd_ >= 0) {
      for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd_, block_.data(), block_.size(), at);
        if (n < 0 && errno == EINTR)
          continue;
        if (n < 0)
          ReadBackFailed(errno);
        if (n == 0)
          break;
        // Past a failed write the rest would go nowhere.
        if (!out.write(block_.data(), n))
          return;
        at += n;
      }
    }
    out << memory_;
  }

private:
  void Drain(const char *p, size_t n) override {
    if (fd_ < 0 && !memoryOnly_ && memory_.size() + n > kInMemory) {
      fd_ = OpenUnnamed();
      memoryOnly_ = fd_ < 0;
      if (fd_ >= 0) {
        std::string earlier;
        earlier.swap(memory_);
        Put(earlier.data(), earlier.size());
      }
    }
    Put(p, n);
  }

  // To the temporary file while there is one. When a write fails, what the
  // file holds comes back into memory and the rest follows it there.
  void Put(const char *p, size_t left) {
    while (fd_ >= 0 && left > 0) {
      const ssize_t n = ::write(fd_, p, left);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0) {
        TakeBack();
        break;
      }
      p += n;
      left -= static_cast<size_t>(n);
      written_ += n;
    }
    if (fd_ < 0)
      memory_.append(p, left);
  }

  void TakeBack() {
    std::string held(static_cast<size_t>(written_), '\0');
    for (off_t at = 0; at < written_;) {
      const ssize_t n =
          ::pread(fd_, &held[static_cast<size_t>(at)], static_cast<size_t>(written_ - at), at);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        ReadBackFailed(n < 0 ? errno : EIO);
      at += n;
    }
    ::close(fd_);
    fd_ = -1;
    memoryOnly_ = true;
    memory_ = std::move(held);
  }

  std::string memory_; // the output while there is no temporary file
  int fd_ = -1;
  off_t written_ = 0; // bytes in the temporary file
  bool memoryOnly_ = false;
};

Spool::Spool()
    : buffer_(std::make_unique<Buffer>()), stream_(std::make_unique<std::ostream>(buffer_.get())) {
  // A failure of the buffer (out of memory, a lost temporary file) reaches
  // the writer rather than silently cutting the output short.
  stream_->exceptions(std::ios::badbit);
}

Spool::~Spool() = default;

std::ostream &Spool::Stream() { return *stream_; }

void Spool::CopyTo(std::ostream &out) {
  stream_->flush();
  buffer_->CopyTo(out);
}

} // namespace kestrane

#include "FileHandler/CheckedOutput.h"

#include "FileHandler/ParseTools.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ostream>
#include <streambuf>

namespace kestrane {

void ReserveStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
      continue;
    // The lowest free descriptor: fd itself, as those below it are open.
    const int taken = ::open("/dev/null", O_RDONLY);
    if (taken >= 0 && taken != fd)
      ::close(taken);
  }
}

// Hands every write straight on to the stream's own buffer (so the order of
// everything written to the descriptor stays as it was) and keeps the reason
// of the first one that fails.
class CheckedOutput::Buffer : public std::streambuf {
public:
  explicit Buffer(std::streambuf *inner) : inner_(inner) {}

  std::streambuf *Inner() const { return inner_; }
  bool Failed() const { return failed_; }
  int Error() const { return error_; }

protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof()))
      return sync() == 0 ? traits_type::not_eof(c) : traits_type::eof();
    errno = 0;
    if (traits_type::eq_int_type(inner_->sputc(traits_type::to_char_type(c)), traits_type::eof()))
      return Fail();
    return c;
  }
  std::streamsize xsputn(const char *s, std::streamsize n) override {
    errno = 0;
    const std::streamsize put = inner_->sputn(s, n);
    if (put < n)
      Fail();
    return put;
  }
  int sync() override {
    errno = 0;
    if (inner_->pubsync() != 0) {
      Fail();
      return -1;
    }
    return 0;
  }

private:
  int_type Fail() {
    if (!failed_)
      error_ = errno != 0 ? errno : EIO;
    failed_ = true;
    return traits_type::eof();
  }

  std::streambuf *inner_;
  bool failed_ = false;
  int error_ = 0;
};

CheckedOutput::CheckedOutput(std::ostream &stream, std::string name)
    : stream_(stream), name_(std::move(name)), buffer_(std::make_unique<Buffer>(stream.rdbuf())) {
  stream_.rdbuf(buffer_.get());
}

CheckedOutput::~CheckedOutput() {
  stream_.flush();
  stream_.rdbuf(buffer_->Inner());
}

std::string CheckedOutput::Failure() {
  stream_.flush();
  if (!buffer_->Failed() && !stream_.fail())
    return std::string();
  return "cannot write to " + name_ + ": " +
         std::strerror(buffer_->Failed() ? buffer_->Error() : EIO);
}

void CheckedOutput::Require() {
  const std::string failure = Failure();
  if (!failure.empty())
    throw FileTools::Error(failure);
}

int CheckedOutput::Finish(int status, std::ostream &err, int closeFd) {
  std::string failure = Failure();
  if (closeFd >= 0 && ::close(closeFd) != 0 && errno != EINTR && failure.empty())
    failure = "cannot write to " + name_ + ": " + std::strerror(errno);
  if (failure.empty() || status != 0)
    return status;
  err << failure << std::endl;
  return 1;
}

} // namespace kestrane

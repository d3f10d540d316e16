#include "FileHandler/TextFile.h"

#include "FileHandler/ParseTools.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kestrane {

bool ReadTextFile(const char *fileName, std::string &text) {
  text.clear();
  if (fileName == nullptr)
    return false;
  int fd;
  do
    fd = ::open(fileName, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  while (fd < 0 && errno == EINTR);
  if (fd < 0)
    return false;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))
    return false;
  if (S_ISREG(st.st_mode) && st.st_size > 0)
    text.reserve(static_cast<size_t>(st.st_size));
  std::vector<char> chunk(1 << 16);
  for (;;) {
    const ssize_t n = ::read(fd, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      throw FileTools::Error("Error reading " + std::string(fileName) + ": " +
                             std::strerror(errno));
    if (n == 0)
      return true;
    if (const void *nul = std::memchr(chunk.data(), '\0', static_cast<size_t>(n))) {
      const size_t offset =
          text.size() + static_cast<size_t>(static_cast<const char *>(nul) - chunk.data());
      throw FileTools::Error("NUL byte at offset " + std::to_string(offset) + ": " + fileName +
                             " is not a text file");
    }
    text.append(chunk.data(), static_cast<size_t>(n));
  }
}

} // namespace kestrane

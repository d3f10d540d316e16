#ifndef KESTRANE_FILEHANDLER_CHECKEDOUTPUT_H
#define KESTRANE_FILEHANDLER_CHECKEDOUTPUT_H

// Results written to a stream the program does not own (its standard
// output). A write that fails there (a full disk, a closed descriptor, a
// file-size limit, a reader that has gone) must fail the program, not vanish
// behind exit status 0; the reason is kept from the write that failed, since
// the stream itself only remembers that something did.

#include <iosfwd>
#include <memory>
#include <string>

namespace kestrane {

// Descriptors 0, 1 and 2 of a program started without them (">&-") are
// taken by the null device, opened for reading only: no file the program
// opens gets one of them (the stream's writes would land in that file), and
// a write to the stream still fails as on the closed descriptor.
void ReserveStandardDescriptors();

class CheckedOutput {
public:
  // Watches `stream` until the watch ends (its buffer wrapped); `name` is
  // the stream's name in messages ("standard output").
  CheckedOutput(std::ostream &stream, std::string name);
  ~CheckedOutput();
  CheckedOutput(const CheckedOutput &) = delete;
  CheckedOutput &operator=(const CheckedOutput &) = delete;

  // Flushes the stream. Empty when everything written since the watch began
  // has arrived; else the line to report ("cannot write to standard output:
  // No space left on device").
  std::string Failure();
  // Raises FileTools::Error with the Failure line, if there is one.
  void Require();
  // A program's last step: flushes the stream and, when `closeFd` is a
  // descriptor, closes it (where some file systems report a lost write).
  // Returns `status`; a failure of a run that ended with 0 is written to
  // `err` as one line and makes it 1.
  int Finish(int status, std::ostream &err, int closeFd = -1);

private:
  class Buffer;
  std::ostream &stream_;
  std::string name_;
  std::unique_ptr<Buffer> buffer_;
};

} // namespace kestrane

#endif

#ifndef KESTRANE_FILEHANDLER_SPOOL_H
#define KESTRANE_FILEHANDLER_SPOOL_H

// Output held back until it is known to be complete, for a destination that
// must get all of it or nothing and cannot take a temporary file beside it
// (standard output, a FIFO, a device). Up to a megabyte waits in memory; more
// goes to an unnamed temporary file in $TMPDIR (or /tmp), so that memory stays
// flat however long the output grows. Where that file cannot be made or
// fills up, the output waits in memory after all.

#include <iosfwd>
#include <memory>

namespace kestrane {

class Spool {
public:
  Spool();
  ~Spool();
  Spool(const Spool &) = delete;
  Spool &operator=(const Spool &) = delete;

  // Where the output goes.
  std::ostream &Stream();
  // Copies everything written so far to `out`; raises FileTools::Error when
  // the temporary file cannot be read back.
  void CopyTo(std::ostream &out);

private:
  class Buffer;
  std::unique_ptr<Buffer> buffer_;
  std::unique_ptr<std::ostream> stream_;
};

} // namespace kestrane

#endif

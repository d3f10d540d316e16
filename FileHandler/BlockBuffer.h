#ifndef KESTRANE_FILEHANDLER_BLOCKBUFFER_H
#define KESTRANE_FILEHANDLER_BLOCKBUFFER_H

// An output stream buffer of one block: the writes fill the block, and each
// full block (or what a flush finds in it) goes to the derived class's Drain.

#include <cstddef>
#include <streambuf>
#include <vector>

namespace kestrane {

class BlockBuffer : public std::streambuf {
protected:
  explicit BlockBuffer(size_t size) : block_(size) { Restart(); }

  // Takes the bytes p .. p+n-1 (they stay valid until the next write).
  virtual void Drain(const char *p, size_t n) = 0;
  // Hands on what the block holds and starts it afresh.
  void Empty() {
    const char *p = pbase();
    const size_t n = static_cast<size_t>(pptr() - pbase());
    Restart();
    Drain(p, n);
  }

  int_type overflow(int_type c) override {
    Empty();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override {
    Empty();
    return 0;
  }

  std::vector<char> block_;

private:
  void Restart() { setp(block_.data(), block_.data() + block_.size()); }
};

} // namespace kestrane

#endif

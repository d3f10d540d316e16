#ifndef KESTRANE_KQMESSAGE_RUNRANDOM_H
#define KESTRANE_KQMESSAGE_RUNRANDOM_H

// The random draws of one run. The C library's rand state is one per process,
// so two runs in two threads would interleave their draws. A run instead
// installs its own generator for its thread (RunRandomScope); the library
// draws through RandomDraw, which takes the installed generator's next value
// and falls back to rand() when none is installed, so a caller that seeds
// rand itself still gets the draws it asked for.
//
// The generator is the C library's own, in its reentrant form, with the
// 128-byte state srand and rand use: seeded with s it gives exactly the
// values rand gives after srand(s), so seeded runs keep their bits.

#include <cstdint>
#include <cstdlib>

namespace kestrane {

class RunRandom {
public:
  explicit RunRandom(uint32_t seed);
  // The state holds pointers into itself.
  RunRandom(const RunRandom &) = delete;
  RunRandom &operator=(const RunRandom &) = delete;

  int Next();

private:
  alignas(int32_t) char state_[128];
  random_data data_;
};

// Installs a generator seeded with `seed` for the calling thread while it
// lives; the one installed before (if any) comes back when it ends.
class RunRandomScope {
public:
  explicit RunRandomScope(uint32_t seed);
  ~RunRandomScope();
  RunRandomScope(const RunRandomScope &) = delete;
  RunRandomScope &operator=(const RunRandomScope &) = delete;

private:
  RunRandom random_;
  RunRandom *previous_;
};

// The next draw of the thread's run generator, else of rand().
int RandomDraw();

} // namespace kestrane

#endif

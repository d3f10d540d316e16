#include "KQmessage/RunRandom.h"

#include "KQmessage/KAssert.h"

#include <cstring>

namespace kestrane {

namespace {

thread_local RunRandom *installed = nullptr;

} // namespace

RunRandom::RunRandom(uint32_t seed) {
  // initstate_r reads the old state pointer: it must start out null.
  std::memset(&data_, 0, sizeof data_);
  const int failed = initstate_r(seed, state_, sizeof state_, &data_);
  KASSERT(failed == 0);
}

int RunRandom::Next() {
  int32_t value = 0;
  random_r(&data_, &value);
  return value;
}

RunRandomScope::RunRandomScope(uint32_t seed) : random_(seed), previous_(installed) {
  installed = &random_;
}

RunRandomScope::~RunRandomScope() { installed = previous_; }

int RandomDraw() { return installed != nullptr ? installed->Next() : std::rand(); }

} // namespace kestrane

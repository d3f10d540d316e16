#ifndef KESTRANE_BOOT_VERSION_H
#define KESTRANE_BOOT_VERSION_H

namespace kestrane {

// The release both programs report with --version.
inline constexpr const char *kVersion = "1.0.0";

} // namespace kestrane

#endif

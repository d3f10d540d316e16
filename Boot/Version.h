#ifndef KESTRANE_BOOT_VERSION_H
#define KESTRANE_BOOT_VERSION_H

// The build defines KESTRANE_VERSION from the repository's VERSION file, the
// one the Python package's metadata and __version__ come from too.
#ifndef KESTRANE_VERSION
#error "KESTRANE_VERSION is defined by the build, from the VERSION file"
#endif

namespace kestrane {

// The release both programs report with --version.
inline constexpr const char *kVersion = KESTRANE_VERSION;

} // namespace kestrane

#endif

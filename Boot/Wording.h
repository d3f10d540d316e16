#ifndef KESTRANE_BOOT_WORDING_H
#define KESTRANE_BOOT_WORDING_H

// Counts in words, shared by the messages of the pipeline and the front ends.

#include <string>

namespace kestrane {

// "1 row", "2 rows": the count and the noun, plural unless the count is 1.
std::string CountOf(long long count, const std::string &noun, const std::string &plural = "");

// The warning line for values clipped into [0, 1]: "!Warning: 1 <noun><where>
// was clipped to [0, 1]", the noun and verb plural for other counts.
std::string ClippedWarning(long long count, const std::string &noun, const std::string &where);

// The warning line for rows left out because their class is missing:
// "!Warning: 2 rows<where> have no class value and were skipped".
std::string SkippedWarning(long long count, const std::string &where);

} // namespace kestrane

#endif

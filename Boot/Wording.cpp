#include "Boot/Wording.h"

namespace kestrane {

std::string CountOf(long long count, const std::string &noun, const std::string &plural) {
  return std::to_string(count) + " " + (count == 1 ? noun : plural.empty() ? noun + "s" : plural);
}

std::string ClippedWarning(long long count, const std::string &noun, const std::string &where) {
  return "!Warning: " + CountOf(count, noun) + where + (count == 1 ? " was" : " were") +
         " clipped to [0, 1]\n";
}

std::string SkippedWarning(long long count, const std::string &where) {
  return "!Warning: " + CountOf(count, "row") + where + (count == 1 ? " has" : " have") +
         " no class value and " + (count == 1 ? "was" : "were") + " skipped\n";
}

} // namespace kestrane

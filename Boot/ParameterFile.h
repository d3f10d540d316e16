#ifndef KESTRANE_BOOT_PARAMETERFILE_H
#define KESTRANE_BOOT_PARAMETERFILE_H

// Reading and validating the parameter file of a training run.
//
// The file is a stream of white-space separated words. A recognised key (any
// letter case) is followed by one separator character (any non-blank
// character, by convention "=") and its value; any other word is skipped.

#include "Boot/RunSettings.h"
#include "KQmessage/KestraneError.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace kestrane {

// Longest words the settings hold.
inline constexpr size_t kMaxParameterWord = 255; // keys, WeightFile, DestinationFile
inline constexpr size_t kMaxDataFileName = 254;
inline constexpr size_t kMaxBatchWord = 15;

// Resets settings to their initial values and reads the whole file into them. A value that cannot
// be read as its type (or is missing, or too long) ends reading: its message is returned. Problems
// with the file's structure (entry counts, order, negative counts) do not stop
// reading; they are appended to `problems` and reported after validation.
std::string ReadParameters(std::istream &in, RunSettings &settings,
                           std::vector<std::string> &problems);

// The four required-setting checks, in order; empty text when all pass.
std::string ValidateSettings(const RunSettings &settings);

// ReadParameters, then ValidateSettings, then the first structural problem:
// the one message to report, or empty text for a usable file.
std::string LoadParameters(std::istream &in, RunSettings &settings);

// The parameter file's key of every setting ("LearningRate"); settings that
// the file does not hold by their plain name.
std::string ParameterKey(Setting setting);

} // namespace kestrane

#endif

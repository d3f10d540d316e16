#ifndef KESTRANE_FILEHANDLER_TEXTFILE_H
#define KESTRANE_FILEHANDLER_TEXTFILE_H

// Whole text files read into memory, for the readers that parse from a string.

#include <string>

namespace kestrane {

// Reads all of `fileName` into `text`. False when it cannot be opened or is a
// directory. A NUL byte is no part of a text file: it raises FileTools::Error
// at once ("NUL byte at offset N: <name> is not a text file"), so that a
// device such as /dev/zero is refused instead of read forever.
bool ReadTextFile(const char *fileName, std::string &text);

} // namespace kestrane

#endif

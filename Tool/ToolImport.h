#ifndef KESTRANE_BOOT_TOOLIMPORT_H
#define KESTRANE_BOOT_TOOLIMPORT_H

#include <iosfwd>
#include <string>
#include <vector>

namespace kestrane {

// kestrane-tool import: CSV to class data-set files, a test file, a ranges
// file and a starter parameter file (or, with --ranges, one data-set file of
// new data). Writes all or nothing.
int ToolImport(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

extern const char *const kToolImportHelp;

} // namespace kestrane

#endif

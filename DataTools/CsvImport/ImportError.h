#ifndef KESTRANE_DATATOOLS_CSVIMPORT_IMPORTERROR_H
#define KESTRANE_DATATOOLS_CSVIMPORT_IMPORTERROR_H

#include <stdexcept>
#include <string>

namespace kestrane {

// A problem in a CSV file, a ranges file or an import request. The message is
// one line meant for the user ("line 7: ...").
class ImportError : public std::runtime_error {
public:
  explicit ImportError(const std::string &message) : std::runtime_error(message) {}
};

} // namespace kestrane

#endif

#ifndef KESTRANE_DATATOOLS_CSVIMPORT_IMPORTERROR_H
#define KESTRANE_DATATOOLS_CSVIMPORT_IMPORTERROR_H

#include "KQmessage/KestraneError.h"

#include <string>

namespace kestrane {

// A problem in a CSV file, a ranges file or an import request. The message is
// one line meant for the user ("line 7: ...").
class ImportError : public TMessageError {
public:
  using TMessageError::TMessageError;
};

} // namespace kestrane

#endif

// The error of a binary recording that ends before its header does: the run
// says so on the console and still reports its run time before it stops, so
// the driver tells this error from the others (it is handled as any Error).
#pragma once

#include "common/error.hpp"

namespace qv {

class UnreadableRecording : public Error {
 public:
  using Error::Error;
};

}  // namespace qv

// The one error type of the program. Library code raises it for every fatal
// condition; main turns it into the message and a non-zero exit status.
#pragma once

#include <stdexcept>
#include <string>

namespace qv {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace qv

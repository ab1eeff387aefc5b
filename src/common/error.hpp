// The one error type of the program. Library code raises it for every fatal
// condition; main turns it into the message and a non-zero exit status.
#pragma once

#include <stdexcept>
#include <string>

namespace qv {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& what) : std::runtime_error(printable(what)) {}
  explicit Error(const char* what) : Error(std::string(what)) {}

 private:
  // Messages quote what they found in a station's files, which may be binary
  // garbage: control characters (a NUL would end the message early) are shown
  // as \xNN.
  static std::string printable(const std::string& s) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(s.size());
    for (unsigned char c : s) {
      if (c >= 0x20 && c != 0x7F) {
        out += static_cast<char>(c);
      } else {
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 15];
      }
    }
    return out;
  }
};

}  // namespace qv

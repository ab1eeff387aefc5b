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
  // garbage: control characters (a NUL would end the message early) and bytes
  // that are not UTF-8 are shown as \xNN; UTF-8 names stay as they are.
  static std::string printable(const std::string& s) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
      const auto c = static_cast<unsigned char>(s[i]);
      const std::size_t n = utf8_length(s, i);
      if (n > 1 || (c >= 0x20 && c != 0x7F && c < 0x80)) {
        out.append(s, i, n);
        i += n;
      } else {
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 15];
        ++i;
      }
    }
    return out;
  }
  // Length of the well-formed UTF-8 sequence at s[i] (1 for a single byte or
  // a byte that starts no well-formed sequence).
  static std::size_t utf8_length(const std::string& s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 1;
    if (n == 1 || i + n > s.size()) return 1;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 1;
    return n;
  }
};

}  // namespace qv

#include "calibration/pole_zero.hpp"

#include <cstdint>
#include <numbers>

#include "common/text_reader.hpp"

namespace qv {

namespace {

bool is_separator(char c) { return c == ' ' || c == ',' || c == '\t' || c == '\r'; }
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trim_blanks(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

std::string plural(int n, std::string_view word) {
  return std::to_string(n) + " " + std::string(word) + (n == 1 ? "" : "s");
}

// Free-format scanner over one line. A plain value ends at a separator or at
// the '(' of a complex value written straight after it; a complex value runs
// from its '(' to the matching ')', and may hold blanks around its parts.
class LineScanner {
 public:
  explicit LineScanner(std::string_view line) : line_(line) {}

  // Moves to the next value; false at the end of the line.
  bool skip_separators() {
    while (pos_ < line_.size() && is_separator(line_[pos_])) ++pos_;
    return pos_ < line_.size();
  }

  std::string_view plain_token() {
    const std::size_t start = pos_;
    while (pos_ < line_.size() && !is_separator(line_[pos_]) && line_[pos_] != '(') ++pos_;
    if (pos_ == start) ++pos_;  // a '(' where a plain value belongs is the token itself
    return line_.substr(start, pos_ - start);
  }

  // Reads "(real,imaginary)"; on failure `found` holds the offending text.
  bool complex_value(std::complex<double>& v, std::string_view& found) {
    const std::size_t start = pos_;
    if (line_[pos_] != '(') {
      found = plain_token();
      return false;
    }
    const std::size_t close = line_.find(')', pos_);
    if (close == std::string_view::npos) {
      pos_ = line_.size();
      found = line_.substr(start);
      return false;
    }
    pos_ = close + 1;
    found = line_.substr(start, pos_ - start);
    const std::string_view inner = line_.substr(start + 1, close - start - 1);
    const std::size_t comma = inner.find(',');
    if (comma == std::string_view::npos) return false;
    double re = 0, im = 0;
    if (!parse_real(trim_blanks(inner.substr(0, comma)), re) || !parse_real(trim_blanks(inner.substr(comma + 1)), im))
      return false;
    v = {re, im};
    return true;
  }

 private:
  std::string_view line_;
  std::size_t pos_ = 0;
};

std::string found_text(std::string_view tok) {
  if (tok.empty()) return "the end of the line";
  std::string s(1, '\'');
  s.append(tok);
  s += '\'';
  return s;
}

// Reads one of the two counts.
bool read_count(LineScanner& sc, std::string_view what, int& n, std::string& why) {
  std::string_view tok;
  if (sc.skip_separators()) tok = sc.plain_token();
  std::int64_t v = 0;
  if (!parse_int(tok, v)) {
    why = "expected the number of " + std::string(what) + ", found " + found_text(tok);
    return false;
  }
  if (v < 0 || v > npzmx) {
    why = "the number of " + std::string(what) + " must be 0 to " + std::to_string(npzmx) + ", found " +
          std::to_string(v);
    return false;
  }
  n = static_cast<int>(v);
  return true;
}

}  // namespace

bool parse_pole_zero(std::string_view line, PoleZero& pz, std::string& why) {
  LineScanner sc(line);
  PoleZero out;
  if (!read_count(sc, "zeros", out.nz, why) || !read_count(sc, "poles", out.np, why)) return false;
  std::string_view tok;
  if (sc.skip_separators()) tok = sc.plain_token();
  if (!parse_real(tok, out.K)) {
    why = "expected the gain, found " + found_text(tok);
    return false;
  }
  const int n = out.nz + out.np;
  for (int k = 0; k < n; ++k) {
    if (!sc.skip_separators()) {
      why = "expected " + plural(out.nz, "zero") + " and " + plural(out.np, "pole") + " after the gain, found " +
            plural(k, "complex value");
      return false;
    }
    std::complex<double>& v = k < out.nz ? out.z[k] : out.p[k - out.nz];
    if (!sc.complex_value(v, tok)) {
      why = "expected a complex value (real,imaginary), found " + found_text(tok);
      return false;
    }
  }
  pz = out;
  return true;
}

std::complex<double> pz_response(const PoleZero& pz, double f) {
  const std::complex<double> s(0.0, 2.0 * std::numbers::pi * f);
  std::complex<double> num = pz.K;
  for (int k = 0; k < pz.nz; ++k) num *= s - pz.z[k];
  std::complex<double> den = 1.0;
  for (int k = 0; k < pz.np; ++k) den *= s - pz.p[k];
  return num / den;
}

}  // namespace qv

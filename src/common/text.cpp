#include "common/text.hpp"

namespace qv {

namespace {
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; }
}  // namespace

int last_nonblank(std::string_view s) {
  for (int i = static_cast<int>(s.size()); i > 0; --i)
    if (!is_blank(s[i - 1])) return i;
  return 0;
}

int first_nonblank(std::string_view s) {
  for (int i = 0; i < static_cast<int>(s.size()); ++i)
    if (!is_blank(s[i])) return i + 1;
  return static_cast<int>(s.size());
}

int base_name_length(std::string_view s) {
  int n = 0;
  while (n < static_cast<int>(s.size()) && s[n] != ' ' && s[n] != '.') ++n;
  return n;
}

std::string_view trim_right(std::string_view s) { return s.substr(0, last_nonblank(s)); }

std::string_view trim(std::string_view s) {
  s = trim_right(s);
  std::size_t i = 0;
  while (i < s.size() && is_blank(s[i])) ++i;
  return s.substr(i);
}

std::string fixed_field(std::string_view line, int start, int width) {
  std::string out(width, ' ');
  for (int i = 0; i < width; ++i) {
    std::size_t p = static_cast<std::size_t>(start + i);
    if (p >= line.size()) break;
    char c = line[p];
    out[i] = (c == '\r' || c == '\n') ? ' ' : c;
  }
  return out;
}

std::string to_posix(std::string_view path) {
  std::string out(path);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

std::string join_path(std::string_view dir, std::string_view name) {
  std::string d = to_posix(trim(dir));
  std::string n = to_posix(trim(name));
  if (d.empty()) return n;
  if (d.back() == '/') return d + n;
  return d + "/" + n;
}

}  // namespace qv

#include "common/console.hpp"

namespace qv {

bool Console::ask(std::string_view prompt, std::string& answer) {
  *out_ << prompt << std::flush;
  answer.clear();
  if (!std::getline(*in_, answer)) {
    answer.clear();
    *out_ << '\n';
    return false;
  }
  if (!answer.empty() && answer.back() == '\r') answer.pop_back();
  return true;
}

std::string Console::num(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string Console::num(float v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

}  // namespace qv

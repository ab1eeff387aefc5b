// The console of a run: progress and diagnostics on standard output, the
// start-time report on standard error, answers to prompts from standard input.
// Tests hand in string streams.
#pragma once

#include <charconv>
#include <cstdint>
#include <iostream>
#include <string>
#include <string_view>
#include <type_traits>

namespace qv {

class Console {
 public:
  Console(std::ostream& out, std::ostream& err, std::istream& in) : out_(&out), err_(&err), in_(&in) {}

  std::ostream& out() { return *out_; }
  // Sends the standard-output lines to os from now on; returns where they went.
  std::ostream* redirect_out(std::ostream* os) {
    std::ostream* was = out_;
    out_ = os;
    return was;
  }
  std::ostream& err() { return *err_; }

  // One line exactly as given.
  void text(std::string_view line) { *out_ << line << '\n'; }
  // An empty line.
  void blank() { *out_ << '\n'; }
  // A free-format line: one blank, then the items one after another. A blank
  // separates two items unless the text already has one at the junction or
  // the next item starts with closing punctuation (") not set large enough").
  template <class... A>
  void say(const A&... items) { write_items(*out_, items...); }
  // The same on the error output.
  template <class... A>
  void say_err(const A&... items) { write_items(*err_, items...); }
  // A warning of the program on the error output: "<program>: warning: what".
  void warn(std::string_view what) { *err_ << program_ << ": warning: " << what << '\n'; }
  // The program named in warnings (qel_vort unless a companion program says).
  void set_program(const char* name) { program_ = name; }

  // Shows a prompt (no line end) and reads one answer line. End of input is
  // taken as an empty answer; returns false then.
  bool ask(std::string_view prompt, std::string& answer);

  // Formats a number the way free-format lines show it.
  static std::string num(double v);
  static std::string num(float v);

 private:
  template <class T>
  static std::string item(const T& v) {
    if constexpr (std::is_same_v<T, bool>) return v ? "T" : "F";
    else if constexpr (std::is_integral_v<T>) return std::to_string(v);
    else if constexpr (std::is_floating_point_v<T>) return num(v);
    else return std::string(std::string_view(v));
  }
  template <class... A>
  static void write_items(std::ostream& os, const A&... items) {
    std::string line = " ";
    bool first = true;
    auto add = [&](const std::string& s) {
      bool closing = !s.empty() && (s[0] == ' ' || s[0] == ')' || s[0] == ',' || s[0] == ';' || s[0] == ':');
      if (!first && line.back() != ' ' && !closing) line += ' ';
      line += s;
      first = false;
    };
    (add(item(items)), ...);
    os << line << '\n';
  }

  std::ostream* out_;
  std::ostream* err_;
  std::istream* in_;
  const char* program_ = "qel_vort";
};

}  // namespace qv

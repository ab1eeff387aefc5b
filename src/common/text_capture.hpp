// A stream that keeps what is written to it in a string, for console lines
// that must wait before they are shown: the thread that says them is ahead of
// the thread whose place in the run decides when they appear.
//
//   TextCapture cap;  cap.stream() << ...;   cap.text()   what was written
//   cap.hand_over(s)  moves the text into s (cleared first), cap starts empty
#pragma once

#include <ostream>
#include <streambuf>
#include <string>

namespace qv {

class TextCapture : private std::streambuf {
 public:
  TextCapture() : stream_(this) { text_.reserve(256); }
  TextCapture(const TextCapture&) = delete;
  TextCapture& operator=(const TextCapture&) = delete;

  std::ostream& stream() { return stream_; }
  const std::string& text() const { return text_; }
  // s takes the text; the capture goes on in s's former storage, so that
  // strings handed back and forth keep their capacity.
  void hand_over(std::string& s) {
    s.clear();
    s.swap(text_);
  }

 private:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) text_.push_back(traits_type::to_char_type(c));
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    text_.append(s, static_cast<std::size_t>(n));
    return n;
  }

  std::string text_;
  std::ostream stream_;
};

}  // namespace qv

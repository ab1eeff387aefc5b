#include "common/text_reader.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "common/error.hpp"

namespace qv {

namespace {

// The longest line a file may hold, end of line included; a file's buffer
// starts at kFirstBuffer and doubles up to it only while a line does not fit.
constexpr std::size_t kBufferSize = std::size_t(1) << 20;
constexpr std::size_t kFirstBuffer = std::size_t(1) << 16;

bool is_separator(char c) { return c == ' ' || c == ',' || c == '\t' || c == '\r'; }

// Returns the next token of text starting at pos, advancing pos past it.
bool next_token(std::string_view text, std::size_t& pos, std::string_view& tok) {
  while (pos < text.size() && is_separator(text[pos])) ++pos;
  if (pos >= text.size()) return false;
  std::size_t start = pos;
  while (pos < text.size() && !is_separator(text[pos])) ++pos;
  tok = text.substr(start, pos - start);
  return true;
}

template <class F>
bool parse_real_as(std::string_view tok, F& v) {
  if (tok.empty() || tok.size() > 64) return false;
  char tmp[65];
  std::size_t n = 0;
  std::size_t i = 0;
  if (tok[0] == '+') i = 1;
  bool digit = false;
  for (; i < tok.size(); ++i) {
    char c = tok[i];
    if (c == 'd' || c == 'D') c = 'e';
    if (c >= '0' && c <= '9') digit = true;
    else if (c != '.' && c != 'e' && c != 'E' && c != '-' && c != '+') return false;
    tmp[n++] = c;
  }
  if (!digit) return false;
  F out{};
  auto res = std::from_chars(tmp, tmp + n, out, std::chars_format::general);
  if (res.ec == std::errc::result_out_of_range) return false;
  if (res.ec != std::errc() || res.ptr != tmp + n) return false;
  v = out;
  return true;
}

bool store(const FreeField& f, std::string_view tok) {
  switch (f.kind) {
    case FreeField::i32: {
      std::int64_t v;
      if (!parse_int(tok, v) || v < INT32_MIN || v > INT32_MAX) return false;
      *static_cast<std::int32_t*>(f.target) = static_cast<std::int32_t>(v);
      return true;
    }
    case FreeField::i64:
      return parse_int(tok, *static_cast<std::int64_t*>(f.target));
    case FreeField::f32:
      return parse_real(tok, *static_cast<float*>(f.target));
    case FreeField::f64:
      return parse_real(tok, *static_cast<double*>(f.target));
  }
  return false;
}

}  // namespace

bool parse_int(std::string_view tok, std::int64_t& v) {
  std::size_t i = (!tok.empty() && tok[0] == '+') ? 1 : 0;
  if (i >= tok.size()) return false;
  std::int64_t out = 0;
  auto res = std::from_chars(tok.data() + i, tok.data() + tok.size(), out);
  if (res.ec != std::errc() || res.ptr != tok.data() + tok.size()) return false;
  v = out;
  return true;
}

bool parse_real(std::string_view tok, double& v) { return parse_real_as(tok, v); }
bool parse_real(std::string_view tok, float& v) { return parse_real_as(tok, v); }

int split_values(std::string_view text, std::span<std::string_view> out) {
  std::size_t pos = 0;
  int n = 0;
  std::string_view tok;
  while (n < static_cast<int>(out.size()) && next_token(text, pos, tok)) out[n++] = tok;
  return n;
}

ReadStatus read_values_from(std::string_view text, std::span<const FreeField> fields) {
  std::size_t pos = 0;
  std::string_view tok;
  for (const FreeField& f : fields) {
    if (!next_token(text, pos, tok)) return ReadStatus::end_of_file;
    if (tok[0] == '/') return ReadStatus::ok;
    if (!store(f, tok)) return ReadStatus::bad_value;
  }
  return ReadStatus::ok;
}

TextReader::TextReader() = default;
TextReader::~TextReader() { close(); }
TextReader::TextReader(TextReader&& o) noexcept { *this = std::move(o); }
TextReader& TextReader::operator=(TextReader&& o) noexcept {
  if (this == &o) return *this;
  close();
  name_ = std::move(o.name_);
  file_ = o.file_;
  o.file_ = nullptr;
  in_memory_ = o.in_memory_;
  buf_ = std::move(o.buf_);
  buf_capacity_ = std::exchange(o.buf_capacity_, 0);
  buf_size_ = std::exchange(o.buf_size_, 0);
  beg_ = o.beg_;
  end_ = o.end_;
  buf_offset_ = o.buf_offset_;
  size_ = o.size_;
  eof_ = o.eof_;
  line_no_ = o.line_no_;
  std::memcpy(starts_, o.starts_, sizeof starts_);
  last_token_ = std::move(o.last_token_);
  last_line_of_error_ = o.last_line_of_error_;
  return *this;
}

bool TextReader::open(const std::string& path) {
  close();
  name_ = path;
  file_ = std::fopen(path.c_str(), "rb");
  if (!file_) return false;
  // A folder opens like a file here and then reads as empty, which would be
  // reported as a file that ends too early (or, for an optional file, go
  // unnoticed). Name it for what it is.
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    close();
    std::string msg = path;
    msg += " is a folder, not a file";
    throw Error(msg);
  }
  in_memory_ = false;
  const auto bytes = std::filesystem::file_size(path, ec);
  size_ = ec ? 0 : std::int64_t(bytes);
  reserve(kFirstBuffer, 0);
  buf_size_ = std::min(buf_capacity_, kBufferSize);
  seek_to(0, 0);
  return true;
}

void TextReader::open_text(std::string name, std::string content) {
  close();
  name_ = std::move(name);
  in_memory_ = true;
  reserve(content.size(), 0);
  if (!content.empty()) std::memcpy(buf_.get(), content.data(), content.size());
  buf_size_ = content.size();
  size_ = std::int64_t(content.size());
  seek_to(0, 0);
}

void TextReader::reserve(std::size_t n, std::size_t keep) {
  if (buf_capacity_ >= n) return;
  std::unique_ptr<char[]> bigger(new char[n]);  // uninitialised: only bytes read into it are ever looked at
  if (keep > 0) std::memcpy(bigger.get(), buf_.get(), keep);
  buf_ = std::move(bigger);
  buf_capacity_ = n;
}

bool TextReader::is_open() const { return file_ != nullptr || in_memory_; }

void TextReader::close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  in_memory_ = false;
  buf_size_ = 0;
  beg_ = end_ = 0;
  eof_ = false;
  line_no_ = 0;
}

void TextReader::seek_to(std::int64_t offset, std::int64_t line_no) {
  line_no_ = line_no;
  starts_[(line_no + 1) % kKeep] = offset;
  if (in_memory_) {
    buf_offset_ = 0;
    beg_ = static_cast<std::size_t>(offset);
    end_ = buf_size_;
    eof_ = true;
    return;
  }
  if (!file_) return;
  std::fseek(file_, static_cast<long>(offset), SEEK_SET);
  buf_offset_ = offset;
  beg_ = end_ = 0;
  eof_ = false;
}

bool TextReader::fill() {
  if (eof_ || !file_) return false;
  if (beg_ > 0) {
    std::memmove(buf_.get(), buf_.get() + beg_, end_ - beg_);
    buf_offset_ += static_cast<std::int64_t>(beg_);
    end_ -= beg_;
    beg_ = 0;
  }
  if (end_ == buf_size_) {
    // The unread part of a line fills the buffer.
    if (buf_size_ >= kBufferSize) return false;
    reserve(std::min(2 * buf_size_, kBufferSize), end_);
    buf_size_ = std::min(buf_capacity_, kBufferSize);
  }
  std::size_t got = std::fread(buf_.get() + end_, 1, buf_size_ - end_, file_);
  if (got == 0) {
    eof_ = true;
    return false;
  }
  end_ += got;
  return true;
}

bool TextReader::next_line(std::string_view& line) {
  if (!is_open()) return false;
  std::size_t scan = beg_;
  for (;;) {
    // An empty in-memory text has no buffer at all: memchr must not see it.
    const char* p = end_ > scan ? static_cast<const char*>(
        std::memchr(buf_.get() + scan, '\n', end_ - scan)) : nullptr;
    if (p) {
      std::size_t nl = static_cast<std::size_t>(p - buf_.get());
      std::size_t len = nl - beg_;
      if (len > 0 && buf_[nl - 1] == '\r') --len;
      line = std::string_view(buf_.get() + beg_, len);
      beg_ = nl + 1;
      break;
    }
    std::size_t consumed = end_ - beg_;  // bytes searched so far
    if (!fill()) {
      if (!eof_ && end_ == buf_size_)
        throw Error("file " + name_ + ", line " + std::to_string(line_no_ + 1) +
                    ": line longer than " + std::to_string(buf_size_) + " characters");
      if (beg_ == end_) return false;  // nothing left
      std::size_t len = end_ - beg_;
      if (len > 0 && buf_[end_ - 1] == '\r') --len;
      line = std::string_view(buf_.get() + beg_, len);
      beg_ = end_;
      break;
    }
    scan = beg_ + consumed;
  }
  ++line_no_;
  starts_[(line_no_ + 1) % kKeep] = buf_offset_ + static_cast<std::int64_t>(beg_);
  return true;
}

void TextReader::rewind() { seek_to(0, 0); }

void TextReader::back_lines(int k) {
  const std::int64_t target = line_no_ + 1 - k;  // number of the line the next read returns
  if (k < 0 || k >= kKeep || target < 1)
    throw Error("file " + name_ + ": cannot step back " + std::to_string(k) + " lines");
  seek_to(starts_[target % kKeep], target - 1);
}

ReadStatus TextReader::read(std::span<const FreeField> fields) {
  std::size_t i = 0;
  std::string_view line;
  while (i < fields.size()) {
    if (!next_line(line)) {
      last_line_of_error_ = line_no_ + 1;
      return ReadStatus::end_of_file;
    }
    std::size_t pos = 0;
    std::string_view tok;
    while (i < fields.size() && next_token(line, pos, tok)) {
      if (tok[0] == '/') return ReadStatus::ok;
      if (!store(fields[i], tok)) {
        last_token_.assign(tok);
        last_line_of_error_ = line_no_;
        return ReadStatus::bad_value;
      }
      ++i;
    }
  }
  return ReadStatus::ok;
}

std::string TextReader::describe(ReadStatus status, std::string_view expected) const {
  std::string where = "file " + name_ + ", line " + std::to_string(last_line_of_error_);
  if (status == ReadStatus::end_of_file)
    return where + ": expected " + std::string(expected) + ", found the end of the file";
  // A token can be a whole damaged line: its start is enough to find it.
  constexpr std::size_t kShown = 60;
  const std::string token = last_token_.size() > kShown ? last_token_.substr(0, kShown) + "..." : last_token_;
  return where + ": expected " + std::string(expected) + ", found '" + token + "'";
}

void TextReader::require(ReadStatus status, std::string_view expected) const {
  if (status != ReadStatus::ok) throw Error(describe(status, expected));
}

}  // namespace qv

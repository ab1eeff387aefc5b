// bare_parse: the floor of any run on a text recording. Reads a file in large
// chunks and turns every blank-separated number into a float with
// std::from_chars, doing nothing else; tools/run_cost.sh divides the time of
// a whole run by the time of this one.
//
//   bare_parse FILE
//
// Prints the number of values parsed and their sum (which keeps the compiler
// from dropping the parse). Tokens that are not numbers are counted apart.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr std::size_t kChunk = std::size_t(1) << 22;  // 4 MiB per read

bool is_blank(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == ','; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bare_parse FILE\n");
    return 1;
  }
  std::FILE* f = std::fopen(argv[1], "rb");
  if (!f) {
    std::fprintf(stderr, "bare_parse: cannot open %s\n", argv[1]);
    return 1;
  }
  std::unique_ptr<char[]> buf(new char[kChunk]);
  std::size_t held = 0;  // bytes of an unfinished token carried to the next chunk
  long long values = 0, others = 0;
  double sum = 0.0;
  for (;;) {
    const std::size_t got = std::fread(buf.get() + held, 1, kChunk - held, f);
    const bool last = got == 0;
    const char* p = buf.get();
    const char* const e = buf.get() + held + got;
    for (;;) {
      while (p < e && is_blank(*p)) ++p;
      const char* t = p;
      while (p < e && !is_blank(*p)) ++p;
      if (t == p) break;
      if (p == e && !last) {  // the token may go on in the next chunk
        p = t;
        break;
      }
      float v = 0;
      const auto r = std::from_chars(t, p, v);
      if (r.ec == std::errc() && r.ptr == p) {
        sum += v;
        ++values;
      } else {
        ++others;
      }
    }
    held = static_cast<std::size_t>(e - p);
    if (last) break;
    if (held == kChunk) {
      std::fprintf(stderr, "bare_parse: a token longer than %zu bytes\n", kChunk);
      return 1;
    }
    std::memmove(buf.get(), p, held);
  }
  std::fclose(f);
  std::printf("%lld values, sum %.9g, %lld other tokens\n", values, sum, others);
  return 0;
}

// Text recordings: the generic ASCII and the ASCII NIMS layouts, header and
// every block.
#include "fuzz/harnesses/blocks.hpp"
#include "input/ascii_reader.hpp"

namespace qv::fuzz {

int ascii(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const std::uint8_t b = in.byte();
  const bool nims = b & 1, real = b & 2, clock_file = (b & 4) && !nims;
  const int chosen = b >> 3 & 7;  // 0: the count of the first data line
  const auto parts = split_parts(in.rest(), 2);
  return expect_errors([&] {
    TextReader text;
    text.open_text("st.asc", std::string(parts[0]));
    Acquisition acq;
    QuietConsole q;
    if (nims) {
      rdhdrNIMSASCII(text, acq, q.con);
    } else {
      const std::string clk = clock_file ? write_file(scratch() / "st.clk", parts[1]) : std::string();
      rdhdrASCII(text, !clock_file, clk, acq, q.con);
    }
    AsciiBlockReader reader(std::move(text), real, q.con);
    read_to_end(reader, chosen == 0 ? acq.nch : chosen, 0);
  });
}

}  // namespace qv::fuzz

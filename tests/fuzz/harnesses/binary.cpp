// Binary recordings read from memory: the QEL and the NIMS formats, header
// and every block.
#include <memory>

#include "fuzz/harnesses/blocks.hpp"
#include "input/nims_block_reader.hpp"
#include "input/nims_header.hpp"
#include "input/qel_block_reader.hpp"
#include "input/qel_header.hpp"

namespace qv::fuzz {

namespace {

struct CloseFile {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, CloseFile>;

}  // namespace

int qel(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  return expect_errors([&] {
    File f(memory_file(bytes));
    Acquisition acq;
    QelLayout layout;
    QuietConsole q;
    rdhdrQEL(f.get(), "st.bin", acq, layout, q.con);
    QelBlockReader reader(f.release(), "st.bin", layout, q.con);
    read_to_end(reader, acq.nch, 0);
  });
}

int nims(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  return expect_errors([&] {
    File f(memory_file(bytes));
    Acquisition acq;
    NimsLayout layout;
    QuietConsole q;
    mk_off(f.get(), "st.bin", acq, layout, q.con);
    NimsBlockReader reader(f.release(), "st.bin", layout, q.con);
    read_to_end(reader, acq.nch, 1);
  });
}

}  // namespace qv::fuzz

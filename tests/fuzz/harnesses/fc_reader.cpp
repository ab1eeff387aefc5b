// The Fourier-coefficient file read back: header, block index, every block's
// records decoded; then fcdump, which must show every file the reader takes.
#include <sstream>

#include "fuzz/harnesses/support.hpp"
#include "output/fc_dump.hpp"
#include "output/fc_reader.hpp"

namespace qv::fuzz {

int fc_reader(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  return expect_errors([&] {
    const std::string path = write_file(scratch() / "st.f5", bytes);
    {
      FcReader fc(path);
      std::vector<FcCoefRecord> records;
      for (const FcBlockInfo& b : fc.blocks()) {
        fc.read_records(b, records);
        for (const FcCoefRecord& r : records)
          for (int c = 0; c < fc.header().nch; ++c) {
            float re = 0, im = 0;
            decode_fc(r.word[static_cast<std::size_t>(c)], b.scale[static_cast<std::size_t>(c)], re, im);
          }
      }
    }
    for (const std::vector<std::string>& args : {std::vector<std::string>{path}, {"--csv", path}}) {
      std::ostringstream out, err;
      if (fcdump_main(args, out, err) != 0) finding("fcdump refuses a file the reader takes: " + err.str());
    }
  });
}

}  // namespace qv::fuzz

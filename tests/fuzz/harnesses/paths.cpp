// The paths file and the file names of a run formed from it.
#include "common/text.hpp"
#include "fuzz/harnesses/support.hpp"
#include "input/open_input.hpp"

namespace qv::fuzz {

int paths(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const std::uint8_t b = in.byte();
  const int nch = b & 7;
  const bool without = b & 0x80;
  const auto parts = split_parts(in.rest(), 2);
  return expect_errors([&] {
    // The run takes the name without surrounding blanks and refuses an empty one.
    const std::string name(trim(parts[0].substr(0, parts[0].find('\n'))));
    if (name.empty()) return;
    const auto dir = fresh_folder("paths");
    if (!without) write_file(dir / "paths.cfg", parts[1]);
    std::optional<PathsLines> lines;
    {
      const InFolder inside(dir);
      QuietConsole q;
      lines = find_paths_file(q.con);
    }
    if (lines.has_value() == without) finding(without ? "lines of a paths file that is not there" : "paths.cfg not read");
    const InputFileSet f = form_file_names(name, lines, nch);
    const std::string ext = ".f" + std::to_string(nch);
    // Every per-station file carries the base name of the recording ('\\' is a folder separator).
    for (const auto& [file, end] : {std::pair{f.clk, ".clk"}, {f.bad, ".bad"}, {f.fc, ext.c_str()}})
      if (!file.ends_with(to_posix(f.base + end))) finding("file name " + file + " does not end with " + f.base + end);
  });
}

}  // namespace qv::fuzz

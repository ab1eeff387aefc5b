#include "fuzz/harnesses/support.hpp"

#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>

namespace qv::fuzz {

namespace fs = std::filesystem;

namespace {

// QV_FUZZ_SCRATCH names the folder when set: tests/fuzz/run.sh gives every
// harness of a repeatable run the same one, because the paths end up in the
// readers' messages and comparisons, whose values steer libFuzzer's mutations.
// Otherwise the folder gets a new name under TMPDIR.
class ScratchFolder {
 public:
  ScratchFolder() {
    if (const char* fixed = std::getenv("QV_FUZZ_SCRATCH"); fixed && *fixed) {
      dir_ = fixed;
      fs::create_directories(dir_);
      return;
    }
    std::string templ = (fs::temp_directory_path() / "qv_fuzz_XXXXXX").string();
    if (!::mkdtemp(templ.data())) throw std::runtime_error("cannot make a scratch folder " + templ);
    dir_ = templ;
  }
  ~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const fs::path& path() const { return dir_; }

 private:
  fs::path dir_;
};

}  // namespace

std::vector<std::string_view> split_parts(std::string_view text, std::size_t n) {
  std::vector<std::string_view> parts;
  std::size_t start = 0, at = 0;
  while (parts.size() + 1 < n) {
    // A cut is "%%" at the start of the text or after a line end, ending its line.
    std::size_t cut = std::string_view::npos;
    for (std::size_t p = at; (p = text.find("%%", p)) != std::string_view::npos; ++p)
      if ((p == 0 || text[p - 1] == '\n') && (p + 2 == text.size() || text[p + 2] == '\n')) {
        cut = p;
        break;
      }
    if (cut == std::string_view::npos) break;
    parts.push_back(text.substr(start, cut - start));
    start = at = std::min(text.size(), cut + 3);
  }
  parts.push_back(text.substr(std::min(start, text.size())));
  parts.resize(n);
  return parts;
}

const fs::path& scratch() {
  static const ScratchFolder folder;
  return folder.path();
}

std::string write_file(const fs::path& path, std::string_view bytes) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  // A new file rather than the old one cut to nothing: ext4 writes a file out
  // to disk when it is closed after such a cut (to protect programs that
  // replace files that way), which made every input wait for the disk.
  std::error_code ec;
  fs::remove(path, ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write the scratch file " + path.string());
  return path.string();
}

fs::path fresh_folder(const std::string& name) {
  const fs::path dir = scratch() / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

InFolder::InFolder(const fs::path& dir) : old_(fs::current_path()) { fs::current_path(dir); }

InFolder::~InFolder() {
  std::error_code ec;
  fs::current_path(old_, ec);
}

std::FILE* memory_file(std::string_view bytes) {
  // Like a file on disk, and unlike fmemopen, the stream can be positioned
  // past its end (a read there finds nothing), so the readers take the same
  // paths as on a file. The copy lives as long as the stream.
  struct Cookie {
    std::string bytes;
    std::size_t pos = 0;
  };
  auto* c = new Cookie{std::string(bytes), 0};
  cookie_io_functions_t io{};
  io.read = [](void* p, char* buf, std::size_t n) -> ssize_t {
    auto* c = static_cast<Cookie*>(p);
    const std::size_t k = std::min(n, c->bytes.size() - std::min(c->pos, c->bytes.size()));
    if (k > 0) std::memcpy(buf, c->bytes.data() + c->pos, k);
    c->pos += k;
    return static_cast<ssize_t>(k);
  };
  io.seek = [](void* p, off64_t* offset, int whence) -> int {
    auto* c = static_cast<Cookie*>(p);
    off64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<off64_t>(c->pos)
                                                               : static_cast<off64_t>(c->bytes.size());
    if (*offset > 0 && base > INT64_MAX - *offset) return -1;
    const off64_t to = base + *offset;
    if (to < 0) return -1;
    c->pos = static_cast<std::size_t>(to);
    *offset = to;
    return 0;
  };
  io.close = [](void* p) -> int {
    delete static_cast<Cookie*>(p);
    return 0;
  };
  std::FILE* f = fopencookie(c, "rb", io);
  if (!f) {
    delete c;
    throw std::runtime_error("cannot open a stream over the input");
  }
  return f;
}

bool verbose() {
  static const bool on = std::getenv("QV_FUZZ_VERBOSE") != nullptr;
  return on;
}

void finding(const std::string& what) { throw Finding(what); }

}  // namespace qv::fuzz

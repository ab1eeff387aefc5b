#include "output/temp_file.hpp"

#include <cerrno>
#include <cstring>
#include <sys/types.h>
#include <unistd.h>

#include "common/binary.hpp"
#include "common/error.hpp"
#include "output/private_file.hpp"

namespace qv {

TempFile::~TempFile() { close(); }

void TempFile::open(const std::string& path) {
  close();
  path_ = path;
  const InterruptsHeld held;  // a named file is removed or registered before a signal acts
  PrivateFile f = create_private_file(path_, "", "temporary file");
  file_ = ::fdopen(f.fd, "w+b");
  if (!file_) {
    const int e = errno;
    ::close(f.fd);
    if (!f.name.empty()) ::unlink(f.name.c_str());
    throw Error("cannot open the temporary file \"" + path_ + "\" beside the Fourier-coefficient file (" +
                std::strerror(e) + ")");
  }
  // Reads and writes go in large pieces straight to the file; unbuffered, a
  // full disk is reported by the write that meets it.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  // On a POSIX file system an open file outlives its name.
  if (!f.name.empty() && ::unlink(f.name.c_str()) != 0) {
    name_ = f.name;
    guard_.set(name_);
  }
}

void TempFile::write_at(std::int64_t offset, const void* bytes, std::size_t n) {
  if (!file_) throw Error("temporary file \"" + path_ + "\" written before it was opened");
  if (n == 0) return;
  if (offset < 0 || fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0 ||
      std::fwrite(bytes, 1, n, file_) != n)
    throw Error("cannot write the temporary file \"" + path_ + "\" at byte offset " + std::to_string(offset) +
                " (" + std::strerror(errno) + "); the output folder needs room for the coefficients of the run");
}

void TempFile::read_at(std::int64_t offset, void* bytes, std::size_t n) {
  if (!file_) throw Error("temporary file \"" + path_ + "\" read before it was opened");
  if (n == 0) return;
  qv::read_at(file_, path_, offset, static_cast<unsigned char*>(bytes), n);
}

void TempFile::close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  if (!name_.empty()) ::unlink(name_.c_str());
  name_.clear();
  guard_.clear();
}

}  // namespace qv

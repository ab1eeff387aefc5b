#include "output/temp_file.hpp"

#include <cerrno>
#include <cstring>
#include <sys/types.h>

#include "common/binary.hpp"
#include "common/error.hpp"

namespace qv {

TempFile::~TempFile() { close(); }

void TempFile::open(const std::string& path) {
  close();
  path_ = path;
  file_ = std::fopen(path_.c_str(), "w+b");
  if (!file_)
    throw Error("cannot create the temporary file \"" + path_ + "\" beside the Fourier-coefficient file (" +
                std::strerror(errno) + "); the output folder must be writable");
  // Reads and writes go in large pieces straight to the file; unbuffered, a
  // full disk is reported by the write that meets it.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  // On a POSIX file system an open file outlives its name.
  named_ = std::remove(path_.c_str()) != 0;
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
  if (named_) std::remove(path_.c_str());
  named_ = false;
}

}  // namespace qv

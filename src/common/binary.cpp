#include "common/binary.hpp"

#include <cerrno>
#include <cstring>
#include <sys/types.h>

#include "common/error.hpp"

namespace qv {

std::size_t read_up_to(std::FILE* f, const std::string& name, std::int64_t offset, unsigned char* buf,
                       std::size_t n) {
  if (offset < 0 || fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0)
    throw Error("cannot read \"" + name + "\" at byte offset " + std::to_string(offset));
  const std::size_t got = std::fread(buf, 1, n, f);
  if (got != n && std::ferror(f))
    throw Error("cannot read \"" + name + "\" at byte offset " + std::to_string(offset) + " (" +
                std::strerror(errno) + ")");
  return got;
}

void read_at(std::FILE* f, const std::string& name, std::int64_t offset, unsigned char* buf, std::size_t n) {
  const std::size_t got = read_up_to(f, name, offset, buf, n);
  if (got != n) {
    throw Error("\"" + name + "\" ends at byte offset " + std::to_string(offset + std::int64_t(got)) +
                "; expected " + std::to_string(n) + " bytes from offset " + std::to_string(offset));
  }
}

std::int64_t file_size(std::FILE* f, const std::string& name) {
  off_t size = -1;
  if (fseeko(f, 0, SEEK_END) != 0 || (size = ftello(f)) < 0)
    throw Error("cannot find the size of \"" + name + "\"");
  return static_cast<std::int64_t>(size);
}

}  // namespace qv

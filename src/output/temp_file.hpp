// A scratch file of one run, beside its Fourier-coefficient file, for data
// that a long recording makes too large to keep in memory (the coefficients
// waiting for the sorted write, the overflow lines waiting for their order).
// It is a private file (private_file.hpp) without a name: unnamed from the
// start where the file system allows, else its unique name is removed as
// soon as it is open. The open file lives on until it is closed, so no run,
// however it ends (an error, a crash, a kill), leaves it behind, no other
// run can meet it, and its space is given back with the last close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "output/interrupt_cleanup.hpp"

namespace qv {

class TempFile {
 public:
  TempFile() = default;
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Creates the file in the folder of `path`, which names it in messages
  // (a named one is briefly path + ".XXXXXX"). Raises an Error naming the
  // file when it cannot be created.
  void open(const std::string& path);
  bool is_open() const { return file_ != nullptr; }
  const std::string& path() const { return path_; }

  // Writes n bytes at byte offset `offset`; reads n bytes from there. Both
  // raise an Error naming the file and the offset when the file system fails
  // them (a full disk, a read past what was written).
  void write_at(std::int64_t offset, const void* bytes, std::size_t n);
  void read_at(std::int64_t offset, void* bytes, std::size_t n);

  // Closes the file, giving its space back; nothing happens when it is not open.
  void close();

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
  std::string name_;    // the name that could not be removed at once: removed at close
  InterruptName guard_;  // ... or by an interrupt before
};

}  // namespace qv

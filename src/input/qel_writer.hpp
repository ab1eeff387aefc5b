// Writing recordings in the data logger's QEL binary format, for the sample
// station's generator and for tests: the 1024-byte packet header with its
// texts and numbers, then packets of interleaved 24-bit big-endian samples.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "input/qel_format.hpp"

namespace qv {

struct QelHeaderFields {
  int firmware = 3;
  int fpga = qel::first_new_fpga;
  std::string position;   // position text, see qel_position_text
  std::string date_time;  // date and time text, see qel_date_time_text
  std::string divisor = "50";  // time-stamp divisor: the stamp counts ticks of a clock of this many MHz
  std::int32_t sampfreq = 0;   // Hz
  std::int64_t stamp = 0;      // time-stamp count
  std::int32_t data_bytes = qel::default_data_bytes;  // data bytes per packet, as the header states it
  std::uint32_t mask = 0x1F;   // channel-enable mask, bit k-1 for channel k
};

// Position text: latitude and longitude in degrees and minutes with the
// hemisphere letters N/S and E/W at their columns.
std::string qel_position_text(double latitude, double longitude);
// Date and time text "hhmmss.sss dd/mm/yyyy".
std::string qel_date_time_text(int year, int month, int day, int hour, int minute, double seconds);

std::array<unsigned char, qel::header_bytes> encode_qel_header(const QelHeaderFields& h);

// Writes a recording packet by packet as its samples come (scan after scan,
// one value of each enabled channel per scan), so recordings of any length
// need one packet of memory. Packets carry the header's data size (46080
// bytes for old FPGAs or an implausible count); the last one holds what is
// left. Raises an Error when a sample does not fit 24 bits or the file cannot
// be written.
class QelStreamWriter {
 public:
  QelStreamWriter(const std::string& path, const QelHeaderFields& h);
  ~QelStreamWriter();
  QelStreamWriter(const QelStreamWriter&) = delete;
  QelStreamWriter& operator=(const QelStreamWriter&) = delete;

  void add(std::int32_t sample);
  // Writes the last packet and closes the file.
  void close();

 private:
  void flush_packet();

  std::string path_;
  std::FILE* file_ = nullptr;
  std::array<unsigned char, qel::header_bytes> header_{};
  std::vector<unsigned char> packet_;  // data bytes of the packet being filled
  std::size_t packet_data_ = 0;
  std::int64_t samples_ = 0;
  bool failed_ = false;
};

// The whole recording at once.
void write_qel_file(const std::string& path, const QelHeaderFields& h, std::span<const std::int32_t> samples);

}  // namespace qv

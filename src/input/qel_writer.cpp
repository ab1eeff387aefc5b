#include "input/qel_writer.hpp"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/error.hpp"

namespace qv {

namespace {

void put_u32be(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (24 - 8 * i));
}

void put_text(unsigned char* p, const std::string& text, int width) {
  std::memset(p, ' ', static_cast<std::size_t>(width));
  std::memcpy(p, text.data(), std::min<std::size_t>(text.size(), static_cast<std::size_t>(width)));
}

// Degrees and minutes of |value|, the minutes rounded to `decimals`.
void degrees_minutes(double value, int decimals, int& degrees, double& minutes) {
  const double scale = std::pow(10.0, decimals);
  const double total = std::round(std::fabs(value) * 60.0 * scale) / scale;
  degrees = static_cast<int>(total / 60.0);
  minutes = total - 60.0 * degrees;
}

}  // namespace

std::string qel_position_text(double latitude, double longitude) {
  int lat_deg = 0, lon_deg = 0;
  double lat_min = 0, lon_min = 0;
  degrees_minutes(latitude, 7, lat_deg, lat_min);
  degrees_minutes(longitude, 6, lon_deg, lon_min);
  // Columns 1-2 degrees, 3-12 minutes, 13 N/S, 14-15 blank, 16-18 degrees,
  // 19-27 minutes, 28 E/W, 29-32 blank.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02d%010.7f%c  %03d%09.6f%c    ", lat_deg, lat_min, latitude < 0 ? 'S' : 'N',
                lon_deg, lon_min, longitude < 0 ? 'W' : 'E');
  return std::string(buf, qel::position_chars);
}

std::string qel_date_time_text(int year, int month, int day, int hour, int minute, double seconds) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02d%02d%06.3f %02d/%02d/%04d", hour, minute, seconds, day, month, year);
  return std::string(buf, qel::datetime_chars);
}

std::array<unsigned char, qel::header_bytes> encode_qel_header(const QelHeaderFields& h) {
  std::array<unsigned char, qel::header_bytes> b{};
  b[qel::off_firmware] = static_cast<unsigned char>(h.firmware);
  b[qel::off_fpga] = static_cast<unsigned char>(h.fpga);
  put_text(&b[qel::off_position], h.position, qel::position_chars);
  put_text(&b[qel::off_datetime], h.date_time, qel::datetime_chars);
  put_text(&b[qel::off_divisor], h.divisor, qel::divisor_chars);
  put_u32be(&b[qel::off_sampfreq], static_cast<std::uint32_t>(h.sampfreq));
  put_u32be(&b[qel::off_stamp], static_cast<std::uint32_t>(static_cast<std::uint64_t>(h.stamp) >> 32));
  put_u32be(&b[qel::off_stamp + 4], static_cast<std::uint32_t>(h.stamp));
  put_u32be(&b[qel::off_data_bytes], static_cast<std::uint32_t>(h.data_bytes));
  put_u32be(&b[qel::off_mask], h.mask);
  return b;
}

QelStreamWriter::QelStreamWriter(const std::string& path, const QelHeaderFields& h) : path_(path) {
  if (std::popcount(h.mask & 0x3Fu) == 0) throw Error("QEL writer: the channel-enable mask enables no channel");
  const bool counted = h.data_bytes != 0 && h.data_bytes != 65537 && h.fpga >= qel::first_new_fpga;
  packet_data_ = static_cast<std::size_t>(counted ? h.data_bytes : qel::default_data_bytes);
  header_ = encode_qel_header(h);
  packet_.reserve(packet_data_);
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) throw Error("cannot create " + path);
}

QelStreamWriter::~QelStreamWriter() {
  if (file_) std::fclose(file_);
}

void QelStreamWriter::add(std::int32_t v) {
  if (v < -8388608 || v > 8388607)
    throw Error("QEL writer: sample " + std::to_string(samples_) + " (" + std::to_string(v) + ") does not fit 24 bits");
  const auto u = static_cast<std::uint32_t>(v);
  packet_.push_back(static_cast<unsigned char>(u >> 16));
  packet_.push_back(static_cast<unsigned char>(u >> 8));
  packet_.push_back(static_cast<unsigned char>(u));
  ++samples_;
  if (packet_.size() >= packet_data_) flush_packet();
}

void QelStreamWriter::flush_packet() {
  const std::size_t n = std::min(packet_.size(), packet_data_);
  failed_ = failed_ || std::fwrite(header_.data(), 1, header_.size(), file_) != header_.size();
  failed_ = failed_ || std::fwrite(packet_.data(), 1, n, file_) != n;
  packet_.erase(packet_.begin(), packet_.begin() + static_cast<std::ptrdiff_t>(n));
}

void QelStreamWriter::close() {
  // The last packet, or the header alone for a recording without samples.
  if (!packet_.empty() || samples_ == 0) flush_packet();
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!closed || failed_) throw Error("cannot write " + path_ + " (disk full?)");
}

void write_qel_file(const std::string& path, const QelHeaderFields& h, std::span<const std::int32_t> samples) {
  QelStreamWriter w(path, h);
  for (std::int32_t v : samples) w.add(v);
  w.close();
}

}  // namespace qv

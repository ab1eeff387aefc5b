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

void write_qel_file(const std::string& path, const QelHeaderFields& h, std::span<const std::int32_t> samples) {
  const int nch = std::popcount(h.mask & 0x3Fu);
  if (nch == 0) throw Error("QEL writer: the channel-enable mask enables no channel");
  const bool counted = h.data_bytes != 0 && h.data_bytes != 65537 && h.fpga >= qel::first_new_fpga;
  const std::size_t packet_data = static_cast<std::size_t>(counted ? h.data_bytes : qel::default_data_bytes);
  const auto header = encode_qel_header(h);

  std::vector<unsigned char> data(samples.size() * qel::bytes_per_sample);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const std::int32_t v = samples[i];
    if (v < -8388608 || v > 8388607)
      throw Error("QEL writer: sample " + std::to_string(i) + " (" + std::to_string(v) + ") does not fit 24 bits");
    const auto u = static_cast<std::uint32_t>(v);
    data[3 * i] = static_cast<unsigned char>(u >> 16);
    data[3 * i + 1] = static_cast<unsigned char>(u >> 8);
    data[3 * i + 2] = static_cast<unsigned char>(u);
  }

  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw Error("cannot create " + path);
  bool ok = true;
  std::size_t pos = 0;
  do {
    const std::size_t n = std::min(packet_data, data.size() - pos);
    ok = ok && std::fwrite(header.data(), 1, header.size(), f) == header.size();
    ok = ok && std::fwrite(data.data() + pos, 1, n, f) == n;
    pos += n;
  } while (pos < data.size());
  if (std::fclose(f) != 0 || !ok) throw Error("cannot write " + path + " (disk full?)");
}

}  // namespace qv

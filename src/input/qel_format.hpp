// The data logger's own recording format (QEL binary): a sequence of packets,
// each a 1024-byte header followed by a fixed number of bytes of interleaved
// 24-bit big-endian samples, one scan (one sample of every enabled channel)
// after another. Only the first packet's header is interpreted. These are the
// places of its fields, shared by the reader and by the writer that makes
// recordings for the sample station and the tests.
#pragma once

#include <cstdint>

namespace qv::qel {

inline constexpr int header_bytes = 1024;  // header at the start of every packet
inline constexpr int header_read = 664;    // bytes of the first header that are read

// Byte offsets of the header fields from the start of the packet.
inline constexpr int off_firmware = 41;    // unsigned byte
inline constexpr int off_fpga = 43;        // unsigned byte
inline constexpr int off_position = 44;    // 32 characters: latitude and longitude
inline constexpr int off_datetime = 79;    // 21 characters: hhmmss.sss dd mm yyyy
inline constexpr int off_divisor = 100;    // 8 characters: time-stamp divisor, free-form number
inline constexpr int off_sampfreq = 108;   // int32: sampling frequency, Hz
inline constexpr int off_stamp = 112;      // int64: time-stamp count
inline constexpr int off_data_bytes = 268; // int32: data bytes per packet
inline constexpr int off_mask = 288;       // uint32: channel-enable mask, bit k-1 for channel k

inline constexpr int position_chars = 32;
inline constexpr int datetime_chars = 21;
inline constexpr int divisor_chars = 8;

// Data bytes per packet taken when the header's count is implausible (0 or
// 65537) or the FPGA is of the first generation (version below 64).
inline constexpr std::int32_t default_data_bytes = 46080;
inline constexpr int first_new_fpga = 64;

inline constexpr int bytes_per_sample = 3;
inline constexpr int scans_per_block = 256;

}  // namespace qv::qel

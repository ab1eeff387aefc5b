// Fuzz harnesses: one per reader of the station's files. Each takes one input
// of arbitrary bytes, runs it through its reader the way a run would, and
// returns 0. The program's own Error is an expected outcome of a malformed
// input and ends the input quietly; anything else escapes: a sanitizer
// report, a crash, an exception of another type, or a Finding thrown where the
// results break a rule the readers promise. The same functions serve
// libFuzzer (the <harness>_fuzzer programs, made from fuzzer_entry.cpp.in) and the replay of the committed seeds
// and regression inputs in qel_vort_tests (fuzz_regressions_test.cpp).
//
// Inputs that hold several files separate them by a line "%%"; a leading
// selector byte, where a harness has one, is described at its function.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace qv::fuzz {

// A result that breaks a promise of the reader under test.
class Finding : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// The free-format text reader. Byte 0 picks the field kinds, bytes 1-15 are a
// program of reader calls (next line, reads of 1 to 4 fields, stepping back,
// rewinding), the rest is the text. The text is read from memory and from a
// file in step: both must give the same lines, values and statuses.
int text_reader(const std::uint8_t* data, std::size_t size);

// The decimation set-up file, "%%", the pre-whitening set-up file
// (cf_decset). Byte 0 picks the channel count 1..6.
int decset(const std::uint8_t* data, std::size_t size);

// The time-series name (first line), then the paths file ("%%" between):
// find_paths_file in a folder holding it, then form_file_names. Byte 0 picks
// the channel count, and with bit 7 set runs without a paths file.
int paths(const std::uint8_t* data, std::size_t size);

// The system parameter file (GETSP), then every filter of every channel
// prepared from its parameter line and evaluated at a few frequencies.
int system_parameters(const std::uint8_t* data, std::size_t size);

// A text recording: byte 0 picks the layout (bit 0: ASCII NIMS, bit 1: real
// samples, bit 2: clock from the ".clk" file, which follows the recording
// after "%%") and bits 3-5 the channels per row; then every block is read.
int ascii(const std::uint8_t* data, std::size_t size);

// A QEL binary recording (rdhdrQEL, then every block).
int qel(const std::uint8_t* data, std::size_t size);

// A NIMS binary recording (mk_off, then every block).
int nims(const std::uint8_t* data, std::size_t size);

// Instrument responses: byte 0 picks a pole-zero line (0) or a response table
// layout (1 TE, 2 TB, 3 PA, 4 05, 5 AP, 6 RI); the rest is the line or the
// table file, which is then evaluated at a few frequencies.
int response(const std::uint8_t* data, std::size_t size);

// A Fourier-coefficient file: FcReader with every block's records decoded,
// then both forms of fcdump.
int fc_reader(const std::uint8_t* data, std::size_t size);

// A whole run over a small station whose one file the input replaces: byte 0
// picks the station and the file (see station_targets in station_run.cpp),
// the rest is the file. A run that succeeds must have written a
// Fourier-coefficient file that FcReader reads back with all its records; a
// run that fails must leave none.
int station_run(const std::uint8_t* data, std::size_t size);

struct Harness {
  const char* name;  // folder of its seeds and regression inputs
  int (*run)(const std::uint8_t* data, std::size_t size);
};

std::span<const Harness> harnesses();

}  // namespace qv::fuzz

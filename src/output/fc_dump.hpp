// fcdump: shows what a Fourier-coefficient file holds, either as its header
// fields with a table per level (frequency blocks and window counts), or as
// every decoded coefficient in CSV.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "output/fc_metadata.hpp"
#include "output/fc_reader.hpp"

namespace qv {

// Header fields with the unit of each channel's coefficients, one line per
// level of the body (blocks, windows, records), then per level the frequency
// indices with coefficients, their frequencies and periods, and the range of
// window numbers; then, with the metadata file (meta present), the UTC times
// of every level's first and last window, or a line saying why they are not
// known. Reads every block's records.
void print_fc_summary(FcReader& fc, std::ostream& out, const FcMetadata* meta = nullptr);

// One CSV line per coefficient: level, frequency index, frequency in hertz
// (F / (nwin dr); empty when the level is not listed), window number,
// channel (1-based), real and imaginary part in calibrated units; with the
// metadata (meta present) one more column, start_utc, the UTC time the
// window's coefficients refer to (empty for a level without one).
void print_fc_csv(FcReader& fc, std::ostream& out, const FcMetadata* meta = nullptr);

// The program: "fcdump FILE" or "fcdump --csv FILE". Returns 0, or 1 after a
// message on err for a bad command line or a file that is not a
// Fourier-coefficient file.
int fcdump_main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace qv

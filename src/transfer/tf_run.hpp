// qel_tf: the transfer functions of a station from its Fourier-coefficient
// files. Reads the files (and their metadata), forms the bands, estimates
// the impedance and tipper band by band, one band's coefficients in memory
// at a time, and writes BASE.edi, BASE.tf.csv and BASE.tf.json, all three
// put in place together at the end (a run that fails changes none of them).
//
//   TfOptions        the command line
//   parse_tf_options the options of a command line
//   tf_main          the program: help, version, a run, every error a message
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "transfer/estimate.hpp"
#include "transfer/frame.hpp"
#include "transfer/transfer_function.hpp"

namespace qv::tf {

struct TfOptions {
  std::vector<std::string> files;  // coefficient files of one station
  std::string base;                // output base name; default: the first file's without ".f<n>"
  std::string bands_file;          // --bands
  bool write_bands = false;        // --write-bands: print the default set and stop
  Estimator estimator = Estimator::robust;
  ErrorMethod errors = ErrorMethod::parametric;
  int resamples = default_bootstrap_resamples;  // --errors bootstrap:N
  std::string channels;            // --channels, as given
  double rotate_deg = 0;           // --rotate
  bool geographic = false;         // --geographic
  std::optional<double> from_unix_s, to_unix_s;  // --from, --to
  std::string remote;              // --remote: the reference station's coefficient file
  std::string remote_channels;     // --remote-channels, as given
};

// Raises an Error naming the option for anything it cannot take.
TfOptions parse_tf_options(const std::vector<std::string>& args);

// Seconds since 1970 of a UTC time written as "2026-01-02T03:04:05Z",
// "2026-01-02T03:04:05.25", "2026-01-02 03:04" or "2026-01-02"; nullopt when
// the text is none of these.
std::optional<double> parse_utc(const std::string& text);

// The program; returns its exit status (0: every file written).
int tf_main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace qv::tf

// What the program tells about itself without running: the usage text of
// "-h" / "--help" and the version line of "--version", both on standard
// output. Neither option clashes with the options of a run, which all begin
// with a single "-" and one of b a A N B f: KA ka sp SP p:.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qv {

// The program version and its date, as the banner of every run shows them.
inline constexpr const char* kProgramVersion = "4.2";
inline constexpr const char* kProgramDate = "2014-08-13";

// When an argument is exactly "-h", "--help" or "--version" (the first such
// argument decides), writes the usage text or the version line to out and
// returns true: the program then ends with status 0 without running.
// Returns false, writing nothing, otherwise.
bool answer_info_request(const std::vector<std::string>& args, std::ostream& out);

// The usage text: input formats and their options, every option, the files
// of a station's folder, the exit status.
void write_usage(std::ostream& out);

// One line: program name, version and date.
void write_version(std::ostream& out);

}  // namespace qv

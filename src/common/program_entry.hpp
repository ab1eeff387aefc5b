// The one entry of every program of the project (qel_vort and its companion
// programs): "-h" / "--help" and "--version" are answered on standard output
// without running, and whatever the program's work raises becomes one line
// "<program>: <message>" on the error output and exit status 1, so that no
// program ends by an uncaught exception, whatever its input.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace qv {

// The version and date every program of the project shows (the banner of a
// qel_vort run shows the same).
inline constexpr const char* kProgramVersion = "4.2";
inline constexpr const char* kProgramDate = "2014-08-13";

struct ProgramInfo {
  const char* name;   // as it is called: "qel_vort", "fcdump"
  const char* usage;  // the text of --help, ending in a newline
};

// When an argument is exactly "-h", "--help" or "--version" (the first such
// argument decides), writes the usage text or the version line
// ("<name> 4.2 (2014-08-13)") to out and returns true. Arguments that only
// contain them ("-f:-h", "-help") are no requests. Returns false, writing
// nothing, otherwise.
bool answer_info_request(const ProgramInfo& info, const std::vector<std::string>& args, std::ostream& out);

// Answers an information request, or runs body and returns its status. An
// Error raised by body is written as "<name>: <message>" on err (after out
// is flushed, so the two streams keep their order on one terminal), a failed
// allocation as "not enough memory", any other exception as an internal
// error; each returns 1.
int guarded_main(const ProgramInfo& info, const std::vector<std::string>& args, std::ostream& out,
                 std::ostream& err, const std::function<int()>& body);

}  // namespace qv

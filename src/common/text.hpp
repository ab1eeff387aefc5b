// Text helpers shared by the readers of the station's files: trimmed lengths,
// base names, fixed-width fields and path joining.
#pragma once

#include <string>
#include <string_view>

namespace qv {

// Position (1-based) of the last non-blank character; 0 if all blank.
int last_nonblank(std::string_view s);
// Position (1-based) of the first non-blank character; the length if all blank.
int first_nonblank(std::string_view s);
// Length of a name before its first blank or '.'.
int base_name_length(std::string_view s);
// The text without trailing blanks (and tabs, carriage returns).
std::string_view trim_right(std::string_view s);
// The text without leading and trailing blanks.
std::string_view trim(std::string_view s);
// Characters [start, start+width) of a line (0-based start), blank-padded when
// the line is shorter: a fixed-width field as a formatted read sees it.
std::string fixed_field(std::string_view line, int start, int width);
// Joins a directory and a name with '/'. A '\' in either counts as a directory
// separator, so station folders written on Windows work unchanged. An empty
// directory gives the name alone.
std::string join_path(std::string_view dir, std::string_view name);
// Turns every '\' into '/'.
std::string to_posix(std::string_view path);

}  // namespace qv

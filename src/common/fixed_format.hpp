// Fixed-width output fields as the console summary and the header of the
// Fourier-coefficient file show them: right-justified in w columns, and w
// asterisks when a value does not fit, so a reader of fixed fields never
// takes the digits of one value for another.
#pragma once

#include <string>
#include <string_view>

namespace qv {

// Integer field Iw.
std::string fmt_i(long long v, int w);
// Fixed-point field Fw.d. The leading zero of a value below 1 in magnitude is
// optional and left out when the field would otherwise overflow (".50").
std::string fmt_f(double v, int w, int d);
// Exponent field Ew.d: sign, "0.", d significant digits, "E", the exponent's
// sign and two digits (sign and three digits without the "E" beyond 99).
std::string fmt_e(double v, int w, int d);
// Character field Aw: the first w characters, blank-padded on the right.
std::string fmt_a(std::string_view s, int w);

}  // namespace qv

// response_table: prints the response table of a station (calibration factor
// and the response of every filter of every channel at every level and
// frequency index) as CSV, without processing the recording. Console lines go
// to standard error, so that standard output holds only the table.
#include <iostream>
#include <string>
#include <vector>

#include "common/console.hpp"
#include "driver/response_report.hpp"

int main(int argc, char** argv) {
  qv::Console con(std::cerr, std::cerr, std::cin);
  con.set_program("response_table");
  return qv::response_report_main(std::vector<std::string>(argv + 1, argv + argc), std::cout, con);
}

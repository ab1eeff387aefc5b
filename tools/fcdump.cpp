// fcdump: shows the header, the per-level blocks or every decoded coefficient
// of a Fourier-coefficient file written by qel_vort.
#include <iostream>
#include <string>
#include <vector>

#include "output/fc_dump.hpp"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return qv::fcdump_main(args, std::cout, std::cerr);
}

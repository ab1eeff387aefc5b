// qel_vort: Fourier coefficients of one magnetotelluric station's recording.
#include <iostream>
#include <string>
#include <vector>

#include "common/console.hpp"
#include "driver/run.hpp"

int main(int argc, char** argv) {
  qv::Console con(std::cout, std::cerr, std::cin);
  return qv::run_main(std::vector<std::string>(argv + 1, argv + argc), con);
}

// qel_vort: Fourier coefficients of one magnetotelluric station's recording.
#include <iostream>
#include <string>
#include <vector>

#include "common/console.hpp"
#include "driver/run.hpp"
#include "output/interrupt_cleanup.hpp"

int main(int argc, char** argv) {
  // Ctrl-C or a kill removes the run's lock and named temporary files.
  qv::install_interrupt_cleanup();
  qv::Console con(std::cout, std::cerr, std::cin);
  return qv::run_main(std::vector<std::string>(argv + 1, argv + argc), con);
}

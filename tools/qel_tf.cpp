// qel_tf: the impedance and tipper of a magnetotelluric station from its
// Fourier-coefficient files, written as SEG EDI with two tables beside it.
#include <iostream>
#include <string>
#include <vector>

#include "output/interrupt_cleanup.hpp"
#include "transfer/tf_run.hpp"

int main(int argc, char** argv) {
  // Ctrl-C or a kill removes the run's named temporary files.
  qv::install_interrupt_cleanup();
  return qv::tf::tf_main(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}

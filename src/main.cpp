// qel_vort: Fourier coefficients of one magnetotelluric station's recording.
#include <iostream>
#include <string>
#include <vector>

#include "common/console.hpp"
#include "common/error.hpp"
#include "driver/run.hpp"

int main(int argc, char** argv) {
  qv::Console con(std::cout, std::cerr, std::cin);
  try {
    std::vector<std::string> args(argv + 1, argv + argc);
    return qv::run(args, con);
  } catch (const qv::Error& e) {
    std::cout.flush();
    std::cerr << "qel_vort: " << e.what() << '\n';
    return 1;
  } catch (const std::bad_alloc&) {
    std::cout.flush();
    std::cerr << "qel_vort: not enough memory for the arrays of this run\n";
    return 1;
  }
}

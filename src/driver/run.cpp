#include "driver/run.hpp"

namespace qv {

int run(const std::vector<std::string>&, Console&) { return 0; }

}  // namespace qv

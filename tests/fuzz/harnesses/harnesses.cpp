#include "fuzz/harnesses.hpp"

namespace qv::fuzz {

std::span<const Harness> harnesses() {
  static constexpr Harness kAll[] = {
      {"text_reader", text_reader}, {"decset", decset}, {"paths", paths},
      {"system_parameters", system_parameters}, {"ascii", ascii}, {"qel", qel},
      {"nims", nims}, {"response", response}, {"fc_reader", fc_reader},
      {"station_run", station_run},
  };
  return kAll;
}

}  // namespace qv::fuzz

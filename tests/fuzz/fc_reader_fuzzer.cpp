// libFuzzer entry of the fc_reader harness (fuzz/harnesses.hpp).
#include "fuzz/harnesses.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return qv::fuzz::fc_reader(data, size);
}

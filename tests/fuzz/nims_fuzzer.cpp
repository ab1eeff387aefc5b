// libFuzzer entry of the nims harness (fuzz/harnesses.hpp).
#include "fuzz/harnesses.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return qv::fuzz::nims(data, size);
}

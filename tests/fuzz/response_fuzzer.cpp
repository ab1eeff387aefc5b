// libFuzzer entry of the response harness (fuzz/harnesses.hpp).
#include "fuzz/harnesses.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return qv::fuzz::response(data, size);
}

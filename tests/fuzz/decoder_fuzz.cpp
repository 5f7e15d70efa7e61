// libFuzzer target: arbitrary bytes through the decoding path of --track.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/decode_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzinput::decodeUntrusted(data, size);
  return 0;
}

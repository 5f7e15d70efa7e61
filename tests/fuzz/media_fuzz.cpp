// libFuzzer target: arbitrary bytes through the decoding path of a hand-picked track
// in any format.
#include <cstddef>
#include <cstdint>

extern "C" {
#include <libavutil/log.h>
}

#include "tests/fuzz/media_input.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  av_log_set_level(AV_LOG_QUIET);  // the show reports failures itself, in one line
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzmedia::decodeUntrusted(data, size);
  return 0;
}

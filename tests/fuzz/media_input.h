// The path that a hand-picked track in any format takes, on arbitrary bytes: FFmpeg's
// demuxing and decoding through our glue (byte source, whitelists, resampling to
// 44,100 Hz stereo, the growing output buffer, the sample clean-up), with what the
// show relies on checked. Shared by the libFuzzer target and the test that replays
// the committed corpus.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "audio/media_decoder.h"

namespace fuzzmedia {

inline void require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "media decoder invariant broken: %s\n", what);
  std::abort();
}

// Short limits, so that every input is decoded to its end quickly: at most 20 s out.
inline MediaLimits limits() {
  MediaLimits l;
  l.maxFrames = 20 * sampleRate;
  l.minFrames = 1;
  l.deadlineSeconds = 5.0;
  return l;
}

inline MediaResult decodeUntrusted(const std::uint8_t* data, std::size_t size) {
  MediaTrack track;
  const MediaLimits l = limits();
  const MediaResult result = decodeMediaBytes(data, size, track, l);
  require(result.message.find('\n') == std::string::npos, "a message is one line");
  if (!result.ok()) {
    require(!result.message.empty(), "a refusal says why");
    require(track.samples == nullptr && track.frames == 0, "a refused track holds nothing");
    return result;
  }
  require(track.samples != nullptr, "a decoded track has samples");
  require(track.frames >= l.minFrames && track.frames <= l.maxFrames, "the length lies within the limits");
  require(track.cut == !result.message.empty(), "only a cut track says so");
  for (std::int64_t i = 0; i < 2 * track.frames; ++i)
    require(std::isfinite(track.samples[i]) && std::fabs(track.samples[i]) <= 4.0f, "samples are finite and bounded");
  for (std::int64_t i = 2 * track.frames; i < 2 * (track.frames + mediaGuardFrames); ++i)
    require(track.samples[i] == 0.0f, "the guard after the end is silent");
  return result;
}

}  // namespace fuzzmedia

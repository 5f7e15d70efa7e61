// The path that a hand-picked track takes, on arbitrary bytes: the decoder opens
// the stream, decodes all of it, and the samples are converted into the bounded
// PlaybackBuffer as start-up does it (stereo through fillPlaybackBuffer, mono
// copied to both sides). Shared by the libFuzzer target and the regression test
// that replays the committed corpus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "audio/decoder.h"
#include "audio/playback.h"

namespace fuzzinput {

// A broken promise of the decoder: report it and stop, so that the fuzzer keeps the input.
inline void require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "decoder invariant broken: %s\n", what);
  std::abort();
}

struct Outcome {
  bool opened = false;
  bool decoded = false;
  int channels = 0;
  long rate = 0;
  int pcmBytes = 0;
  std::uint32_t frames = 0;  // frames written into the PlaybackBuffer
};

inline Outcome decodeUntrusted(const std::uint8_t* data, std::size_t size) {
  Outcome outcome;
  if (size > 0x7fffffff) return outcome;
  TrackDecoder decoder(data, static_cast<int>(size));
  outcome.opened = decoder.open();
  outcome.channels = decoder.channels();
  outcome.rate = decoder.rate();
  require(outcome.opened == (outcome.channels > 0), "channels are known exactly when the stream opened");
  if (outcome.opened) {
    require(outcome.rate > 0, "an opened stream has a rate");
    outcome.decoded = decoder.decodeAll();
    outcome.pcmBytes = decoder.pcmBytes();
    const int frameBytes = outcome.channels * 2;
    require(outcome.pcmBytes >= 0 && outcome.pcmBytes % frameBytes == 0, "whole frames only");
    require(outcome.pcmBytes <= decoder.pcmLimit, "no more than the limit is kept");
    require(decoder.pcmCapacity == 0 || outcome.pcmBytes < decoder.pcmCapacity,
            "the output never fills its allocation");
    if (outcome.channels == 2) {
      outcome.frames = fillPlaybackBuffer(decoder.pcmData, decoder.pcmBytes());
    } else if (outcome.channels == 1) {
      outcome.frames = fillPlaybackBufferMono(decoder.pcmData, decoder.pcmBytes());
    }
    require(outcome.frames <= playbackFrameCount, "the PlaybackBuffer bounds the track");
    for (std::uint32_t i = 0; i < 2 * outcome.frames; ++i) {
      const float v = playbackBuffer[i];
      require(v >= -1.0f && v < 1.0f, "samples lie within [-1, 1)");
    }
  } else {
    require(decoder.pcmBytes() == 0, "nothing is decoded from a stream that did not open");
    require(!decoder.decodeAll(), "a stream that did not open does not decode");
  }
  decoder.clear();
  return outcome;
}

}  // namespace fuzzinput

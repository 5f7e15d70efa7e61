// Plays the score: the instruments, the mixer with its pumping, sweeps, echo and reverb,
// and the peak limiter. Used by the compose program, the statistics and the tests.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/compose/score.h"

namespace compose {

// Which instruments sound: bit (1 << instrument).
using InstrumentMask = std::uint32_t;
constexpr InstrumentMask allInstruments = (1u << instrumentCount) - 1u;
constexpr InstrumentMask onlyInstrument(Instrument instrument) { return 1u << static_cast<int>(instrument); }

// The limiter holds every sample at or below this: -1.5 dBFS, which leaves room for the
// peaks that the lossy encoding adds.
constexpr float peakCeiling = 0.841395142f;

// Frames [first, first + count) of the track as interleaved stereo floats, left then right.
// A span that starts inside the track is preceded by a few seconds of rendering that
// settle the echo and the reverb; notes sounding at its start are played from their own
// start, so every note sounds exactly as in the whole track.
std::vector<float> renderSpan(const Score& score, std::int64_t first, std::int64_t count,
                              InstrumentMask mask = allInstruments);

// The whole track, trackFrameCount frames.
std::vector<float> renderTrack(const Score& score);

// Lowers the gain just before and over every peak above `ceiling` and lets it recover
// smoothly, so that no sample of the interleaved stereo buffer exceeds `ceiling`.
void limitPeaks(std::vector<float>& stereo, float ceiling);

}  // namespace compose

// The show's 44,100 Hz sound at 48,000 Hz, for an encoder that takes no other rate
// (Opus): output frame n is the sound at n / 48,000 s, interpolated by a windowed sinc
// centred on that moment, so that nothing is delayed and pieces join seamlessly.
#pragma once

#include <cstdint>

constexpr int opusRate = 48000;

// The frames at 48,000 Hz that span `frames` at 44,100 Hz (rounded up).
std::int64_t framesAt48k(std::int64_t frames);

// Output frames [first, first + count) at 48,000 Hz of the `frames` interleaved stereo
// frames at 44,100 Hz in `in` (silence before its first frame and after its last),
// interleaved into `out` (2 x count floats). Any cut into pieces gives the same frames.
void resampleTo48k(const float* in, std::int64_t frames, std::int64_t first, std::int64_t count, float* out);

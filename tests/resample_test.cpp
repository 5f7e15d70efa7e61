// The page's 48 kHz sound for its videos: true to the sound, without delay, the same
// however it is cut into pieces.
#include "audio/resample.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

std::vector<float> stereoSine(double hertz, double rate, std::int64_t frames) {
  std::vector<float> samples(2 * static_cast<std::size_t>(frames));
  for (std::int64_t i = 0; i < frames; ++i) {
    const double v = 0.5 * std::sin(2.0 * std::numbers::pi * hertz * static_cast<double>(i) / rate);
    samples[2 * i] = static_cast<float>(v);
    samples[2 * i + 1] = static_cast<float>(-v);
  }
  return samples;
}

TEST(Resample, FollowsTonesAcrossTheAudibleRange) {
  // A 0.5 sine, away from the ends, within 1e-5 of the true one (measured at most 4e-6).
  for (const double hertz : {100.0, 1000.0, 10000.0, 18000.0}) {
    SCOPED_TRACE(hertz);
    const std::int64_t frames = 44100;
    const std::vector<float> in = stereoSine(hertz, 44100.0, frames);
    const std::int64_t outFrames = framesAt48k(frames);
    ASSERT_EQ(outFrames, 48000);
    std::vector<float> out(2 * static_cast<std::size_t>(outFrames));
    resampleTo48k(in.data(), frames, 0, outFrames, out.data());
    const std::vector<float> wanted = stereoSine(hertz, 48000.0, outFrames);
    double largest = 0.0;
    for (std::int64_t i = 200; i < outFrames - 200; ++i)
      for (int channel = 0; channel < 2; ++channel)
        largest = std::max(largest, std::abs(double(out[2 * i + channel]) - wanted[2 * i + channel]));
    EXPECT_LT(largest, 1e-5);
  }
}

TEST(Resample, AClickStaysOnItsMomentAndPiecesJoinExactly) {
  // A click at 10 ms (input frame 441) peaks at output frame 480, 10 ms at 48 kHz.
  const std::int64_t frames = 4410;
  std::vector<float> in(2 * frames, 0.0f);
  in[2 * 441] = in[2 * 441 + 1] = 1.0f;
  const std::int64_t outFrames = framesAt48k(frames);
  std::vector<float> whole(2 * static_cast<std::size_t>(outFrames));
  resampleTo48k(in.data(), frames, 0, outFrames, whole.data());
  std::int64_t peak = 0;
  for (std::int64_t i = 0; i < outFrames; ++i)
    if (whole[2 * i] > whole[2 * peak]) peak = i;
  EXPECT_EQ(peak, 480);

  std::vector<float> pieces(whole.size());
  for (std::int64_t from = 0; from < outFrames; from += 333) {
    const std::int64_t count = std::min<std::int64_t>(333, outFrames - from);
    resampleTo48k(in.data(), frames, from, count, pieces.data() + 2 * from);
  }
  EXPECT_EQ(pieces, whole);
}

}  // namespace

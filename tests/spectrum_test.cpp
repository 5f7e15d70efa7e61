// The spectrum analysis against a plain double-precision transform, its edge
// cases, the band means and the show's random numbers.
#include "audio/spectrum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include "audio/playback.h"
#include "show/show_state.h"

namespace {

constexpr double pi = 3.14159265358979323846;

// |Z(m)| / 512 for Z(m) = sum over n of (left + i right) e^(-2 pi i n m / 512).
std::vector<double> referenceSpectrum(const float* window) {
  std::vector<double> magnitudes(spectrumSize);
  for (int m = 0; m < spectrumSize; ++m) {
    std::complex<double> sum = 0.0;
    for (int n = 0; n < spectrumSize; ++n) {
      const std::complex<double> x(window[2 * n], window[2 * n + 1]);
      const double angle = -2.0 * pi * static_cast<double>((static_cast<long>(n) * m) % spectrumSize) / spectrumSize;
      sum += x * std::polar(1.0, angle);
    }
    magnitudes[m] = std::abs(sum) / spectrumSize;
  }
  return magnitudes;
}

std::vector<float> randomWindow(unsigned seed) {
  std::mt19937 engine(seed);
  std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
  std::vector<float> window(2 * spectrumSize);
  for (float& value : window) value = sample(engine);
  return window;
}

// The generator written out from its definition, independently of the show's.
struct ReferenceGenerator {
  std::uint32_t state = 1;
  int next() {
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7FFF);
  }
};

}  // namespace

TEST(SpectrumAnalysis, MatchesADirectTransformOnRandomWindows) {
  for (unsigned seed : {1u, 2u, 3u, 4u, 5u}) {
    const std::vector<float> window = randomWindow(seed);
    analyseSpectrum(window.data());
    const std::vector<double> expected = referenceSpectrum(window.data());
    for (int m = 0; m < spectrumSize; ++m) {
      EXPECT_NEAR(spectrum[m], expected[m], 1e-4 * expected[m]) << "bin " << m << " of window " << seed;
    }
  }
}

TEST(SpectrumAnalysis, FollowsASingleToneIntoItsBin) {
  // left + i right = e^(2 pi i 37 n / 512): all the energy in entry 37, none in 475.
  std::vector<float> window(2 * spectrumSize);
  for (int n = 0; n < spectrumSize; ++n) {
    const double angle = 2.0 * pi * 37.0 * n / spectrumSize;
    window[2 * n] = static_cast<float>(0.5 * std::cos(angle));
    window[2 * n + 1] = static_cast<float>(0.5 * std::sin(angle));
  }
  analyseSpectrum(window.data());
  EXPECT_NEAR(spectrum[37], 0.5f, 1e-6f);
  for (int m = 0; m < spectrumSize; ++m) {
    if (m != 37) {
      EXPECT_LT(spectrum[m], 1e-6f) << "bin " << m;
    }
  }
}

TEST(SpectrumAnalysis, SilenceGivesAllZeros) {
  const std::vector<float> window(2 * spectrumSize, 0.0f);
  std::fill(spectrum, spectrum + spectrumSize, 1.0f);
  analyseSpectrum(window.data());
  for (int m = 0; m < spectrumSize; ++m) EXPECT_EQ(spectrum[m], 0.0f) << "bin " << m;
}

TEST(SpectrumAnalysis, ConstantWindowHasOnlyTheMeanBin) {
  std::vector<float> window(2 * spectrumSize);
  for (int n = 0; n < spectrumSize; ++n) {
    window[2 * n] = 0.3f;
    window[2 * n + 1] = -0.4f;
  }
  analyseSpectrum(window.data());
  EXPECT_NEAR(spectrum[0], std::sqrt(0.3 * 0.3 + 0.4 * 0.4), 1e-6);
  for (int m = 1; m < spectrumSize; ++m) EXPECT_LT(spectrum[m], 1e-6f) << "bin " << m;
}

TEST(SpectrumAnalysis, IdenticalChannelsGiveAMirroredSpectrum) {
  std::vector<float> window = randomWindow(11);
  for (int n = 0; n < spectrumSize; ++n) window[2 * n + 1] = window[2 * n];
  analyseSpectrum(window.data());
  const std::vector<double> expected = referenceSpectrum(window.data());
  for (int m = 1; m < spectrumSize / 2; ++m) {
    EXPECT_NEAR(spectrum[m], spectrum[spectrumSize - m], 1e-4 * expected[m]) << "bin " << m;
  }
  // sqrt(2) |X(m)| / 512, with X the transform of the one real channel.
  std::vector<float> leftOnly(window);
  for (int n = 0; n < spectrumSize; ++n) leftOnly[2 * n + 1] = 0.0f;
  const std::vector<double> real = referenceSpectrum(leftOnly.data());
  for (int m = 0; m < spectrumSize; ++m) {
    EXPECT_NEAR(spectrum[m], std::sqrt(2.0) * real[m], 1e-4 * expected[m]) << "bin " << m;
  }
}

TEST(SpectrumAnalysis, WindowAtTheEndOfTheShowReadsOnlyTheGuard) {
  // Loud samples right up to the end of the show must not reach the last window.
  for (std::uint32_t frame = playbackFrameCount - 600; frame < playbackFrameCount; ++frame) {
    playbackBuffer[2 * frame] = 0.75f;
    playbackBuffer[2 * frame + 1] = -0.5f;
  }
  analyseSpectrum(playbackBuffer + 2 * static_cast<std::size_t>(playbackFrameCount));
  for (int m = 0; m < spectrumSize; ++m) EXPECT_EQ(spectrum[m], 0.0f) << "bin " << m;
  // One frame earlier the last loud frame is in the window.
  analyseSpectrum(playbackBuffer + 2 * static_cast<std::size_t>(playbackFrameCount - 1));
  EXPECT_GT(spectrum[0], 0.0f);
  resetShowState();
}

TEST(BandLevel, OneEntryIsThatEntryAndAllEntriesGiveTheMean) {
  double sum = 0.0;
  for (int m = 0; m < spectrumSize; ++m) {
    spectrum[m] = static_cast<float>(m % 17) / 1024.0f;  // exact in binary
    sum += spectrum[m];
  }
  EXPECT_EQ(bandLevel(40, 1), static_cast<double>(spectrum[40]));
  EXPECT_DOUBLE_EQ(bandLevel(0, spectrumSize), sum / spectrumSize);
  // Entries 100 to 104 hold 15, 16, 0, 1 and 2 / 1024.
  EXPECT_DOUBLE_EQ(bandLevel(100, 5), 34.0 / 1024 / 5);
  std::fill(spectrum, spectrum + spectrumSize, 0.0f);
}

TEST(RandomNumbers, FirstOutputsFollowTheFifteenBitGenerator) {
  rewindShow();
  ReferenceGenerator reference;
  // The first three worked by hand from state 1: 2,745,024 >> 16 = 41, and so on.
  EXPECT_EQ(randomInteger(), 41);
  EXPECT_EQ(randomInteger(), 18467);
  EXPECT_EQ(randomInteger(), 6334);
  for (int i = 0; i < 3; ++i) reference.next();
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(randomInteger(), reference.next()) << "output " << i + 3;
  rewindShow();
}

TEST(RandomNumbers, ResetStartsTheSequenceAgain) {
  rewindShow();
  const int first = randomInteger();
  const int second = randomInteger();
  rewindShow();
  EXPECT_EQ(randomInteger(), first);
  EXPECT_EQ(randomInteger(), second);
  rewindShow();
}

TEST(RandomNumbers, UnitIsZeroForZeroAndRoundsToOneForTheTop) {
  // Walk the sequence until the generator has given both ends of its range.
  rewindShow();
  ReferenceGenerator reference;
  bool sawZero = false;
  bool sawTop = false;
  for (int i = 0; i < 1 << 20 && !(sawZero && sawTop); ++i) {
    const int integer = reference.next();
    const double unit = randomUnit();
    ASSERT_GE(unit, 0.0);
    ASSERT_LE(unit, 1.0);
    EXPECT_NEAR(unit, integer / 32767.0, 1e-9);
    if (integer == 0) {
      sawZero = true;
      EXPECT_EQ(unit, 0.0);
    }
    if (integer == 32767) {
      sawTop = true;
      EXPECT_LT(unit, 1.0);                       // the product itself is not rounded...
      EXPECT_EQ(static_cast<float>(unit), 1.0f);  // ...but is 1 once stored as a float
    }
  }
  EXPECT_TRUE(sawZero);
  EXPECT_TRUE(sawTop);
  rewindShow();
}

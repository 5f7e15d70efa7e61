// The beat clock and the filling of the PlaybackBuffer.
#include <gtest/gtest.h>

#include <vector>

#include "audio/playback.h"

TEST(BeatClock, ReadsBeatAndPhaseAtTheShowsLandmarks) {
  struct Case {
    std::uint32_t position;
    int beat;
    float phase;
  };
  for (const Case c : {Case{0, 0, 1.0f}, Case{16036, 0, 0.0000227f}, Case{16037, 1, 0.9999603f},
                       Case{44100, 2, 0.25f}, Case{176400, 10, 0.0f}, Case{7893900, 492, 0.75003052f}}) {
    const BeatClock clock = beatClockAt(c.position);
    EXPECT_EQ(clock.beat, c.beat) << "position " << c.position;
    EXPECT_NEAR(clock.beatPhase, c.phase, 2e-6f) << "position " << c.position;
    EXPECT_NEAR(clock.beatTime, static_cast<float>(c.beat + 1) - c.phase, 1e-4f);
  }
  EXPECT_EQ(beatClockAt(44100).beatPosition, 2.75f);
}

TEST(BeatClock, FourSecondsRoundsToBeatElevenButStaysOnBeatTen) {
  // The double product lies just below 11 while its float rounding is 11.0.
  const BeatClock clock = beatClockAt(176400);
  EXPECT_EQ(clock.beatPosition, 11.0f);
  EXPECT_EQ(clock.beat, 10);
  EXPECT_EQ(clock.beatPhase, 0.0f);
  EXPECT_EQ(clock.beatTime, 11.0f);
}

TEST(PlaybackBuffer, FillsWholeFramesAtOneOver32768AndLeavesTheRestSilent) {
  clearPlaybackBuffer();
  const std::vector<std::int16_t> samples = {16000, -16000, 32767, -32768, 1, 2};
  // Ten bytes hold two whole frames and half of a third, which is not read.
  EXPECT_EQ(fillPlaybackBuffer(samples.data(), 10), 2u);
  EXPECT_EQ(playbackBuffer[0], 0.48828125f);
  EXPECT_EQ(playbackBuffer[1], -0.48828125f);
  EXPECT_EQ(playbackBuffer[2], 32767 * 0.000030517578125f);
  EXPECT_EQ(playbackBuffer[3], -1.0f);
  EXPECT_EQ(playbackBuffer[4], 0.0f);
  EXPECT_EQ(fillPlaybackBuffer(samples.data(), 0), 0u);
  clearPlaybackBuffer();
}

TEST(PlaybackBuffer, CutsATrackLongerThanTheShowAtItsEnd) {
  clearPlaybackBuffer();
  std::vector<std::int16_t> samples((playbackFrameCount + 1000) * 2, 1000);
  EXPECT_EQ(fillPlaybackBuffer(samples.data(), static_cast<std::int64_t>(samples.size()) * 2), playbackFrameCount);
  EXPECT_NE(playbackBuffer[2 * (playbackFrameCount - 1)], 0.0f);
  for (std::uint32_t i = 0; i < guardFrameCount * 2; ++i)
    ASSERT_EQ(playbackBuffer[2 * playbackFrameCount + i], 0.0f) << "guard float " << i;
  clearPlaybackBuffer();
}

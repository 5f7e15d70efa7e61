// The beat clock, the filling of the PlaybackBuffer, and the show's clock on the
// embedded track and on a hand-picked one.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "app/benchmark.h"
#include "app/virtual_clock.h"
#include "audio/beat_grid.h"
#include "audio/playback.h"
#include "show/seek.h"
#include "show/show_clock.h"

TEST(BeatClock, ReadsBeatAndPhaseAtTheShowsLandmarks) {
  struct Case {
    std::uint32_t position;
    int beat;
    float phase;
  };
  for (const Case c : {Case{0, 0, 1.0f}, Case{16036, 0, 0.0000227f}, Case{16037, 1, 0.9999603f}, Case{44100, 2, 0.25f},
                       Case{176400, 10, 0.0f}, Case{7893900, 492, 0.75003052f}}) {
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

// The show's clock: the embedded track's unchanged, a hand-picked track's through its
// grid and the schedule fitted to it, and the seeks and benchmark scenes on it.
namespace {
// 120 bpm from half a second in, 150 beats: the opening starts nine beats early (track
// beats 0-72 show -9 to 63), the finale follows (73-149 show 416-492).
ShowClock trackClock() {
  BeatGrid grid;
  grid.firstBeatSamples = 22050.0;
  grid.beatSamples = 22050.0;
  return fittedClock(grid, fitSchedule(150), 22050 + 150 * 22050);
}

std::uint32_t atBeat(double beat) {
  return static_cast<std::uint32_t>(std::lround(22050.0 + beat * 22050.0));
}

// The show's clock for one test, the embedded one again afterwards.
struct ClockInUse {
  explicit ClockInUse(const ShowClock& clock) { showClock = clock; }
  ~ClockInUse() { showClock = embeddedClock(); }
};
}  // namespace

TEST(ShowClock, TheEmbeddedTrackKeepsItsOwnClockAndScenes) {
  const ShowClock clock = embeddedClock();
  for (std::uint32_t p : {0u, 16036u, 16037u, 176400u, 3682350u, 7893899u, playbackFrameCount}) {
    const BeatClock a = clock.at(p), b = beatClockAt(p);
    EXPECT_EQ(a.beat, b.beat) << p;
    EXPECT_EQ(a.beatPhase, b.beatPhase) << p;
    EXPECT_EQ(a.beatTime, b.beatTime) << p;
    EXPECT_EQ(a.beatPosition, b.beatPosition) << p;
  }
  EXPECT_EQ(clock.positionOfBeat(288.5), firstPositionOfBeat(288.5));
  std::vector<int> starts;
  for (const SceneSpan& span : clock.spans) starts.push_back(span.trackStart);
  EXPECT_EQ(starts, (std::vector<int>{0, 64, 128, 192, 288, 352, 416, 420, 486}));
}

TEST(ShowClock, ATrackCountsItsOwnBeatsThroughTheFittedSchedule) {
  const ShowClock clock = trackClock();
  struct Case {
    double trackBeat;
    int beat;
    float phase;
  };
  for (const Case c : {Case{-1.0, -10, 1.0f}, Case{0.0, -9, 1.0f}, Case{0.5, -9, 0.5f}, Case{72.5, 63, 0.5f},
                       Case{73.0, 416, 1.0f}, Case{100.4, 443, 0.6f}, Case{149.5, 492, 0.5f}}) {
    const BeatClock b = clock.at(atBeat(c.trackBeat));
    EXPECT_EQ(b.beat, c.beat) << c.trackBeat;
    EXPECT_FLOAT_EQ(b.beatPhase, c.phase) << c.trackBeat;
    EXPECT_FLOAT_EQ(b.beatTime, static_cast<float>(c.beat + 1) - c.phase) << c.trackBeat;
    EXPECT_EQ(clock.musicBeat(atBeat(c.trackBeat)), static_cast<int>(std::floor(c.trackBeat)));
  }
  // At 174 bpm (15206.9 frames a beat) a beat's first position is the clock's first
  // frame of that beat.
  BeatGrid grid;
  grid.firstBeatSamples = 0.52 * 44100;
  grid.beatSamples = 44100 * 60.0 / 174.0;
  const ShowClock odd = fittedClock(grid, fitSchedule(600), 23000000);
  for (int beat : {0, 1, 63, 64, 417, 599}) {
    const std::uint32_t p = odd.positionOfBeat(beat);
    EXPECT_EQ(odd.musicBeat(p), beat);
    EXPECT_EQ(odd.musicBeat(p - 1), beat - 1);
  }
  EXPECT_EQ(odd.positionOfBeat(1e6), 23000000u);
}

TEST(ShowClock, SeeksAndBenchmarkScenesFollowTheTracksBeatsAndStretches) {
  const ClockInUse use(trackClock());
  const std::uint32_t last = atBeat(149);
  // Stretches: scene 1 from the start, 7 from track beat 73, 8 from 77, 9 from 143.
  struct Case {
    std::uint32_t from;
    std::uint32_t barOn, barBack, previous, next;
  };
  for (const Case c :
       {Case{0, atBeat(3), 0, 0, atBeat(73)}, Case{atBeat(10) + 100, atBeat(14) + 100, atBeat(6) + 100, 0, atBeat(73)},
        Case{atBeat(100), atBeat(104), atBeat(96), atBeat(73), atBeat(143)},
        Case{atBeat(148) + 7, last, atBeat(144) + 7, atBeat(77), last}}) {
    EXPECT_EQ(stepBeats(c.from, 4), c.barOn) << c.from;
    EXPECT_EQ(stepBeats(c.from, -4), c.barBack) << c.from;
    EXPECT_EQ(previousSceneStart(c.from), c.previous) << c.from;
    EXPECT_EQ(nextSceneStart(c.from), c.next) << c.from;
  }
  const std::vector<SceneFrames> scenes = benchmarkScenes(60);
  ASSERT_EQ(scenes.size(), 4u);
  const int order[] = {1, 7, 8, 9}, firstBeats[] = {0, 73, 77, 143};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(scenes[i].scene, order[i]);
    EXPECT_EQ(scenes[i].firstBeat, firstBeats[i]);
    EXPECT_EQ(scenes[i].firstFrame, i == 0 ? 0 : firstFrameAtOrAfter(atBeat(firstBeats[i]), 60));
  }
  EXPECT_EQ(scenes[3].endFrame, firstFrameAtOrAfter(showClock.frames, 60));
}

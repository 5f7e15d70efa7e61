// The beat clock, the filling of the PlaybackBuffer, and the show's clock on the
// embedded track and on a hand-picked one.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "app/benchmark.h"
#include "show/virtual_clock.h"
#include "audio/beat_grid.h"
#include "audio/playback.h"
#include "show/seek.h"
#include "show/offline_run.h"
#include "show/show_clock.h"
#include "show/show_state.h"

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
  resetShowState();
  const std::vector<std::int16_t> samples = {16000, -16000, 32767, -32768, 1, 2};
  // Ten bytes hold two whole frames and half of a third, which is not read.
  EXPECT_EQ(fillPlaybackBuffer(samples.data(), 10), 2u);
  EXPECT_EQ(playbackBuffer[0], 0.48828125f);
  EXPECT_EQ(playbackBuffer[1], -0.48828125f);
  EXPECT_EQ(playbackBuffer[2], 32767 * 0.000030517578125f);
  EXPECT_EQ(playbackBuffer[3], -1.0f);
  EXPECT_EQ(playbackBuffer[4], 0.0f);
  EXPECT_EQ(fillPlaybackBuffer(samples.data(), 0), 0u);
  resetShowState();
}

TEST(PlaybackBuffer, CutsATrackLongerThanTheShowAtItsEnd) {
  resetShowState();
  std::vector<std::int16_t> samples((playbackFrameCount + 1000) * 2, 1000);
  EXPECT_EQ(fillPlaybackBuffer(samples.data(), static_cast<std::int64_t>(samples.size()) * 2), playbackFrameCount);
  EXPECT_NE(playbackBuffer[2 * (playbackFrameCount - 1)], 0.0f);
  for (std::uint32_t i = 0; i < guardFrameCount * 2; ++i)
    ASSERT_EQ(playbackBuffer[2 * playbackFrameCount + i], 0.0f) << "guard float " << i;
  resetShowState();
}

// The show's clock: the embedded track's unchanged; a hand-picked track's at 120 bpm
// from half a second in, 150 beats: track beats 0-72 show -9 to 63 (the opening starts
// early), 73-149 show 416-492.
namespace {
std::uint32_t atBeat(double beat) {
  return static_cast<std::uint32_t>(std::lround(22050.0 + beat * 22050.0));
}

ShowClock trackClock(double beatSamples = 22050.0, int beats = 150) {
  return fittedClock(BeatMap{22050.0, beatSamples, {}}, fitSchedule(beats), atBeat(beats));
}
}  // namespace

TEST(ShowClock, TheEmbeddedTrackKeepsItsClockAndATrackCountsItsBeatsThroughItsSchedule) {
  for (std::uint32_t p : {0u, 16037u, 176400u, 7893899u, playbackFrameCount}) {
    const BeatClock a = embeddedClock().at(p), b = beatClockAt(p);
    EXPECT_TRUE(a.beat == b.beat && a.beatPhase == b.beatPhase && a.beatTime == b.beatTime) << p;
  }
  struct Case {
    double trackBeat;
    int beat;
    float phase;
  };
  for (const Case c : {Case{-1.0, -10, 1.0f}, Case{0.5, -9, 0.5f}, Case{72.5, 63, 0.5f}, Case{73.0, 416, 1.0f},
                       Case{100.4, 443, 0.6f}, Case{149.5, 492, 0.5f}}) {
    const BeatClock b = trackClock().at(atBeat(c.trackBeat));
    EXPECT_EQ(b.beat, c.beat) << c.trackBeat;
    EXPECT_FLOAT_EQ(b.beatPhase, c.phase) << c.trackBeat;
    EXPECT_FLOAT_EQ(b.beatTime, static_cast<float>(c.beat + 1) - c.phase) << c.trackBeat;
  }
  // At 174 bpm (15206.9 frames a beat) a beat's first position is its clock's first frame.
  const ShowClock odd = trackClock(44100 * 60.0 / 174.0, 600);
  for (int beat : {0, 1, 417, 599}) {
    EXPECT_EQ(odd.musicBeat(odd.positionOfBeat(beat)), beat);
    EXPECT_EQ(odd.musicBeat(odd.positionOfBeat(beat) - 1), beat - 1);
  }
}

TEST(ShowClock, SeeksAndBenchmarkScenesFollowTheTracksBeatsAndStretches) {
  playMusic(MusicSource{playing, trackClock()});  // stretches: scene 1 from the start, 7 from track beat 73, 8 from 77, 9 from 143
  struct Case {
    std::uint32_t from, barOn, barBack, previous, next;
  };
  for (const Case c :
       {Case{0, atBeat(3), 0, 0, atBeat(73)}, Case{atBeat(100), atBeat(104), atBeat(96), atBeat(73), atBeat(143)},
        Case{atBeat(148) + 7, atBeat(149), atBeat(144) + 7, atBeat(77), atBeat(149)}}) {
    EXPECT_EQ(stepBeats(c.from, 4), c.barOn) << c.from;
    EXPECT_EQ(stepBeats(c.from, -4), c.barBack) << c.from;
    EXPECT_EQ(previousSceneStart(c.from), c.previous) << c.from;
    EXPECT_EQ(nextSceneStart(c.from), c.next) << c.from;
  }
  const std::vector<SceneFrames> scenes = benchmarkScenes(60);
  resetShowState();
  ASSERT_EQ(scenes.size(), 4u);  // scenes 2 to 6 have no stretch
  EXPECT_EQ(scenes[1].scene, 7);
  EXPECT_EQ(scenes[1].firstBeat, 73);
  EXPECT_EQ(scenes[1].firstFrame, firstFrameAtOrAfter(atBeat(73), 60));
  EXPECT_EQ(scenes[3].endFrame, firstFrameAtOrAfter(atBeat(150), 60));
}

TEST(ShowClock, ATempoMapCarriesTheBeatsOnWithoutAJumpAndTheBarKeysStepIt) {
  // 120 bpm from 0.5 s, 140 bpm from beat 64 (32.5 s) on, 60 s long.
  const TempoStretch faster[] = {{64.0, 22050.0 + 64 * 22050.0, 18900.0}};
  const BeatMap map{22050.0, 22050.0, faster};
  for (const double beat : {0.0, 63.5, 64.0, 64.25, 100.0})
    EXPECT_NEAR(map.beatAt(map.positionAt(beat)), beat, 1e-9) << beat;
  EXPECT_DOUBLE_EQ(map.positionAt(64.0), 22050.0 + 64 * 22050.0);  // no jump where the tempo changes
  EXPECT_DOUBLE_EQ(map.positionAt(65.0) - map.positionAt(64.0), 18900.0);
  playMusic(MusicSource{playing, fittedClock(map, fitSchedule(130), 60 * 44100)});
  EXPECT_EQ(showClock.musicBeat(static_cast<std::uint32_t>(map.positionAt(100.0))), 100);
  EXPECT_EQ(showClock.positionOfBeat(100.0), static_cast<std::uint32_t>(map.positionAt(100.0)));
  // A bar on from beat 62 lands on beat 66, in the faster stretch.
  EXPECT_EQ(stepBeats(showClock.positionOfBeat(62.0), 4), showClock.positionOfBeat(66.0));
  resetShowState();
}

TEST(OfflineRun, AFrameAfterTheMusicsEndShowsItsEnd) {
  // A track of 1000 frames: frame 2 at 60 fps lies at 1470, past its end and its guard.
  const std::vector<float> track(2 * (1000 + guardFrameCount), 0.0f);
  playMusic(MusicSource{PlaybackView{track.data(), 1000}, embeddedClock()});
  OfflineRun run;
  run.fps = 60;
  EXPECT_EQ(run.position(1), 735u);
  EXPECT_EQ(run.position(2), 1000u);
  resetShowState();
}

// Listening: the frame heard and the frame drawn, the ring's positions, the endless
// schedule that shows the music's beats, and the running loudness.
#include "show/listening.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "audio/loudness.h"
#include "audio/sample_rate.h"
#include "show/scenes.h"
#include "show/show_clock.h"

namespace {
constexpr std::uint64_t msNs = 1'000'000;

ListenReport heardMusic(bool music = true, int barStart = 0, bool locked = true) {
  ListenReport report;
  report.music = music;
  report.bpm = 128.0;
  report.barStart = barStart;
  report.locked = locked;
  return report;
}
}  // namespace

TEST(Listening, TheFrameHeardAndTheFrameDrawn) {
  ListenReport report;
  report.captured = 100'000;
  report.capturedNs = 1'000 * msNs;
  report.heardLead = -220;  // a monitor: heard 5 ms after it was captured
  EXPECT_EQ(listenHeardFrame(report, 1'000 * msNs), 100'000u - 220);
  EXPECT_EQ(listenHeardFrame(report, 1'010 * msNs), 100'000u - 220 + 441);
  // A source that stops sending: the frame heard stops a quarter of a second on.
  EXPECT_EQ(listenHeardFrame(report, 9'000 * msNs), 100'000u - 220 + 11'025);
  // Drawn ahead by the picture's delay, but never where the effects' window is not captured.
  EXPECT_EQ(listenAimedFrame(99'000, 300, 100'000), 99'300u);
  EXPECT_EQ(listenAimedFrame(99'900, 300, 100'000), 100'000u - listenWindowFrames);
  EXPECT_EQ(listenAimedFrame(100, -300, 100'000), 0u);
  // Positions in the ring and back, across its end.
  for (std::uint64_t frame : {0ull, 5ull, 1ull * listenRingFrames - 1, 3ull * listenRingFrames + 7}) {
    const std::uint64_t newest = frame + 1000;
    EXPECT_EQ(listenFrame(listenPosition(frame), newest), frame) << frame;
  }
}

TEST(Listening, TheEndlessScheduleOpensOnceThenGoesRoundTheMiddle) {
  EndlessSchedule schedule;
  EXPECT_EQ(schedule.showBeat(37.5), 0.0) << "waiting for music: the opening held";
  EXPECT_FALSE(schedule.follow(heardMusic(false), 10.0, 0));
  // Music: the opening from the next bar start (bars start on beats 2, 6, 10 ...).
  EXPECT_TRUE(schedule.follow(heardMusic(true, 2), 11.25, 0));
  EXPECT_EQ(schedule.origin, 14.0);
  EXPECT_EQ(schedule.showBeat(11.25), -2.75) << "the opening shows before its first beat too";
  const int round = middleEnd - openingEnd;
  struct Case {
    double into, show;
  } cases[] = {{0.0, 0.0},       {63.5, 63.5},    {64.0, 64.0},
               {415.25, 415.25}, {416.25, 64.25}, {64.0 + 3 * round + 100.5, 164.5}};
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(schedule.showBeat(14.0 + c.into), c.show) << c.into;
  // Bars found anew: the origin moves to the nearest bar start, and the show says so.
  EXPECT_TRUE(schedule.follow(heardMusic(true, 3), 20.0, 0));
  EXPECT_EQ(schedule.origin, 15.0);
  EXPECT_FALSE(schedule.follow(heardMusic(true, 3), 21.0, 0));
  EXPECT_FALSE(schedule.follow(heardMusic(true, 1, false), 22.0, 0)) << "only a locked beat moves the bars";
}

TEST(Listening, SilenceFadesTheShowAndMusicOpensItAgain) {
  EndlessSchedule schedule;
  schedule.follow(heardMusic(), 0.0, 0);
  ListenReport quiet = heardMusic(false);
  quiet.quietSince = 44'100;
  const auto at = [](double seconds) { return static_cast<std::uint64_t>(seconds * sampleRate); };
  EXPECT_FALSE(schedule.follow(quiet, 100.0, at(1.0 + fadeAfterSilenceSeconds - 0.1)));
  EXPECT_TRUE(schedule.follow(quiet, 100.25, at(1.0 + fadeAfterSilenceSeconds)));
  EXPECT_EQ(schedule.state, EndlessSchedule::State::ending);
  EXPECT_EQ(schedule.showBeat(100.25), firstBeatOfScene(sceneCount) + 0.25);
  EXPECT_EQ(schedule.showBeat(1000.0), 492.25) << "the fade holds on black";
  EXPECT_TRUE(schedule.follow(heardMusic(), 1001.5, at(60)));
  EXPECT_EQ(schedule.state, EndlessSchedule::State::playing);
  EXPECT_EQ(schedule.showBeat(1004.0), 0.0) << "the opening again, from the next bar";
}

TEST(Listening, KeysMoveThroughTheEndlessSchedule) {
  EndlessSchedule schedule;
  EXPECT_FALSE(schedule.move(0.0, 16)) << "nothing to move through before music";
  schedule.follow(heardMusic(), 0.0, 0);
  const int round = middleEnd - openingEnd;
  const double music = 5 * round + 300.5;  // show beat 300.5 in the sixth round, scene 5
  ASSERT_DOUBLE_EQ(schedule.showBeat(music), 300.5);
  struct Case {
    double beats, show;
  } cases[] = {{16, 316.5}, {-4, 296.5}, {middleEnd - 300.0, 64.5}, {-1000, 0.5}, {-300, 0.5}};
  for (const Case& c : cases) {
    EndlessSchedule moved = schedule;
    EXPECT_TRUE(moved.move(music, c.beats));
    EXPECT_DOUBLE_EQ(moved.showBeat(music), c.show) << c.beats;
  }
}

TEST(Listening, TheShowClockReadsTheRingOnTheMusicsBeats) {
  ShowClock clock = listeningClock();
  clock.liveBeats.now = {0.0, 0.0, 0.0, 0.0, sampleRate * 60.0 / 128.0};
  clock.endless.follow(heardMusic(), 0.0, 0);
  clock.newestFrame = 5ull * listenRingFrames + 1000;
  const std::uint64_t frame = 5ull * listenRingFrames - 20'000;  // before the ring's last turn
  const BeatClock beat = clock.at(listenPosition(frame));
  const double music = static_cast<double>(frame) * 128.0 / 60.0 / sampleRate;
  EXPECT_NEAR(beat.beatPosition, clock.endless.showBeat(music), 1e-3);
  EXPECT_NEAR(beat.beatPhase, 1.0 - (music - std::floor(music)), 1e-6);
  EXPECT_EQ(clock.musicBeat(listenPosition(frame)), static_cast<int>(music));
}

TEST(Listening, RunningLoudnessBringsQuietAndLoudStreamsAlike) {
  std::vector<float> second(2 * sampleRate);
  for (const float amplitude : {0.5f, 0.05f, 0.005f}) {
    // A 1 kHz sine on both sides reads 20 log10(amplitude) LUFS; the gain stops at +24 dB.
    const double gainDb = std::min(embeddedLoudnessLufs - 20.0 * std::log10(amplitude), 24.0);
    RunningLoudness loudness;
    ASSERT_TRUE(loudness.open());
    for (std::size_t i = 0; i < sampleRate; ++i)
      second[2 * i] = second[2 * i + 1] = amplitude * static_cast<float>(std::sin(2 * M_PI * 1000.0 * i / sampleRate));
    for (int s = 0; s < 8; ++s)
      for (std::size_t at = 0; at < sampleRate; at += 441) loudness.add(second.data() + 2 * at, 441);
    EXPECT_NEAR(loudness.gainDb, gainDb, 0.5) << amplitude;
    // Silence: the gain holds.
    std::fill(second.begin(), second.end(), 0.0f);
    for (int s = 0; s < 4; ++s) loudness.add(second.data(), sampleRate);
    EXPECT_NEAR(loudness.gainDb, gainDb, 0.5) << amplitude << " in silence";
  }
}

// The quick measures locked on 2/3 of the tempo; three analyses in a row, having heard
// more, say 160 bpm: the lock stands at the new tempo, and one line says so.
TEST(Listening, TheAnalysisCorrectsTheTempoOfALockWhichStands) {
  ListenHearing hearing;
  ASSERT_TRUE(hearing.open());
  LiveBeat& beat = hearing.beat;
  const double locked = 60.0 * sampleRate / 106.7, heard = 60.0 * sampleRate / 160.0;
  beat.period = locked;
  beat.isLocked = beat.lockedInPiece = true;
  beat.fedEnd = 20 * sampleRate;
  hearing.loudness.lufs = -20.0;
  hearing.tell(hearing.report);
  ListenReport before = hearing.publish(0, 0);
  testing::internal::CaptureStderr();
  for (int k = 0; k < 3; ++k) {
    beat.steer(static_cast<double>(beat.fedEnd) - 1000.0, heard, 1.0, true);
    beat.fedEnd += 4 * sampleRate;
    hearing.tell(before);
    before = hearing.publish(0, 0);
  }
  const std::string told = testing::internal::GetCapturedStderr();
  EXPECT_NEAR(beat.bpm(), 160.0, 0.01);
  EXPECT_TRUE(before.locked);
  EXPECT_EQ(told, "pulse165: tempo corrected: 160.0 bpm, not 106.7\n");
}

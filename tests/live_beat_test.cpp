// The live beat on generated music fed hop by hop: how many seconds of sound it takes
// to lock, how close its beats then fall to the music's, that its beat never runs
// backwards nor jumps, and where it puts the bar.
#include "audio/live_beat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "audio/beat_features.h"
#include "tests/track_synth.h"

namespace {

struct Heard {
  std::vector<double> phaseMs;  // each beat of the music as the picture shows it: the clock's distance
  double lockSeconds = -1.0;    // sound fed before the first lock
  double lockBpm = 0.0;         // and the tempo it locked on
  double relockSeconds = -1;    // sound fed before the last lock
  double worstStepBeats = 0;    // the largest step between hops, in beats of the tempo kept
  bool backwards = false;
  bool lockedDuringSilence = true;
};

// Feeds the music's left channel (both are alike) hop by hop, skipping the hops that
// start within [gapFrom, gapTo) seconds, and reads the clock after each hop a little
// behind what was fed, as the picture does.
Heard listen(LiveBeat& beat, const synth::Music& music, double gapFrom = -1, double gapTo = -1, double quietFrom = -1,
             double quietTo = -1) {
  Heard heard;
  std::vector<float> mono(LiveBeat::hop);
  double last = 0.0;
  std::uint64_t lastShown = 0;
  std::size_t next = 0;  // the music's next beat to be shown
  bool wasLocked = false;
  for (std::int64_t first = 0; first + LiveBeat::hop <= music.frames(); first += LiveBeat::hop) {
    const double seconds = static_cast<double>(first) / music.rate;
    if (seconds >= gapFrom && seconds < gapTo) continue;
    for (int i = 0; i < LiveBeat::hop; ++i) mono[i] = music.stereo[2 * (first + i)];
    beat.feed(mono.data(), static_cast<std::uint64_t>(first));
    if (beat.locked() && !wasLocked) {
      const double at = static_cast<double>(beat.lockedAt()) / music.rate;
      if (heard.lockSeconds < 0) heard.lockSeconds = at, heard.lockBpm = beat.bpm();
      heard.relockSeconds = at;
    }
    wasLocked = beat.locked();
    if (seconds >= quietFrom + 5.0 && seconds < quietTo) heard.lockedDuringSilence &= beat.locked();
    const std::uint64_t shown = first + LiveBeat::hop > 2048 ? first + LiveBeat::hop - 2048 : 0;
    const double now = beat.beatAt(shown);
    for (; next < music.beats.size() && music.beats[next] * music.rate <= static_cast<double>(shown); ++next) {
      const double at = beat.beatAt(static_cast<std::uint64_t>(std::llround(music.beats[next] * music.rate)));
      heard.phaseMs.push_back(beat.bpm() > 0 ? std::abs(at - std::round(at)) * 60000.0 / beat.bpm() : 1e9);
    }
    if (now < last) heard.backwards = true;
    if (beat.bpm() > 0 && last > 0) {
      const double nominal = static_cast<double>(shown - lastShown) * beat.bpm() / 60.0 / music.rate;
      heard.worstStepBeats = std::max(heard.worstStepBeats, (now - last) / std::max(nominal, 1e-9));
    }
    last = now;
    lastShown = shown;
  }
  return heard;
}

// The clock's worst distance from the music's beats over the last `count` beats, in ms.
double worstPhaseMs(const Heard& heard, std::size_t count) {
  double worst = 0.0;
  for (std::size_t k = heard.phaseMs.size() - std::min(count, heard.phaseMs.size()); k < heard.phaseMs.size(); ++k)
    worst = std::max(worst, heard.phaseMs[k]);
  return worst;
}

}  // namespace

TEST(LiveBeat, LocksOnTheBeatWithinFourBarsFollowsASongChangeAndRunsOnThroughGapsAndSilence) {
  struct Case {
    const char* what;
    synth::Music music;
    double firstBpm, endBpm;
    double changeAt, gapFrom, gapTo, quietFrom, quietTo;
  };
  synth::Music quiet = synth::kicks(128.0, 0.5, 60.0);
  for (std::size_t i = 2 * 25 * 44100; i < 2 * 35 * 44100; ++i) quiet.stereo[i] = 0.0f;  // 25 s to 35 s
  synth::Music pause = synth::kicks(synth::beatTimes(0.5, 64.0, 120.0, 180.0, 32.0, 32.0), 64.0);
  for (std::size_t i = 2 * 30 * 44100; i < 2 * 32 * 44100; ++i) pause.stereo[i] = 0.0f;  // 30 s to 32 s
  // Silence before the music must not sway its first measures (it made them favour
  // shorter lags: 172.7 for 174).
  synth::Music late = synth::swing(174.0, 4.0, 40.0);
  for (std::size_t i = 0; i < 2 * 3.9 * 44100; ++i) late.stereo[i] = 0.0f;
  const Case cases[] = {
      {"steady 128 bpm", synth::kicks(128.0, 0.5, 40.0), 128.0, 128.0, -1, -1, -1, -1, -1},
      {"steady 174 bpm, a fast one", synth::kicks(174.0, 0.3, 40.0), 174.0, 174.0, -1, -1, -1, -1, -1},
      {"swung 174 bpm after 4 s of silence", late, 174.0, 174.0, -1, -1, -1, -1, -1},
      {"kicks 3+3+3+3+2+2 sixteenths a bar at 124 bpm", synth::threesInBars(124.0, 0.5, 40.0), 124.0, 124.0, -1, -1, -1,
       -1, -1},
      {"the next song: 128 then 140 bpm from 30 s",
       synth::kicks(synth::beatTimes(0.5, 60.0, 128.0, 140.0, 30.0, 30.0), 60.0), 128.0, 140.0, 30.0, -1, -1, -1, -1},
      {"a pause of 2 s, then a piece at 3/2 the tempo", pause, 120.0, 180.0, 32.0, -1, -1, -1, -1},
      {"half a second of sound lost at 20 s", synth::kicks(128.0, 0.5, 40.0), 128.0, 128.0, -1, 20.0, 20.5, -1, -1},
      {"ten seconds of silence from 25 s", quiet, 128.0, 128.0, -1, -1, -1, 25.0, 35.0},
  };
  for (const Case& c : cases) {
    LiveBeat beat;
    ASSERT_TRUE(beat.open());
    const Heard heard = listen(beat, c.music, c.gapFrom, c.gapTo, c.quietFrom, c.quietTo);
    const double bar = 4 * 60.0 / c.endBpm;
    ASSERT_GE(heard.lockSeconds, 0.0) << c.what << ": never locked";
    EXPECT_LE(heard.lockSeconds, c.music.beats.front() + 4 * bar) << c.what << ": locked within four bars of its start";
    EXPECT_NEAR(heard.lockBpm, c.firstBpm, 0.5) << c.what << ": the tempo it locked on";
    EXPECT_NEAR(beat.bpm(), c.endBpm, 0.5) << c.what;
    EXPECT_TRUE(beat.locked()) << c.what << ": locked at the end";
    EXPECT_LE(worstPhaseMs(heard, 16), 20.0) << c.what << ": on the beats at the end";
    EXPECT_FALSE(heard.backwards) << c.what;
    EXPECT_LE(heard.worstStepBeats, 1.5) << c.what << ": the beat never jumps";
    if (c.quietFrom >= 0) {
      EXPECT_FALSE(heard.lockedDuringSilence) << c.what << ": the lock is lost in silence";
      EXPECT_GT(heard.relockSeconds, c.quietTo) << c.what << ": and found again";
      EXPECT_LE(heard.relockSeconds, c.quietTo + 4 * bar) << c.what << ": within four bars";
    }
    if (c.changeAt >= 0) {
      EXPECT_GT(heard.relockSeconds, c.changeAt) << c.what << ": the new tempo locked anew";
      EXPECT_LE(heard.relockSeconds, c.changeAt + 4 * bar) << c.what << ": within four bars";
    }
    // The kicks of a bar's first beat are the lowest and loudest.
    const double barStart = c.music.beats[c.music.beats.size() / 4 * 4 - 4];
    const double at = beat.beatAt(static_cast<std::uint64_t>(std::llround(barStart * c.music.rate)));
    EXPECT_EQ(((static_cast<long long>(std::llround(at)) - beat.barStart()) % 4 + 4) % 4, 0) << c.what << ": bars";
  }
}

// Music whose quick measures lean off the beat (a bass on the off-beats, no drums): the
// whole analysis places the beat, and quick measures each within reach of the clock must
// not walk it off, step by step, to the off-beat.
TEST(LiveBeat, QuickMeasuresThatLeanDoNotWalkTheBeatOff) {
  LiveBeat beat;
  ASSERT_TRUE(beat.open());
  const synth::Music music = synth::offbeatBass(118.0, 0.45, 90.0);
  const Heard heard = listen(beat, music);
  std::vector<double> last(heard.phaseMs.end() - std::min<std::size_t>(59, heard.phaseMs.size()), heard.phaseMs.end());
  std::sort(last.begin(), last.end());
  ASSERT_FALSE(last.empty());
  EXPECT_LE(last[last.size() / 2], 100.0) << "the median beat of the last 30 s (the off-beat: 254 ms)";
}

// What the whole analysis hears as the sound arrives is the one pass over the same
// sound; kept to its longest, it is that pass's newest hops, whole chroma spans, with
// their times counted from the first hop kept.
TEST(BeatFeatureStream, HearsWhatTheOnePassHearsAndKeepsTheNewest) {
  const synth::Music music = synth::kicks(128.0, 0.5, 30.0);
  const std::int64_t hops = music.frames() / BeatFeatures::hop / 4 * 4;
  std::vector<float> stereo(music.stereo.begin(), music.stereo.begin() + 2 * hops * BeatFeatures::hop);
  for (std::size_t i = 0; i < stereo.size(); i += 2) stereo[i + 1] = stereo[i];
  const BeatFeatures pass = readBeatFeatures(stereo.data(), hops * BeatFeatures::hop);
  BeatFeatureStream all(hops), newest(1000);
  ASSERT_TRUE(all.ok() && newest.ok());
  std::vector<float> mono(BeatFeatures::hop);
  for (std::int64_t n = 0; n < hops; ++n) {
    for (int i = 0; i < BeatFeatures::hop; ++i) mono[i] = stereo[2 * (n * BeatFeatures::hop + i)];
    all.hear(mono.data());
    newest.hear(mono.data());
  }
  EXPECT_EQ(all.f.flux, pass.flux);
  EXPECT_EQ(all.f.lowFlux, pass.lowFlux);
  EXPECT_EQ(all.f.chroma, pass.chroma);
  EXPECT_EQ(all.f.trackerBeats, pass.trackerBeats);
  EXPECT_EQ(all.f.onsets, pass.onsets);
  ASSERT_GE(newest.hops(), 1000);
  ASSERT_LT(newest.hops(), hops);
  const std::int64_t dropped = hops - newest.hops();
  EXPECT_EQ(dropped % BeatFeatures::chromaHops, 0);
  EXPECT_TRUE(std::equal(newest.f.highFlux.begin(), newest.f.highFlux.end(), pass.highFlux.begin() + dropped));
  EXPECT_TRUE(std::equal(newest.f.chroma.begin(), newest.f.chroma.end(),
                         pass.chroma.begin() + dropped / BeatFeatures::chromaHops));
  const double shift = static_cast<double>(dropped * BeatFeatures::hop);
  std::vector<double> kept;
  for (double t : pass.onsets)
    if (t >= shift) kept.push_back(t - shift);
  EXPECT_EQ(newest.f.onsets, kept);
  newest.restart();
  EXPECT_EQ(newest.hops(), 0);
}

// The beat analysis on its development set (tests/devset): real songs rendered from MIDI
// files, and music made here. The truth, the renders, the fall-back on music without a
// pulse and the moving tempos are held whole; on the songs, the analysis is held to at
// least what it reached when its figures were last measured (bench/beat_devset prints
// them), so that a change that loses a song shows.
#include "tests/devset/devset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

using namespace devset;

namespace {

const std::vector<Song>& all() {
  static const std::vector<Song> list = songs();
  return list;
}

// A song's grid, found once in a run: from its WAV, its MP3, or with its true tempo given.
enum class Run { wav, mp3, givenTempo };
const BeatGrid& analysed(const Song& song, Run run) {
  static std::map<std::pair<std::string, Run>, BeatGrid> found;
  const auto key = std::make_pair(song.name, run);
  if (!found.contains(key)) {
    synth::Music sound;
    std::string error;
    EXPECT_TRUE(load(song, run == Run::mp3, sound, error)) << song.name << ": " << error;
    found[key] = find(sound, run == Run::givenTempo ? BeatRequest{song.truth.bpm, -1.0} : BeatRequest{}).grid;
  }
  return found[key];
}

// A Standard MIDI File: a header, then each track's events (delta ticks, bytes), each
// track closed by its end.
using Events = std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>>;
std::vector<std::uint8_t> smf(int format, int division, const std::vector<Events>& tracks) {
  const auto big = [](std::vector<std::uint8_t>& out, std::uint32_t v, int bytes) {
    while (bytes-- > 0) out.push_back(static_cast<std::uint8_t>(v >> (8 * bytes)));
  };
  std::vector<std::uint8_t> out{'M', 'T', 'h', 'd', 0, 0, 0, 6};
  big(out, format, 2);
  big(out, static_cast<std::uint32_t>(tracks.size()), 2);
  big(out, division, 2);
  for (Events events : tracks) {
    events.push_back({0, {0xff, 0x2f, 0}});
    std::vector<std::uint8_t> data;
    for (const auto& [delta, bytes] : events) {
      for (int shift = 21; shift > 0; shift -= 7)
        if (delta >> shift) data.push_back(static_cast<std::uint8_t>(0x80 | (delta >> shift & 0x7f)));
      data.push_back(delta & 0x7f);
      data.insert(data.end(), bytes.begin(), bytes.end());
    }
    out.insert(out.end(), {'M', 'T', 'r', 'k'});
    big(out, static_cast<std::uint32_t>(data.size()), 4);
    out.insert(out.end(), data.begin(), data.end());
  }
  return out;
}
std::vector<std::uint8_t> tempo(std::uint32_t microseconds) {
  return {0xff, 0x51, 3, std::uint8_t(microseconds >> 16), std::uint8_t(microseconds >> 8), std::uint8_t(microseconds)};
}
std::vector<std::uint8_t> meter(std::uint8_t numerator, std::uint8_t log2Denominator) {
  return {0xff, 0x58, 4, numerator, log2Denominator, 24, 8};
}

}  // namespace

TEST(DevSetTruth, MidiFilesGiveTheirBeatsBarsAndTempo) {
  const std::vector<std::uint8_t> runningStatus =
      smf(0, 96,
          {{{0, tempo(500000)},
            {0, meter(4, 2)},
            {0, {0x90, 60, 100}},
            {96, {60, 0}},      // running status; a note-on at velocity 0 ends the note
            {96, {64, 100}},    // a note at tick 192
            {192, {64, 0}}}});  // the end at tick 384
  std::vector<std::uint8_t> cut = runningStatus;
  cut.resize(cut.size() - 3);
  std::vector<std::uint8_t> smpte = runningStatus;
  smpte[12] = 0xe7;  // 25 frames a second
  struct Case {
    const char* what;
    std::vector<std::uint8_t> file;
    bool reads;
    Kind kind;
    const char* meter;
    double bpm, firstNote, seconds;
    std::vector<double> beats, bars;
  };
  const Case cases[] = {
      {"format 0, running status", runningStatus, true, Kind::steady, "4/4", 120, 0, 2.0, {0, .5, 1, 1.5, 2}, {0, 2}},
      {"format 1, the tempo in a track apart changing before the first note, 3/4",
       smf(1, 480,
           {{{0, tempo(600000)}, {0, meter(3, 2)}, {960, tempo(400000)}},
            {{1440, {0x91, 60, 90}}, {480, {0x81, 60, 0}}}}),
       true,
       Kind::otherMeter,
       "3/4",
       150,
       1.6,
       2.0,
       {0, .6, 1.2, 1.6, 2},
       {0, 1.6}},
      {"the tempo halves between two notes; 2/4 from the second bar",
       smf(1, 100,
           {{{0, tempo(500000)}, {0, {0x90, 60, 90}}, {400, meter(2, 2)}, {0, tempo(1000000)}, {200, {0x90, 62, 90}}}}),
       true,
       Kind::moving,
       "4/4 2/4",
       120,
       0,
       4.0,
       {0, .5, 1, 1.5, 2, 3, 4},
       {0, 2, 4}},
      {"a change under 0.1 % keeps the tempo steady; no meter given",
       smf(0, 96, {{{0, tempo(500000)}, {0, {0x90, 60, 90}}, {96, tempo(500400)}, {96, {0x90, 60, 90}}}}),
       true,
       Kind::steady,
       "4/4",
       120,
       0,
       1.0004,
       {0, .5, 1.0004},
       {0}},
      {"cut short", cut, false, {}, "", 0, 0, 0, {}, {}},
      {"format 2", smf(2, 96, {{}}), false, {}, "", 0, 0, 0, {}, {}},
      {"time in frames", smpte, false, {}, "", 0, 0, 0, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Midi midi;
    std::string error;
    ASSERT_EQ(readMidi(c.file, midi, error), c.reads) << error;
    if (!c.reads) continue;
    const Truth t = truthOf(midi);
    EXPECT_EQ(t.kind, c.kind);
    EXPECT_EQ(t.meter, c.meter);
    EXPECT_NEAR(t.bpm, c.bpm, 1e-9);
    EXPECT_NEAR(t.firstNote, c.firstNote, 1e-9);
    EXPECT_NEAR(t.seconds, c.seconds, 1e-9);
    ASSERT_EQ(t.beats.size(), c.beats.size());
    for (std::size_t k = 0; k < c.beats.size(); ++k) EXPECT_NEAR(t.beats[k], c.beats[k], 1e-9) << k;
    ASSERT_EQ(t.bars.size(), c.bars.size());
    for (std::size_t k = 0; k < c.bars.size(); ++k) EXPECT_NEAR(t.bars[k], c.bars[k], 1e-9) << k;
  }
}

// Music whose every note lies on a grid of three sixteenths repeats after three beats,
// not after a bar of four; notes on the beats repeat after both.
TEST(DevSetTruth, NotesRepeatInThreesOrInBars) {
  struct Case {
    std::uint32_t step;  // ticks from note to note, 96 a beat
    double three, four;
  };
  for (const Case c : {Case{72, 1.0, 0.0}, Case{96, 1.0, 1.0}}) {
    Events notes{{0, tempo(500000)}};
    for (int k = 0; k < 96; ++k) notes.push_back({k == 0 ? 0 : c.step, {0x99, 36, 100}});
    Midi midi;
    std::string error;
    ASSERT_TRUE(readMidi(smf(0, 96, {notes}), midi, error)) << error;
    const Truth t = truthOf(midi);
    EXPECT_NEAR(t.repeatsAfterThree, c.three, 0.1) << c.step;
    EXPECT_NEAR(t.repeatsAfterFour, c.four, 0.1) << c.step;
  }
}

TEST(DevSetTruth, MadeBeatsIntegrateTheTempo) {
  struct Case {
    double firstBeat, seconds, bpm, endBpm, changeFrom, changeTo;
  };
  const Case cases[] = {{0.3, 20, 128, 128, 20, 20}, {0.4, 150, 120, 132, 0.4, 150}, {0.3, 180, 128, 140, 90.3, 90.3}};
  for (const Case& c : cases) {
    // Beats counted from the first up to a second, the tempo integrated forwards.
    const double slope = c.changeTo > c.changeFrom ? (c.endBpm - c.bpm) / (c.changeTo - c.changeFrom) : 0.0;
    const auto beatsTo = [&](double at) {
      const double before = std::min(at, c.changeFrom) - c.firstBeat;
      const double during = std::clamp(at, c.changeFrom, c.changeTo) - c.changeFrom;
      return (before * c.bpm + during * c.bpm + slope * during * during / 2 +
              std::max(0.0, at - c.changeTo) * c.endBpm) /
             60.0;
    };
    const std::vector<double> beats =
        synth::beatTimes(c.firstBeat, c.seconds, c.bpm, c.endBpm, c.changeFrom, c.changeTo);
    ASSERT_EQ(beats.size(), static_cast<std::size_t>(std::floor(beatsTo(c.seconds))) + 1) << c.endBpm;
    for (std::size_t k = 0; k < beats.size(); ++k) ASSERT_NEAR(beatsTo(beats[k]), k, 1e-9) << c.endBpm << " " << k;
  }
}

TEST(DevSetTruth, EverySongHasItsTruth) {
  int rendered = 0;
  for (const Song& song : all()) {
    SCOPED_TRACE(song.name);
    const Truth& t = song.truth;
    rendered += !song.midiPath.empty();
    EXPECT_EQ(song.excluded.find("unreadable"), std::string::npos) << song.excluded;
    if (t.kind == Kind::noPulse) {
      EXPECT_TRUE(song.make) << "a MIDI song without notes";
      continue;
    }
    EXPECT_LE(0.0, t.firstNote);
    EXPECT_LT(t.firstNote, t.seconds);
    ASSERT_GE(t.beats.size(), 2u);
    EXPECT_TRUE(std::is_sorted(t.beats.begin(), t.beats.end(), std::less_equal<>()));
    if (t.kind == Kind::otherMeter) continue;
    for (const double bar : t.bars) EXPECT_NEAR(beatErrorMs(t, bar), 0.0, 1e-6) << bar;  // bars begin on beats
    for (std::size_t k = 1; k < t.beats.size() && t.kind == Kind::steady; ++k)
      ASSERT_NEAR((t.beats[k] - t.beats[k - 1]) * t.bpm / 60.0, 1.0, 1e-3) << k;
  }
  EXPECT_GE(rendered, 41) << "openttd-openmsx and planetblupi-music-midi hold 31 and 10 songs";
}

TEST(DevSetRenders, EveryRenderDecodesFromItsFirstNote) {
  for (const Song& song : all()) {
    SCOPED_TRACE(song.name);
    synth::Music wav, mp3;
    std::string error;
    ASSERT_TRUE(load(song, false, wav, error)) << error;
    ASSERT_TRUE(load(song, true, mp3, error)) << error;
    EXPECT_EQ(mp3.frames(), wav.frames());
    if (song.make) continue;
    // The render holds the song to its end (and the notes' release after it), or its first five minutes.
    EXPECT_GE(wav.frames(), std::llround(song.truth.seconds * wav.rate));
    // The first note sounds within its attack of its time, never before: the first sample
    // above FluidSynth's dither (a pad's slow attack takes 25 ms to get there).
    std::int64_t first = 0;
    while (first < wav.frames() && std::fabs(wav.stereo[2 * first]) + std::fabs(wav.stereo[2 * first + 1]) < 1e-4)
      ++first;
    const double late = static_cast<double>(first) / wav.rate - song.truth.firstNote;
    EXPECT_GE(late, 0.0);
    EXPECT_LE(late, 0.03);
  }
}

TEST(DevSet, MusicWithoutAPulseFallsBack) {
  for (const Song& song : all()) {
    if (song.truth.kind != Kind::noPulse) continue;
    EXPECT_EQ(analysed(song, Run::wav).source, TempoSource::fallback) << song.name;
  }
}

// The songs each concern met when last measured (on the first two minutes of each), of
// the judged ones; the misses are named.
TEST(DevSet, EveryConcernKeepsTheSongsItMeets) {
  struct Concern {
    const char* name;
    int floor;
    std::function<bool(const Song&)> met;
  };
  const Concern concerns[] = {
      {"tempo within 0.5 bpm", 38,
       [](const Song& s) {
         return std::fabs(foldTempo(analysed(s, Run::wav).bpm) - foldTempo(s.truth.bpm)) <= tempoToleranceBpm;
       }},
      {"first beat on a beat", 38,
       [](const Song& s) { return firstBeatErrorMs(s.truth, analysed(s, Run::wav)) <= beatToleranceMs; }},
      {"first beat on a bar start", 36, [](const Song& s) { return onBarStart(s.truth, analysed(s, Run::wav)); }},
      {"the MP3 finds what the WAV finds", 38,
       [](const Song& s) {
         const BeatGrid &wav = analysed(s, Run::wav), &mp3 = analysed(s, Run::mp3);
         return std::fabs(mp3.bpm - wav.bpm) <= mp3TempoToleranceBpm &&
                std::fabs(mp3.secondsAt(0) - wav.secondsAt(0)) <= mp3BeatToleranceMs / 1000.0;
       }},
      {"a given tempo on a beat", 38,
       [](const Song& s) { return givenFirstBeatErrorMs(s.truth, analysed(s, Run::givenTempo)) <= beatToleranceMs; }},
  };
  constexpr std::size_t count = std::size(concerns);
  int judged = 0, met[count] = {};
  std::string missed[count];
  for (const Song& song : all()) {
    if (!song.judged()) continue;
    ++judged;
    for (std::size_t c = 0; c < count; ++c)
      if (concerns[c].met(song))
        ++met[c];
      else
        missed[c] += " " + song.name;
  }
  for (std::size_t c = 0; c < count; ++c)
    EXPECT_GE(met[c], concerns[c].floor) << concerns[c].name << ": " << met[c] << " of " << judged
                                         << "; missed:" << missed[c];
}

TEST(DevSet, AMovingTempoIsFollowedAtEveryBeat) {
  for (const Song& song : all()) {
    if (!song.make || song.truth.kind != Kind::moving) continue;
    EXPECT_LE(worstBeatErrorMs(song.truth, analysed(song, Run::wav)), followToleranceMs) << song.name;
  }
}

// beat_devset: the beat analysis on the development set (tests/devset), one row a song,
// then how many songs meet each target.
//   beat_devset [NAME-PART]
// Only the songs whose names hold NAME-PART, where given. The first run renders the
// songs (minutes); later runs find the renders in build/devset.
// Columns: the truth's class and tempo; the tempo found (folded into the show's range)
// and its source; the first beat's distance from the nearest true beat, whether it
// starts a bar, the worst beat's distance; the MP3's tempo and first beat less the
// WAV's; with the true tempo given, the first beat's distance from a beat; the
// analysis' processor seconds per minute of music.
#include <cmath>
#include <cstdio>
#include <string>

#include "tests/devset/devset.h"

using namespace devset;

namespace {

struct Count {
  int met = 0, of = 0;
  void add(bool ok) { met += ok, ++of; }
};

}  // namespace

int main(int argc, char** argv) {
  const std::string only = argc > 1 ? argv[1] : "";
  std::printf("%-24s %-8s %-7s %6s %7s %-8s %7s %3s %7s %6s %7s %7s %6s  %s\n", "song", "class", "meter", "true",
              "found", "source", "1st ms", "bar", "worst", "mp3 d", "mp3 ms", "bpm ms", "cpu/m", "note");
  Count tempo, first, bar, mp3, given, followed, fellBack;
  double cpu = 0.0, minutes = 0.0;
  std::string excluded;
  for (const Song& song : songs()) {
    if (song.name.find(only) == std::string::npos) continue;
    const Truth& t = song.truth;
    synth::Music wav, mp3Sound;
    std::string error;
    if (!load(song, false, wav, error) || !load(song, true, mp3Sound, error)) {
      std::printf("%-24s %s\n", song.name.c_str(), error.c_str());
      continue;
    }
    const Found found = find(wav), fromMp3 = find(mp3Sound);
    const BeatGrid& g = found.grid;
    const double songMinutes = static_cast<double>(wav.frames()) / wav.rate / 60.0;
    cpu += found.cpuSeconds;
    minutes += songMinutes;
    if (t.kind == Kind::noPulse) {
      fellBack.add(g.source == TempoSource::fallback);
      std::printf("%-24s %-8s %-7s %6s %7.2f %-8s %62.3f  %s\n", song.name.c_str(), kindName(t.kind), "-", "-",
                  foldTempo(g.bpm), tempoSourceName(g.source), found.cpuSeconds / songMinutes, g.note.c_str());
      continue;
    }
    const Found withBpm = find(wav, {t.bpm, -1.0});
    const double firstMs = firstBeatErrorMs(t, g), worstMs = worstBeatErrorMs(t, g);
    const double mp3Bpm = fromMp3.grid.bpm - g.bpm;
    const double mp3Ms = 1000.0 * (fromMp3.grid.secondsAt(0) - g.secondsAt(0));
    const double givenMs = givenFirstBeatErrorMs(t, withBpm.grid);
    const bool startsBar = onBarStart(t, g);
    std::string note = song.excluded.empty() ? g.note : "not judged: " + song.excluded;
    if (t.playedLateTicks != 0) note += " (notes played " + std::to_string(t.playedLateTicks) + " ticks late)";
    if (song.judged()) {
      tempo.add(std::fabs(tempoError(t, g)) <= tempoToleranceBpm);
      first.add(firstMs <= beatToleranceMs);
      bar.add(startsBar);
      mp3.add(std::fabs(mp3Bpm) <= mp3TempoToleranceBpm && std::fabs(mp3Ms) <= mp3BeatToleranceMs);
      given.add(givenMs <= beatToleranceMs);
    } else if (t.kind == Kind::moving && song.make) {
      followed.add(worstMs <= followToleranceMs);
    }
    if (!song.excluded.empty()) excluded += "  " + song.name + ": " + song.excluded + "\n";
    std::printf("%-24s %-8s %-7s %6.2f %7.2f %-8s %7.1f %3s %7.1f %6.2f %7.1f %7.1f %6.3f  %s\n", song.name.c_str(),
                kindName(t.kind), t.meter.substr(0, 7).c_str(), foldTempo(t.bpm), foldTempo(g.bpm),
                tempoSourceName(g.source), firstMs, startsBar ? "yes" : "no", worstMs, mp3Bpm, mp3Ms, givenMs,
                found.cpuSeconds / songMinutes, note.c_str());
    std::fflush(stdout);
  }
  const auto line = [](const char* what, const Count& c) { std::printf("%-52s %3d/%d\n", what, c.met, c.of); };
  std::printf("\nsteady songs in x/4, judged:\n");
  line("  tempo within 0.5 bpm", tempo);
  line("  first beat within 25 ms of a beat", first);
  line("  first beat on a bar start (target: 90 %)", bar);
  line("  MP3 within 0.05 bpm and 10 ms of the WAV", mp3);
  line("  with the true tempo given, first beat within 25 ms", given);
  std::printf("music made here:\n");
  line("  moving tempo followed within 30 ms at every beat", followed);
  line("  no pulse: falls back", fellBack);
  std::printf("analysis: %.3f processor seconds per minute of music (%.1f minutes)\n",
              minutes > 0 ? cpu / minutes : 0.0, minutes);
  if (!excluded.empty()) std::printf("not judged:\n%s", excluded.c_str());
}

// live_beat_devset: the live beat (audio/live_beat.h) listening to each song of the
// development set (tests/devset) as it would hear it played, hop by hop: the tempo it
// keeps against the truth's (folded into the show's range), how many seconds of sound
// it takes to lock (and how many bars from the song's first note), its distance from
// the song's beats over the last half minute as the picture would show them (2048
// frames behind what was fed: nine beats in ten within, the worst, the median signed),
// each lock's tempo as its line tells it, or a correction's (the furthest from the
// song's) and how many such lines, and whether it puts the bar's first beat on a bar start; then how many steady
// songs meet each target and the processor time it took against the sound's length.
//   live_beat_devset [--from=S --to=S] [--in-a-row] [NAME...]    (PULSE165_DEVSET_SECONDS:
//   the length rendered; --from and --to judge the phase over those seconds instead of
//   the last 30; --in-a-row plays the songs one after another to one listener, 2 s of
//   silence apart, as scripts/listen-check does: a lock counts where it stands at the
//   song's end, from the song's start, and none where the tempo changed after it;
//   --shifts=N also starts each song 0, 64, ... (N-1)*64 frames later to a fresh listener
//   and counts the shifts whose first lock is at the song's tempo: where the hops fall
//   in the sound decides some first locks)
//   live_beat_devset --export DIR SECONDS [NAME...]
// The second writes each steady song's first SECONDS as DIR/NAME.wav (stereo floats)
// with the show's beats in it in DIR/NAME.beats (seconds, one a line), and prints a line a song:
// its name, its tempo folded into the show's range and its first note's time (for
// scripts/listen-check).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "audio/beat_grid.h"
#include "audio/live_beat.h"
#include "tests/devset/devset.h"

namespace {
constexpr double tempoTolerance = 0.5;  // bpm
constexpr double phaseTargetMs = 20.0;
constexpr double lockTargetBars = 4.0;
constexpr double judgedSeconds = 30.0;   // the last seconds judged for the phase
constexpr double behindFrames = 2048;    // what the picture shows lags what was fed
constexpr double rowGapSeconds = 2.0;    // between songs played in a row
constexpr int shiftStep = 64;            // frames between the starts --shifts tries
constexpr double shiftedSeconds = 20.0;  // a shifted start is heard this long for its first lock

// The tempo of a fresh listener's first lock on `music` started `shift` frames late
// (0 if none in its first seconds).
double firstLockBpm(const synth::Music& music, int shift) {
  LiveBeat beat;
  if (!beat.open()) return 0.0;
  std::vector<float> mono(LiveBeat::hop);
  const std::int64_t end = std::min<std::int64_t>(music.frames(), std::llround(shiftedSeconds * music.rate));
  for (std::int64_t first = -shift; first + LiveBeat::hop <= end; first += LiveBeat::hop) {
    for (int i = 0; i < LiveBeat::hop; ++i) {
      const std::int64_t k = first + i;
      mono[i] = k < 0 ? 0.0f : 0.5f * (music.stereo[2 * k] + music.stereo[2 * k + 1]);
    }
    beat.feed(mono.data(), static_cast<std::uint64_t>(first + shift));
    if (beat.locked()) return beat.bpm();
  }
  return 0.0;
}

double cpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}
// The first `seconds` of each judged song, and its beats, into `dir`.
int exportSongs(const std::string& dir, double seconds, const std::vector<std::string>& only) {
  for (const devset::Song& song : devset::songs()) {
    if (!song.judged() || (!only.empty() && std::find(only.begin(), only.end(), song.name) == only.end())) continue;
    synth::Music music;
    std::string error;
    if (!devset::load(song, false, music, error)) {
      std::fprintf(stderr, "%s: %s\n", song.name.c_str(), error.c_str());
      continue;
    }
    const auto frames = static_cast<std::uint32_t>(std::min<double>(seconds * music.rate, music.frames()));
    std::FILE* wav = std::fopen((dir + "/" + song.name + ".wav").c_str(), "wb");
    std::FILE* beats = std::fopen((dir + "/" + song.name + ".beats").c_str(), "w");
    if (wav == nullptr || beats == nullptr) return 1;
    const auto put = [wav](std::uint32_t value, int bytes) { std::fwrite(&value, bytes, 1, wav); };
    const std::uint32_t dataBytes = frames * 8;
    std::fputs("RIFF", wav);
    put(36 + dataBytes, 4);
    std::fputs("WAVEfmt ", wav);
    put(16, 4);
    put(3, 2);  // floats
    put(2, 2);
    put(static_cast<std::uint32_t>(music.rate), 4);
    put(static_cast<std::uint32_t>(music.rate) * 8, 4);
    put(8, 2);
    put(32, 2);
    std::fputs("data", wav);
    put(dataBytes, 4);
    std::fwrite(music.stereo.data(), sizeof(float), 2 * static_cast<std::size_t>(frames), wav);
    // The show's beats: the song's at its tempo folded into the show's range (each beat
    // split where that doubles it, every other one where it halves it).
    const std::vector<double>& notated = song.truth.beats;
    const double ratio = foldTempo(song.truth.bpm) / song.truth.bpm;
    const int split = ratio > 1.5 ? static_cast<int>(std::lround(ratio)) : 1;
    const int every = ratio < 0.75 ? static_cast<int>(std::lround(1.0 / ratio)) : 1;
    for (std::size_t i = 0; i < notated.size() && notated[i] <= seconds; i += every)
      for (int k = 0; k < split && i + 1 < notated.size(); ++k)
        std::fprintf(beats, "%.6f\n", notated[i] + (notated[i + 1] - notated[i]) * k / split);
    std::fclose(wav);
    std::fclose(beats);
    std::printf("%s %.2f %.3f\n", song.name.c_str(), foldTempo(song.truth.bpm), song.truth.firstNote);
  }
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "--export")
    return exportSongs(argv[2], std::atof(argv[3]), std::vector<std::string>(argv + 4, argv + argc));
  // --from=S --to=S: the phase judged over those seconds of each song instead.
  double judgeFrom = -1.0, judgeTo = -1.0;
  bool inARow = false;
  int shifts = 0;
  std::vector<std::string> only;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--from=", 0) == 0)
      judgeFrom = std::atof(arg.c_str() + 7);
    else if (arg.rfind("--to=", 0) == 0)
      judgeTo = std::atof(arg.c_str() + 5);
    else if (arg == "--in-a-row")
      inARow = true;
    else if (arg.rfind("--shifts=", 0) == 0)
      shifts = std::max(0, std::atoi(arg.c_str() + 9));
    else
      only.push_back(arg);
  }
  int judged = 0, tempoOk = 0, lockOk = 0, lockTempoOk = 0, phaseOk = 0, barOk = 0, shiftsOk = 0;
  double cpu = 0.0, heard = 0.0;
  // In a row: one listener for every song, and where the next song starts in what it was fed.
  LiveBeat listener;
  if (inARow && !listener.open()) return 1;
  std::uint64_t rowFrames = 0;
  std::printf("%-24s %-7s %7s %8s %8s %7s %8s %6s %9s %9s %8s %4s\n", "song", "class", "truth", "kept", "lock s",
              "bars", "lock bpm", "locks", "9/10 ms", "worst ms", "median", "bar");
  for (const devset::Song& song : devset::songs()) {
    if (!only.empty() && std::find(only.begin(), only.end(), song.name) == only.end()) continue;
    if (inARow && only.empty() && !song.judged()) continue;  // as the screen's check plays them
    synth::Music music;
    std::string error;
    if (!devset::load(song, false, music, error)) {
      std::fprintf(stderr, "%s: %s\n", song.name.c_str(), error.c_str());
      continue;
    }
    LiveBeat fresh;
    if (!inARow && !fresh.open()) return 1;
    LiveBeat& beat = inARow ? listener : fresh;
    const double start = cpuSeconds();
    std::vector<float> mono(LiveBeat::hop);
    std::uint64_t songStart = 0;
    if (inARow) {
      std::fill(mono.begin(), mono.end(), 0.0f);
      for (double gap = 0.0; gap < rowGapSeconds * music.rate; gap += LiveBeat::hop, rowFrames += LiveBeat::hop)
        beat.feed(mono.data(), rowFrames);
      songStart = rowFrames;
    }
    const std::vector<double>& beats = song.truth.beats;
    std::size_t next = 0;
    double worstMs = 0.0, firstLock = -1.0;
    // Each lock's tempo as it is told (the worst of them against the truth) and how many.
    const double truthBpm = foldTempo(song.truth.bpm);
    double worstLockBpm = 0.0;
    int locks = 0;
    bool wasLocked = beat.locked();
    int corrections = beat.corrections;
    // Played in a row, the last song's lock may stand through this one (no line tells
    // it: counted as a lock at the tempo kept at the end).
    const bool carried = wasLocked;
    if (carried) firstLock = 0.0;
    std::vector<double> signedMs;
    const double seconds = static_cast<double>(music.frames()) / music.rate;
    for (std::int64_t first = 0; first + LiveBeat::hop <= music.frames(); first += LiveBeat::hop) {
      for (int i = 0; i < LiveBeat::hop; ++i)
        mono[i] = 0.5f * (music.stereo[2 * (first + i)] + music.stereo[2 * (first + i) + 1]);
      beat.feed(mono.data(), songStart + static_cast<std::uint64_t>(first));
      if (beat.locked() && firstLock < 0)
        firstLock = static_cast<double>(beat.lockedAt() - std::min(beat.lockedAt(), songStart)) / music.rate;
      if (inARow && wasLocked && !beat.locked() && beat.fedEnd - beat.heardEnd <= LiveBeat::hop)
        firstLock = -1.0;  // another tempo (not a rest in the song)
      // A lock's tempo corrected by the analysis is told as well.
      const bool told = beat.locked() && (!wasLocked || beat.corrections != corrections);
      corrections = beat.corrections;
      if (told) {
        ++locks;
        if (locks == 1 || std::abs(beat.bpm() - truthBpm) > std::abs(worstLockBpm - truthBpm))
          worstLockBpm = beat.bpm();
      }
      wasLocked = beat.locked();
      const double shown = static_cast<double>(first + LiveBeat::hop) - behindFrames;
      for (; next < beats.size() && beats[next] * music.rate <= shown; ++next) {
        const double from = judgeFrom >= 0.0 ? judgeFrom : seconds - judgedSeconds;
        const double to = judgeTo >= 0.0 ? judgeTo : seconds;
        if (beats[next] < from || beats[next] > to || beat.bpm() <= 0) continue;
        const double at = beat.beatAt(songStart + static_cast<std::uint64_t>(std::llround(beats[next] * music.rate)));
        // Judged on the show's beats: where the kept tempo is double the song's, the
        // song's beats fall on every other one, either half alike (as the track's
        // analysis is judged).
        const double error = (at - std::round(at)) * 60000.0 / beat.bpm();
        worstMs = std::max(worstMs, std::abs(error));
        signedMs.push_back(error);
      }
    }
    rowFrames = songStart + static_cast<std::uint64_t>(music.frames() / LiveBeat::hop * LiveBeat::hop);
    if (locks == 0 && carried && firstLock >= 0.0) worstLockBpm = beat.bpm(), locks = 1;
    const double used = cpuSeconds() - start;
    cpu += used;
    heard += seconds;
    std::sort(signedMs.begin(), signedMs.end());
    const double medianMs = signedMs.empty() ? 0.0 : signedMs[signedMs.size() / 2];
    // Nine beats in ten at least this close.
    std::vector<double> distances;
    for (double e : signedMs) distances.push_back(std::abs(e));
    std::sort(distances.begin(), distances.end());
    const double ninetyMs = distances.empty() ? 1e9 : distances[distances.size() * 9 / 10];
    const double barSeconds = 4 * 60.0 / song.truth.bpm;
    const double lockBars = firstLock >= 0 ? (firstLock - song.truth.firstNote) / barSeconds : 1e9;
    // The bar: the clock's bar start nearest the last bar start of the truth.
    bool onBar = false;
    if (!song.truth.bars.empty() && beat.bpm() > 0) {
      const double lastBar = song.truth.bars.back() < seconds ? song.truth.bars.back() : song.truth.bars.front();
      const double at = beat.beatAt(songStart + static_cast<std::uint64_t>(std::llround(lastBar * music.rate)));
      const long long k = std::llround(at);
      onBar = std::abs(at - static_cast<double>(k)) < 0.25 && ((k - beat.barStart()) % 4 + 4) % 4 == 0;
    }
    const bool isJudged = song.judged();
    const bool tempoRight = std::abs(beat.bpm() - truthBpm) <= tempoTolerance;
    if (isJudged) {
      ++judged;
      tempoOk += tempoRight;
      lockOk += lockBars <= lockTargetBars;
      lockTempoOk += locks > 0 && std::abs(worstLockBpm - truthBpm) <= tempoTolerance;
      phaseOk += tempoRight && ninetyMs <= phaseTargetMs;
      barOk += tempoRight && onBar;
    }
    std::printf("%-24s %-7s %7.2f %8.2f %8.1f %7.1f %8.2f %6d %9.1f %9.1f %+8.1f %4s%s\n", song.name.c_str(),
                devset::kindName(song.truth.kind), truthBpm, beat.bpm(), firstLock, lockBars, worstLockBpm, locks,
                ninetyMs, worstMs, medianMs, onBar ? "yes" : "no", isJudged ? "" : "  (not judged)");
    if (shifts > 0) {
      int right = 0;
      std::printf("%24s first locks:", "");
      for (int k = 0; k < shifts; ++k) {
        const double bpm = firstLockBpm(music, k * shiftStep);
        right += std::abs(bpm - truthBpm) <= tempoTolerance;
        std::printf(" %.2f", bpm);
      }
      std::printf("  (%d of %d right)\n", right, shifts);
      if (isJudged) shiftsOk += right == shifts;
    }
  }
  std::printf(
      "\nsteady songs: %d; tempo within %.1f bpm: %d; locked within %.0f bars: %d; every lock's tempo within "
      "%.1f bpm: %d; nine beats in ten within %.0f ms over the last %.0f s: %d; bar start: %d\n",
      judged, tempoTolerance, tempoOk, lockTargetBars, lockOk, tempoTolerance, lockTempoOk, phaseTargetMs,
      judgedSeconds, phaseOk, barOk);
  if (shifts > 0) std::printf("first lock's tempo right at all %d shifts: %d\n", shifts, shiftsOk);
  std::printf("processor time: %.2f s for %.1f minutes of sound (%.2f %% of one core in real time)\n", cpu,
              heard / 60.0, heard > 0 ? 100.0 * cpu / heard : 0.0);
  return 0;
}

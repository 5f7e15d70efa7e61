#include "tests/devset/devset.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "audio/media_decoder.h"

namespace fs = std::filesystem;

namespace devset {

// ---------------------------------------------------------------------------
// MIDI files

double Midi::seconds(std::int64_t tick) const {
  double at = 0.0, quarter = 0.5;
  std::int64_t from = 0;
  for (const Tempo& t : tempos) {
    if (t.tick >= tick) break;
    at += static_cast<double>(t.tick - from) * quarter / ppq;
    from = t.tick;
    quarter = t.quarterSeconds;
  }
  return at + static_cast<double>(tick - from) * quarter / ppq;
}

namespace {

// Bytes read in order; a read past the end sets `bad` and gives zeros.
struct Reader {
  const std::uint8_t* at;
  const std::uint8_t* end;
  bool bad = false;
  std::uint32_t byte() {
    if (at < end) return *at++;
    bad = true;
    return 0;
  }
  std::uint32_t big(int bytes) {
    std::uint32_t v = 0;
    while (bytes-- > 0) v = v << 8 | byte();
    return v;
  }
  std::uint32_t variable() {  // seven bits a byte, the top bit set on all but the last (four at most)
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      const std::uint32_t b = byte();
      v = v << 7 | (b & 0x7f);
      if (b < 0x80) return v;
    }
    bad = true;
    return v;
  }
  void skip(std::uint32_t n) {
    if (n > static_cast<std::size_t>(end - at)) bad = true;
    at += std::min<std::size_t>(n, static_cast<std::size_t>(end - at));
  }
};

bool readTrack(Reader r, Midi& midi, std::string& error) {
  std::int64_t tick = 0;
  std::uint32_t status = 0;  // running status: a channel message may leave out its status byte
  while (r.at < r.end && !r.bad) {
    tick += r.variable();
    std::uint32_t first = r.byte();
    if (first == 0xff) {  // a meta event
      const std::uint32_t type = r.byte(), length = r.variable();
      const std::uint8_t* data = r.at;
      r.skip(length);
      if (r.bad) break;
      if (type == 0x51 && length == 3)
        midi.tempos.push_back({tick, (data[0] << 16 | data[1] << 8 | data[2]) / 1e6});
      else if (type == 0x58 && length >= 2 && data[1] < 8)
        midi.meters.push_back({tick, data[0], 1 << data[1]});
      else if (type == 0x2f)
        r.at = r.end;                             // the end of the track, which the player waits for
    } else if (first == 0xf0 || first == 0xf7) {  // system exclusive
      r.skip(r.variable());
    } else {
      if (first & 0x80) {
        status = first;
        first = r.byte();
      } else if (status == 0) {
        error = "a data byte without a status";
        return false;
      }
      const std::uint32_t kind = status & 0xf0;
      const std::uint32_t second = kind == 0xc0 || kind == 0xd0 ? 0 : r.byte();
      if (kind == 0x90 && second > 0) midi.notes.push_back(tick);
    }
    midi.endTick = std::max(midi.endTick, tick);
  }
  if (r.bad) error = "a track ends inside an event";
  return !r.bad;
}

}  // namespace

bool readMidi(const std::vector<std::uint8_t>& bytes, Midi& midi, std::string& error) {
  midi = {};
  Reader r{bytes.data(), bytes.data() + bytes.size()};
  if (r.big(4) != 0x4d546864 || r.big(4) != 6) return error = "not a Standard MIDI File", false;  // "MThd"
  midi.format = static_cast<int>(r.big(2));
  const std::uint32_t tracks = r.big(2), division = r.big(2);
  if (midi.format > 1) return error = "format " + std::to_string(midi.format), false;
  if (division == 0 || division & 0x8000) return error = "time in SMPTE frames", false;
  midi.ppq = static_cast<int>(division);
  for (std::uint32_t read = 0; read < tracks;) {
    const std::uint32_t type = r.big(4), length = r.big(4);
    if (r.bad || length > static_cast<std::size_t>(r.end - r.at)) return error = "cut short", false;
    if (type == 0x4d54726b && !readTrack({r.at, r.at + length}, midi, error)) return false;  // "MTrk"
    read += type == 0x4d54726b;
    r.skip(length);
  }
  // Events at one tick in different tracks: the last read holds (a stable sort keeps their order).
  const auto byTick = [](const auto& a, const auto& b) { return a.tick < b.tick; };
  std::stable_sort(midi.tempos.begin(), midi.tempos.end(), byTick);
  std::stable_sort(midi.meters.begin(), midi.meters.end(), byTick);
  std::sort(midi.notes.begin(), midi.notes.end());
  return true;
}

// ---------------------------------------------------------------------------
// The truth

const char* kindName(Kind kind) {
  switch (kind) {
    case Kind::steady:
      return "steady";
    case Kind::moving:
      return "moving";
    case Kind::otherMeter:
      return "meter";
    case Kind::noPulse:
      return "no pulse";
  }
  return "?";
}

Truth truthOf(const Midi& midi) {
  Truth t;
  t.seconds = midi.seconds(midi.endTick);
  for (std::int64_t tick = 0; tick <= midi.endTick; tick += midi.ppq) t.beats.push_back(midi.seconds(tick));
  // Bars from tick 0 in 4/4 until the first meter, each meter starting a bar.
  std::vector<Midi::Meter> meters{{0, 4, 4}};
  for (const Midi::Meter& m : midi.meters) {
    if (m.tick == meters.back().tick) meters.pop_back();
    meters.push_back(m);
  }
  bool quarters = true;  // every meter two or four quarter notes a bar, counted in quarters or halves
  for (std::size_t i = 0; i < meters.size(); ++i) {
    const Midi::Meter& m = meters[i];
    const std::int64_t bar = 4 * midi.ppq * m.numerator / m.denominator;
    const std::int64_t until = i + 1 < meters.size() ? meters[i + 1].tick : midi.endTick + 1;
    for (std::int64_t tick = m.tick; tick < until && bar > 0; tick += bar) t.bars.push_back(midi.seconds(tick));
    const std::string name = std::to_string(m.numerator) + "/" + std::to_string(m.denominator);
    if (t.meter.empty() || t.meter.substr(t.meter.rfind(' ') + 1) != name)
      t.meter += (t.meter.empty() ? "" : " ") + name;
    quarters = quarters && m.denominator <= 4 && (bar == 2 * midi.ppq || bar == 4 * midi.ppq);
  }
  if (midi.notes.empty()) return t;
  // The tempo of the first note, and whether it holds (within 0.1 %) to the last.
  double quarter = 0.5;
  bool steady = true;
  for (const Midi::Tempo& tempo : midi.tempos) {
    if (tempo.tick <= midi.notes.front())
      quarter = tempo.quarterSeconds;
    else if (tempo.tick <= midi.notes.back())
      steady = steady && std::fabs(tempo.quarterSeconds / quarter - 1.0) <= 0.001;
  }
  t.bpm = 60.0 / quarter;
  t.firstNote = midi.seconds(midi.notes.front());
  // The beats as played: some files place every note a little after its beat (the
  // Blupi songs, by about 20 ticks, 50 ms); the median offset of the notes within an
  // eighth of a beat of one moves the true beats and bars with them.
  std::vector<std::int64_t> offsets;
  for (std::int64_t note : midi.notes) {
    const std::int64_t off = (note + midi.ppq / 2) % midi.ppq - midi.ppq / 2;
    if (8 * std::abs(off) <= midi.ppq) offsets.push_back(off);
  }
  if (!offsets.empty()) {
    std::nth_element(offsets.begin(), offsets.begin() + offsets.size() / 2, offsets.end());
    t.playedLateTicks = offsets[offsets.size() / 2];
    const double late = static_cast<double>(t.playedLateTicks) * quarter / midi.ppq;
    for (double& b : t.beats) b += late;
    for (double& b : t.bars) b += late;
  }
  const std::int64_t sixteenth = std::max(1, midi.ppq / 4);
  std::vector<std::int64_t> onGrid;
  for (std::int64_t note : midi.notes) onGrid.push_back((note + sixteenth / 2) / sixteenth);
  onGrid.erase(std::unique(onGrid.begin(), onGrid.end()), onGrid.end());
  const auto followed = [&](std::int64_t beats) {
    std::size_t found = 0;
    for (std::int64_t n : onGrid) found += std::binary_search(onGrid.begin(), onGrid.end(), n + 4 * beats);
    return static_cast<double>(found) / static_cast<double>(onGrid.size());
  };
  t.repeatsAfterThree = followed(3);
  t.repeatsAfterFour = followed(4);
  t.kind = !quarters ? Kind::otherMeter : steady ? Kind::steady : Kind::moving;
  return t;
}

Truth truthOf(const synth::Music& music) {
  Truth t;
  t.seconds = static_cast<double>(music.frames()) / music.rate;
  t.meter = std::to_string(music.beatsPerBar) + "/4";
  t.beats = music.beats;
  if (t.beats.size() < 2) return t;
  for (std::size_t k = 0; k < t.beats.size(); k += music.beatsPerBar) t.bars.push_back(t.beats[k]);
  const double first = t.beats[1] - t.beats[0];
  bool steady = true;
  for (std::size_t k = 1; k < t.beats.size(); ++k)
    steady = steady && std::fabs((t.beats[k] - t.beats[k - 1]) / first - 1.0) <= 0.001;
  t.bpm = 60.0 / first;
  t.firstNote = t.beats[0];
  t.kind = steady ? Kind::steady : Kind::moving;
  return t;
}

// ---------------------------------------------------------------------------
// The songs

namespace {

// render.sh renders a song's first two minutes (PULSE165_DEVSET_SECONDS, from 30 to
// 900, others: the bench runs the whole of most songs with 300).
const double renderSeconds = [] {
  const char* value = std::getenv("PULSE165_DEVSET_SECONDS");
  const double seconds = value ? std::atof(value) : 120.0;
  return seconds >= 30.0 && seconds <= 900.0 ? std::round(seconds) : 120.0;
}();
const fs::path cache = fs::path(PULSE165_SOURCE_DIR) / "build" / "devset";

std::vector<std::uint8_t> bytesOf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

Song midiSong(const std::string& name, const fs::path& path) {
  Song song{name, path.string(), {}, {}, {}};
  Midi midi;
  std::string error;
  if (!readMidi(bytesOf(path), midi, error)) {
    song.excluded = "unreadable: " + error;
    return song;
  }
  song.truth = truthOf(midi);
  Truth& t = song.truth;
  if (t.seconds > renderSeconds) {  // as far as the render goes
    t.seconds = renderSeconds;
    std::erase_if(t.beats, [](double s) { return s > renderSeconds; });
    std::erase_if(t.bars, [](double s) { return s > renderSeconds; });
  }
  if (t.kind == Kind::noPulse)
    song.excluded = "no notes";
  else if (t.seconds < 30.0)
    song.excluded = "under 30 s";
  else if (t.firstNote > 10.0)
    song.excluded = "no note in the first 10 s";
  else if (t.repeatsAfterThree > t.repeatsAfterFour + 0.2) {
    // Every part on a grid of three sixteenths, in a cycle of three beats across the
    // bars: the beat heard is the dotted eighth, 4/3 of the notated tempo.
    char why[120];
    std::snprintf(why, sizeof why, "its notes repeat every three beats (%.2f), not in its 4/4 bars (%.2f)",
                  t.repeatsAfterThree, t.repeatsAfterFour);
    song.excluded = why;
  }
  return song;
}

Song madeSong(const std::string& name, std::function<synth::Music()> make) {
  Song song{name, {}, std::move(make), {}, {}};
  song.truth = truthOf(song.make());
  return song;
}

}  // namespace

namespace {

// The songs of both Debian packages that are installed, by name.
std::vector<Song> midiSongs() {
  std::vector<Song> list;
  const std::pair<const char*, const char*> folders[] = {
      {"", "/usr/share/games/openttd/baseset/openmsx"},  // openttd-openmsx
      {"blupi-", "/usr/share/planetblupi/music"},        // planetblupi-music-midi
  };
  for (const auto& [prefix, folder] : folders) {
    std::vector<fs::path> files;
    std::error_code ignored;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ignored))
      if (entry.path().extension() == ".mid") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) list.push_back(midiSong(prefix + file.stem().string(), file));
  }
  return list;
}

}  // namespace

std::vector<Song> songs() {
  std::vector<Song> list = midiSongs();
  using namespace synth;
  list.push_back(madeSong("sixteenths-124", [] { return sixteenths(124.0, 0.31, 90.0); }));
  list.push_back(madeSong("swing-132", [] { return swing(132.0, 0.12, 90.0); }));
  list.push_back(madeSong("offbeat-bass-118", [] { return offbeatBass(118.0, 0.45, 90.0); }));
  list.push_back(madeSong("three-over-two-140", [] { return threeOverTwo(140.0, 0.2, 90.0); }));
  list.push_back(madeSong("kicks-174", [] { return kicks(174.0, 0.52, 90.0); }));
  list.push_back(
      madeSong("ramp-120-132", [] { return kicks(beatTimes(0.4, 150.0, 120.0, 132.0, 0.4, 150.0), 150.0); }));
  // 128 bpm up to beat 192 (1:30.3), 140 from there.
  list.push_back(
      madeSong("step-128-140", [] { return kicks(beatTimes(0.3, 180.0, 128.0, 140.0, 90.3, 90.3), 180.0); }));
  list.push_back(madeSong("drone", [] { return drone(40.0); }));
  list.push_back(madeSong("silence", [] { return silence(40.0); }));
  return list;
}

// ---------------------------------------------------------------------------
// Loading

namespace {

// Renders the songs whose renders are missing (all of them, the first time); the folder
// of the renders, or empty where render.sh failed.
std::string renderAll() {
  std::string command = "bash '" PULSE165_SOURCE_DIR "/tests/devset/render.sh' '" + cache.string() + "' " +
                        std::to_string(static_cast<int>(renderSeconds));
  for (const Song& song : midiSongs()) command += " '" + song.name + "' '" + song.midiPath + "'";
  FILE* pipe = popen(command.c_str(), "r");
  std::string folder;
  char buffer[4096];
  for (std::size_t n; pipe != nullptr && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    folder.append(buffer, n);
  if (pipe == nullptr || pclose(pipe) != 0) return {};
  while (!folder.empty() && folder.back() == '\n') folder.pop_back();
  return folder;
}

bool decode(const fs::path& path, synth::Music& sound, std::string& error) {
  MediaTrack track;
  const MediaResult result = decodeMediaFile(path, track);
  if (!result.ok()) return error = result.message, false;
  sound = {};
  sound.stereo.assign(track.samples, track.samples + 2 * track.frames);
  return true;
}

std::uint64_t fingerprint(const std::vector<float>& samples) {  // FNV-1a over the bytes
  std::uint64_t h = 14695981039346656037u;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(samples.data());
  for (std::size_t i = 0; i < samples.size() * sizeof(float); ++i) h = (h ^ bytes[i]) * 1099511628211u;
  return h;
}

}  // namespace

bool load(const Song& song, bool mp3, synth::Music& sound, std::string& error) {
  if (song.make) {
    sound = song.make();
    if (!mp3) return true;
    // Encoded once for every version of the music, named by a fingerprint of it.
    char name[32];
    std::snprintf(name, sizeof name, "-%016llx.mp3", static_cast<unsigned long long>(fingerprint(sound.stereo)));
    const fs::path path = cache / "made" / (song.name + name);
    if (!fs::exists(path)) {
      fs::create_directories(path.parent_path());
      const fs::path part = path.string() + ".part-" + std::to_string(getpid()) + ".mp3";
      if (!synth::encode(sound, part, "-c:a libmp3lame -b:a 96k"))
        return error = "ffmpeg failed on " + part.string(), false;
      fs::rename(part, path);
    }
    return decode(path, sound, error);
  }
  static const std::string folder = renderAll();
  if (folder.empty()) return error = "tests/devset/render.sh failed", false;
  return decode(fs::path(folder) / (song.name + (mp3 ? ".mp3" : ".wav")), sound, error);
}

Found find(const synth::Music& sound, const BeatRequest& request) {
  const std::clock_t start = std::clock();
  Found found{findBeatGrid(sound.stereo.data(), sound.frames(), request), 0.0};
  found.cpuSeconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  return found;
}

// ---------------------------------------------------------------------------
// The measures

namespace {

// Seconds from the nearest of the true beats, each split into `parts`.
double distance(const std::vector<double>& beats, int parts, double seconds) {
  if (beats.empty()) return INFINITY;
  const auto after = std::upper_bound(beats.begin(), beats.end(), seconds);
  if (after == beats.begin()) return beats.front() - seconds;
  if (after == beats.end()) return seconds - beats.back();
  const double from = after[-1], step = (after[0] - from) / parts;
  const double part = std::round((seconds - from) / step);
  return std::fabs(seconds - from - part * step);
}

int foldParts(const Truth& truth) {
  return std::max(1, static_cast<int>(std::lround(foldTempo(truth.bpm) / truth.bpm)));
}

}  // namespace

double tempoError(const Truth& truth, const BeatGrid& grid) {
  return foldTempo(grid.bpm) - foldTempo(truth.bpm);
}

double beatErrorMs(const Truth& truth, double seconds) {
  return 1000.0 * distance(truth.beats, foldParts(truth), seconds);
}

double firstBeatErrorMs(const Truth& truth, const BeatGrid& grid) {
  return beatErrorMs(truth, grid.secondsAt(0));
}

bool onBarStart(const Truth& truth, const BeatGrid& grid) {
  return 1000.0 * distance(truth.bars, 1, grid.secondsAt(0)) <= beatToleranceMs;
}

double worstBeatErrorMs(const Truth& truth, const BeatGrid& grid) {
  double worst = 0.0;
  for (std::int64_t k = 0; k < grid.beats && !truth.beats.empty() && grid.secondsAt(k) <= truth.beats.back(); ++k)
    worst = std::max(worst, beatErrorMs(truth, grid.secondsAt(k)));
  return worst;
}

double givenFirstBeatErrorMs(const Truth& truth, const BeatGrid& grid) {
  return 1000.0 * distance(truth.beats, 1, grid.secondsAt(0));
}

}  // namespace devset

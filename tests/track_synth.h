// Test music made on the spot, each piece with the exact seconds of its notated beats:
// kicks on a known beat grid (steady, ramping or stepping), grooves that tempt a beat
// tracker to the wrong tempo or phase, or a beatless drone.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace synth {

// Interleaved stereo floats at `rate` (the music made here is at 44,100 Hz).
struct Music {
  int rate = 44100;
  std::vector<float> stereo;
  std::vector<double> beats;  // the notated beats, in seconds; beats 0, beatsPerBar, ... begin bars
  int beatsPerBar = 4;
  std::int64_t frames() const { return static_cast<std::int64_t>(stereo.size() / 2); }
  // The second at which a beat, fractions included, falls (the last beat's length goes on).
  double at(double beat) const {
    const auto n = static_cast<std::int64_t>(beats.size());
    const std::int64_t k = std::min(static_cast<std::int64_t>(std::floor(beat)), n - 2);
    return beats[k] + (beat - static_cast<double>(k)) * (beats[k + 1] - beats[k]);
  }
};

// Silence of `seconds` on the given beats.
inline Music silence(double seconds, std::vector<double> beats = {}) {
  Music m;
  m.stereo.assign(static_cast<std::size_t>(2 * static_cast<std::int64_t>(seconds * m.rate)), 0.0f);
  m.beats = std::move(beats);
  return m;
}

// The beats from `firstBeat` up to `seconds`: `bpm` until `changeFrom`, from there
// changing evenly with time to `endBpm` at `changeTo` (at once where the two are
// equal), `endBpm` after it; each found by integrating the tempo. firstBeat <= changeFrom.
inline std::vector<double> beatTimes(double firstBeat, double seconds, double bpm, double endBpm, double changeFrom,
                                     double changeTo) {
  const double before = (changeFrom - firstBeat) * bpm / 60.0;                  // beats before the change
  const double during = (changeTo - changeFrom) * (bpm + endBpm) / 2.0 / 60.0;  // and during it
  const double slope = changeTo > changeFrom ? (endBpm - bpm) / (changeTo - changeFrom) : 0.0;  // bpm a second
  std::vector<double> beats;
  for (int k = 0;; ++k) {
    double at;
    if (k <= before) {
      at = firstBeat + k * 60.0 / bpm;
    } else if (k <= before + during) {  // slope/2 u^2 + bpm u = 60 (k - before), u after changeFrom
      const double c = 60.0 * (k - before);
      at = changeFrom + 2.0 * c / (bpm + std::sqrt(bpm * bpm + 2.0 * slope * c));
    } else {
      at = changeTo + (k - before - during) * 60.0 / endBpm;
    }
    if (at >= seconds) return beats;
    beats.push_back(at);
  }
}
inline std::vector<double> beatTimes(double firstBeat, double seconds, double bpm) {
  return beatTimes(firstBeat, seconds, bpm, bpm, seconds, seconds);
}

// The voices, each added at a second: a kick falling from 150 Hz (a bar's: 120 Hz,
// louder) to 45 Hz; a burst of noise (a hat, or with a longer decay a snare); a
// plucked tone, a sine and its octave fading out over `length`.
template <class Voice>
void add(Music& m, double at, double length, Voice voice) {
  const auto start = static_cast<std::int64_t>(std::llround(at * m.rate));
  const auto count = static_cast<std::int64_t>(length * m.rate);
  for (std::int64_t i = std::max<std::int64_t>(0, -start); i < count && start + i < m.frames(); ++i) {
    const float s = 0.5f * static_cast<float>(voice(static_cast<double>(i) / m.rate));
    m.stereo[2 * (start + i)] += s;
    m.stereo[2 * (start + i) + 1] += s;
  }
}
inline void kick(Music& m, double at, bool bar) {
  double phase = 0.0;
  const double top = bar ? 120.0 : 150.0, rate = m.rate;
  add(m, at, 0.25, [&](double t) {
    phase += 2.0 * M_PI * (45.0 + (top - 45.0) * std::exp(-t / 0.03)) / rate;
    return (bar ? 1.0 : 0.55) * std::sin(phase) * std::exp(-t / 0.09);
  });
}
inline void noise(Music& m, double at, double level = 0.08, double decay = 0.008) {
  std::uint32_t state = static_cast<std::uint32_t>(std::llround(at * m.rate)) * 2654435761u + 165u;
  add(m, at, 4.0 * decay, [&](double t) {
    state = state * 1664525u + 1013904223u;
    return level * (static_cast<double>(state >> 8) / 8388608.0 - 1.0) * std::exp(-t / decay);
  });
}
inline void tone(Music& m, double at, double hz, double level, double length) {
  add(m, at, length, [&](double t) {
    const double fade = std::exp(-3.0 * t / length) * std::min(1.0, t / 0.004);  // a click-free start
    return level * fade * (std::sin(2 * M_PI * hz * t) + 0.4 * std::sin(4 * M_PI * hz * t));
  });
}

// A kick on every beat (bar starts louder and lower), a hat halfway between the beats.
inline Music kicks(std::vector<double> beats, double seconds) {
  Music m = silence(seconds, std::move(beats));
  for (std::size_t k = 0; k < m.beats.size(); ++k) {
    kick(m, m.beats[k], k % 4 == 0);
    noise(m, m.at(k + 0.5));
  }
  return m;
}
inline Music kicks(double bpm, double firstBeat, double seconds) {
  return kicks(beatTimes(firstBeat, seconds, bpm), seconds);
}

// Kicks on every beat under a hat on every sixteenth, the off-beat one a little louder.
inline Music sixteenths(double bpm, double firstBeat, double seconds) {
  Music m = silence(seconds, beatTimes(firstBeat, seconds, bpm));
  for (std::size_t k = 0; k < m.beats.size(); ++k) {
    kick(m, m.beats[k], k % 4 == 0);
    for (int s = 0; s < 4; ++s) noise(m, m.at(k + s / 4.0), s == 2 ? 0.09 : 0.06);
  }
  return m;
}

// A shuffle: swung eighths (two thirds and one third of a beat) on the hat, kicks on
// beats 1 and 3, a snare on 2 and 4.
inline Music swing(double bpm, double firstBeat, double seconds) {
  Music m = silence(seconds, beatTimes(firstBeat, seconds, bpm));
  for (std::size_t k = 0; k < m.beats.size(); ++k) {
    if (k % 2 == 0) kick(m, m.beats[k], k % 4 == 0);
    if (k % 2 == 1) noise(m, m.beats[k], 0.25, 0.05);
    noise(m, m.beats[k], 0.08);
    noise(m, m.at(k + 2.0 / 3.0), 0.06);
  }
  return m;
}

// No drums: a bass note on the "and" of every beat, a chord on every bar start held
// through the bar (A, F sharp minor, D, E).
inline Music offbeatBass(double bpm, double firstBeat, double seconds) {
  Music m = silence(seconds, beatTimes(firstBeat, seconds, bpm));
  const double roots[] = {110.0, 92.5, 73.4, 82.4};  // A2, F#2, D2, E2
  const double thirds[] = {1.26, 1.19, 1.26, 1.26};  // major, minor, major, major
  for (std::size_t k = 0; k < m.beats.size(); ++k) {
    const double root = roots[k / 4 % 4];
    if (k % 4 == 0)
      for (const double interval : {2.0, 2.0 * thirds[k / 4 % 4], 3.0})
        tone(m, m.beats[k], root * interval, 0.12, 4.0 * 60.0 / bpm);
    tone(m, m.at(k + 0.5), root / 2.0, 0.5, 0.35 * 60.0 / bpm);
  }
  return m;
}

// A pattern in 4/4 whose strongest accents, kicks, come every three eighths, so that
// it can be heard at two thirds of its tempo; a hat on every eighth, louder on the beat,
// and a bass note on every bar start.
inline Music threeOverTwo(double bpm, double firstBeat, double seconds) {
  Music m = silence(seconds, beatTimes(firstBeat, seconds, bpm));
  for (std::size_t e = 0; e < 2 * m.beats.size(); ++e) {
    const double at = m.at(e / 2.0);
    if (e % 3 == 0) kick(m, at, false);
    if (e % 8 == 0) tone(m, at, 55.0, 0.3, 0.6);
    noise(m, at, e % 2 == 0 ? 0.08 : 0.05);
  }
  return m;
}

// Kicks on sixteenths 3+3+3+3+2+2 of every 4/4 bar (the first a bar's, lower and louder)
// and a bass note on each bar start: within the bar the kicks repeat at 4/3 of the
// tempo, the bar only at its own.
inline Music threesInBars(double bpm, double firstBeat, double seconds) {
  Music m = silence(seconds, beatTimes(firstBeat, seconds, bpm));
  for (std::size_t s = 0; s < 4 * m.beats.size(); ++s) {
    const double at = m.at(s / 4.0);
    const std::size_t in = s % 16;
    if (in == 14 || (in % 3 == 0 && in < 14)) kick(m, at, in == 0);
    if (in == 0) tone(m, at, 55.0, 0.3, 0.6);
  }
  return m;
}

// Two slowly beating low tones and soft noise: no pulse at all.
inline Music drone(double seconds) {
  Music m = silence(seconds);
  std::uint32_t state = 7;
  for (std::int64_t i = 0; i < m.frames(); ++i) {
    const double t = static_cast<double>(i) / m.rate;
    state = state * 1664525u + 1013904223u;
    const double v = 0.3 * std::sin(2 * M_PI * 110.0 * t) + 0.2 * std::sin(2 * M_PI * 110.7 * t) +
                     0.02 * (static_cast<double>(state >> 8) / 8388608.0 - 1.0);
    m.stereo[2 * i] = m.stereo[2 * i + 1] = static_cast<float>(v);
  }
  return m;
}

// The music (its left side alone for one channel) encoded into `path` by FFmpeg's
// command-line tool with `args`; true where it succeeded.
inline bool encode(const Music& music, const std::string& path, const std::string& args, int channels = 2) {
  const std::string raw = path + ".f32";
  std::ofstream out(raw, std::ios::binary);
  for (std::int64_t i = 0; i < music.frames(); ++i)
    out.write(reinterpret_cast<const char*>(&music.stereo[2 * i]), channels * sizeof(float));
  out.close();
  const std::string command = "ffmpeg -nostdin -v error -y -f f32le -ar " + std::to_string(music.rate) + " -ac " +
                              std::to_string(channels) + " -i '" + raw + "' " + args + " '" + path + "'";
  const bool made = out && std::system(command.c_str()) == 0;
  std::remove(raw.c_str());
  return made;
}

}  // namespace synth

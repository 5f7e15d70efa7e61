// Test music made on the spot: kicks on a known beat grid, a stronger and lower kick
// on every bar start, soft hats between the beats, or a beatless drone.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace synth {

// Interleaved stereo floats at `rate` (the music made here is at 44,100 Hz).
struct Music {
  int rate = 44100;
  std::vector<float> stereo;
  std::int64_t frames() const { return static_cast<std::int64_t>(stereo.size() / 2); }
};

// Kicks from `firstBeat` seconds on, one every beat of `bpm`; beats 0, 4, 8, ... are
// bar starts, louder and lower; a short noise hat falls halfway between the beats.
inline Music kicks(double bpm, double firstBeat, double seconds) {
  Music m;
  const int rate = m.rate;
  const auto frames = static_cast<std::int64_t>(seconds * rate);
  m.stereo.assign(static_cast<std::size_t>(2 * frames), 0.0f);
  const double period = 60.0 / bpm;
  std::uint32_t noise = 165;
  auto add = [&](double at, bool bar, bool hat) {
    const auto start = static_cast<std::int64_t>(std::llround(at * rate));
    const std::int64_t length = rate * (hat ? 30 : 250) / 1000;
    double phase = 0.0;
    for (std::int64_t i = 0; i < length && start + i < frames; ++i) {
      if (start + i < 0) continue;
      const double t = static_cast<double>(i) / rate;
      double v;
      if (hat) {
        noise = noise * 1664525u + 1013904223u;
        v = 0.08 * (static_cast<double>(noise >> 8) / 8388608.0 - 1.0) * std::exp(-t / 0.008);
      } else {
        // A sine falling from 150 Hz (bar starts: 120 Hz) to 45 Hz, fading out.
        const double top = bar ? 120.0 : 150.0;
        phase += 2.0 * M_PI * (45.0 + (top - 45.0) * std::exp(-t / 0.03)) / rate;
        v = (bar ? 1.0 : 0.55) * std::sin(phase) * std::exp(-t / 0.09);
      }
      const float s = 0.5f * static_cast<float>(v);
      m.stereo[2 * (start + i)] += s;
      m.stereo[2 * (start + i) + 1] += s;
    }
  };
  for (int beat = 0;; ++beat) {
    const double at = firstBeat + beat * period;
    if (at >= seconds) break;
    add(at, beat % 4 == 0, false);
    add(at + period / 2, false, true);
  }
  return m;
}

// Two slowly beating low tones and soft noise: no pulse at all.
inline Music drone(double seconds) {
  Music m;
  const int rate = m.rate;
  const auto frames = static_cast<std::int64_t>(seconds * rate);
  m.stereo.resize(static_cast<std::size_t>(2 * frames));
  std::uint32_t noise = 7;
  for (std::int64_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    noise = noise * 1664525u + 1013904223u;
    const double v = 0.3 * std::sin(2 * M_PI * 110.0 * t) + 0.2 * std::sin(2 * M_PI * 110.7 * t) +
                     0.02 * (static_cast<double>(noise >> 8) / 8388608.0 - 1.0);
    m.stereo[2 * i] = m.stereo[2 * i + 1] = static_cast<float>(v);
  }
  return m;
}

}  // namespace synth

// Test music made on the spot: kicks on a known beat grid, a stronger and lower kick
// on every bar start, soft hats between the beats, or a beatless drone; written as a
// float WAV and turned into other formats by FFmpeg's command-line tool.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace synth {

// Interleaved stereo floats at `rate`.
struct Music {
  int rate = 44100;
  std::vector<float> stereo;
  std::int64_t frames() const { return static_cast<std::int64_t>(stereo.size() / 2); }
};

// Kicks from `firstBeat` seconds on, one every beat of `bpm`; beats 0, 4, 8, ... are
// bar starts, louder and lower; a short noise hat falls halfway between the beats.
// `level` scales the whole.
inline Music kicks(double bpm, double firstBeat, double seconds, int rate = 44100, float level = 0.5f) {
  Music m;
  m.rate = rate;
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
        // A sine falling from 150 Hz (bar starts: 120 Hz) to 45 Hz, fading out, with
        // a short click on top.
        const double top = bar ? 120.0 : 150.0;
        phase += 2.0 * M_PI * (45.0 + (top - 45.0) * std::exp(-t / 0.03)) / rate;
        noise = noise * 1664525u + 1013904223u;
        const double click = 0.3 * (static_cast<double>(noise >> 8) / 8388608.0 - 1.0) * std::exp(-t / 0.002);
        v = (bar ? 1.0 : 0.55) * std::sin(phase) * std::exp(-t / 0.09) + click;
      }
      const float s = static_cast<float>(v) * level;
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
inline Music drone(double seconds, int rate = 44100) {
  Music m;
  m.rate = rate;
  const auto frames = static_cast<std::int64_t>(seconds * rate);
  m.stereo.resize(static_cast<std::size_t>(2 * frames));
  std::uint32_t noise = 7;
  for (std::int64_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    noise = noise * 1664525u + 1013904223u;
    const double v = 0.3 * std::sin(2 * M_PI * 110.0 * t) + 0.2 * std::sin(2 * M_PI * 110.7 * t) +
                     0.02 * (static_cast<double>(noise >> 8) / 8388608.0 - 1.0);
    m.stereo[2 * i] = static_cast<float>(v * (0.8 + 0.2 * std::sin(0.3 * t)));
    m.stereo[2 * i + 1] = static_cast<float>(v * (0.8 + 0.2 * std::cos(0.23 * t)));
  }
  return m;
}

inline void put16(std::FILE* f, std::uint32_t v) {
  std::fputc(static_cast<int>(v & 0xff), f);
  std::fputc(static_cast<int>((v >> 8) & 0xff), f);
}

inline void put32(std::FILE* f, std::uint32_t v) {
  put16(f, v & 0xffff);
  put16(f, v >> 16);
}

// A float WAV of `channels` channels (1 takes the left side only).
inline bool writeWav(const std::filesystem::path& path, const Music& m, int channels = 2) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const auto dataBytes = static_cast<std::uint32_t>(m.frames() * channels * 4);
  std::fwrite("RIFF", 1, 4, f);
  put32(f, 36 + dataBytes);
  std::fwrite("WAVEfmt ", 1, 8, f);
  put32(f, 16);
  put16(f, 3);  // IEEE float
  put16(f, static_cast<std::uint32_t>(channels));
  put32(f, static_cast<std::uint32_t>(m.rate));
  put32(f, static_cast<std::uint32_t>(m.rate * channels * 4));
  put16(f, static_cast<std::uint32_t>(channels * 4));
  put16(f, 32);
  std::fwrite("data", 1, 4, f);
  put32(f, dataBytes);
  for (std::int64_t i = 0; i < m.frames(); ++i) std::fwrite(&m.stereo[2 * i], 4, static_cast<std::size_t>(channels), f);
  return std::fclose(f) == 0;
}

// Runs FFmpeg's command-line tool quietly: `ffmpeg -i in ARGS out`. True on success.
inline bool transcode(const std::filesystem::path& in, const std::string& args, const std::filesystem::path& out) {
  const std::string command =
      "ffmpeg -nostdin -v error -y -i '" + in.string() + "' " + args + " '" + out.string() + "'";
  return std::system(command.c_str()) == 0;
}

}  // namespace synth

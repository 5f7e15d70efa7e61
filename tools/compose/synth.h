// Building blocks of the soundtrack's synthesiser: a seeded noise source, band-limited
// oscillators, state-variable filters and the stereo delay and reverb. Used by render.cpp.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace compose {

constexpr int sampleRate = 44100;
constexpr double twoPi = 6.283185307179586;
constexpr float secondsPerFrame = 1.0f / sampleRate;

//----------------------------------------------------------------------------------------
// Randomness: every voice owns a generator seeded from its note, so that a note sounds the
// same whether the whole track or only a span around it is rendered.

// One step of splitmix64: spreads any seed over all 64 bits.
inline std::uint64_t mixBits(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// xorshift64* with a fixed seed: the same numbers on every run and every machine.
struct Noise {
  std::uint64_t state = 0x853C49E6748FEA9Bull;

  void seed(std::uint64_t value) { state = mixBits(value) | 1u; }
  std::uint32_t bits() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return static_cast<std::uint32_t>((state * 0x2545F4914F6CDD1Dull) >> 32);
  }
  float white() { return static_cast<float>(static_cast<std::int32_t>(bits())) * (1.0f / 2147483648.0f); }
  float unit() { return static_cast<float>(bits() >> 8) * (1.0f / 16777216.0f); }
};

inline double midiToHz(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }
inline double centsToRatio(double cents) { return std::pow(2.0, cents / 1200.0); }

// Equal-power pan: -1 hard left, +1 hard right.
struct PanGains {
  float left, right;
};
inline PanGains panGains(float pan) {
  const double angle = (pan + 1.0) * 0.25 * 3.141592653589793;
  return {static_cast<float>(std::cos(angle) * 1.41421356), static_cast<float>(std::sin(angle) * 1.41421356)};
}

//----------------------------------------------------------------------------------------
// Oscillators. The saw and the pulse subtract a polynomial band-limited step at every
// discontinuity, which keeps the aliasing below hearing for the pitches the score uses.

inline float polyBlep(float t, float dt) {
  if (t < dt) {
    t /= dt;
    return t + t - t * t - 1.0f;
  }
  if (t > 1.0f - dt) {
    t = (t - 1.0f) / dt;
    return t * t + t + t + 1.0f;
  }
  return 0.0f;
}

struct SawOscillator {
  float phase = 0.0f;
  float step = 0.0f;

  void setFrequency(double hz) { step = static_cast<float>(hz / sampleRate); }
  float next() {
    const float value = 2.0f * phase - 1.0f - polyBlep(phase, step);
    phase += step;
    if (phase >= 1.0f) phase -= 1.0f;
    return value;
  }
};

// Square wave (50 % duty): a rising step at phase 0, a falling one at 0.5.
struct SquareOscillator {
  float phase = 0.0f;
  float step = 0.0f;

  void setFrequency(double hz) { step = static_cast<float>(hz / sampleRate); }
  float next() {
    float value = phase < 0.5f ? 1.0f : -1.0f;
    value += polyBlep(phase, step);
    float shifted = phase + 0.5f;
    if (shifted >= 1.0f) shifted -= 1.0f;
    value -= polyBlep(shifted, step);
    phase += step;
    if (phase >= 1.0f) phase -= 1.0f;
    return value;
  }
};

//----------------------------------------------------------------------------------------
// Filters.

// Two-pole state-variable filter (trapezoidal integration): low, band and high outputs
// from one state, stable under fast cutoff changes.
struct StateVariableFilter {
  float a1 = 1.0f, a2 = 0.0f, a3 = 0.0f, k = 1.4142f;
  float ic1 = 0.0f, ic2 = 0.0f;
  float low = 0.0f, band = 0.0f, high = 0.0f;

  void tune(double hz, double q) {
    if (hz < 10.0) hz = 10.0;
    if (hz > 0.45 * sampleRate) hz = 0.45 * sampleRate;
    const double g = std::tan(3.141592653589793 * hz / sampleRate);
    k = static_cast<float>(1.0 / q);
    a1 = static_cast<float>(1.0 / (1.0 + g * (g + k)));
    a2 = static_cast<float>(g) * a1;
    a3 = static_cast<float>(g) * a2;
  }
  void run(float input) {
    const float v3 = input - ic2;
    const float v1 = a1 * ic1 + a2 * v3;
    const float v2 = ic2 + a2 * ic1 + a3 * v3;
    ic1 = 2.0f * v1 - ic1;
    ic2 = 2.0f * v2 - ic2;
    low = v2;
    band = v1;
    high = input - k * v1 - v2;
  }
};

struct OnePoleLowpass {
  float coefficient = 1.0f;
  float state = 0.0f;

  void tune(double hz) { coefficient = static_cast<float>(1.0 - std::exp(-twoPi * hz / sampleRate)); }
  float run(float input) {
    state += coefficient * (input - state);
    return state;
  }
};

struct OnePoleHighpass {
  OnePoleLowpass lowpass;

  void tune(double hz) { lowpass.tune(hz); }
  float run(float input) { return input - lowpass.run(input); }
};

//----------------------------------------------------------------------------------------
// Effects.

struct DelayLine {
  std::vector<float> buffer;
  int position = 0;

  void resize(int frames) {
    buffer.assign(static_cast<std::size_t>(frames), 0.0f);
    position = 0;
  }
  float read() const { return buffer[static_cast<std::size_t>(position)]; }  // the oldest value
  void write(float value) {
    buffer[static_cast<std::size_t>(position)] = value;
    if (++position == static_cast<int>(buffer.size())) position = 0;
  }
};

// Ping-pong echo: the left line feeds the right one and back, so each repeat jumps sides.
struct PingPongDelay {
  DelayLine left, right;
  OnePoleLowpass darkenLeft, darkenRight;
  OnePoleHighpass thinLeft, thinRight;
  float feedback = 0.4f;

  void prepare(int frames, float feedbackAmount, double toneHz) {
    left.resize(frames);
    right.resize(frames);
    feedback = feedbackAmount;
    darkenLeft.tune(toneHz);
    darkenRight.tune(toneHz);
    thinLeft.tune(250.0);
    thinRight.tune(250.0);
  }
  void run(float inLeft, float inRight, float& outLeft, float& outRight) {
    const float tapLeft = left.read();
    const float tapRight = right.read();
    left.write(0.5f * (inLeft + inRight) + feedback * thinRight.run(darkenRight.run(tapRight)));
    right.write(feedback * thinLeft.run(darkenLeft.run(tapLeft)));
    outLeft = tapLeft;
    outRight = tapRight;
  }
};

// A small feedback delay network: eight damped delay lines mixed by a Hadamard matrix,
// fed through two diffusing allpasses per side. Left and right read different line sums.
struct Reverb {
  static constexpr int lineCount = 8;
  DelayLine lines[lineCount];
  float gains[lineCount] = {};
  OnePoleLowpass damping[lineCount];
  DelayLine diffusers[4];
  float diffusion = 0.6f;

  void prepare(double decaySeconds, double dampingHz);
  void run(float inLeft, float inRight, float& outLeft, float& outRight);
};

}  // namespace compose

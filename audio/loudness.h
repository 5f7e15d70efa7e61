// Loudness of a hand-picked track (EBU R128 with libebur128) and the gain that brings it
// to the embedded track's loudness, so that the effects' fixed thresholds meet a quiet
// old master and a loud new one alike.
#pragma once

#include <cstddef>
#include <cstdint>

// The embedded track's integrated loudness as the show plays it (the PlaybackBuffer's
// floats, at the decoder's 16000 / 32768): measured once, checked by a test.
constexpr double embeddedLoudnessLufs = -16.23;
// No gain lifts a track's sample peak above this. (The sample peak, not the true peak:
// libebur128's four-times oversampling costs four times the whole measurement, and
// the decibel below full scale covers what lies between the samples.)
constexpr double peakCeilingDb = -1.0;

struct Loudness {
  double lufs = 0.0;    // integrated loudness; -inf for silence
  double peakDb = 0.0;  // sample peak, dBFS; -inf for silence
  double gainDb = 0.0;  // brings the track to the target, limited by the peak ceiling
  bool peakLimited = false;

  float gain() const;  // gainDb as a factor
};

// Interleaved stereo floats at 44,100 Hz.
Loudness measureLoudness(const float* stereo, std::int64_t frames, double targetLufs = embeddedLoudnessLufs);

// The same in pieces, for a caller that must not stop for long (the page).
struct LoudnessMeter {
  bool open();  // false where libebur128 cannot make its state
  // Measures the next `frames` interleaved stereo frames; false where that failed.
  bool add(const float* stereo, std::size_t frames);
  // The track's loudness and its gain, once every piece is in.
  Loudness finish(double targetLufs = embeddedLoudnessLufs);
  LoudnessMeter() = default;
  LoudnessMeter(const LoudnessMeter&) = delete;
  LoudnessMeter& operator=(const LoudnessMeter&) = delete;
  ~LoudnessMeter();

  struct State;  // libebur128's
  State* state = nullptr;
  bool fed = true;
};

// Multiplies every sample by `gain`.
void applyGain(float* stereo, std::int64_t frames, float gain);

// The loudness of sound as it comes: short-term (the last 3 s), measured every tenth of
// a second, and a gain that brings it to the embedded track's, at most +24 dB, moving
// there over about a second and held through silence (and while sound that has
// stopped leaves the measure), so that a quiet stream and a loud one move the effects
// alike.
struct RunningLoudness {
  static constexpr double largestGainDb = 24.0;
  static constexpr double silenceLufs = -60.0;  // under it, nothing to measure: the gain holds

  // False where libebur128 cannot make its state.
  bool open();
  // Measures `frames` interleaved stereo frames; the gain moves on by their duration.
  void add(const float* stereo, std::size_t frames);
  float gain() const;
  void close();
  RunningLoudness() = default;
  RunningLoudness(const RunningLoudness&) = delete;
  RunningLoudness& operator=(const RunningLoudness&) = delete;
  ~RunningLoudness() { close(); }

  double lufs = -1e9;     // the short-term loudness last measured
  double targetDb = 0.0;  // the gain it asks for
  double gainDb = 0.0;    // the gain now, on its way there
  std::size_t sinceMeasure = 0;
  struct Meter;  // libebur128's state
  Meter* meter = nullptr;
};

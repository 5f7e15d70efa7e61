// Loudness of a hand-picked track (EBU R128 with libebur128) and the gain that brings it
// to the embedded track's loudness, so that the effects' fixed thresholds meet a quiet
// old master and a loud new one alike.
#pragma once

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

// Multiplies every sample by `gain`.
void applyGain(float* stereo, std::int64_t frames, float gain);

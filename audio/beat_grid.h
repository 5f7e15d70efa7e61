// A hand-picked track's beat: aubio's beat tracker and onset detector run once over the
// whole track, a steady grid fitted by least squares to the onsets that keep to the
// tracker's tempo, the tempo brought into the range the show was designed for, and
// beat 0 put on a bar start.
#pragma once

#include <cstdint>
#include <string>

#include "audio/beat_map.h"
#include "audio/sample_rate.h"

enum class TempoSource { detected, given, fallback };

const char* tempoSourceName(TempoSource source);  // "detected", "given", "fallback"

constexpr double fallbackBpm = 165.0;  // the show's own tempo, for music without a clear pulse
constexpr double lowestBpm = 110.0;    // detected tempos are doubled or halved into this range
constexpr double highestBpm = 190.0;

// What the user gave; zero or negative where nothing was given.
struct BeatRequest {
  double bpm = 0.0;
  double firstBeatSeconds = -1.0;
};

struct BeatGrid {
  double bpm = fallbackBpm;
  TempoSource source = TempoSource::fallback;
  double firstBeatSeconds = 0.0;
  double firstBeatSamples = 0.0;  // at 44,100 Hz
  double beatSamples = sampleRate * 60.0 / fallbackBpm;
  std::int64_t beats = 0;  // beats that begin between the first beat and the end (the last may be cut short)
  // How the detection went.
  int trackedBeats = 0;      // beats the tracker reported
  double confidence = 0.0;   // the tracker's confidence in its tempo, averaged over the track
  double onGrid = 0.0;       // the share of the onsets within a 32nd of a beat of the grid (beats and half beats)
  double gridErrorMs = 0.0;  // their root-mean-square distance from it
  std::string note;          // why the tempo fell back, or what could not be found

  // Where its beats fall, and the second at which a beat begins.
  BeatMap map() const { return {firstBeatSamples, beatSamples}; }
  double secondsAt(double beat) const { return map().positionAt(beat) / sampleRate; }
};

// Interleaved stereo floats at 44,100 Hz.
BeatGrid findBeatGrid(const float* stereo, std::int64_t frames, const BeatRequest& request = {});

// A tempo doubled or halved into [lowestBpm, highestBpm]. The range is narrower than an
// octave: where no octave lands inside (95 to 110 bpm, and its octaves), the one
// nearer to the range by ratio is taken.
double foldTempo(double bpm);

// A hand-picked track's beat. Tempo candidates (aubio's tracker's tempo and its
// relatives, the strongest periods of the onset strength's autocorrelation) are each
// fitted as a steady grid and judged by the onset strength on its beats and their
// subdivisions against chance; the best is placed exactly by least squares on the
// onsets, brought into the range the show was designed for, and beat 0 put on a bar
// start, chosen from the harmony, the accents and the low end. Music whose tempo
// moves gets a map of steady stretches.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// The cues that choose the bar start: the beat (against the off-beat), the low end,
// the harmony's changes, the phrases' changes, the accents (kick on 1, snare on 2 and 4).
constexpr int barCueCount = 5;

struct BeatGrid {
  double bpm = fallbackBpm;
  TempoSource source = TempoSource::fallback;
  double firstBeatSeconds = 0.0;
  double firstBeatSamples = 0.0;  // at 44,100 Hz
  double beatSamples = sampleRate * 60.0 / fallbackBpm;
  std::int64_t beats = 0;  // beats that begin between the first beat and the end (the last may be cut short)
  std::vector<TempoStretch> stretches;  // where the tempo moves: the stretches after the first
  // How the detection went.
  double pulse = 0.0;        // onset strength on the grid's beats and subdivisions, times what chance gives
  double runnerUpBpm = 0.0;  // the best other tempo (0: none), and its pulse
  double runnerUpPulse = 0.0;
  bool barFound = false;                   // beat 0 placed on a bar start found in the music
  double barMargin = 0.0;                  // how far the chosen bar start leads the next best (0 to 1)
  double barCueSeconds[barCueCount] = {};  // the first beat each cue alone would choose
  double gridErrorMs = 0.0;                // the root-mean-square distance of the onsets near beats from them
  std::string note;                        // why the tempo fell back, or what could not be found

  // Where its beats fall, and the second at which a beat begins.
  BeatMap map() const { return {firstBeatSamples, beatSamples, stretches}; }
  double secondsAt(double beat) const { return map().positionAt(beat) / sampleRate; }
};

// Every stretch of steady tempo, the first (from beat 0) included.
std::vector<TempoStretch> tempoMap(const BeatGrid& grid);

// Interleaved stereo floats at 44,100 Hz.
BeatGrid findBeatGrid(const float* stereo, std::int64_t frames, const BeatRequest& request = {});

struct BeatFeatures;
// The same from what one pass over the track's `frames` heard (audio/beat_features.h).
BeatGrid beatGridFrom(const BeatFeatures& features, std::int64_t frames, const BeatRequest& request = {});

// That search in steps, none of them long, for a caller that must not stop for long
// (the page): a tempo candidate, a stretch of the local combs, the rest. `features`
// outlives the finder.
struct BeatGridFinder {
  BeatGridFinder(const BeatFeatures& features, std::int64_t frames, const BeatRequest& request = {});
  ~BeatGridFinder();
  BeatGridFinder(const BeatGridFinder&) = delete;
  BeatGridFinder& operator=(const BeatGridFinder&) = delete;

  // One step more; true once `grid` is found.
  bool step();
  BeatGrid grid;

  struct State;  // what passes from step to step
  State* state = nullptr;
};

// A tempo doubled or halved into [lowestBpm, highestBpm]. The range is narrower than an
// octave: where no octave lands inside (95 to 110 bpm, and its octaves), the one
// nearer to the range by ratio is taken.
double foldTempo(double bpm);

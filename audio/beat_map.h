// Where the music's beats fall in play positions: beat b (counted from the music's
// first beat, fractions included) begins at firstBeatSamples + b x beatSamples, or,
// in music whose tempo moves, on the stretch of steady tempo it falls in. Every
// reader of a music's beats goes through beatAt and positionAt.
#pragma once

#include <span>

// A stretch of steady tempo that begins on a whole beat; the beats run on without a
// jump from the stretch before it.
struct TempoStretch {
  double beat = 0.0;         // the music's beat where it begins
  double position = 0.0;     // that beat's play position
  double beatSamples = 0.0;  // one beat within it
};

struct BeatMap {
  double firstBeatSamples = 0.0;        // may lie before the music's first sample
  double beatSamples = 0.0;             // one beat, in play positions (frames at 44,100 Hz)
  std::span<const TempoStretch> later;  // the stretches after the first, in order; none for a steady tempo

  double beatAt(double position) const {
    for (auto s = later.rbegin(); s != later.rend(); ++s)
      if (position >= s->position) return s->beat + (position - s->position) / s->beatSamples;
    return (position - firstBeatSamples) / beatSamples;
  }
  double positionAt(double beat) const {
    for (auto s = later.rbegin(); s != later.rend(); ++s)
      if (beat >= s->beat) return s->position + (beat - s->beat) * s->beatSamples;
    return firstBeatSamples + beat * beatSamples;
  }
};

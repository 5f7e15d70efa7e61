// Where the music's beats fall in play positions: beat b (counted from the music's
// first beat, fractions included) begins at firstBeatSamples + b x beatSamples. Every
// reader of a music's beats goes through beatAt and positionAt, so that a tempo that
// changes needs a richer map here and nowhere else.
#pragma once

struct BeatMap {
  double firstBeatSamples = 0.0;  // may lie before the music's first sample
  double beatSamples = 0.0;       // one beat, in play positions (frames at 44,100 Hz)

  double beatAt(double position) const { return (position - firstBeatSamples) / beatSamples; }
  double positionAt(double beat) const { return firstBeatSamples + beat * beatSamples; }
};

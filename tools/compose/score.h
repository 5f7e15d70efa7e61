// The soundtrack's score: notes on the beat grid of 165 beats per minute and the mix
// automation, written in code by score.cpp and played by render.cpp.
#pragma once

#include <cstdint>
#include <vector>

namespace compose {

// The beat grid. Beat b starts at frame round(b x 44,100 x 60 / 165); every event is placed
// from its own beat position, so no rounding accumulates over the track.
constexpr int ticksPerBeat = 8;  // the finest step of the score: a 32nd note
std::int64_t frameOfTick(std::int64_t tick);
std::int64_t frameOfBeat(double beat);  // beat must lie on the tick grid

// The track ends, tail included, before the show's last second: at most this many frames.
constexpr std::int64_t trackFrameCount = 7851600;

enum class Instrument : std::uint8_t {
  kick,       // four on the floor
  boom,       // a low drop under the first beat of a section
  clap,       // beats 2 and 4
  snare,      // rolls and fills; pitch rises with `param`
  hat,        // `param` is the decay in seconds: closed or open
  crash,      // the cymbal on section starts
  riser,      // a noise sweep up into a section; length is the sweep
  bass,       // rolling or off-beat bass
  pad,        // detuned saw chords; `param` is the attack in seconds
  arp,        // the plucked 16th-note arpeggio
  lead,       // the melody; `param` is the attack in seconds
  count
};
constexpr int instrumentCount = static_cast<int>(Instrument::count);

struct Note {
  Instrument instrument;
  std::int64_t start;   // first frame
  std::int64_t length;  // frames until the key is released (the tail comes after)
  float pitch;          // MIDI note number
  float velocity;       // 0..1
  float pan;            // -1 left .. +1 right
  float param;          // per-instrument, see Instrument
};

// A value that changes over the track: straight lines between (beat, value) points, held
// before the first and after the last.
struct Curve {
  struct Point {
    double beat;
    float value;
  };
  std::vector<Point> points;

  void add(double beat, float value) { points.push_back({beat, value}); }
  // Jumps to value at beat (the old value holds up to just before it).
  void jump(double beat, float value);
  float at(double beat) const;
};

// Everything the mixer automates.
struct Automation {
  Curve padCutoff;       // Hz, the pad bus lowpass
  Curve arpCutoff;       // Hz, the arpeggio's base filter cutoff
  Curve synthHighpass;   // Hz, the highpass over bass, pads, arpeggio and lead (sweeps into drops)
  Curve duckDepth;       // 0..1, how far the kick pumps the pads and the bass
  Curve leadReverb;      // send from the lead to the reverb
  Curve masterLevel;     // the final fade
};

struct Score {
  std::vector<Note> notes;               // sorted by start
  std::vector<std::int64_t> kickStarts;  // sorted, for the pumping
  Automation automation;
};

// Writes the whole track.
Score buildScore();

}  // namespace compose

// The score of the show's soundtrack: a three-minute trance piece in A minor at 165 beats
// per minute, arranged along the show's scenes. Played by render.cpp.
//
//   beats    0-63   intro: pads from the first hit, hats building, kick from beat 32
//   beats   64-127  first groove: kick, rolling bass, hats, clap, arpeggio
//   beats  128-191  the lead melody enters
//   beats  192-287  the peak, strongest at 224-255
//   beats  288-351  breakdown: open pads and the slow melody, then a snare-roll build
//   beats  352-415  second peak
//   beats  416-419  one-bar break: a snare roll over the dominant
//   beats  420-485  final groove
//   beat   486      the last hit, its tail faded out by beat 489.5
#include "tools/compose/score.h"

#include <algorithm>
#include <cmath>

namespace compose {

//----------------------------------------------------------------------------------------
// The beat grid and the automation curves.

std::int64_t frameOfTick(std::int64_t tick) {
  // tick x 44,100 x 60 / (165 x 8) = tick x 22,050 / 11, rounded half up in integers.
  return (tick * 2 * 22050 + 11) / 22;
}

std::int64_t frameOfBeat(double beat) { return frameOfTick(std::llround(beat * ticksPerBeat)); }

void Curve::jump(double beat, float value) {
  if (!points.empty()) points.push_back({beat, points.back().value});
  points.push_back({beat, value});
}

float Curve::at(double beat) const {
  if (points.empty()) return 0.0f;
  if (beat <= points.front().beat) return points.front().value;
  if (beat >= points.back().beat) return points.back().value;
  // The last point at or before beat; a jump stores two points on one beat, take the later.
  const auto after = std::upper_bound(points.begin(), points.end(), beat,
                                      [](double b, const Point& p) { return b < p.beat; });
  const Point& p1 = *after;
  const Point& p0 = *(after - 1);
  const double span = p1.beat - p0.beat;
  if (span <= 0.0) return p1.value;
  return static_cast<float>(p0.value + (p1.value - p0.value) * ((beat - p0.beat) / span));
}

namespace {

//----------------------------------------------------------------------------------------
// Harmony. MIDI note numbers.

enum Pitch : int {
  E1 = 28, F1 = 29, G1 = 31, A1 = 33, C2 = 36,
  E5 = 76, F5 = 77, G5 = 79, Gs5 = 80, A5 = 81, B5 = 83,
  C5 = 72,
  C6 = 84, D6 = 86, E6 = 88, F6 = 89, G6 = 91,
};

struct Chord {
  int bassRoot;  // in the lowest octave the bass plays
  int pad[4];    // the pad voicing, moving as little as possible from chord to chord
  int arp[3];    // the triad the arpeggio climbs
};

constexpr Chord chordAm{A1, {57, 60, 64, 69}, {69, 72, 76}};
constexpr Chord chordF{F1, {57, 60, 65, 69}, {65, 69, 72}};
constexpr Chord chordC{C2, {55, 60, 64, 67}, {67, 72, 76}};
constexpr Chord chordG{G1, {55, 59, 62, 67}, {67, 71, 74}};
constexpr Chord chordE{E1, {56, 59, 64, 68}, {68, 71, 76}};
constexpr Chord chordEm{E1, {55, 59, 64, 67}, {67, 71, 76}};

constexpr double chordBeats = 8.0;  // two bars per chord; four chords make a 32-beat cycle

struct Progression {
  const Chord* chords[4];
};
// i - VI - III - VII, and the same turning to the dominant at the end of a section.
constexpr Progression homeCycle{{&chordAm, &chordF, &chordC, &chordG}};
constexpr Progression turnCycle{{&chordAm, &chordF, &chordC, &chordE}};
// Breakdown: VI - VII - v - i, then VI - VII - III - V into the second peak.
constexpr Progression floatCycle{{&chordF, &chordG, &chordEm, &chordAm}};
constexpr Progression liftCycle{{&chordF, &chordG, &chordC, &chordE}};

struct ChordSpan {
  double from;
  const Chord* chord;
};

// Which chord sounds on every beat of the track.
std::vector<ChordSpan> layChords() {
  struct Entry {
    double from;
    const Progression* cycle;
  };
  const Entry plan[] = {
      {0, &homeCycle},   {32, &homeCycle},  {64, &homeCycle},   {96, &turnCycle},  {128, &homeCycle},
      {160, &turnCycle}, {192, &homeCycle}, {224, &homeCycle},  {256, &turnCycle}, {288, &floatCycle},
      {320, &liftCycle}, {352, &homeCycle}, {384, &turnCycle},  {420, &homeCycle}, {452, &homeCycle},
  };
  std::vector<ChordSpan> spans;
  for (const Entry& entry : plan) {
    for (int i = 0; i < 4; ++i) spans.push_back({entry.from + i * chordBeats, entry.cycle->chords[i]});
  }
  // The break holds the dominant; the tail resolves home.
  spans.push_back({416, &chordE});
  spans.push_back({484, &chordAm});
  std::sort(spans.begin(), spans.end(), [](const ChordSpan& a, const ChordSpan& b) { return a.from < b.from; });
  return spans;
}

//----------------------------------------------------------------------------------------
// Melodies: 32-beat phrases in 16th notes (128 steps), one chord per 32 steps.

struct MelodyNote {
  int step;
  int length;
  int pitch;
};

// The theme: a 3-3-2 figure falling through the chord, answered by a held note.
const std::vector<MelodyNote> themeHome = {
    {0, 3, C6},   {3, 3, B5},   {6, 2, A5},   {8, 4, E5},    {12, 2, A5},  {14, 2, B5},   // Am
    {16, 3, C6},  {19, 3, B5},  {22, 2, A5},  {24, 6, G5},   {30, 2, E5},                 //
    {32, 3, A5},  {35, 3, G5},  {38, 2, F5},  {40, 4, C5},   {44, 2, F5},  {46, 2, G5},   // F
    {48, 3, A5},  {51, 3, G5},  {54, 2, F5},  {56, 8, E5},                                //
    {64, 3, G5},  {67, 3, E5},  {70, 2, C5},  {72, 3, G5},   {75, 3, E5},  {78, 2, C6},   // C
    {80, 3, B5},  {83, 3, C6},  {86, 2, D6},  {88, 6, E6},   {94, 2, D6},                 //
    {96, 3, D6},  {99, 3, B5},  {102, 2, G5}, {104, 3, D6},  {107, 3, B5}, {110, 2, G5},  // G
    {112, 3, B5}, {115, 3, A5}, {118, 2, G5}, {120, 4, B5},  {124, 4, D6},
};

// The same theme turning to the dominant in its last two bars.
std::vector<MelodyNote> themeTurn() {
  std::vector<MelodyNote> notes;
  for (const MelodyNote& n : themeHome) {
    if (n.step < 96) notes.push_back(n);
  }
  const MelodyNote ending[] = {{96, 3, B5},  {99, 3, Gs5}, {102, 2, E5}, {104, 3, B5},  {107, 3, Gs5},
                               {110, 2, E5}, {112, 3, Gs5}, {115, 3, A5}, {118, 2, B5}, {120, 4, D6},
                               {124, 4, E6}};
  notes.insert(notes.end(), std::begin(ending), std::end(ending));
  return notes;
}

// The answer: longer notes from the top, for the second half of a section.
const std::vector<MelodyNote> answerHome = {
    {0, 6, E6},   {6, 2, D6},   {8, 4, C6},    {12, 2, B5},  {14, 2, C6},                // Am
    {16, 10, A5}, {26, 2, E5},  {28, 2, A5},   {30, 2, B5},                              //
    {32, 6, C6},  {38, 2, A5},  {40, 4, C6},   {44, 2, D6},  {46, 2, C6},                // F
    {48, 8, A5},  {56, 4, F5},  {60, 4, A5},                                             //
    {64, 6, G5},  {70, 2, C6},  {72, 4, E6},   {76, 2, D6},  {78, 2, C6},                // C
    {80, 6, E6},  {86, 2, G6},  {88, 8, E6},                                             //
    {96, 6, D6},  {102, 2, B5}, {104, 4, D6},  {108, 2, G6}, {110, 2, D6},               // G
    {112, 8, B5}, {120, 4, D6}, {124, 4, B5},
};

std::vector<MelodyNote> answerTurn() {
  std::vector<MelodyNote> notes;
  for (const MelodyNote& n : answerHome) {
    if (n.step < 96) notes.push_back(n);
  }
  const MelodyNote ending[] = {{96, 6, B5},  {102, 2, Gs5}, {104, 4, B5}, {108, 2, E6},
                               {110, 2, D6}, {112, 8, B5},  {120, 4, Gs5}, {124, 4, B5}};
  notes.insert(notes.end(), std::begin(ending), std::end(ending));
  return notes;
}

// The breakdown's slow song over VI - VII - v - i and VI - VII - III - V (256 steps).
const std::vector<MelodyNote> breakdownSong = {
    {0, 24, A5},   {24, 8, C6},   {32, 16, B5},  {48, 8, D6},   {56, 8, B5},  {64, 24, G5},
    {88, 8, B5},   {96, 24, A5},  {120, 4, E5},  {124, 4, G5},  {128, 16, A5}, {144, 8, C6},
    {152, 8, F6},  {160, 16, D6}, {176, 8, B5},  {184, 8, G5},  {192, 16, C6}, {208, 8, E6},
    {216, 8, G6},  {224, 12, B5}, {236, 4, Gs5}, {240, 8, B5},  {248, 8, E6},
};

//----------------------------------------------------------------------------------------
// The writer: places notes by beat and keeps the kicks for the pumping.

struct Writer {
  Score& score;
  std::vector<ChordSpan> chords;

  const Chord& chordAt(double beat) const {
    const Chord* chord = chords.front().chord;
    for (const ChordSpan& span : chords) {
      if (span.from <= beat) chord = span.chord;
    }
    return *chord;
  }

  double nextChordChange(double beat) const {
    double next = 1e9;
    for (const ChordSpan& span : chords) {
      if (span.from > beat) next = std::min(next, span.from);
    }
    return next;
  }

  void note(Instrument instrument, double beat, double beats, float pitch, float velocity, float pan = 0.0f,
            float param = 0.0f) {
    const std::int64_t start = frameOfBeat(beat);
    const std::int64_t length = frameOfBeat(beat + beats) - start;
    score.notes.push_back({instrument, start, length, pitch, velocity, pan, param});
  }

  //--- drums

  void kick(double beat, float velocity = 1.0f) { note(Instrument::kick, beat, 0.9, 0, velocity); }
  void kicks(int from, int to, float velocity = 1.0f) {
    for (int b = from; b < to; ++b) kick(b, velocity);
  }
  // Beats 2 and 4 of every bar (bars start on multiples of four).
  void claps(int from, int to, float velocity = 1.0f) {
    for (int b = from; b < to; ++b) {
      if (b % 2 == 1) note(Instrument::clap, b, 0.5, 0, velocity, 0.08f);
    }
  }
  void snare(double beat, float velocity, float rise = 0.0f, float pan = 0.0f) {
    note(Instrument::snare, beat, 0.25, 0, velocity, pan, rise);
  }
  // Off-beat hats: the "and" of every beat.
  void offbeatHats(int from, int to, float velocity, float decay) {
    for (int b = from; b < to; ++b) note(Instrument::hat, b + 0.5, 0.25, 0, velocity, 0.25f, decay);
  }
  // Quiet closed hats on the second and fourth 16th of every beat.
  void ticks(int from, int to, float velocity) {
    for (int b = from; b < to; ++b) {
      note(Instrument::hat, b + 0.25, 0.125, 0, velocity, -0.4f, 0.018f);
      note(Instrument::hat, b + 0.75, 0.125, 0, velocity * 0.8f, -0.3f, 0.018f);
    }
  }
  void crash(double beat, float velocity = 1.0f) { note(Instrument::crash, beat, 8, 0, velocity); }
  void boom(double beat, float velocity = 1.0f) { note(Instrument::boom, beat, 4, 0, velocity); }
  void riser(double from, double to, float velocity) { note(Instrument::riser, from, to - from, 0, velocity); }
  // A roll of `division` hits per beat, growing louder and higher towards its end.
  void roll(double from, double to, int division, float velocityFrom, float velocityTo, float riseFrom,
            float riseTo) {
    const int hits = static_cast<int>(std::lround((to - from) * division));
    for (int i = 0; i < hits; ++i) {
      const float x = static_cast<float>(i) / static_cast<float>(hits);
      snare(from + static_cast<double>(i) / division, velocityFrom + (velocityTo - velocityFrom) * x,
            riseFrom + (riseTo - riseFrom) * x, (i % 2 ? 0.15f : -0.15f));
    }
  }
  // The groove's drums: kick, clap, off-beat hats and (if tickVelocity > 0) 16th ticks.
  // The last beat of every 16-beat phrase inside the groove ends with a short snare flam.
  void groove(int from, int to, float hatVelocity, float tickVelocity) {
    kicks(from, to);
    claps(from, to);
    offbeatHats(from, to, hatVelocity, 0.035f);
    if (tickVelocity > 0.0f) ticks(from, to, tickVelocity);
    for (int b = from + 15; b < to - 4; b += 16) {
      snare(b + 0.5, 0.35f, 0.1f, -0.2f);
      snare(b + 0.75, 0.5f, 0.2f, 0.2f);
    }
  }

  //--- bass

  // Three 16ths after every kick; every fourth beat jumps an octave on its last 16th.
  void rollingBass(int from, int to, float velocity) {
    for (int b = from; b < to; ++b) {
      const int root = chordAt(b).bassRoot;
      for (int s = 1; s <= 3; ++s) {
        const bool jump = (s == 3 && b % 4 == 3);
        note(Instrument::bass, b + 0.25 * s, 0.2, static_cast<float>(root + (jump ? 12 : 0)),
             velocity * (s == 1 ? 1.0f : 0.85f));
      }
    }
  }
  // One note on every "and", for the lighter parts.
  void offbeatBass(int from, int to, float velocity) {
    for (int b = from; b < to; ++b) {
      note(Instrument::bass, b + 0.5, 0.4, static_cast<float>(chordAt(b).bassRoot + (b % 2 ? 12 : 0)), velocity);
    }
  }

  //--- harmony

  void pads(double from, double to, float velocity, float attack) {
    for (double b = from; b < to;) {
      const Chord& chord = chordAt(b);
      const double end = std::min(to, nextChordChange(b));
      for (int tone : chord.pad) note(Instrument::pad, b, end - b, static_cast<float>(tone), velocity, 0, attack);
      b = end;
    }
  }
  // 16th notes climbing and turning through two octaves of the chord.
  void arpeggio(int from, int to, float velocity, int transpose = -12) {
    static constexpr int shape[16] = {0, 2, 3, 4, 1, 3, 5, 3, 0, 2, 3, 6, 1, 3, 5, 4};
    for (int b = from; b < to; ++b) {
      const Chord& chord = chordAt(b);
      const int tones[7] = {chord.arp[0],      chord.arp[1],      chord.arp[2],     chord.arp[0] + 12,
                            chord.arp[1] + 12, chord.arp[2] + 12, chord.arp[0] + 24};
      for (int s = 0; s < 4; ++s) {
        const int step = (b % 4) * 4 + s;
        const float accent = (s == 0) ? 1.0f : (s == 2 ? 0.85f : 0.7f);
        note(Instrument::arp, b + 0.25 * s, 0.2, static_cast<float>(tones[shape[step]] + transpose), velocity * accent,
             (step % 2) ? 0.45f : -0.45f, score.automation.arpCutoff.at(b + 0.25 * s));
      }
    }
  }
  void melody(double from, const std::vector<MelodyNote>& notes, int transpose, float velocity, float attack,
              int firstStep = 0, int lastStep = 1 << 20) {
    for (const MelodyNote& n : notes) {
      if (n.step < firstStep || n.step >= lastStep) continue;
      note(Instrument::lead, from + 0.25 * n.step, 0.25 * n.length - 0.03, static_cast<float>(n.pitch + transpose),
           velocity, 0, attack);
    }
  }
};

void writeAutomation(Automation& a) {
  // The pad bus: closed at the start, opening through the intro, widest in the peaks.
  a.padCutoff.add(0, 350);
  a.padCutoff.add(62, 2400);
  a.padCutoff.jump(64, 3800);
  a.padCutoff.add(188, 3800);
  a.padCutoff.add(192, 5000);
  a.padCutoff.add(224, 6000);
  a.padCutoff.add(256, 5000);
  a.padCutoff.jump(288, 1200);
  a.padCutoff.add(320, 4200);
  a.padCutoff.add(351, 5000);
  a.padCutoff.jump(352, 5000);
  a.padCutoff.add(486, 5000);
  a.padCutoff.add(489, 800);

  a.arpCutoff.add(16, 400);
  a.arpCutoff.add(63, 2200);
  a.arpCutoff.jump(64, 2400);
  a.arpCutoff.add(128, 2000);
  a.arpCutoff.add(192, 2800);
  a.arpCutoff.add(255, 3200);
  a.arpCutoff.jump(256, 2600);
  a.arpCutoff.jump(320, 350);
  a.arpCutoff.add(351, 2400);
  a.arpCutoff.jump(352, 2800);
  a.arpCutoff.add(415, 2800);
  a.arpCutoff.jump(420, 2600);
  a.arpCutoff.add(470, 2600);
  a.arpCutoff.add(486, 1200);

  // Highpass sweeps thin the synths out over the last beats before a drop.
  a.synthHighpass.add(0, 20);
  const double sweeps[][3] = {{60, 64, 700}, {124, 128, 300}, {188, 192, 500}, {344, 352, 1000}, {412, 420, 1200}};
  for (const auto& sweep : sweeps) {
    a.synthHighpass.add(sweep[0], 20);
    a.synthHighpass.add(sweep[1] - 0.25, static_cast<float>(sweep[2]));
    a.synthHighpass.jump(sweep[1], 20);
  }

  a.duckDepth.add(0, 0.0f);
  a.duckDepth.jump(32, 0.45f);
  a.duckDepth.jump(64, 0.6f);
  a.duckDepth.jump(288, 0.0f);
  a.duckDepth.jump(344, 0.3f);
  a.duckDepth.jump(352, 0.6f);
  a.duckDepth.jump(416, 0.0f);
  a.duckDepth.jump(420, 0.6f);

  a.leadReverb.add(0, 0.22f);
  a.leadReverb.jump(288, 0.5f);
  a.leadReverb.jump(352, 0.22f);
  a.leadReverb.jump(486, 0.4f);

  a.masterLevel.add(0, 1.0f);
  a.masterLevel.add(487.0, 1.0f);
  a.masterLevel.add(489.3, 0.0f);
}

}  // namespace

Score buildScore() {
  Score score;
  writeAutomation(score.automation);  // first: the arpeggio's notes carry its filter
  Writer w{score, layChords()};

  //--- 0-63: intro. The first hit on frame 0, then pads alone; hats and kick come in.
  w.kick(0);
  w.crash(0, 0.8f);
  w.boom(0, 0.8f);
  w.pads(0, 64, 0.55f, 0.6f);
  w.kick(16, 0.9f);
  w.crash(16, 0.5f);
  for (int b = 16; b < 32; ++b) w.note(Instrument::hat, b + 0.5, 0.25, 0, 0.35f + 0.02f * (b - 16), 0.25f, 0.03f);
  w.arpeggio(16, 64, 0.45f);
  w.kicks(32, 64, 0.95f);
  w.crash(32, 0.7f);
  w.offbeatHats(32, 64, 0.8f, 0.05f);
  w.offbeatBass(32, 60, 0.6f);
  w.ticks(48, 60, 0.25f);
  w.claps(48, 56, 0.7f);
  w.roll(56, 60, 2, 0.35f, 0.55f, 0.0f, 0.2f);
  w.roll(60, 62, 4, 0.55f, 0.75f, 0.2f, 0.4f);
  w.roll(62, 64, 8, 0.7f, 0.95f, 0.4f, 0.7f);
  w.riser(52, 64, 0.7f);

  //--- 64-127: first groove.
  w.crash(64);
  w.boom(64);
  w.groove(64, 128, 0.9f, 0.0f);
  w.ticks(80, 124, 0.3f);
  w.crash(96, 0.7f);
  w.rollingBass(64, 128, 0.9f);
  w.pads(64, 128, 0.45f, 0.03f);
  w.arpeggio(64, 128, 0.65f);
  w.roll(126, 128, 4, 0.5f, 0.8f, 0.0f, 0.3f);
  w.riser(120, 128, 0.5f);

  //--- 128-191: the lead enters.
  w.crash(128);
  w.boom(128, 0.8f);
  w.groove(128, 192, 0.9f, 0.3f);
  w.crash(160, 0.7f);
  w.rollingBass(128, 192, 0.9f);
  w.pads(128, 192, 0.4f, 0.03f);
  w.arpeggio(128, 192, 0.5f);
  w.melody(128, themeHome, 0, 0.8f, 0.005f);
  w.melody(160, themeTurn(), 0, 0.8f, 0.005f);
  w.roll(188, 192, 4, 0.4f, 0.9f, 0.0f, 0.5f);
  w.riser(184, 192, 0.7f);

  //--- 192-287: the peak; 224-255 the strongest, with the theme doubled below and snares.
  w.crash(192);
  w.boom(192);
  w.groove(192, 288, 1.0f, 0.35f);
  w.crash(224);
  w.boom(224, 0.7f);
  for (int b = 225; b < 256; b += 2) w.snare(b, 0.45f);
  w.arpeggio(224, 256, 0.3f, 0);  // the arpeggio an octave higher as well
  w.crash(256, 0.8f);
  w.rollingBass(192, 288, 1.0f);
  w.pads(192, 288, 0.5f, 0.03f);
  w.arpeggio(192, 288, 0.6f);
  w.melody(192, answerHome, 0, 0.8f, 0.005f);
  w.melody(224, themeHome, 0, 0.85f, 0.005f);
  w.melody(224, themeHome, -12, 0.5f, 0.005f);
  w.melody(256, answerTurn(), 0, 0.8f, 0.005f);
  w.roll(284, 288, 4, 0.35f, 0.8f, 0.0f, 0.3f);

  //--- 288-351: breakdown, then the build.
  w.crash(288, 0.9f);
  w.boom(288);
  w.pads(288, 352, 0.6f, 0.5f);
  w.melody(288, breakdownSong, 0, 0.7f, 0.06f);
  w.arpeggio(320, 352, 0.45f);
  w.roll(336, 344, 2, 0.25f, 0.5f, 0.0f, 0.3f);
  w.roll(344, 348, 4, 0.5f, 0.7f, 0.3f, 0.6f);
  w.roll(348, 351.5, 8, 0.7f, 1.0f, 0.6f, 1.0f);
  w.kicks(344, 351, 0.6f);
  w.riser(336, 351.5, 0.9f);

  //--- 352-415: second peak.
  w.crash(352);
  w.boom(352);
  w.groove(352, 416, 1.0f, 0.35f);
  w.crash(384, 0.8f);
  w.rollingBass(352, 416, 1.0f);
  w.pads(352, 416, 0.5f, 0.03f);
  w.arpeggio(352, 416, 0.6f);
  w.melody(352, themeHome, 0, 0.85f, 0.005f);
  w.melody(352, themeHome, -12, 0.45f, 0.005f);
  w.melody(384, answerTurn(), 0, 0.85f, 0.005f);
  w.riser(408, 420, 0.8f);

  //--- 416-419: the break: the dominant held under a snare roll.
  w.pads(416, 420, 0.55f, 0.05f);
  w.roll(416, 418, 4, 0.5f, 0.75f, 0.2f, 0.5f);
  w.roll(418, 420, 8, 0.75f, 1.0f, 0.5f, 0.9f);

  //--- 420-485: final groove, the answer then the theme, home on beat 484.
  w.crash(420);
  w.boom(420);
  w.groove(420, 486, 1.0f, 0.3f);
  w.crash(452, 0.8f);
  w.rollingBass(420, 484, 0.95f);
  w.offbeatBass(484, 486, 0.9f);
  w.pads(420, 486, 0.5f, 0.03f);
  w.arpeggio(420, 484, 0.55f);
  w.melody(420, answerHome, 0, 0.8f, 0.005f);
  w.melody(452, themeHome, 0, 0.85f, 0.005f);
  w.note(Instrument::lead, 484, 1.9, A5, 0.8f, 0, 0.005f);

  //--- 486: the last hit and its tail.
  w.kick(486);
  w.boom(486);
  w.crash(486);
  w.pads(486, 488, 0.6f, 0.01f);
  w.note(Instrument::lead, 486, 1.0, A5, 0.8f, 0, 0.005f);
  w.note(Instrument::lead, 486, 1.0, A5 - 12, 0.5f, 0, 0.005f);

  std::stable_sort(score.notes.begin(), score.notes.end(),
                   [](const Note& a, const Note& b) { return a.start < b.start; });
  for (const Note& n : score.notes) {
    if (n.instrument == Instrument::kick) score.kickStarts.push_back(n.start);
  }
  return score;
}

}  // namespace compose

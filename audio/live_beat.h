// The beat of sound that arrives as it plays (the show listening live). Each hop gives
// an onset strength (the rise of the log spectrum, from aubio's phase vocoder) kept for
// the last seconds of the piece (sound after a pause starts one); every few hops the
// tempo is where that strength and the low end's repeat best (their autocorrelations at
// one to four beats, each on the scale of its own spread, sought over an octave or so,
// a related tempo taken instead where its bar repeats far better, and folded into the
// show's range as for a track), and the beat's phase where it gathers
// when folded onto that period (on the beat or half a beat on, whichever holds more of
// the low end: kicks fall on beats, hats between them). A clock follows those measures:
// continuous, never backwards, pulling its phase onto the beats over the next two
// beats and its tempo towards the measured one; a new tempo held for half a second (a
// second and a half once the whole analysis placed the beat) is taken at once, the
// phase then gliding onto it. The bar:
// beat 0 of each bar is where the low end's onsets have been strongest over the last
// bars. Every 4 s the track's own analysis runs on what was heard since the music
// began or changed its tempo (from 16 s up to the last two minutes; what it hears is
// kept as it is heard, so that each run is the search alone, a few hundredths of a
// second on the feeding thread): it places the beat's phase and the
// bar, which the quick measures then only refine. Every time is a count of frames of
// the sound fed.
#pragma once

#include <cstdint>

struct LiveBeatAubio;
struct BeatFeatureStream;

// Where the beats fall: from `frame` on, beat `beat` there, counting `glideRate` beats a
// frame up to `glideEnd` (the phase making up its error), then one beat every `period`
// frames. A plain value, to be copied to the frame loop's thread.
struct LiveBeatStretch {
  double frame = 0.0;
  double beat = 0.0;
  double glideRate = 0.0;
  double glideEnd = 0.0;
  double period = 0.0;
  double at(double f) const {
    if (period <= 0.0) return beat;
    return f <= glideEnd ? beat + (f - frame) * glideRate : heading(f);
  }
  // The line it runs on once its glide is done, at any frame.
  double heading(double f) const {
    if (period <= 0.0) return beat;
    return beat + (glideEnd - frame) * glideRate + (f - glideEnd) / period;
  }
};
struct LiveBeatClock {
  LiveBeatStretch before;  // up to now.frame, for the frames still to be heard
  LiveBeatStretch now;
  double beatAt(double frame) const { return frame < now.frame ? before.at(frame) : now.at(frame); }
};

struct LiveBeat {
  static constexpr int hop = 512;                 // frames fed at a time
  static constexpr int barBeats = 4;              // beats in a bar
  static constexpr int historyHops = 512;         // the onset strength kept: about 6 s
  static constexpr int measureEvery = 8;          // hops between measures: about 93 ms
  static constexpr int wholeHops = 1378;          // the whole analysis once 16 s are heard,
  static constexpr int longestWholeHops = 10336;  // on at most the last 120 s,
  static constexpr int wholeEvery = 345;          // every 4 s
  static constexpr int longestLag = 4 * 56 + 2;   // hops in four beats at the slowest tempo sought (94 bpm), and room

  // False where aubio cannot make its objects.
  bool open();
  void close();
  LiveBeat() = default;
  LiveBeat(const LiveBeat&) = delete;
  LiveBeat& operator=(const LiveBeat&) = delete;
  ~LiveBeat() { close(); }

  // One hop of mono samples whose first is frame `first` of the sound; a `first`
  // beyond the end of the last hop is a gap (a buffer lost), which the clock runs on
  // across.
  void feed(const float* mono, std::uint64_t first);

  // The clock's beat at `frame`, fractions included (0 before the first measure); a
  // bar starts where beatAt() - barStart() is a multiple of barBeats.
  double beatAt(std::uint64_t frame) const { return clock.beatAt(static_cast<double>(frame)); }
  int barStart() const { return barOffset; }
  // The tempo it keeps (0 before the first measure), whether it follows a beat now,
  // and the frames of sound fed before the latest lock.
  double bpm() const;
  bool locked() const { return isLocked; }
  std::uint64_t lockedAt() const { return lockFrame; }

  LiveBeatClock clock;
  double period = 0.0;  // frames a beat: the tempo the phase settles on
  bool isLocked = false;
  std::uint64_t lockFrame = 0;
  std::uint64_t fedEnd = 0;    // the frame after the last one fed
  std::uint64_t heardEnd = 0;  // the frame after the last hop that was not silent
  std::int64_t hops = 0;       // hops fed
  std::int64_t pieceHop = 0;   // the hop where the piece's sound began: the quick measures hear from there
  bool pieceMeasured = false;  // whether a quick measure has heard this piece yet
  int agreeing = 0;            // measures in a row on the clock's beats
  int otherTempo = 0;          // and in a row at another tempo
  // The onset strength of the last hops (a ring; hop n at n % historyHops) and the
  // frame each hop ended at; the spectrum's last log magnitudes.
  float* strength = nullptr;
  float* lowStrength = nullptr;  // the low end's alone
  double* hopEnd = nullptr;
  float* lastLog = nullptr;
  float* lags = nullptr;               // the autocorrelation, lag 0 .. longestLag
  float* lowLags = nullptr;            // and the low end's
  BeatFeatureStream* heard = nullptr;  // what the whole analysis hears, since the music began or changed
  bool placed = false;                 // the whole analysis has placed the beat since the last new tempo
  bool lockedInPiece = false;          // the quick measures locked at this tempo since the piece began
  int corrections = 0;                 // times the whole analysis corrected the tempo of a lock (the same music)
  double lastWholeFrame = -1.0;        // the last whole analysis' newest beat (a frame fed)
  double placedFrame = 0.0;            // a beat where the whole analysis last placed them
  int wholeStreak = 0;                 // whole analyses in a row that agreed with the one before
  double lastWholePeriod = 0.0;        // and the period it found
  int otherWholes = 0;                 // whole analyses in a row at another tempo than the clock's
  bool barFromWhole = false;           // and the bar
  int barCandidate = -1;
  // The low end's onsets by place in the bar, fading over the last bars.
  float barWeight[barBeats] = {};
  int barOffset = 0;
  float lowState = 0.0f;  // the low band's filter
  float lowLevel = 0.0f;  // and its log energy over the last hop
  LiveBeatAubio* aubio = nullptr;

  // A pause between pieces: what the whole analysis heard goes, and the next piece's
  // beat is placed anew (its tempo may well be a relative of this one's); the bar
  // stands until the next piece's own analysis moves it (the low end in the pause
  // would say nothing).
  void newPiece();
  // Tempo and phase from the onset strength of the last seconds, and what they do to
  // the clock.
  void measure();
  // The clock pulled towards a beat measured at `beatFrame` with `measuredPeriod`
  // frames a beat (`per` measured beats to the clock's); `whole`: by the whole analysis;
  // `doubtful`: a relative of the tempo measured almost as well.
  void steer(double beatFrame, double measuredPeriod, double per, bool whole, bool doubtful = false);
  // The track's own analysis (audio/beat_grid.h) on what was heard: the beat's phase,
  // the tempo and the bar as a track would have them.
  void analyseWhole();
  // The low end's onset over the hop ending at `end`, counted at its place in the bar.
  void countBar(float rise, double end);
};

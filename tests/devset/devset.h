// The beat analysis' development set: real songs rendered from MIDI files, whose beats
// and bars the files tell exactly, and music made here with the hard cases; each loaded
// as the show would get it, and the measures of how far findBeatGrid's grid lies from
// the truth. bench/beat_devset prints them all; tests/devset_test.cpp holds them to the
// targets.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "audio/beat_grid.h"
#include "tests/track_synth.h"

namespace devset {

// What a Standard MIDI File says about time.
struct Midi {
  struct Tempo {
    std::int64_t tick;
    double quarterSeconds;
  };
  struct Meter {
    std::int64_t tick;
    int numerator, denominator;
  };
  int format = 0;
  int ppq = 0;                      // ticks a quarter note
  std::vector<Tempo> tempos;        // by tick; 120 bpm from tick 0 until the file says otherwise
  std::vector<Meter> meters;        // by tick; 4/4 from tick 0 until the file says otherwise
  std::vector<std::int64_t> notes;  // the ticks of the note-ons, in order
  std::int64_t endTick = 0;         // the last event's
  double seconds(std::int64_t tick) const;
};

// Reads format 0 and 1 files (running status, meta and system exclusive events, chunks
// of other kinds skipped); false, with the reason, for anything else.
bool readMidi(const std::vector<std::uint8_t>& bytes, Midi& midi, std::string& error);

// How the beat is to be judged in a song: only steady songs in x/4 (2/4, 4/4, 2/2) are
// held to the targets; the others are reported.
enum class Kind { steady, moving, otherMeter, noPulse };
const char* kindName(Kind kind);

struct Truth {
  Kind kind = Kind::noPulse;
  std::string meter;          // each meter in the song, in order: "4/4", "3/4 6/8"
  double bpm = 0.0;           // the tempo of the first note
  std::vector<double> beats;  // every quarter note (every notated beat) from the start, in seconds
  std::vector<double> bars;   // the bar starts
  double firstNote = 0.0;
  std::int64_t playedLateTicks = 0;  // the notes' median offset from the notated beats
  // The share of the notes (to the nearest sixteenth) that another note follows three
  // beats on, and four: music in x/4 repeats in its bars.
  double repeatsAfterThree = 0.0, repeatsAfterFour = 0.0;
  double seconds = 0.0;  // the song's length
};
Truth truthOf(const Midi& midi);
Truth truthOf(const synth::Music& music);

struct Song {
  std::string name;
  std::string midiPath;                // a rendered song's MIDI file
  std::function<synth::Music()> make;  // or the music made here
  Truth truth;
  std::string excluded;  // why a steady song in x/4 is not held to the targets; empty where it is
  bool judged() const { return truth.kind == Kind::steady && excluded.empty(); }
};

// The songs of both Debian packages that are installed (see scripts/deps.txt), then the
// music made here.
std::vector<Song> songs();

// The song's sound, interleaved stereo floats at 44,100 Hz: music made here as it is
// made or through its MP3, a MIDI song from its render (all the missing renders are made
// first). False, with the reason, where it could not be had.
bool load(const Song& song, bool mp3, synth::Music& sound, std::string& error);

// The analysis, and its processor time.
struct Found {
  BeatGrid grid;
  double cpuSeconds = 0.0;
};
Found find(const synth::Music& sound, const BeatRequest& request = {});

// The measures. Both tempos are folded into the show's range; the true beats too, where
// the fold doubles the tempo (halving it, either half of the beats is as good).
double tempoError(const Truth& truth, const BeatGrid& grid);  // bpm, found less true
double beatErrorMs(const Truth& truth, double seconds);       // from the nearest folded true beat
double firstBeatErrorMs(const Truth& truth, const BeatGrid& grid);
bool onBarStart(const Truth& truth, const BeatGrid& grid);  // the first beat within beatToleranceMs of a bar's start
double worstBeatErrorMs(const Truth& truth, const BeatGrid& grid);  // over every beat of the grid
// With the true tempo given, grid.secondsAt(0) from the nearest unfolded true beat.
double givenFirstBeatErrorMs(const Truth& truth, const BeatGrid& grid);

// The targets: steady songs in x/4 keep their tempo, their first beat on a beat and
// nine in ten on a bar's start, an MP3 of each finds what its WAV finds, and a given
// tempo puts the first beat on a beat; a moving tempo is followed at every beat.
constexpr double tempoToleranceBpm = 0.5;
constexpr double beatToleranceMs = 25.0;
constexpr double barShare = 0.9;
constexpr double mp3TempoToleranceBpm = 0.05;
constexpr double mp3BeatToleranceMs = 10.0;
constexpr double followToleranceMs = 30.0;

}  // namespace devset

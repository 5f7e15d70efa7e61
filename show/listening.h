// The show listening: what the listener (app/listen.h) hears, as the frame loop reads
// it. The listener captures on a thread of its own, writes the sound into a ring at
// the start of the PlaybackBuffer, follows its beat and its loudness, and publishes a
// report after each piece; the frame loop takes the latest report, draws the sample
// heard, and shows the music's beats on an endless schedule: the opening once, then
// the middle round and round, and after a long silence the fade.
#pragma once

#include <cstdint>
#include <mutex>

#include "audio/live_beat.h"
#include "audio/loudness.h"

// The ring: play positions are frames captured modulo its length. About 24 s, more
// than any effect looks back; the effects' window after a position is mirrored after
// its end, as the guard follows a track.
constexpr std::uint32_t listenRingFrames = 1u << 20;
// The effects read this many frames from the play position on: a frame is drawn only
// where they have been captured.
constexpr std::uint32_t listenWindowFrames = 512;
// Silence (short-term loudness under this) for this long fades the show out.
constexpr double silenceLufs = -60.0;
constexpr double fadeAfterSilenceSeconds = 30.0;

// What the listener has heard so far. Every frame count starts when listening begins.
struct ListenReport {
  std::uint64_t captured = 0;    // frames written into the ring
  std::uint64_t capturedNs = 0;  // when the newest of them came (monotonic nanoseconds)
  // How far the sound heard at capturedNs lies beyond the newest frame captured: the
  // capture's latency as the sound server reports it. Negative for an output's
  // monitor, which gets each sample before the output plays it.
  std::int32_t heardLead = 0;
  LiveBeatClock beats;  // the music's beat at a frame
  int barStart = 0;     // bars start where beat - barStart is a multiple of 4
  double bpm = 0.0;     // 0 before the first measure
  bool locked = false;
  int agreeing = 0;              // measures in a row on the clock's beats
  bool music = false;            // the short-term loudness is above silenceLufs
  std::uint64_t quietSince = 0;  // where the silence began, while there is no music
  double gainDb = 0.0;           // what the loudness asked of the sound written
  bool lost = false;             // the source went away; tried again every 2 s
};

// Handed from the listener's thread to the frame loop's.
struct ListenFeed {
  const char* source = "";  // the source's description, set before the thread starts
  void publish(const ListenReport& report);
  ListenReport take();

 private:
  std::mutex lock;
  ListenReport latest;
};

// What is heard, piece by piece, wherever it comes from (the sound server's capture on
// the desktop, the microphone on the page): written into the ring at the start of the
// PlaybackBuffer at its running loudness, its beat followed hop by hop, and a line on
// stderr each time the beat locks or is lost.
struct ListenHearing {
  LiveBeat beat;
  RunningLoudness loudness;
  ListenReport report;
  float mono[LiveBeat::hop] = {};
  int monoCount = 0;
  std::uint64_t musicFrom = 0;  // where the music began that a lock is counted from
  bool newTempo = false;        // or where another tempo was taken in it
  int toldCorrections = 0;      // the beat's corrections of its tempo told so far

  // False where the beat's or the loudness' analysis cannot start.
  bool open() { return beat.open() && loudness.open(); }
  // `frames` interleaved stereo frames more: into the ring (its first frames again after
  // the ring's end, where the effects' window reads them), into the loudness and the beat.
  void take(const float* piece, std::uint32_t frames);
  // What changed since `before`, as one line: a lock, the beat lost in silence, another
  // tempo, the tempo corrected (the same music heard longer).
  void tell(const ListenReport& before);
  // The report to publish: captured at `nowNs`, the sound heard then `heardLead` frames
  // beyond the newest captured.
  const ListenReport& publish(std::uint64_t nowNs, std::int32_t heardLead);
  // Sound missing for `frames` (a source lost and found again): counted as a gap that the
  // beat runs across.
  void skip(std::uint64_t frames);
};

// The frame heard at `nowNs`: the newest captured, its lead, and the time since it
// came (at most a quarter of a second: a source that stops holds the picture).
std::uint64_t listenHeardFrame(const ListenReport& report, std::uint64_t nowNs);

// The frame to draw for the frame heard: carried `ahead` frames (the picture's delay
// less the viewer's offset), but never where the effects' window is not captured yet.
std::uint64_t listenAimedFrame(std::uint64_t heard, std::int64_t ahead, std::uint64_t captured);

// The play position of a frame heard, and back (`newest`: the newest frame captured,
// which no position drawn lies beyond).
inline std::uint32_t listenPosition(std::uint64_t frame) {
  return static_cast<std::uint32_t>(frame % listenRingFrames);
}
inline std::uint64_t listenFrame(std::uint32_t position, std::uint64_t newest) {
  const std::uint64_t behind = (listenPosition(newest) + listenRingFrames - position) % listenRingFrames;
  return newest >= behind ? newest - behind : 0;
}

// The show's beat for the music's: waiting for music, the opening held on beat 0;
// then the opening from a bar start, the middle scenes round and round (show beats 64
// to 415, so that no count grows); after fadeAfterSilenceSeconds of silence the fade
// (486 to 492.25, held), and the opening again when music returns.
struct EndlessSchedule {
  enum class State { waiting, playing, ending };
  State state = State::waiting;
  double origin = 0.0;  // the music beat shown as show beat 0 (playing) or 486 (ending)

  // Follows what was heard, with `beat` the music's beat at `frame`. True where the
  // show's beat jumped (a new opening, the bars found anew): the beat marker starts
  // from the new scene.
  bool follow(const ListenReport& report, double beat, std::uint64_t frame);
  double showBeat(double musicBeat) const;
  // The viewer's keys: the show `beats` further on (back where negative), the opening
  // no further back than its start. False while no music plays.
  bool move(double musicBeat, double beats);
};

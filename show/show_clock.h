// The show's clock: the beat and phase that a play position shows, where the music
// ends, and where each stretch of one scene begins. The embedded track keeps its own
// clock (beatClockAt, 165 beats per minute from the first sample); a hand-picked track
// counts its own beats on the grid found in it, and the schedule fitted to it maps
// them onto the show's beats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/beat_map.h"
#include "audio/playback.h"
#include "show/listening.h"
#include "show/track_schedule.h"

struct ShowClock {
  bool fitted = false;                        // false: the embedded track's clock
  BeatMap beats;                              // where the music's beats fall (fitted only)
  std::uint32_t frames = playbackFrameCount;  // where the music ends
  TrackSchedule schedule;                     // the music's beats onto the show's; the identity for the embedded track
  std::vector<SceneSpan> spans;               // every stretch of one scene, in the music's beats
  // Listening: positions in the ring, the music's beats as last heard, and the endless
  // schedule; the frame loop brings them up to date each frame.
  bool listening = false;
  std::uint64_t newestFrame = 0;  // the newest frame captured (no position drawn lies beyond it)
  LiveBeatClock liveBeats;
  EndlessSchedule endless;
  // How far the sound heard lies beyond the position drawn, where the effects' window
  // after it is not captured yet: the beats, foreseen, are shown where they are heard.
  double beatLead = 0.0;
  // The music's beat at a play position, fractions included (listening only).
  double liveBeat(std::uint32_t position) const {
    return liveBeats.beatAt(static_cast<double>(listenFrame(position, newestFrame)) + beatLead);
  }

  // The show's beat clock at a play position. Fitted, the show's beat may lie below 0
  // (before the music's first beat, or an opening that starts early) or reach 493 at
  // the very end; the phase is the music's own.
  BeatClock at(std::uint32_t position) const;
  // The music's own beat at a play position (the embedded track's: the show's beat).
  int musicBeat(std::uint32_t position) const;
  // The first play position whose music beat reaches `beat`, within 0 .. frames.
  std::uint32_t positionOfBeat(double beat) const;
  // The continuous music beat of the end: the last that a TIME in beats may name.
  double endBeat() const;
  // The stretch that plays at `position` (an index into spans; the first before it,
  // the last after it).
  std::size_t spanAt(std::uint32_t position) const;
};

// The embedded track's clock: beatClockAt, the 179 s PlaybackBuffer, the identity schedule.
ShowClock embeddedClock();
// Listening's clock: the ring's length, nothing heard yet.
ShowClock listeningClock();
// A fitted music's clock: where its beats fall, the schedule fitted to them, its length.
ShowClock fittedClock(const BeatMap& beats, const TrackSchedule& schedule, std::uint32_t frames);

// The clock that the frame loop, the player, the capture and the benchmark read;
// written by playMusic (show/music_source.h) alone.
extern ShowClock showClock;

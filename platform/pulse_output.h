// The live sound straight through PulseAudio (or PipeWire's PulseAudio service), where
// a sound server answers: one playback stream fed from the play cursor on the
// server's own thread, and the server's latency, asked for each position read.
#pragma once

#include <cstdint>
#include <string>

#include "platform/pulse_server.h"

struct PlayCursor;

struct PulseOutput {
  // Connects to the sound server (never starting one) and opens a corked stream that
  // the cursor feeds. False, with the reason in `why`, where no server answers or it
  // refuses the stream; the caller then plays through SDL.
  bool open(PlayCursor& cursor, std::string& why);
  // Plays (uncorks); holds (corks) and plays again.
  void start();
  void hold(bool held);
  // The sample heard now: what was handed over less the server's latency, which the
  // server's timing reports (interpolated between them).
  std::uint32_t position();
  // The latency the server reported last, in frames.
  std::uint32_t latency() const { return latencyFrames; }
  // The cursor's buffer changes only with the server's thread held.
  void lock();
  void unlock();
  void close();

  PlayCursor* cursor = nullptr;
  PulseServer server;
  pa_stream* stream = nullptr;
  std::uint32_t latencyFrames = 0;
  // Where the server went away: the show plays on silently on the computer's clock,
  // from `lostFrom` at `lostAtNs` (or where a seek has put it since).
  std::uint64_t lostAtNs = 0;
  std::uint32_t lostFrom = 0;
  std::uint32_t lostReturned = 0;
};

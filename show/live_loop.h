// The live loop: the play clock (the audio device's cursor, or the computer's clock
// without sound) and the turns of the loop that draw, present and pace the frames.
#pragma once

#include <cstdint>

#include "platform/latency.h"
#include "show/listening.h"

struct ShowFrame;

// The live show's source of play positions: the audio device's cursor, a monotonic
// clock when the show runs without sound, or the sound heard while listening (which
// pauses but does not seek).
struct LiveAudio;
struct PlayClock {
  LiveAudio* audio = nullptr;    // null: silent clock
  std::uint64_t startNs = 0;     // silent clock: when position startFrame was "played"
  std::uint32_t startFrame = 0;  // silent clock: where it started (--from) or last moved to
  bool paused = false;
  std::uint32_t pausedAt = 0;  // the position that holds while paused
  // With sound: the picture's own delay, measured frame by frame, and the viewer's
  // offset (--av-offset, the [ and ] keys), which carry the drawing to the sound
  // heard while the frame is seen.
  PictureDelay picture;
  int avOffsetMs = 0;
  // Listening: the listener's reports, the latest taken, the frame heard (never
  // backwards), and whether the show's beat jumped since the loop last looked.
  ListenFeed* listen = nullptr;
  ListenReport report;
  std::uint64_t heardFrame = 0;
  bool beatJumped = false;
  // With sound: queued tracks begun when this clock started; the device turns to the
  // next song without a gap, and the position then counts in it.
  std::uint32_t tracksBegun = 0;
  bool nextTrackBegun() const;

  // The position heard now.
  std::uint32_t read();
  // The position to draw for a frame whose position was read as `heard`. Listening,
  // the show's clock learns how far the beats heard lie beyond it.
  std::uint32_t aim(std::uint32_t heard);
  void seek(std::uint32_t position);
  // The sound stops (the device is paused) and the position holds; resuming plays on
  // from the same frame.
  void pause();
  void resume();
  void setMuted(bool silent);
};

struct LiveWindow;
struct LivePlayer;
// Runs the show live until Escape, q, a close request, or the end of the buffer
// (where --loop starts it again).
int runFrameLoop(LiveWindow& window, PlayClock& clock, LivePlayer& player);

// One turn of that loop, for a host that runs the loop itself (the browser, one turn
// per animation frame): paused, a look at the viewer's input; otherwise one frame
// drawn and presented, then the input. `pace` sleeps to about one frame per 16 ms of
// sound, as the desktop does; the browser's display paces it instead. False once the
// show ends.
bool liveTurn(ShowFrame& frame, LiveWindow& window, PlayClock& clock, LivePlayer& player, bool pace);

// The live loop: the play clock on the audio device or the computer's, and one turn
// per displayed frame, paced to the sound, with the viewer's input acted on.
#include "show/live_loop.h"

#include <time.h>

#include <algorithm>

#include "audio/playback.h"
#include "platform/live.h"
#include "platform/render_queue.h"
#include "show/frame.h"
#include "show/player.h"
#include "show/seek.h"
#include "show/show_clock.h"

namespace {
constexpr std::uint32_t frameMilliseconds = 16;  // a frame that took 16 ms sleeps 0
constexpr std::uint32_t sleepThreshold = 17;     // from 17 ms on, no sleep at all

void sleepMilliseconds(std::uint32_t ms) {
  timespec request{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  nanosleep(&request, nullptr);
}
}  // namespace

std::uint32_t PlayClock::read() {
  if (paused) return pausedAt;
  if (listen) {
    // The latest report brings the show's clock up to date: what was captured, the
    // music's beats, and the schedule that shows them.
    report = listen->take();
    heardFrame = std::max(heardFrame, listenHeardFrame(report, monotonicNanoseconds()));
    showClock.newestFrame = report.captured;
    showClock.liveBeats = report.beats;
    if (showClock.endless.follow(report, report.beats.beatAt(static_cast<double>(heardFrame)), heardFrame))
      beatJumped = true;
    return listenPosition(std::min(heardFrame, report.captured));
  }
  if (audio) return audio->position();
  const std::uint64_t elapsed = monotonicNanoseconds() - startNs;
  const std::uint64_t frames = startFrame + elapsed * sampleRate / 1000000000ull;
  return frames < playing.frames ? static_cast<std::uint32_t>(frames) : playing.frames;
}

std::uint32_t PlayClock::aim(std::uint32_t heard) {
  if (paused) return heard;  // a picture held still
  if (listen) {
    const std::int64_t ahead = framesAhead(picture.delayNs(), avOffsetMs);
    const std::uint64_t aimed = listenAimedFrame(heardFrame, ahead, report.captured);
    const std::int64_t wanted = static_cast<std::int64_t>(heardFrame) + ahead;
    // The beats, foreseen, are aimed at the middle of the frame's time on screen, so
    // that a beat marker's step is seen as early as late: the frame is not drawn
    // again until its next swap.
    const double middle = picture.shownNs / 2.0 * sampleRate / 1e9;
    showClock.beatLead = std::max(0.0, static_cast<double>(wanted - static_cast<std::int64_t>(aimed))) + middle;
    return listenPosition(aimed);
  }
  if (audio == nullptr) return heard;  // no sound to follow
  return aimedPosition(heard, picture.delayNs(), avOffsetMs, playing.frames);
}

void PlayClock::seek(std::uint32_t position) {
  if (listen) return;  // what is heard is where the show is
  if (position > playing.frames) position = playing.frames;
  if (paused) {
    pausedAt = position;  // taken up on resume
  } else if (audio) {
    audio->seek(position);
  } else {
    startFrame = position;
    startNs = monotonicNanoseconds();
  }
}

void PlayClock::pause() {
  if (paused) return;
  pausedAt = read();
  paused = true;
  if (audio) audio->pause();
}

void PlayClock::resume() {
  if (!paused) return;
  paused = false;
  seek(pausedAt);
  if (audio) audio->resume();
}

bool PlayClock::nextTrackBegun() const {
  return audio != nullptr && audio->tracksBegun() != tracksBegun;
}

void PlayClock::setMuted(bool silent) {
  if (audio) audio->setMuted(silent);
}

bool liveTurn(ShowFrame& frame, LiveWindow& window, PlayClock& clock, LivePlayer& player, bool pace) {
  if (player.paused) return player.holdStill(window, clock, frame) != LivePlayer::Step::end;
  const std::uint64_t startNs = monotonicNanoseconds();
  const std::uint32_t heard = clock.read();
  if (clock.nextTrackBegun()) {
    // The position counts in the next song already: its own show draws it.
    player.leave = LivePlayer::Leave::ended;
    return false;
  }
  const std::uint64_t heardFrame = clock.heardFrame;
  const std::uint32_t position = clock.aim(heard);
  if (clock.beatJumped) {
    // The endless schedule moved on: the beat marker counts from its scene.
    const int beat = showClock.at(position).beat;
    frame.baseBeat = sceneFirstBeat(beat > 0 ? beat : 0);
    clock.beatJumped = false;
  }
  frame.draw(position);
  renderFinish();
  // The picture onto the window, then what is drawn on the window alone.
  window.present();
  if (player.overlayOn) player.drawOverlay(window, position, clock);
  window.swap();
  const std::uint64_t swappedNs = monotonicNanoseconds();
  clock.picture.refreshNs = window.refreshNs();
  clock.picture.add(startNs, swappedNs);

  // Pace to about one frame per 16 ms of played sound; the subtraction and the
  // product wrap like the device's 32-bit counter.
  const std::uint32_t after = clock.read();
  player.frameDone(startNs, swappedNs);
  if (pace) {
    const std::uint32_t played =
        clock.listen ? static_cast<std::uint32_t>(clock.heardFrame - heardFrame) : after - heard;
    const std::uint32_t elapsed = (played * 1000u) / static_cast<std::uint32_t>(sampleRate);
    if (elapsed < sleepThreshold) sleepMilliseconds(frameMilliseconds - elapsed);
  }

  WindowEvents events;
  window.takeEvents(events);
  const LivePlayer::Step step = player.act(events, window, clock, frame);
  if (step == LivePlayer::Step::end) return false;
  if (step == LivePlayer::Step::moved) return true;  // the end is judged on the new position
  if (clock.listen == nullptr && after >= playing.frames) {
    if (!player.loop) {
      player.leave = LivePlayer::Leave::ended;
      return false;
    }
    player.seek(clock, frame, 0);
  }
  return true;
}

int runFrameLoop(LiveWindow& window, PlayClock& clock, LivePlayer& player) {
  ShowFrame frame;
  while (liveTurn(frame, window, clock, player, true)) {
  }
  return 0;
}

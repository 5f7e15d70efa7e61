// The player around the live frame loop.
#include "show/player.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "audio/playback.h"
#include "platform/live.h"
#include "platform/viewport.h"
#include "show/frame.h"
#include "show/live_loop.h"
#include "show/schedule.h"
#include "show/seek.h"
#include "show/show_clock.h"

namespace {
constexpr int barBeats = 4;
constexpr int phraseBeats = 16;
constexpr std::uint32_t restartSeconds = 3;  // p within a song's first seconds: the song before
constexpr int pausedWaitMs = 100;            // how long a paused player sleeps between looks at the window
constexpr int overlayLinesPerWindow = 40;    // the overlay's glyphs: a fortieth of the window's height
}  // namespace

void LivePlayer::start(LiveWindow& window) {
  renderer = window.renderer();
  const int size = std::clamp(window.clientHeight / overlayLinesPerWindow, smallestOverlayText, largestOverlayText);
  std::string why;
  if (!text.build(size, why)) std::fprintf(stderr, "pulse165: no information overlay: %s\n", why.c_str());
}

void LivePlayer::seek(PlayClock& clock, ShowFrame& frame, std::uint32_t position) {
  clock.seek(position);
  // As on a start there: the beat marker counts from the scene's first beat (the
  // opening's from show beat 0, also where a track's opening starts early).
  const int beat = showClock.at(position).beat;
  frame.baseBeat = sceneFirstBeat(beat > 0 ? beat : 0);
}

LivePlayer::Step LivePlayer::act(const WindowEvents& events, LiveWindow& window, PlayClock& clock, ShowFrame& frame) {
  if (events.closeRequested) return Step::end;
  if (events.dropped && clock.listen == nullptr) {
    leave = Leave::dropped;  // the first of them plays now
    return Step::end;
  }
  Step step = Step::go;
  bool repaint = events.exposed;
  bool sought = false;
  auto pauseNow = [&] {
    clock.pause();
    paused = true;
    repaint = true;
  };
  auto resumeNow = [&] {
    clock.resume();
    paused = false;
    times.clear();  // the pause is no frame time
    step = Step::moved;
  };
  for (int i = 0; i < events.actionCount; ++i) {
    std::uint32_t target = 0;
    const KeyAction action = events.actions[i];
    if (clock.listen != nullptr && action >= KeyAction::barBack && action <= KeyAction::showStart) {
      moveListening(clock, action);  // the seeks' keys, through the endless schedule
      repaint = true;
      step = Step::moved;
      continue;
    }
    switch (action) {
      case KeyAction::none:
        continue;
      case KeyAction::end:
        return Step::end;
      case KeyAction::pause:
        paused ? resumeNow() : pauseNow();
        continue;
      // The media controls' own: each does what its name says, whatever the state.
      case KeyAction::play:
        if (paused) resumeNow();
        continue;
      case KeyAction::hold:
        if (!paused) pauseNow();
        continue;
      case KeyAction::stop:
        if (!paused) pauseNow();
        seek(clock, frame, 0);
        sought = true;
        continue;
      case KeyAction::fullScreen:
        window.toggleFullScreen();
        continue;
      case KeyAction::mute:
        if (clock.listen != nullptr) {
          note = "m does nothing while listening: the show plays no sound";
          repaint = true;
          continue;
        }
        muted = !muted;
        clock.setMuted(muted);
        repaint = true;
        continue;
      case KeyAction::pictureEarlier:
      case KeyAction::pictureLater: {
        const int step = events.actions[i] == KeyAction::pictureLater ? avOffsetStepMs : -avOffsetStepMs;
        clock.avOffsetMs = std::clamp(clock.avOffsetMs + step, -longestAvOffsetMs, longestAvOffsetMs);
        repaint = true;
        continue;
      }
      case KeyAction::nextSong:
      case KeyAction::previousSong:
        if (songCount == 0) {
          note = clock.listen != nullptr ? "n and p do nothing while listening"
                                         : "n and p move through songs: pulse165 FILE... or files dropped here";
          repaint = true;
          continue;
        }
        // Past a song's first seconds, p goes back to its start.
        if (action == KeyAction::previousSong &&
            (clock.read() >= restartSeconds * sampleRate || (songIndex == 0 && !loopList)))
          break;
        if (action == KeyAction::nextSong && songIndex + 1 >= songCount && !loopList) {
          note = "this is the last song";
          repaint = true;
          continue;
        }
        leave = action == KeyAction::nextSong ? Leave::next : Leave::previous;
        return Step::end;
      case KeyAction::overlay:
        // Without a picture of its own the overlay would enter the trail: none then.
        overlayOn = !overlayOn && text.texture != 0 && window.picture.framebuffer != 0;
        repaint = true;
        continue;
      case KeyAction::barBack:
        target = stepBeats(clock.read(), -barBeats);
        break;
      case KeyAction::barForward:
        target = stepBeats(clock.read(), barBeats);
        break;
      case KeyAction::phraseBack:
        target = stepBeats(clock.read(), -phraseBeats);
        break;
      case KeyAction::phraseForward:
        target = stepBeats(clock.read(), phraseBeats);
        break;
      case KeyAction::previousScene:
        target = previousSceneStart(clock.read());
        break;
      case KeyAction::nextScene:
        target = nextSceneStart(clock.read());
        break;
      case KeyAction::showStart:
        target = 0;
        break;
    }
    seek(clock, frame, target);
    sought = true;
    step = Step::moved;
  }
  if (events.seek != WindowEvents::MediaSeek::none && clock.listen == nullptr) {
    // The media controls' seek, in microseconds of the song (or of the show).
    const std::int64_t from = events.seek == WindowEvents::MediaSeek::by ? clock.read() : 0;
    const std::int64_t target = from + events.seekMicroseconds * sampleRate / 1'000'000;
    seek(clock, frame, static_cast<std::uint32_t>(std::clamp<std::int64_t>(target, 0, playing.frames)));
    sought = true;
    step = Step::moved;
  }
  if (clock.listen == nullptr) window.tellPlayback(paused, clock.read(), sought);
  if (events.sizeChanged && window.followSize()) repaint = true;
  // Paused, the held picture keeps its size, letterboxed anew in the window's; the
  // picture follows the window once the show plays on.
  if (!paused && window.fitPicture()) setShowViewport(window.drawWidth, window.drawHeight);
  // Paused, nothing is drawn, so that the effects stay as they are: a seek moves
  // the position the show resumes from (the overlay shows it), and the held picture
  // goes back onto the window when the window needs it.
  if (paused && (repaint || sought)) show(window, clock.read(), clock);
  return step;
}

void LivePlayer::moveListening(PlayClock& clock, KeyAction action) {
  const double music = showClock.liveBeats.beatAt(static_cast<double>(clock.heardFrame));
  const double now = showClock.endless.showBeat(music);
  const int beat = static_cast<int>(std::floor(now));
  const int scene = sceneForBeat(beat);
  const int start = firstBeatOfScene(scene);
  double beats = 0;
  switch (action) {
    case KeyAction::barBack:
      beats = -barBeats;
      break;
    case KeyAction::barForward:
      beats = barBeats;
      break;
    case KeyAction::phraseBack:
      beats = -phraseBeats;
      break;
    case KeyAction::phraseForward:
      beats = phraseBeats;
      break;
    case KeyAction::previousScene:  // the scene's start, or the one before within its first bar
      beats = (beat - start >= barBeats || scene == 1 ? start : firstBeatOfScene(scene - 1)) - beat;
      break;
    case KeyAction::nextScene:  // after the middle's last scene, its first again
      beats = (scene + 1 < sceneForBeat(middleEnd) ? firstBeatOfScene(scene + 1) : middleEnd) - beat;
      break;
    default:  // Home: the opening again
      beats = -now - 1;
      break;
  }
  if (showClock.endless.move(music, beats)) {
    clock.beatJumped = true;
    note = nullptr;
  } else {
    note = "waiting for music: nothing to move through";
  }
}

LivePlayer::Step LivePlayer::holdStill(LiveWindow& window, PlayClock& clock, ShowFrame& frame) {
  WindowEvents events;
  window.takeEvents(events, pausedWaitMs);
  return act(events, window, clock, frame);
}

void LivePlayer::show(LiveWindow& window, std::uint32_t position, const PlayClock& clock) {
  window.present();
  if (overlayOn) drawOverlay(window, position, clock);
  window.swap();
}

void LivePlayer::frameDone(std::uint64_t startNs, std::uint64_t doneNs) {
  times.add(startNs, doneNs);
  if (slowToldOnce) return;
  const FrameTimes::Summary summary = times.summary(slowSpanNs);
  if (!summary.complete || summary.frameMs <= slowFrameMs) return;
  slowToldOnce = true;
  slowFps = 1000.0 / summary.frameMs;
  std::fprintf(stderr,
               "pulse165: the picture cannot keep up with the music: %.0f frames per second on %s; a smaller "
               "--window or a GPU driver helps\n",
               slowFps, renderer);
}

void LivePlayer::drawOverlay(LiveWindow& window, std::uint32_t position, const PlayClock& clock) {
  OverlayLines lines;
  OverlaySync sync;
  OverlayListen listen;
  if (clock.listen != nullptr) {
    const ListenReport& heard = clock.report;
    listen = {true,       clock.listen->source, heard.bpm,    heard.locked, heard.music,
              heard.lost, heard.agreeing,       heard.gainDb, note};
    sync = {true, heard.heardLead * 1000.0 / sampleRate, "capture, from the sound server",
            static_cast<double>(clock.picture.delayNs()) / 1e6, clock.avOffsetMs};
  } else if (clock.audio != nullptr) {
    sync.sound = true;
    sync.soundMs = clock.audio->latency() * 1000.0 / sampleRate;
    sync.soundFrom = clock.audio->latencySource();
    sync.pictureMs = static_cast<double>(clock.picture.delayNs()) / 1e6;
    sync.offsetMs = clock.avOffsetMs;
  }
  const OverlaySong song{songIndex, songCount, songLabel, note};
  formatOverlay(lines, position, times.summary(slowSpanNs), renderer, paused, muted, slowToldOnce ? slowFps : 0, sync,
                listen, song);
  drawOverlayLines(window, text, lines);
}

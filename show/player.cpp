// The player around the live frame loop.
#include "show/player.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "audio/playback.h"
#include "platform/live.h"
#include "platform/viewport.h"
#include "show/frame.h"
#include "show/schedule.h"
#include "show/seek.h"
#include "show/show_clock.h"

namespace {
constexpr int barBeats = 4;
constexpr int phraseBeats = 16;
constexpr int pausedWaitMs = 100;  // how long a paused player sleeps between looks at the window

// The overlay: its glyphs' size follows the window, within bounds (show/player.h).
constexpr int overlayLinesPerWindow = 40;
constexpr int overlayMargin = 8;
constexpr float panelAlpha = 0.6f;

double median(double* values, int n) {
  if (n == 0) return 0;
  std::nth_element(values, values + n / 2, values + n);
  return values[n / 2];
}
}  // namespace

//----------------------------------------------------------------------------------
// Frame times
//----------------------------------------------------------------------------------
void FrameTimes::add(std::uint64_t start, std::uint64_t done) {
  startNs[next] = start;
  drawNs[next] = done > start ? done - start : 0;
  next = (next + 1) % capacity;
  if (count < capacity) ++count;
}

FrameTimes::Summary FrameTimes::summary(std::uint64_t spanNs) {
  Summary result{0, 0, false};
  if (count < 2) return result;
  const auto at = [this](int back) { return (next - 1 - back + 2 * capacity) % capacity; };
  const std::uint64_t latest = startNs[at(0)];
  result.complete = count == capacity || latest - startNs[at(count - 1)] >= spanNs;
  int intervals = 0;
  for (int back = 1; back < count && latest - startNs[at(back)] <= spanNs; ++back)
    scratch[intervals++] = static_cast<double>(startNs[at(back - 1)] - startNs[at(back)]) * 1e-6;
  result.frameMs = median(scratch, intervals);
  for (int back = 0; back < intervals; ++back) scratch[back] = static_cast<double>(drawNs[at(back)]) * 1e-6;
  result.drawMs = median(scratch, intervals);
  return result;
}

//----------------------------------------------------------------------------------
// Overlay text
//----------------------------------------------------------------------------------
void formatOverlay(OverlayLines& out, std::uint32_t position, const FrameTimes::Summary& times, const char* renderer,
                   bool paused, bool muted, double slowFps) {
  const BeatClock clock = showClock.at(position);
  const std::uint32_t tenths = static_cast<std::uint32_t>(static_cast<std::uint64_t>(position) * 10 / sampleRate);
  const std::uint32_t showSeconds = showClock.frames / sampleRate;
  // A hand-picked track's own beat beside the show's, which the scenes follow.
  char trackBeat[32] = "";
  if (showClock.fitted) std::snprintf(trackBeat, sizeof trackBeat, " (track %d)", showClock.musicBeat(position));
  int n = 0;
  std::snprintf(out.lines[n++], OverlayLines::lineLength,
                "%u:%02u.%u of %u:%02u   beat %d%s   phase %.2f   scene %d%s%s", tenths / 600, tenths / 10 % 60,
                tenths % 10, showSeconds / 60, showSeconds % 60, clock.beat, trackBeat,
                static_cast<double>(clock.beatPhase), sceneForBeat(clock.beat), paused ? "   paused" : "",
                muted ? "   muted" : "");
  if (times.frameMs > 0)
    std::snprintf(out.lines[n++], OverlayLines::lineLength,
                  "%.1f frames per second   %.1f ms a frame (%.1f ms drawing)", 1000.0 / times.frameMs, times.frameMs,
                  times.drawMs);
  else
    std::snprintf(out.lines[n++], OverlayLines::lineLength, "frames per second: measuring");
  std::snprintf(out.lines[n++], OverlayLines::lineLength, "%s", renderer);
  if (slowFps > 0)
    std::snprintf(out.lines[n++], OverlayLines::lineLength,
                  "cannot keep up (%.0f frames per second): a smaller window or a GPU driver helps", slowFps);
  out.count = n;
}

namespace {
// Fills out's lines one after the other, each up to a width in pixels.
struct LineFiller {
  OverlayLines& out;
  const TextAtlas& text;
  int width;
  int length = 0;  // of the line being filled, out.lines[out.count]
  int pixels = 0;

  // Puts `piece` on the line, after `glue` unless the line is empty, where the line
  // still fits then (or where `always`). False, and the line as it was, where not.
  bool add(const char* glue, const char* piece, std::size_t pieceLength, bool always = false) {
    if (out.count == OverlayLines::lineCount) return true;  // no room left: dropped
    const std::size_t glueLength = length > 0 ? std::strlen(glue) : 0;
    const std::size_t total = length + glueLength + pieceLength;
    const int wider = text.measure(glue, glueLength) + text.measure(piece, pieceLength);
    if (total >= OverlayLines::lineLength || (pixels + wider > width && !always)) return false;
    char* line = out.lines[out.count];
    std::memcpy(line + length, glue, glueLength);
    std::memcpy(line + length + glueLength, piece, pieceLength);
    line[total] = '\0';
    length = static_cast<int>(total);
    pixels += wider;
    return true;
  }
  void endLine() {
    if (length == 0) return;
    ++out.count;
    length = 0;
    pixels = 0;
  }
};

// Puts the word on the filler's lines: after a space, else on a line of its own, else
// broken between characters.
void fillWord(LineFiller& filler, const char* word, std::size_t length) {
  if (filler.add(" ", word, length)) return;
  filler.endLine();
  if (filler.add("", word, length)) return;
  for (std::size_t i = 0; i < length; ++i) {
    if (filler.add("", word + i, 1)) continue;
    filler.endLine();
    filler.add("", word + i, 1, true);  // one character on a line of its own, fitting or not
  }
}

// The same for one part of a line: after the separator, else on a line of its own,
// else broken between its words.
void fillPart(LineFiller& filler, const char* part, std::size_t length) {
  constexpr const char* separator = "   ";
  if (filler.add(separator, part, length)) return;
  filler.endLine();
  if (filler.add("", part, length)) return;
  const char* end = part + length;
  for (const char* word = part; word < end;) {
    const char* space = std::find(word, end, ' ');
    if (space > word) fillWord(filler, word, static_cast<std::size_t>(space - word));
    word = space + 1;
  }
}
}  // namespace

void breakOverlayLines(const OverlayLines& in, int width, const TextAtlas& text, OverlayLines& out) {
  out.count = 0;
  LineFiller filler{out, text, width};
  for (int i = 0; i < in.count; ++i) {
    const char* part = in.lines[i];
    for (;;) {
      const char* separator = std::strstr(part, "   ");
      const std::size_t length = separator != nullptr ? static_cast<std::size_t>(separator - part) : std::strlen(part);
      if (length > 0) fillPart(filler, part, length);
      if (separator == nullptr) break;
      part = separator + 3;
    }
    filler.endLine();
  }
}

//----------------------------------------------------------------------------------
// LivePlayer
//----------------------------------------------------------------------------------
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
  Step step = Step::go;
  bool repaint = events.exposed;
  bool sought = false;
  for (int i = 0; i < events.actionCount; ++i) {
    std::uint32_t target = 0;
    switch (events.actions[i]) {
      case KeyAction::none:
        continue;
      case KeyAction::end:
        return Step::end;
      case KeyAction::pause:
        if (paused) {
          clock.resume();
          paused = false;
          times.clear();  // the pause is no frame time
          step = Step::moved;
        } else {
          clock.pause();
          paused = true;
          repaint = true;
        }
        continue;
      case KeyAction::fullScreen:
        window.toggleFullScreen();
        continue;
      case KeyAction::mute:
        muted = !muted;
        clock.setMuted(muted);
        repaint = true;
        continue;
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
  if (events.sizeChanged && window.followSize()) repaint = true;
  // Paused, the held picture keeps its size, letterboxed anew in the window's; the
  // picture follows the window once the show plays on.
  if (!paused && window.fitPicture()) setShowViewport(window.drawWidth, window.drawHeight);
  // Paused, nothing is drawn, so that the effects stay as they are: a seek moves
  // the position the show resumes from (the overlay shows it), and the held picture
  // goes back onto the window when the window needs it.
  if (paused && (repaint || sought)) show(window, clock.read());
  return step;
}

LivePlayer::Step LivePlayer::holdStill(LiveWindow& window, PlayClock& clock, ShowFrame& frame) {
  WindowEvents events;
  window.takeEvents(events, pausedWaitMs);
  return act(events, window, clock, frame);
}

void LivePlayer::show(LiveWindow& window, std::uint32_t position) {
  window.present();
  if (overlayOn) drawOverlay(window, position);
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

void LivePlayer::drawOverlay(LiveWindow& window, std::uint32_t position) {
  OverlayLines formatted;
  formatOverlay(formatted, position, times.summary(slowSpanNs), renderer, paused, muted, slowToldOnce ? slowFps : 0);
  // Within the window: the lines broken to its width, as many as its height takes.
  const int pad = text.lineHeight / 3;
  const int room = window.clientWidth - 2 * (overlayMargin + pad);
  OverlayLines lines;
  breakOverlayLines(formatted, room, text, lines);
  lines.count = std::min(lines.count, (window.clientHeight - 2 * (overlayMargin + pad)) / text.lineHeight);
  if (room <= 0 || lines.count <= 0) return;
  int width = 0;
  for (int i = 0; i < lines.count; ++i) width = std::max(width, text.measure(lines.lines[i]));
  const float left = overlayMargin;
  const float top = overlayMargin;
  const float right = left + static_cast<float>(width + 2 * pad);
  const float bottom = top + static_cast<float>(lines.count * text.lineHeight + 2 * pad);

  // On the window only, in its pixels; everything the show relies on is put back.
  glPushAttrib(GL_ALL_ATTRIB_BITS);
  glViewport(0, 0, window.clientWidth, window.clientHeight);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrtho(0, window.clientWidth, window.clientHeight, 0, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glDisable(GL_TEXTURE_2D);
  glColor4f(0, 0, 0, panelAlpha);
  glRectf(left, top, right, bottom);
  text.begin();
  glColor4f(1, 1, 1, 1);
  for (int i = 0; i < lines.count; ++i)
    text.drawLine(lines.lines[i], static_cast<int>(left) + pad, static_cast<int>(top) + pad + i * text.lineHeight);
  glPopMatrix();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glPopAttrib();
}

// The information overlay: its lines for a play position, broken to the window's
// width, and drawn on the window after the picture.
#include "show/overlay.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "audio/playback.h"
#include "platform/live.h"
#include "show/scenes.h"
#include "show/show_clock.h"

namespace {
constexpr int overlayMargin = 8;
constexpr float panelAlpha = 0.6f;
}  // namespace

namespace {
const char* beatState(const OverlayListen& listen) {
  if (listen.lost) return "the source is gone: trying again";
  if (listen.bpm <= 0) return "waiting for music";
  if (listen.locked) return "locked";
  return listen.music ? "finding the beat" : "silence: holding";
}
}  // namespace

void formatOverlay(OverlayLines& out, std::uint32_t position, const FrameTimes::Summary& times, const char* renderer,
                   bool paused, bool muted, double slowFps, const OverlaySync& sync, const OverlayListen& listen,
                   const OverlaySong& song) {
  const BeatClock clock = showClock.at(position);
  int n = 0;
  if (listen.on) {
    std::snprintf(out.lines[n++], OverlayLines::lineLength, "beat %d (heard %d)   phase %.2f   scene %d%s", clock.beat,
                  showClock.musicBeat(position), static_cast<double>(clock.beatPhase), sceneForBeat(clock.beat),
                  paused ? "   frozen" : "");
    std::snprintf(out.lines[n++], OverlayLines::lineLength,
                  "listening to %s   %.1f bpm, %s (%d measures agree)   gain %+.1f dB", listen.source, listen.bpm,
                  beatState(listen), listen.agreeing, listen.gainDb);
    if (listen.note != nullptr) std::snprintf(out.lines[n++], OverlayLines::lineLength, "%s", listen.note);
  }
  const std::uint32_t tenths = static_cast<std::uint32_t>(static_cast<std::uint64_t>(position) * 10 / sampleRate);
  const std::uint32_t showSeconds = showClock.frames / sampleRate;
  // A hand-picked track's own beat beside the show's, which the scenes follow.
  char trackBeat[32] = "";
  if (showClock.fitted) std::snprintf(trackBeat, sizeof trackBeat, " (track %d)", showClock.musicBeat(position));
  if (!listen.on)
    std::snprintf(out.lines[n++], OverlayLines::lineLength,
                  "%u:%02u.%u of %u:%02u   beat %d%s   phase %.2f   scene %d%s%s", tenths / 600, tenths / 10 % 60,
                  tenths % 10, showSeconds / 60, showSeconds % 60, clock.beat, trackBeat,
                  static_cast<double>(clock.beatPhase), sceneForBeat(clock.beat), paused ? "   paused" : "",
                  muted ? "   muted" : "");
  if (song.count > 0)
    std::snprintf(out.lines[n++], OverlayLines::lineLength, "%d/%d %s", song.index + 1, song.count, song.label);
  if (!listen.on && song.note != nullptr) std::snprintf(out.lines[n++], OverlayLines::lineLength, "%s", song.note);
  if (times.frameMs > 0)
    std::snprintf(out.lines[n++], OverlayLines::lineLength,
                  "%.1f frames per second   %.1f ms a frame (%.1f ms drawing)", 1000.0 / times.frameMs, times.frameMs,
                  times.drawMs);
  else
    std::snprintf(out.lines[n++], OverlayLines::lineLength, "frames per second: measuring");
  if (sync.sound)
    std::snprintf(out.lines[n++], OverlayLines::lineLength,
                  "sound delay %.0f ms (%s)   picture delay %.0f ms   offset %+d ms ([ and ])", sync.soundMs,
                  sync.soundFrom, sync.pictureMs, sync.offsetMs);
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

void drawOverlayLines(const LiveWindow& window, const TextAtlas& text, const OverlayLines& formatted) {
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

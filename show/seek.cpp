// Seek arithmetic.
#include "show/seek.h"

#include "show/scenes.h"
#include "show/show_clock.h"

namespace {
int lastBeat() {
  return showClock.musicBeat(showClock.frames - 1);
}

// No forward step lands before where it started.
std::uint32_t forwardClamp(std::uint32_t target, std::uint32_t position) {
  const std::uint32_t last = lastSeekPosition();
  if (target <= last) return target;
  return position > last ? position : last;
}

// The first frame of a stretch; the first stretch starts with the music.
std::uint32_t spanStart(std::size_t span) {
  return span == 0 ? 0 : showClock.positionOfBeat(showClock.spans[span].trackStart);
}
}  // namespace

int sceneFirstBeat(int beat) {
  return beat > 0 ? firstBeatOfScene(sceneForBeat(beat)) : beat;
}

std::uint32_t lastSeekPosition() {
  return showClock.positionOfBeat(lastBeat());
}

std::uint32_t stepBeats(std::uint32_t position, int beats) {
  // Whole beats from beat start to beat start, so that a step from a beat's first
  // frame lands on another's; the frames into the beat come along, to the last frame
  // of the beat landed in at most. (A track's beat before its first may have begun
  // before the music: the frames into it count from the music's start.)
  const int beat = showClock.musicBeat(position);
  const int target = beat + beats;
  if (target < showClock.musicBeat(0)) return 0;
  if (target > lastBeat()) return forwardClamp(showClock.frames, position);
  const std::uint32_t into = position - showClock.positionOfBeat(beat);
  const std::uint32_t end = showClock.positionOfBeat(target + 1);
  const std::uint32_t landed = showClock.positionOfBeat(target) + into;
  return landed < end ? landed : end - 1;
}

std::uint32_t previousSceneStart(std::uint32_t position) {
  const std::size_t span = showClock.spanAt(position);
  return span == 0 ? 0 : spanStart(span - 1);
}

std::uint32_t nextSceneStart(std::uint32_t position) {
  const std::size_t span = showClock.spanAt(position);
  if (span + 1 >= showClock.spans.size()) return forwardClamp(showClock.frames, position);
  return forwardClamp(spanStart(span + 1), position);
}

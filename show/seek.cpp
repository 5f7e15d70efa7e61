// Seek arithmetic.
#include "show/seek.h"

#include "audio/playback.h"
#include "show/schedule.h"

namespace {
int lastBeat() {
  return beatClockAt(playbackFrameCount - 1).beat;
}

// No forward step lands before where it started.
std::uint32_t forwardClamp(std::uint32_t target, std::uint32_t position) {
  const std::uint32_t last = lastSeekPosition();
  if (target <= last) return target;
  return position > last ? position : last;
}
}  // namespace

int sceneFirstBeat(int beat) {
  const int scene = sceneForBeat(beat);
  while (beat > 0 && sceneForBeat(beat - 1) == scene) --beat;
  return beat;
}

std::uint32_t lastSeekPosition() {
  return firstPositionOfBeat(lastBeat());
}

std::uint32_t stepBeats(std::uint32_t position, int beats) {
  // Whole beats from beat start to beat start, so that a step from a beat's first
  // frame lands on another's; the frames into the beat come along, to the last frame
  // of the beat landed in at most.
  const int beat = beatClockAt(position).beat;
  const int target = beat + beats;
  if (target < 0) return 0;
  if (target > lastBeat()) return forwardClamp(playbackFrameCount, position);
  const std::uint32_t into = position - firstPositionOfBeat(beat);
  const std::uint32_t end = firstPositionOfBeat(target + 1);
  const std::uint32_t landed = firstPositionOfBeat(target) + into;
  return landed < end ? landed : end - 1;
}

std::uint32_t previousSceneStart(std::uint32_t position) {
  const int first = sceneFirstBeat(beatClockAt(position).beat);
  if (first == 0) return 0;
  return firstPositionOfBeat(sceneFirstBeat(first - 1));
}

std::uint32_t nextSceneStart(std::uint32_t position) {
  int beat = beatClockAt(position).beat;
  const int scene = sceneForBeat(beat);
  const int last = lastBeat();
  while (beat <= last && sceneForBeat(beat) == scene) ++beat;
  if (beat > last) return forwardClamp(playbackFrameCount, position);
  return forwardClamp(firstPositionOfBeat(beat), position);
}

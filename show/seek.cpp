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
  const double target = static_cast<double>(position) * static_cast<double>(beatsPerSample) + beats;
  if (target <= 0) return 0;
  const std::uint32_t landed = firstPositionOfBeat(target);
  return beats > 0 ? forwardClamp(landed, position) : (landed < position ? landed : position);
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

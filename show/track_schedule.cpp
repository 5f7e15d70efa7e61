// Fitting the show's schedule to a track's beats.
#include "show/track_schedule.h"

#include <algorithm>
#include <cmath>

#include "audio/beat_grid.h"
#include "show/scenes.h"

namespace {
constexpr int block = 16;
constexpr int finaleBeats = showBeats - middleEnd;
constexpr int ringCutStart = 432;  // scene 8 may lose 16-beat blocks from here...
constexpr int ringCutEnd = 480;    // ...up to here
static_assert(sceneForBeat(ringCutStart) == 8 && sceneForBeat(ringCutEnd - 1) == 8);
constexpr int ringCutBlocks = (ringCutEnd - ringCutStart) / block;
constexpr int shortestOpening = block;

struct MiddleScene {
  int start;   // show beat
  int blocks;  // its length in 16-beat blocks
};

// The middle's scenes as the show's own schedule lays them out.
std::vector<MiddleScene> middleScenes() {
  std::vector<MiddleScene> scenes;
  for (int beat = openingEnd; beat < middleEnd; ++beat)
    if (beat == openingEnd || sceneForBeat(beat) != sceneForBeat(beat - 1)) scenes.push_back({beat, 0});
  for (std::size_t i = 0; i < scenes.size(); ++i) {
    const int end = i + 1 < scenes.size() ? scenes[i + 1].start : middleEnd;
    scenes[i].blocks = (end - scenes[i].start) / block;
  }
  return scenes;
}

// `blocks` blocks shared out over the scenes in proportion to their lengths (largest
// remainders, ties to the earlier scene).
std::vector<int> shareBlocks(const std::vector<MiddleScene>& scenes, int blocks) {
  int whole = 0;
  for (const MiddleScene& s : scenes) whole += s.blocks;
  std::vector<int> share(scenes.size());
  std::vector<double> rest(scenes.size());
  int given = 0;
  for (std::size_t i = 0; i < scenes.size(); ++i) {
    const double quota = static_cast<double>(blocks) * scenes[i].blocks / whole;
    share[i] = static_cast<int>(quota);
    rest[i] = quota - share[i];
    given += share[i];
  }
  while (given < blocks) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < scenes.size(); ++i)
      if (rest[i] > rest[best]) best = i;
    ++share[best];
    rest[best] = -1.0;
    ++given;
  }
  return share;
}

void append(std::vector<ScheduleSegment>& segments, int& track, int length, int showStart) {
  if (length <= 0) return;
  segments.push_back({track, track + length, showStart});
  track += length;
}

void buildShort(std::vector<ScheduleSegment>& segments, int n) {
  int track = 0;
  if (n < finaleBeats - ringCutBlocks * block) {
    append(segments, track, n, showBeats - n);
    return;
  }
  // Blocks cut from the middle of scene 8 until the opening keeps its first 16 beats.
  int cut = 0;
  while (cut < ringCutBlocks && n - (finaleBeats - cut * block) < shortestOpening) ++cut;
  const int finale = finaleBeats - cut * block;
  append(segments, track, n - finale, 0);
  append(segments, track, ringCutStart - middleEnd, middleEnd);
  append(segments, track, n - track, ringCutStart + cut * block);
}

void buildLong(std::vector<ScheduleSegment>& segments, int n) {
  const std::vector<MiddleScene> scenes = middleScenes();
  int passBlocks = 0;
  for (const MiddleScene& s : scenes) passBlocks += s.blocks;
  const int middle = n - openingEnd - finaleBeats;
  const int blocks = middle / block;
  const int rest = middle % block;
  const int passes = blocks / passBlocks;
  const std::vector<int> share = shareBlocks(scenes, blocks % passBlocks);

  // Does the last middle stretch stop short of the finale, so that it can run on?
  int lastEnd = passes > 0 ? middleEnd : -1;
  for (std::size_t i = 0; i < scenes.size(); ++i)
    if (share[i] > 0) lastEnd = scenes[i].start + share[i] * block;
  const bool runOn = lastEnd >= 0 && lastEnd < middleEnd;
  const int early = runOn ? 0 : rest;

  int track = 0;
  append(segments, track, openingEnd + early, -early);
  for (int p = 0; p < passes; ++p) append(segments, track, middleEnd - openingEnd, openingEnd);
  for (std::size_t i = 0; i < scenes.size(); ++i) append(segments, track, share[i] * block, scenes[i].start);
  if (runOn) {
    segments.back().trackEnd += rest;
    track += rest;
  }
  append(segments, track, finaleBeats, middleEnd);
}
}  // namespace

TrackSchedule fitSchedule(int trackBeats) {
  TrackSchedule schedule;
  schedule.trackBeats = std::max(0, trackBeats);
  std::vector<ScheduleSegment> built;
  if (trackBeats >= openingEnd + finaleBeats) {
    buildLong(built, trackBeats);
  } else if (trackBeats > 0) {
    buildShort(built, trackBeats);
  }
  // Neighbours that continue one another are one stretch.
  for (const ScheduleSegment& s : built) {
    if (!schedule.segments.empty() && schedule.segments.back().offset() == s.offset())
      schedule.segments.back().trackEnd = s.trackEnd;
    else
      schedule.segments.push_back(s);
  }
  return schedule;
}

int TrackSchedule::showBeat(int trackBeat) const {
  if (segments.empty()) return trackBeat;
  const ScheduleSegment* s = &segments.front();
  for (const ScheduleSegment& candidate : segments)
    if (candidate.trackStart <= trackBeat) s = &candidate;
  return trackBeat + s->offset();
}

std::vector<SceneSpan> sceneSpans(const TrackSchedule& schedule) {
  std::vector<SceneSpan> spans;
  for (const ScheduleSegment& s : schedule.segments)
    for (int beat = s.trackStart; beat < s.trackEnd; ++beat) {
      const int scene = sceneForBeat(beat + s.offset());
      if (!spans.empty() && spans.back().scene == scene && spans.back().trackEnd == beat)
        spans.back().trackEnd = beat + 1;
      else
        spans.push_back({scene, beat, beat + 1});
    }
  return spans;
}

std::vector<SceneTimes> sceneTimes(const TrackSchedule& schedule, const BeatGrid& grid, double trackSeconds) {
  std::vector<SceneTimes> times;
  for (const SceneSpan& span : sceneSpans(schedule))
    times.push_back({span.scene, std::max(0.0, grid.secondsAt(span.trackStart)),
                     std::min(trackSeconds, grid.secondsAt(span.trackEnd))});
  if (!times.empty()) {
    times.front().startSeconds = 0.0;
    times.back().endSeconds = trackSeconds;
  }
  return times;
}

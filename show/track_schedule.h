// The show's schedule fitted to a hand-picked track: the track's beats mapped onto the
// show's beats 0 to 492, so that the opening opens the track, the finale closes it
// (show beat 492 on the track's last beat) and the middle fills what lies between.
// The scenes keep reading absolute show beats, so their beat-driven motion works
// unchanged within every stretch of the map.
#pragma once

#include <vector>

struct BeatGrid;

// Track beats [trackStart, trackEnd) shown as show beats [showStart, showStart + length).
struct ScheduleSegment {
  int trackStart = 0;
  int trackEnd = 0;
  int showStart = 0;

  int offset() const { return showStart - trackStart; }
  int length() const { return trackEnd - trackStart; }
  bool operator==(const ScheduleSegment&) const = default;
};

struct TrackSchedule {
  int trackBeats = 0;
  std::vector<ScheduleSegment> segments;  // in track order, covering [0, trackBeats)

  // The show beat of a track beat; before the first segment and after the last, that
  // segment's offset carries on.
  int showBeat(int trackBeat) const;
};

// The schedule for a track whose beats 0 .. trackBeats - 1 begin within it.
//
// The opening (show beats 0-63) opens, the finale (416-492) closes. Between them the
// middle (64-415, scenes 2 to 6) is played whole as often as it fits, then once more
// shortened: each scene keeps its first 16-beat blocks, in proportion to its length,
// so that every cut falls on a 16-beat boundary and on a change of scene. What is left
// over (the beats between the opening and the finale modulo 16) lets the last middle
// scene run on; where that scene is whole, the opening starts as many beats early
// (show beats below 0 show the opening too). A track too short for the whole opening
// and finale loses the opening's end first, then 16-beat blocks from the middle of
// scene 8 (whose camera turns round every eight beats at a steady level, so the cuts
// do not show), then the rest of the opening; below 29 beats it shows the finale's
// last beats. For 493 beats the map is the identity.
TrackSchedule fitSchedule(int trackBeats);

// One stretch of the track that shows one scene, in track beats.
struct SceneSpan {
  int scene = 0;
  int trackStart = 0;
  int trackEnd = 0;
  bool operator==(const SceneSpan&) const = default;
};

// Every stretch in track order (where a scene starts: the player's scene keys).
std::vector<SceneSpan> sceneSpans(const TrackSchedule& schedule);

// The same in the track's seconds: the first from 0, the last to the end of the track.
struct SceneTimes {
  int scene = 0;
  double startSeconds = 0.0;
  double endSeconds = 0.0;
};
std::vector<SceneTimes> sceneTimes(const TrackSchedule& schedule, const BeatGrid& grid, double trackSeconds);

// The show's clock on the embedded track and on a hand-picked one.
#include "show/show_clock.h"

#include <cmath>

#include "show/scenes.h"

namespace {
double musicBeatTime(const ShowClock& clock, double position) {
  return clock.beats.beatAt(position);
}
}  // namespace

ShowClock showClock = embeddedClock();

ShowClock embeddedClock() {
  ShowClock clock;
  clock.schedule = fitSchedule(showBeats);  // beats 0 to 492 begin within the embedded track
  clock.spans = sceneSpans(clock.schedule);
  return clock;
}

ShowClock listeningClock() {
  ShowClock clock;
  clock.listening = true;
  clock.frames = listenRingFrames;
  return clock;
}

ShowClock fittedClock(const BeatMap& beats, const TrackSchedule& schedule, std::uint32_t frames) {
  ShowClock clock;
  clock.fitted = true;
  clock.beats = beats;
  clock.frames = frames;
  clock.schedule = schedule;
  clock.spans = sceneSpans(schedule);
  return clock;
}

BeatClock ShowClock::at(std::uint32_t position) const {
  if (listening) {
    const double show = endless.showBeat(liveBeat(position));
    const double whole = std::floor(show);
    BeatClock clock;
    clock.beat = static_cast<int>(whole);
    clock.beatPosition = static_cast<float>(show);
    clock.beatPhase = static_cast<float>(1.0 - (show - whole));
    clock.beatTime = static_cast<float>(clock.beat + 1) - clock.beatPhase;
    return clock;
  }
  if (!fitted) return beatClockAt(position);
  // The whole beat goes through the schedule; the fraction, exact in double precision,
  // is the phase on every stretch alike.
  const double music = musicBeatTime(*this, position);
  const double whole = std::floor(music);
  const double into = music - whole;
  BeatClock clock;
  clock.beat = schedule.showBeat(static_cast<int>(whole));
  clock.beatPosition = static_cast<float>(clock.beat + into);
  clock.beatPhase = static_cast<float>(1.0 - into);
  clock.beatTime = static_cast<float>(clock.beat + 1) - clock.beatPhase;
  return clock;
}

int ShowClock::musicBeat(std::uint32_t position) const {
  if (listening) return static_cast<int>(std::floor(liveBeat(position)));
  if (!fitted) return beatClockAt(position).beat;
  return static_cast<int>(std::floor(musicBeatTime(*this, position)));
}

std::uint32_t ShowClock::positionOfBeat(double beat) const {
  if (!fitted) return firstPositionOfBeat(beat);
  // An estimate from the grid, then corrected by the same arithmetic that musicBeat
  // uses, so that the two agree at the boundary.
  const double estimate = std::ceil(beats.positionAt(beat));
  if (!(estimate > 0)) return 0;
  if (estimate >= frames) return frames;
  auto p = static_cast<std::uint32_t>(estimate);
  while (p < frames && musicBeatTime(*this, p) < beat) ++p;
  while (p > 0 && musicBeatTime(*this, p - 1) >= beat) --p;
  return p;
}

double ShowClock::endBeat() const {
  if (!fitted) return static_cast<double>(frames) * static_cast<double>(beatsPerSample);
  return musicBeatTime(*this, frames);
}

std::size_t ShowClock::spanAt(std::uint32_t position) const {
  const int beat = musicBeat(position);
  std::size_t found = 0;
  for (std::size_t i = 1; i < spans.size() && spans[i].trackStart <= beat; ++i) found = i;
  return found;
}

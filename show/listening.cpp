// What the listener heard, handed to the frame loop, and the endless schedule.
#include "show/listening.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "audio/playback.h"
#include "audio/sample_rate.h"
#include "show/scenes.h"

namespace {
constexpr std::uint64_t longestHoldNs = 250'000'000;  // a source that stops: the picture holds after this
constexpr int barBeats = 4;
constexpr int roundBeats = middleEnd - openingEnd;  // the middle scenes, shown round and round
constexpr double fadeStart = firstBeatOfScene(sceneCount);
constexpr double fadeEnd = 492.25;  // where the show's own fade is black

// The first bar start at or after `beat`.
double nextBarStart(double beat, int barStart) {
  const double whole = std::ceil(beat - 1e-9);
  const double into = std::fmod(whole - barStart, barBeats);
  return into == 0.0 ? whole : whole + (into > 0 ? barBeats - into : -into);
}
}  // namespace

void ListenFeed::publish(const ListenReport& report) {
  const std::lock_guard<std::mutex> hold(lock);
  latest = report;
}

ListenReport ListenFeed::take() {
  const std::lock_guard<std::mutex> hold(lock);
  return latest;
}

void ListenHearing::take(const float* piece, std::uint32_t frames) {
  loudness.add(piece, frames);
  const float gain = loudness.gain();
  for (std::uint32_t i = 0; i < frames; ++i, ++report.captured) {
    const float left = piece[2 * i] * gain, right = piece[2 * i + 1] * gain;
    const std::uint32_t at = listenPosition(report.captured);
    playbackBuffer[2 * at] = left;
    playbackBuffer[2 * at + 1] = right;
    if (at < listenWindowFrames) {
      playbackBuffer[2 * (listenRingFrames + at)] = left;
      playbackBuffer[2 * (listenRingFrames + at) + 1] = right;
    }
    mono[monoCount++] = 0.5f * (piece[2 * i] + piece[2 * i + 1]);
    if (monoCount == LiveBeat::hop) {
      beat.feed(mono, report.captured + 1 - LiveBeat::hop);
      monoCount = 0;
    }
  }
}

void ListenHearing::tell(const ListenReport& before) {
  const bool music = loudness.lufs > silenceLufs;
  if (music && !report.music) musicFrom = report.captured;
  if (!music && report.music) report.quietSince = report.captured;
  report.music = music;
  report.locked = beat.locked();
  if (report.locked && !before.locked)
    std::fprintf(stderr, "pulse165: locked: %.1f bpm after %.1f s of sound%s\n", beat.bpm(),
                 static_cast<double>(beat.lockedAt() - std::min(musicFrom, beat.lockedAt())) / sampleRate,
                 newTempo ? " at the new tempo" : "");
  // The same music, heard longer: the lock stands at a relative of the tempo locked on.
  if (beat.corrections > toldCorrections && report.locked && before.locked)
    std::fprintf(stderr, "pulse165: tempo corrected: %.1f bpm, not %.1f\n", beat.bpm(), before.bpm);
  toldCorrections = beat.corrections;
  if (!report.locked && before.locked) {
    newTempo = music;
    if (!music) {
      std::fprintf(stderr, "pulse165: lost the beat: holding %.1f bpm\n", beat.bpm());
    } else {
      std::fprintf(stderr, "pulse165: another tempo: %.1f bpm\n", beat.bpm());
      musicFrom = report.captured;  // the next lock counts from here
    }
  }
  if (!music) newTempo = false;
}

const ListenReport& ListenHearing::publish(std::uint64_t nowNs, std::int32_t heardLead) {
  report.heardLead = heardLead;
  report.capturedNs = nowNs;
  report.beats = beat.clock;
  report.barStart = beat.barStart();
  report.bpm = beat.bpm();
  report.agreeing = beat.agreeing;
  report.gainDb = loudness.gainDb;
  return report;
}

void ListenHearing::skip(std::uint64_t frames) {
  report.captured += frames - frames % LiveBeat::hop;
  monoCount = 0;
}

std::uint64_t listenHeardFrame(const ListenReport& report, std::uint64_t nowNs) {
  const std::uint64_t sinceNs = nowNs > report.capturedNs ? std::min(nowNs - report.capturedNs, longestHoldNs) : 0;
  const std::int64_t heard = static_cast<std::int64_t>(report.captured) + report.heardLead +
                             static_cast<std::int64_t>(sinceNs * sampleRate / 1'000'000'000ull);
  return heard > 0 ? static_cast<std::uint64_t>(heard) : 0;
}

std::uint64_t listenAimedFrame(std::uint64_t heard, std::int64_t ahead, std::uint64_t captured) {
  const std::int64_t aimed = std::max<std::int64_t>(static_cast<std::int64_t>(heard) + ahead, 0);
  const std::uint64_t latest = captured > listenWindowFrames ? captured - listenWindowFrames : 0;
  return std::min(static_cast<std::uint64_t>(aimed), latest);
}

bool EndlessSchedule::follow(const ListenReport& report, double beat, std::uint64_t frame) {
  switch (state) {
    case State::waiting:
    case State::ending:
      if (!report.music || report.bpm <= 0.0) return false;
      state = State::playing;  // the opening, from the next bar
      origin = nextBarStart(beat, report.barStart);
      return true;
    case State::playing: {
      const double quiet = static_cast<double>(frame - std::min(frame, report.quietSince)) / sampleRate;
      if (!report.music && quiet >= fadeAfterSilenceSeconds) {
        state = State::ending;
        origin = std::floor(beat);
        return true;
      }
      // Bars found anew: the nearest start of one, so that scenes change on bars.
      const double off = std::fmod(origin - report.barStart, barBeats);
      const double shift = off < 0 ? off + barBeats : off;
      if (!report.locked || shift == 0.0) return false;
      origin += shift <= barBeats / 2 ? -shift : barBeats - shift;
      return true;
    }
  }
  return false;
}

double EndlessSchedule::showBeat(double musicBeat) const {
  const double into = musicBeat - origin;
  switch (state) {
    case State::waiting:
      return 0.0;
    case State::ending:
      return std::min(fadeStart + std::max(into, 0.0), fadeEnd);
    case State::playing:
      break;
  }
  if (into < openingEnd) return into;
  return openingEnd + std::fmod(into - openingEnd, roundBeats);
}

bool EndlessSchedule::move(double musicBeat, double beats) {
  if (state != State::playing) return false;
  const double now = showBeat(musicBeat);
  origin = std::round(musicBeat - now);  // the same show beat, counted within the first round
  // Back past the opening's start: the bar it is in from the opening's start.
  double step = std::round(beats);
  if (now + step < 0.0 && step < 0.0) step = std::min(-barBeats * std::floor(now / barBeats), 0.0);
  origin -= step;
  return true;
}

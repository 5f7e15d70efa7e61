// EBU R128 loudness and sample peak with libebur128.
#include "audio/loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "audio/sample_rate.h"

float Loudness::gain() const {
  return static_cast<float>(std::pow(10.0, gainDb / 20.0));
}

struct LoudnessMeter::State {
  ebur128_state* meter = nullptr;
};

bool LoudnessMeter::open() {
  state = new State;
  state->meter = ebur128_init(2, sampleRate, EBUR128_MODE_I | EBUR128_MODE_SAMPLE_PEAK);
  return state->meter != nullptr;
}

bool LoudnessMeter::add(const float* stereo, std::size_t frames) {
  if (state == nullptr || state->meter == nullptr) return false;
  fed = fed && ebur128_add_frames_float(state->meter, stereo, frames) == EBUR128_SUCCESS;
  return fed;
}

Loudness LoudnessMeter::finish(double targetLufs) {
  Loudness result;
  result.lufs = result.peakDb = -std::numeric_limits<double>::infinity();
  double lufs = 0.0, left = 0.0, right = 0.0;
  if (state != nullptr && state->meter != nullptr && fed &&
      ebur128_loudness_global(state->meter, &lufs) == EBUR128_SUCCESS &&
      ebur128_sample_peak(state->meter, 0, &left) == EBUR128_SUCCESS &&
      ebur128_sample_peak(state->meter, 1, &right) == EBUR128_SUCCESS) {
    result.lufs = lufs;
    const double peak = std::max(left, right);
    if (peak > 0) result.peakDb = 20.0 * std::log10(peak);
  }
  // Silence (or a track below the gate throughout) keeps its level.
  if (std::isfinite(result.lufs) && std::isfinite(result.peakDb)) {
    result.gainDb = targetLufs - result.lufs;
    if (result.peakDb + result.gainDb > peakCeilingDb) {
      result.gainDb = peakCeilingDb - result.peakDb;
      result.peakLimited = true;
    }
  }
  return result;
}

LoudnessMeter::~LoudnessMeter() {
  if (state != nullptr && state->meter != nullptr) ebur128_destroy(&state->meter);
  delete state;
}

Loudness measureLoudness(const float* stereo, std::int64_t frames, double targetLufs) {
  LoudnessMeter meter;
  constexpr std::int64_t chunk = 1 << 16;
  if (meter.open())
    for (std::int64_t at = 0; at < frames; at += chunk)
      if (!meter.add(stereo + 2 * at, static_cast<std::size_t>(std::min(chunk, frames - at)))) break;
  return meter.finish(targetLufs);
}

void applyGain(float* stereo, std::int64_t frames, float gain) {
  for (std::int64_t i = 0; i < 2 * frames; ++i) stereo[i] *= gain;
}

namespace {
constexpr std::size_t measureFrames = sampleRate / 10;
constexpr double gainSeconds = 1.0;  // the gain's time to move most of the way
}  // namespace

struct RunningLoudness::Meter {
  ebur128_state* state;
};

bool RunningLoudness::open() {
  close();
  ebur128_state* state = ebur128_init(2, sampleRate, EBUR128_MODE_S);
  if (state != nullptr) meter = new Meter{state};
  lufs = -1e9;
  targetDb = gainDb = 0.0;
  sinceMeasure = 0;
  return state != nullptr;
}

void RunningLoudness::add(const float* stereo, std::size_t frames) {
  if (meter == nullptr || frames == 0) return;
  ebur128_add_frames_float(meter->state, stereo, frames);
  sinceMeasure += frames;
  if (sinceMeasure >= measureFrames) {
    sinceMeasure = 0;
    double measured = 0.0, now = 0.0;
    if (ebur128_loudness_shortterm(meter->state, &measured) == EBUR128_SUCCESS) lufs = measured;
    // Sound that has just stopped still lowers the last 3 s: only sound heard now (the
    // last 400 ms) moves the gain.
    const bool sounding = ebur128_loudness_momentary(meter->state, &now) == EBUR128_SUCCESS && now > silenceLufs;
    if (sounding && lufs > silenceLufs) targetDb = std::min(embeddedLoudnessLufs - lufs, largestGainDb);
  }
  const double step = std::min(1.0, static_cast<double>(frames) / (gainSeconds * sampleRate));
  gainDb += (targetDb - gainDb) * step;
}

float RunningLoudness::gain() const {
  return static_cast<float>(std::pow(10.0, gainDb / 20.0));
}

void RunningLoudness::close() {
  if (meter != nullptr) ebur128_destroy(&meter->state);
  delete meter;
  meter = nullptr;
}

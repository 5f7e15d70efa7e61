// The live sound on the page: Web Audio plays the track from one buffer, through a
// gain for muting, and its clock gives the position heard.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <string>

#include "audio/sample_rate.h"
#include "platform/live.h"

namespace {
// clang-format off
// The sound: one AudioContext, one buffer, a gain for muting, and a buffer source for
// each stretch of playing (a seek starts a new one).
EM_JS(int, openPageAudio, (const float* frames, int frameCount, int rate), {
  const Context = window.AudioContext || window.webkitAudioContext;
  if (!Context) return 0;
  let context;
  try {
    context = new Context({sampleRate: rate, latencyHint: 'playback'});
  } catch (e) {
    context = new Context();
  }
  const buffer = context.createBuffer(2, Math.max(frameCount, 1), rate);
  const left = buffer.getChannelData(0);
  const right = buffer.getChannelData(1);
  const samples = HEAPF32.subarray(frames >> 2, (frames >> 2) + 2 * frameCount);
  for (let i = 0; i < frameCount; ++i) {
    left[i] = samples[2 * i];
    right[i] = samples[2 * i + 1];
  }
  const gain = context.createGain();
  gain.connect(context.destination);
  Module.pulse165Audio = {context: context, buffer: buffer, gain: gain, source: null, start: 0, rate: rate};
  return 1;
});

// Plays the buffer from `frame` on, starting now on the context's clock (at once, or
// when a suspended context resumes); the clock's start moves so that now is `frame`.
EM_JS(void, playPageAudioFrom, (double frame), {
  const a = Module.pulse165Audio;
  if (!a) return;
  if (a.source) {
    try { a.source.stop(); } catch (e) {}
    a.source.disconnect();
  }
  const now = a.context.currentTime;
  const offset = frame / a.rate;
  a.source = a.context.createBufferSource();
  a.source.buffer = a.buffer;
  a.source.connect(a.gain);
  if (offset < a.buffer.duration) a.source.start(now, offset);
  a.start = now - offset;
  if (a.context.state === 'suspended' && !a.held) a.context.resume();
});

// Seconds of the track heard: the output timestamp's context time carried on to now,
// where the browser reports a fresh one; otherwise the context's time less the output
// latency. Never beyond what the context has rendered.
EM_JS(double, pageAudioSeconds, (), {
  const a = Module.pulse165Audio;
  if (!a || !a.source) return 0;
  const c = a.context;
  let heard = c.currentTime - (c.outputLatency || c.baseLatency || 0);
  if (c.state === 'running' && c.getOutputTimestamp) {
    const t = c.getOutputTimestamp();
    const since = (performance.now() - t.performanceTime) / 1000;
    if (t.contextTime > 0 && t.performanceTime > 0 && since >= 0 && since < 0.5) heard = t.contextTime + since;
  }
  return Math.min(heard, c.currentTime) - a.start;
});

// The output's latency as the browser reports it, in seconds (0 where it does not).
EM_JS(double, pageAudioLatency, (), {
  const a = Module.pulse165Audio;
  if (!a) return 0;
  return a.context.outputLatency || a.context.baseLatency || 0;
});

// Paused, the context is suspended: no sound, and its clock stands still.
EM_JS(void, holdPageAudio, (int hold), {
  const a = Module.pulse165Audio;
  if (!a) return;
  a.held = hold !== 0;
  if (a.held) a.context.suspend(); else a.context.resume();
});

EM_JS(void, mutePageAudio, (int silent), {
  const a = Module.pulse165Audio;
  if (a) a.gain.gain.value = silent ? 0 : 1;
});

EM_JS(void, closePageAudio, (), {
  const a = Module.pulse165Audio;
  if (!a) return;
  if (a.source) {
    try { a.source.stop(); } catch (e) {}
  }
  a.context.close();
  Module.pulse165Audio = null;
});
// clang-format on
}  // namespace

//----------------------------------------------------------------------------------
// LiveAudio on Web Audio
//----------------------------------------------------------------------------------
// The back end's own: the track's length and the position last reported; the page
// holds the sound.
struct LiveAudio::Device {
  std::uint32_t frameCount = 0;
  std::uint32_t lastReported = 0;  // never report less than this (until a seek)
};

bool LiveAudio::open(const float* playFrames, std::uint32_t playFrameCount, std::string& error) {
  close();
  if (openPageAudio(playFrames, static_cast<int>(playFrameCount), sampleRate) == 0) {
    error = "pulse165: this browser offers no Web Audio";
    return false;
  }
  device = new Device{playFrameCount, 0};
  return true;
}

void LiveAudio::start() {
  if (device != nullptr) playPageAudioFrom(0);
}

std::uint32_t LiveAudio::position() {
  if (device == nullptr) return 0;
  const double played = pageAudioSeconds() * sampleRate;
  const std::uint32_t end = device->frameCount;
  std::uint32_t cursor = played <= 0.0 ? 0 : (played >= end ? end : static_cast<std::uint32_t>(played));
  if (cursor < device->lastReported) cursor = device->lastReported;  // never backwards, and held at a seek's frame
  device->lastReported = cursor;
  return cursor;
}

std::uint32_t LiveAudio::latency() const {
  // Already taken off the position the page reads; for the overlay.
  const double seconds = device != nullptr ? pageAudioLatency() : 0.0;
  return seconds > 0.0 ? static_cast<std::uint32_t>(seconds * sampleRate + 0.5) : 0;
}

const char* LiveAudio::latencySource() const {
  return device != nullptr ? "from the browser" : "";
}

void LiveAudio::seek(std::uint32_t frame) {
  if (device == nullptr) return;
  if (frame > device->frameCount) frame = device->frameCount;
  device->lastReported = frame;
  playPageAudioFrom(frame);
}

// The page plays one song; nothing is queued after it.
std::uint32_t LiveAudio::tracksBegun() const {
  return 0;
}

void LiveAudio::pause() {
  if (device != nullptr) holdPageAudio(1);
}

void LiveAudio::resume() {
  if (device != nullptr) holdPageAudio(0);
}

void LiveAudio::setMuted(bool silent) {
  if (device != nullptr) mutePageAudio(silent ? 1 : 0);
}

void LiveAudio::close() {
  if (device == nullptr) return;
  closePageAudio();
  delete device;
  device = nullptr;
}

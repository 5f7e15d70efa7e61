// The live sound on the page: Web Audio plays the track from one buffer, through a
// gain for muting, and its clock gives the position heard.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <string>

#include "audio/sample_rate.h"
#include "platform/live.h"

// The page's side, in web/js/audio.js.
extern "C" {
int pulse165_openPageAudio(const float* frames, int frameCount, int rate);
void pulse165_playPageAudioFrom(double frame);
double pulse165_pageAudioSeconds();
double pulse165_pageAudioLatency();
void pulse165_holdPageAudio(int hold);
void pulse165_mutePageAudio(int silent);
void pulse165_closePageAudio();
}

namespace {}  // namespace

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
  if (pulse165_openPageAudio(playFrames, static_cast<int>(playFrameCount), sampleRate) == 0) {
    error = "pulse165: this browser offers no Web Audio";
    return false;
  }
  device = new Device{playFrameCount, 0};
  return true;
}

void LiveAudio::start() {
  if (device != nullptr) pulse165_playPageAudioFrom(0);
}

std::uint32_t LiveAudio::position() {
  if (device == nullptr) return 0;
  const double played = pulse165_pageAudioSeconds() * sampleRate;
  const std::uint32_t end = device->frameCount;
  std::uint32_t cursor = played <= 0.0 ? 0 : (played >= end ? end : static_cast<std::uint32_t>(played));
  if (cursor < device->lastReported) cursor = device->lastReported;  // never backwards, and held at a seek's frame
  device->lastReported = cursor;
  return cursor;
}

std::uint32_t LiveAudio::latency() const {
  // Already taken off the position the page reads; for the overlay.
  const double seconds = device != nullptr ? pulse165_pageAudioLatency() : 0.0;
  return seconds > 0.0 ? static_cast<std::uint32_t>(seconds * sampleRate + 0.5) : 0;
}

const char* LiveAudio::latencySource() const {
  return device != nullptr ? "from the browser" : "";
}

void LiveAudio::seek(std::uint32_t frame) {
  if (device == nullptr) return;
  if (frame > device->frameCount) frame = device->frameCount;
  device->lastReported = frame;
  pulse165_playPageAudioFrom(frame);
}

// The page plays one song; nothing is queued after it.
std::uint32_t LiveAudio::tracksBegun() const {
  return 0;
}

void LiveAudio::pause() {
  if (device != nullptr) pulse165_holdPageAudio(1);
}

void LiveAudio::resume() {
  if (device != nullptr) pulse165_holdPageAudio(0);
}

void LiveAudio::setMuted(bool silent) {
  if (device != nullptr) pulse165_mutePageAudio(silent ? 1 : 0);
}

void LiveAudio::close() {
  if (device == nullptr) return;
  pulse165_closePageAudio();
  delete device;
  device = nullptr;
}

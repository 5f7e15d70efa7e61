// The live sound on SDL2: an audio device whose callback feeds the track and
// publishes the play cursor (platform/play_cursor.h).
#include <SDL2/SDL.h>

#include <chrono>
#include <cstring>
#include <string>

#include "audio/sample_rate.h"
#include "platform/live.h"
#include "platform/play_cursor.h"
#include "platform/sdl_quiet.h"

namespace {
constexpr int audioChannels = 2;
constexpr int audioBufferFrames = 1024;  // about 23 ms per callback

void SDLCALL audioCallback(void* user, Uint8* stream, int length) {
  auto* cursor = static_cast<PlayCursor*>(user);
  const auto frames = static_cast<std::uint32_t>(length) / (audioChannels * sizeof(float));
  cursor->fill(reinterpret_cast<float*>(stream), frames, monotonicNanoseconds());
}
}  // namespace

// The back end's own: SDL's device and the cursor its callback feeds.
struct LiveAudio::Device {
  SDL_AudioDeviceID id = 0;
  PlayCursor cursor;
};

std::uint64_t monotonicNanoseconds() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

bool LiveAudio::open(const float* playFrames, std::uint32_t playFrameCount, std::string& error) {
  close();
  device = new Device;
  device->cursor.reset(playFrames, playFrameCount, 0);

  SDL_AudioSpec wanted;
  std::memset(&wanted, 0, sizeof wanted);
  wanted.freq = sampleRate;
  wanted.format = AUDIO_F32SYS;
  wanted.channels = audioChannels;
  wanted.samples = audioBufferFrames;
  wanted.callback = audioCallback;
  wanted.userdata = &device->cursor;
  SDL_AudioSpec obtained;
  std::memset(&obtained, 0, sizeof obtained);

  std::string why;
  {
    QuietStderr quiet;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      why = SDL_GetError();
    } else {
      // No changes allowed: SDL converts to whatever the device really takes.
      device->id = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
      if (device->id == 0) {
        why = SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
      }
    }
  }
  if (device->id == 0) {
    delete device;
    device = nullptr;
    error = "pulse165: cannot open the audio device: " + why + " (try --mute)";
    return false;
  }
  device->cursor.latencyFrames.store(obtained.samples);
  return true;
}

void LiveAudio::start() {
  if (device != nullptr) SDL_PauseAudioDevice(device->id, 0);
}

std::uint32_t LiveAudio::position() {
  return device != nullptr ? device->cursor.positionAt(monotonicNanoseconds()) : 0;
}

std::uint32_t LiveAudio::latency() const {
  return device != nullptr ? device->cursor.latencyFrames.load() : 0;
}

void LiveAudio::seek(std::uint32_t frame) {
  if (device == nullptr) return;
  SDL_LockAudioDevice(device->id);
  device->cursor.moveCursor(frame);
  SDL_UnlockAudioDevice(device->id);
}

void LiveAudio::pause() {
  if (device != nullptr) SDL_PauseAudioDevice(device->id, 1);
}

void LiveAudio::resume() {
  if (device != nullptr) SDL_PauseAudioDevice(device->id, 0);
}

void LiveAudio::setMuted(bool silent) {
  if (device != nullptr) device->cursor.muted.store(silent, std::memory_order_relaxed);
}

void LiveAudio::close() {
  if (device == nullptr) return;
  SDL_CloseAudioDevice(device->id);
  delete device;
  device = nullptr;
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

// The live sound: straight through the sound server where one answers
// (platform/pulse_output.h), which says how late it plays what it is given; otherwise
// an SDL2 audio device, whose latency is taken to be one buffer. Either way a callback
// feeds the track and publishes the play cursor (platform/play_cursor.h).
#include <SDL2/SDL.h>

#include <chrono>
#include <cstring>
#include <string>
#include <string_view>

#include "audio/sample_rate.h"
#include "platform/live.h"
#include "platform/play_cursor.h"
#include "platform/pulse_output.h"
#include "platform/sdl_quiet.h"

namespace {
constexpr int audioChannels = 2;
constexpr int audioBufferFrames = 1024;  // about 23 ms per callback

void SDLCALL audioCallback(void* user, Uint8* stream, int length) {
  auto* cursor = static_cast<PlayCursor*>(user);
  const auto frames = static_cast<std::uint32_t>(length) / (audioChannels * sizeof(float));
  cursor->fill(reinterpret_cast<float*>(stream), frames, monotonicNanoseconds());
}

// The sound server is asked first unless SDL is told to use another driver (by the
// hint, or SDL_AUDIODRIVER in the environment, which the hint reads).
bool trySoundServer() {
  const char* driver = SDL_GetHint(SDL_HINT_AUDIODRIVER);
  return driver == nullptr || *driver == '\0' || std::string_view(driver) == "pulseaudio" ||
         std::string_view(driver) == "pulse";
}
}  // namespace

// The back end's own: the sound server's stream or SDL's device, and the cursor that
// feeds either.
struct LiveAudio::Device {
  PulseOutput server;
  SDL_AudioDeviceID id = 0;
  PlayCursor cursor;
  bool throughServer() const { return server.stream != nullptr; }
};

namespace {
// Does `act` to the cursor while the device's feeding waits: the sound server's thread
// or SDL's callback.
template <typename Act>
void withCursor(LiveAudio::Device& device, Act act) {
  if (device.throughServer()) {
    device.server.lock();
    act(device.cursor);
    device.server.unlock();
    return;
  }
  SDL_LockAudioDevice(device.id);
  act(device.cursor);
  SDL_UnlockAudioDevice(device.id);
}
}  // namespace

std::uint64_t monotonicNanoseconds() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

bool LiveAudio::open(const float* playFrames, std::uint32_t playFrameCount, std::string& error) {
  close();
  device = new Device;
  device->cursor.reset(playFrames, playFrameCount, 0);
  std::string serverWhy;
  if (trySoundServer() && device->server.open(device->cursor, serverWhy)) return true;

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
  resume();
}

std::uint32_t LiveAudio::position() {
  if (device == nullptr) return 0;
  if (device->throughServer()) return device->server.position();
  // Locked: the callback moves the cursor on to the next track.
  std::uint32_t position = 0;
  withCursor(*device, [&position](PlayCursor& cursor) { position = cursor.positionAt(monotonicNanoseconds()); });
  return position;
}

std::uint32_t LiveAudio::tracksBegun() const {
  return device != nullptr ? device->cursor.tracksSeen : 0;
}

void LiveAudio::queue(const float* frames, std::uint32_t frameCount) {
  if (device != nullptr) withCursor(*device, [=](PlayCursor& cursor) { cursor.queueTrack(frames, frameCount); });
}

std::uint32_t LiveAudio::latency() const {
  if (device == nullptr) return 0;
  return device->throughServer() ? device->server.latency() : device->cursor.latencyFrames.load();
}

const char* LiveAudio::latencySource() const {
  if (device == nullptr) return "";
  return device->throughServer() ? "from the sound server" : "estimated";
}

void LiveAudio::seek(std::uint32_t frame) {
  if (device != nullptr) withCursor(*device, [frame](PlayCursor& cursor) { cursor.moveCursor(frame); });
}

void LiveAudio::change(const float* frames, std::uint32_t frameCount) {
  if (device != nullptr) withCursor(*device, [=](PlayCursor& cursor) { cursor.changeTrack(frames, frameCount); });
}

void LiveAudio::pause() {
  if (device == nullptr) return;
  if (device->throughServer()) {
    device->server.hold(true);
  } else {
    SDL_PauseAudioDevice(device->id, 1);
  }
}

void LiveAudio::resume() {
  if (device == nullptr) return;
  if (device->throughServer()) {
    device->server.hold(false);
  } else {
    SDL_PauseAudioDevice(device->id, 0);
  }
}

void LiveAudio::setMuted(bool silent) {
  if (device != nullptr) device->cursor.muted.store(silent, std::memory_order_relaxed);
}

void LiveAudio::close() {
  if (device == nullptr) return;
  if (device->throughServer()) {
    device->server.close();
  } else {
    SDL_CloseAudioDevice(device->id);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  delete device;
  device = nullptr;
}

// What the sound server's playback and capture share: a threaded main loop connected
// to the server (never starting one), streams waited for until they are ready, and the
// teardown. Every call here but connect and disconnect expects the loop held.
#pragma once

#include <pulse/pulseaudio.h>

#include <cstddef>
#include <cstdint>
#include <string>

struct PulseServer {
  pa_threaded_mainloop* loop = nullptr;
  pa_context* context = nullptr;

  // Connects as `name`; the loop is held on return, true or false. False, with the
  // reason, where no server answers within 3 s.
  bool connect(const char* name, std::string& why);
  // Every stream carries the show's sound: interleaved stereo floats at 44,100 Hz.
  static constexpr int channels = 2;
  static constexpr std::size_t frameBytes = channels * sizeof(float);
  // A new stream of that sound, named for the server's lists (null where refused),
  // and the bytes of it that `microseconds` hold.
  pa_stream* newStream(const char* name) const;
  static std::uint32_t bytesFor(pa_usec_t microseconds);
  // Waits, the loop held, until the stream is ready (true) or has failed (false).
  bool waitReady(pa_stream* stream);
  // Waits, the loop held, until an operation is done, and lets it go.
  void finish(pa_operation* operation);
  // Disconnects `stream` (where not null) and the context, and stops the loop.
  void disconnect(pa_stream*& stream);
};

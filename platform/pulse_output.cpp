// The live sound through PulseAudio's threaded main loop: the server asks for sound on
// its thread, the cursor fills what it asks for, and the stream's timing (updated by
// the server, interpolated between updates) says how much of it is yet to be heard.
#include "platform/pulse_output.h"

#include <pulse/pulseaudio.h>

#include "audio/sample_rate.h"
#include "platform/latency.h"
#include "platform/live.h"
#include "platform/play_cursor.h"
#include "platform/pulse_server.h"

namespace {
constexpr std::size_t frameBytes = PulseServer::frameBytes;
constexpr pa_usec_t targetLatencyUs = 40'000;  // the server's buffer and the sink's together

// On the server's thread: as much sound as it asks for, from the cursor.
void writeSound(pa_stream* stream, std::size_t bytes, void* user) {
  PlayCursor& cursor = *static_cast<PlayCursor*>(user);
  while (bytes >= frameBytes) {
    void* data = nullptr;
    std::size_t size = bytes;
    if (pa_stream_begin_write(stream, &data, &size) < 0 || data == nullptr) return;
    size -= size % frameBytes;
    if (size == 0) {
      pa_stream_cancel_write(stream);
      return;
    }
    cursor.fill(static_cast<float*>(data), static_cast<std::uint32_t>(size / frameBytes), monotonicNanoseconds());
    if (pa_stream_write(stream, data, size, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
    bytes = size < bytes ? bytes - size : 0;
  }
}

}  // namespace

bool PulseOutput::open(PlayCursor& playCursor, std::string& why) {
  close();
  cursor = &playCursor;
  bool ready = server.connect("pulse165", why);
  if (ready) {
    stream = server.newStream("pulse165");
    if (stream != nullptr) {
      pa_stream_set_write_callback(stream, writeSound, cursor);
      pa_buffer_attr attributes;
      attributes.maxlength = static_cast<std::uint32_t>(-1);
      attributes.tlength = PulseServer::bytesFor(targetLatencyUs);
      attributes.prebuf = static_cast<std::uint32_t>(-1);
      attributes.minreq = static_cast<std::uint32_t>(-1);
      attributes.fragsize = static_cast<std::uint32_t>(-1);
      const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_INTERPOLATE_TIMING |
                                                        PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
      ready = pa_stream_connect_playback(stream, nullptr, &attributes, flags, nullptr, nullptr) >= 0 &&
              server.waitReady(stream);
    } else {
      ready = false;
    }
    if (!ready)
      why = std::string("the sound server refused the stream: ") + pa_strerror(pa_context_errno(server.context));
  }
  latencyFrames = microsecondsToFrames(targetLatencyUs);
  if (server.loop != nullptr) pa_threaded_mainloop_unlock(server.loop);
  if (!ready) close();
  return ready;
}

void PulseOutput::start() {
  hold(false);
}

void PulseOutput::hold(bool held) {
  if (stream == nullptr) return;
  pa_threaded_mainloop_lock(server.loop);
  if (pa_operation* done = pa_stream_cork(stream, held ? 1 : 0, nullptr, nullptr)) pa_operation_unref(done);
  pa_threaded_mainloop_unlock(server.loop);
}

std::uint32_t PulseOutput::position() {
  if (stream == nullptr) return 0;
  pa_threaded_mainloop_lock(server.loop);
  cursor->followTrack();
  if (pa_stream_get_state(stream) != PA_STREAM_READY) {
    // The server went away: the show plays on silently, on the computer's clock.
    // From where it was, or where a seek has put it since.
    pa_threaded_mainloop_unlock(server.loop);
    const std::uint64_t now = monotonicNanoseconds();
    if (lostAtNs == 0 || cursor->lastReported != lostReturned) {
      lostAtNs = now;
      lostFrom = cursor->lastReported;
    }
    const std::uint64_t heard = lostFrom + (now - lostAtNs) * sampleRate / 1'000'000'000u;
    cursor->lastReported = lostReturned =
        heard < cursor->frameCount ? static_cast<std::uint32_t>(heard) : cursor->frameCount;
    return lostReturned;
  }
  pa_usec_t latencyUs = 0;
  int negative = 0;
  // Before the server's first timing report, the latency asked for stands in.
  if (pa_stream_get_latency(stream, &latencyUs, &negative) == 0)
    latencyFrames = negative ? 0 : microsecondsToFrames(latencyUs);
  const std::uint32_t heard = heardFrame(cursor->handedOver.load(std::memory_order_relaxed), latencyFrames,
                                         cursor->lastReported, cursor->frameCount);
  pa_threaded_mainloop_unlock(server.loop);
  cursor->lastReported = heard;
  return heard;
}

void PulseOutput::lock() {
  if (server.loop != nullptr) pa_threaded_mainloop_lock(server.loop);
}

void PulseOutput::unlock() {
  if (server.loop != nullptr) pa_threaded_mainloop_unlock(server.loop);
}

void PulseOutput::close() {
  server.disconnect(stream);
  cursor = nullptr;
}

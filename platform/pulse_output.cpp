// The live sound through PulseAudio's threaded main loop: the server asks for sound on
// its thread, the cursor fills what it asks for, and the stream's timing (updated by
// the server, interpolated between updates) says how much of it is yet to be heard.
#include "platform/pulse_output.h"

#include <pulse/pulseaudio.h>
#include <time.h>

#include "audio/sample_rate.h"
#include "platform/latency.h"
#include "platform/live.h"
#include "platform/play_cursor.h"

namespace {
constexpr int audioChannels = 2;
constexpr std::size_t frameBytes = audioChannels * sizeof(float);
constexpr pa_usec_t targetLatencyUs = 40'000;              // the server's buffer and the sink's together
constexpr std::uint64_t connectTimeoutNs = 3'000'000'000;  // a server that never answers is none
constexpr long pollNs = 5'000'000;

void signalLoop(void* loop) {
  pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}
void contextChanged(pa_context*, void* loop) {
  signalLoop(loop);
}
void streamChanged(pa_stream*, void* loop) {
  signalLoop(loop);
}

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

// Waits, the loop locked, until `ready` says yes or no; no after the timeout.
template <typename Ready>
bool waitFor(pa_threaded_mainloop* loop, Ready ready) {
  const std::uint64_t start = monotonicNanoseconds();
  for (;;) {
    const int state = ready();
    if (state != 0) return state > 0;
    if (monotonicNanoseconds() - start > connectTimeoutNs) return false;
    pa_threaded_mainloop_unlock(loop);
    const timespec pause{0, pollNs};
    nanosleep(&pause, nullptr);
    pa_threaded_mainloop_lock(loop);
  }
}
}  // namespace

bool PulseOutput::open(PlayCursor& playCursor, std::string& why) {
  close();
  cursor = &playCursor;
  loop = pa_threaded_mainloop_new();
  if (loop == nullptr) {
    why = "no PulseAudio main loop";
    return false;
  }
  context = pa_context_new(pa_threaded_mainloop_get_api(loop), "pulse165");
  if (context == nullptr) {
    why = "no PulseAudio context";
    close();
    return false;
  }
  pa_context_set_state_callback(context, contextChanged, loop);
  pa_threaded_mainloop_lock(loop);
  bool ready = pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
               pa_threaded_mainloop_start(loop) >= 0 && waitFor(loop, [this] {
                 const pa_context_state_t state = pa_context_get_state(context);
                 return state == PA_CONTEXT_READY ? 1 : PA_CONTEXT_IS_GOOD(state) ? 0 : -1;
               });
  if (!ready) {
    why = std::string("no sound server: ") + pa_strerror(pa_context_errno(context));
  } else {
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(sampleRate), audioChannels};
    stream = pa_stream_new(context, "pulse165", &spec, nullptr);
    if (stream != nullptr) {
      pa_stream_set_state_callback(stream, streamChanged, loop);
      pa_stream_set_write_callback(stream, writeSound, cursor);
      pa_buffer_attr attributes;
      attributes.maxlength = static_cast<std::uint32_t>(-1);
      attributes.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(targetLatencyUs, &spec));
      attributes.prebuf = static_cast<std::uint32_t>(-1);
      attributes.minreq = static_cast<std::uint32_t>(-1);
      attributes.fragsize = static_cast<std::uint32_t>(-1);
      const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_INTERPOLATE_TIMING |
                                                        PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
      ready = pa_stream_connect_playback(stream, nullptr, &attributes, flags, nullptr, nullptr) >= 0 &&
              waitFor(loop, [this] {
                const pa_stream_state_t state = pa_stream_get_state(stream);
                return state == PA_STREAM_READY ? 1 : PA_STREAM_IS_GOOD(state) ? 0 : -1;
              });
    } else {
      ready = false;
    }
    if (!ready) why = std::string("the sound server refused the stream: ") + pa_strerror(pa_context_errno(context));
  }
  latencyFrames = microsecondsToFrames(targetLatencyUs);
  pa_threaded_mainloop_unlock(loop);
  if (!ready) close();
  return ready;
}

void PulseOutput::start() {
  hold(false);
}

void PulseOutput::hold(bool held) {
  if (stream == nullptr) return;
  pa_threaded_mainloop_lock(loop);
  if (pa_operation* done = pa_stream_cork(stream, held ? 1 : 0, nullptr, nullptr)) pa_operation_unref(done);
  pa_threaded_mainloop_unlock(loop);
}

std::uint32_t PulseOutput::position() {
  if (stream == nullptr) return 0;
  pa_threaded_mainloop_lock(loop);
  if (pa_stream_get_state(stream) != PA_STREAM_READY) {
    // The server went away: the show plays on silently, on the computer's clock.
    // From where it was, or where a seek has put it since.
    pa_threaded_mainloop_unlock(loop);
    const std::uint64_t now = monotonicNanoseconds();
    if (lostAtNs == 0 || cursor->lastReported != lostReturned) {
      lostAtNs = now;
      lostFrom = cursor->lastReported;
    }
    const std::uint64_t heard = lostFrom + (now - lostAtNs) * sampleRate / 1'000'000'000u;
    cursor->lastReported = lostReturned = heard < cursor->frameCount ? static_cast<std::uint32_t>(heard) : cursor->frameCount;
    return lostReturned;
  }
  pa_usec_t latencyUs = 0;
  int negative = 0;
  // Before the server's first timing report, the latency asked for stands in.
  if (pa_stream_get_latency(stream, &latencyUs, &negative) == 0)
    latencyFrames = negative ? 0 : microsecondsToFrames(latencyUs);
  const std::uint32_t heard = heardFrame(cursor->handedOver.load(std::memory_order_relaxed), latencyFrames,
                                         cursor->lastReported, cursor->frameCount);
  pa_threaded_mainloop_unlock(loop);
  cursor->lastReported = heard;
  return heard;
}

void PulseOutput::lock() {
  if (loop != nullptr) pa_threaded_mainloop_lock(loop);
}

void PulseOutput::unlock() {
  if (loop != nullptr) pa_threaded_mainloop_unlock(loop);
}

void PulseOutput::close() {
  if (loop != nullptr) {
    pa_threaded_mainloop_lock(loop);
    if (stream != nullptr) {
      pa_stream_set_write_callback(stream, nullptr, nullptr);
      pa_stream_disconnect(stream);
      pa_stream_unref(stream);
    }
    if (context != nullptr) {
      pa_context_disconnect(context);
      pa_context_unref(context);
    }
    pa_threaded_mainloop_unlock(loop);
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
  }
  stream = nullptr;
  context = nullptr;
  loop = nullptr;
  cursor = nullptr;
}

// The connection to the sound server, shared by playback and capture.
#include "platform/pulse_server.h"

#include <time.h>

#include <cstdint>

#include "audio/sample_rate.h"
#include "platform/live.h"

namespace {
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

// Waits, the loop held, until `ready` says yes (1) or no (-1); no after the timeout.
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

bool PulseServer::connect(const char* name, std::string& why) {
  loop = pa_threaded_mainloop_new();
  if (loop == nullptr) {
    why = "no PulseAudio main loop";
    return false;
  }
  pa_threaded_mainloop_lock(loop);
  context = pa_context_new(pa_threaded_mainloop_get_api(loop), name);
  if (context == nullptr) {
    why = "no PulseAudio context";
    return false;
  }
  pa_context_set_state_callback(context, contextChanged, loop);
  const bool ready = pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
                     pa_threaded_mainloop_start(loop) >= 0 && waitFor(loop, [this] {
                       const pa_context_state_t state = pa_context_get_state(context);
                       return state == PA_CONTEXT_READY ? 1 : PA_CONTEXT_IS_GOOD(state) ? 0 : -1;
                     });
  if (!ready) why = std::string("no sound server: ") + pa_strerror(pa_context_errno(context));
  return ready;
}

namespace {
pa_sample_spec soundFormat() {
  return pa_sample_spec{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(sampleRate), PulseServer::channels};
}
}  // namespace

pa_stream* PulseServer::newStream(const char* name) const {
  const pa_sample_spec format = soundFormat();
  return pa_stream_new(context, name, &format, nullptr);
}

std::uint32_t PulseServer::bytesFor(pa_usec_t microseconds) {
  const pa_sample_spec format = soundFormat();
  return static_cast<std::uint32_t>(pa_usec_to_bytes(microseconds, &format));
}

bool PulseServer::waitReady(pa_stream* stream) {
  pa_stream_set_state_callback(stream, streamChanged, loop);
  return waitFor(loop, [stream] {
    const pa_stream_state_t state = pa_stream_get_state(stream);
    return state == PA_STREAM_READY ? 1 : PA_STREAM_IS_GOOD(state) ? 0 : -1;
  });
}

void PulseServer::finish(pa_operation* operation) {
  if (operation == nullptr) return;
  waitFor(loop, [operation] { return pa_operation_get_state(operation) == PA_OPERATION_RUNNING ? 0 : 1; });
  pa_operation_unref(operation);
}

void PulseServer::disconnect(pa_stream*& stream) {
  if (loop == nullptr) return;
  pa_threaded_mainloop_lock(loop);
  if (stream != nullptr) {
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
  }
  if (context != nullptr) {
    pa_context_disconnect(context);
    pa_context_unref(context);
    context = nullptr;
  }
  pa_threaded_mainloop_unlock(loop);
  pa_threaded_mainloop_stop(loop);
  pa_threaded_mainloop_free(loop);
  loop = nullptr;
}

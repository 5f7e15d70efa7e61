// Capture from the sound server: its sources listed, and one recorded into a ring on
// the server's thread.
#include "platform/pulse_capture.h"

#include <pulse/pulseaudio.h>

#include <algorithm>

#include "platform/latency.h"
#include "platform/pulse_server.h"

namespace {
constexpr int audioChannels = PulseServer::channels;
constexpr std::size_t frameBytes = PulseServer::frameBytes;
constexpr pa_usec_t fragmentUs = 10'000;  // the server hands over what it captured every 10 ms

// What the server says of itself and of its sources, gathered on its thread.
struct Listing {
  std::string defaultSink;
  std::string defaultMonitor;
  std::vector<CaptureSource>* sources = nullptr;
};

void takeServerInfo(pa_context*, const pa_server_info* info, void* user) {
  if (info != nullptr && info->default_sink_name != nullptr)
    static_cast<Listing*>(user)->defaultSink = info->default_sink_name;
}

void takeSinkInfo(pa_context*, const pa_sink_info* info, int end, void* user) {
  if (end == 0 && info != nullptr && info->monitor_source_name != nullptr)
    static_cast<Listing*>(user)->defaultMonitor = info->monitor_source_name;
}

void takeSourceInfo(pa_context*, const pa_source_info* info, int end, void* user) {
  if (end != 0 || info == nullptr) return;
  Listing& listing = *static_cast<Listing*>(user);
  CaptureSource source;
  source.name = info->name != nullptr ? info->name : "";
  source.description = info->description != nullptr ? info->description : source.name;
  source.monitor = info->monitor_of_sink != PA_INVALID_INDEX;
  source.isDefault = source.name == listing.defaultMonitor;
  listing.sources->push_back(source);
}

// The default output's monitor, then every source (the server's thread held).
void list(PulseServer& server, Listing& listing) {
  server.finish(pa_context_get_server_info(server.context, takeServerInfo, &listing));
  if (!listing.defaultSink.empty())
    server.finish(
        pa_context_get_sink_info_by_name(server.context, listing.defaultSink.c_str(), takeSinkInfo, &listing));
  server.finish(pa_context_get_source_info_list(server.context, takeSourceInfo, &listing));
}

// On the server's thread: what it captured, into the ring (a hole as silence).
void readSound(pa_stream* stream, std::size_t, void* user) {
  PulseCapture& capture = *static_cast<PulseCapture*>(user);
  while (pa_stream_readable_size(stream) > 0) {
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
    const auto* samples = static_cast<const float*>(data);
    for (std::size_t frame = 0; frame < bytes / frameBytes; ++frame, ++capture.written) {
      float* to = &capture.ring[(capture.written % PulseCapture::ringFrames) * audioChannels];
      to[0] = samples != nullptr ? samples[frame * audioChannels] : 0.0f;
      to[1] = samples != nullptr ? samples[frame * audioChannels + 1] : 0.0f;
    }
    pa_stream_drop(stream);
  }
}
}  // namespace

bool listCaptureSources(std::vector<CaptureSource>& sources, std::string& why) {
  sources.clear();
  PulseServer server;
  pa_stream* none = nullptr;
  const bool connected = server.connect("pulse165", why);
  if (connected) {
    Listing listing;
    listing.sources = &sources;
    list(server, listing);
  }
  if (server.loop != nullptr) pa_threaded_mainloop_unlock(server.loop);
  server.disconnect(none);
  return connected;
}

bool PulseCapture::open(const std::string& source, std::string& why) {
  close();
  ring.assign(static_cast<std::size_t>(ringFrames) * audioChannels, 0.0f);
  PulseServer& server = connection;
  bool ready = server.connect("pulse165", why);
  if (ready) {
    // The source wanted, by name; by default the monitor of the default output.
    std::vector<CaptureSource> sources;
    Listing listing;
    listing.sources = &sources;
    list(server, listing);
    const std::string wanted = source.empty() ? listing.defaultMonitor : source;
    const auto found =
        std::find_if(sources.begin(), sources.end(), [&](const CaptureSource& s) { return s.name == wanted; });
    if (found == sources.end()) {
      why = wanted.empty() ? "the sound server has no default output" : "no source named " + wanted;
      ready = false;
    } else {
      sourceName = found->name;
      sourceDescription = found->description;
      stream = server.newStream("pulse165 listening");
      if (stream != nullptr) {
        pa_stream_set_read_callback(stream, readSound, this);
        pa_buffer_attr attributes;
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.fragsize = PulseServer::bytesFor(fragmentUs);
        attributes.tlength = attributes.prebuf = attributes.minreq = static_cast<std::uint32_t>(-1);
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                                          PA_STREAM_ADJUST_LATENCY);
        ready =
            pa_stream_connect_record(stream, sourceName.c_str(), &attributes, flags) >= 0 && server.waitReady(stream);
      } else {
        ready = false;
      }
      if (!ready)
        why = "the sound server refused to record " + sourceName + ": " + pa_strerror(pa_context_errno(server.context));
    }
  }
  if (server.loop != nullptr) pa_threaded_mainloop_unlock(server.loop);
  if (!ready) close();
  return ready;
}

std::uint32_t PulseCapture::read(float* stereo, std::uint32_t frames) {
  if (stream == nullptr) return 0;
  pa_threaded_mainloop_lock(connection.loop);
  if (written - taken > ringFrames) {
    lostFrames += written - taken - ringFrames;
    taken = written - ringFrames;
  }
  const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(frames, written - taken));
  for (std::uint32_t i = 0; i < count; ++i, ++taken) {
    const float* from = &ring[(taken % ringFrames) * audioChannels];
    stereo[i * audioChannels] = from[0];
    stereo[i * audioChannels + 1] = from[1];
  }
  pa_threaded_mainloop_unlock(connection.loop);
  return count;
}

std::int32_t PulseCapture::latency() {
  if (stream == nullptr) return 0;
  pa_threaded_mainloop_lock(connection.loop);
  pa_usec_t latencyUs = 0;
  int negative = 0;
  const bool known = pa_stream_get_latency(stream, &latencyUs, &negative) == 0;
  const std::uint64_t waiting = std::min<std::uint64_t>(written - taken, ringFrames);
  pa_threaded_mainloop_unlock(connection.loop);
  const auto server = known ? static_cast<std::int32_t>(microsecondsToFrames(latencyUs)) : 0;
  return (negative != 0 ? -server : server) + static_cast<std::int32_t>(waiting);
}

bool PulseCapture::failed() {
  if (stream == nullptr) return true;
  pa_threaded_mainloop_lock(connection.loop);
  const bool gone =
      pa_context_get_state(connection.context) != PA_CONTEXT_READY || pa_stream_get_state(stream) != PA_STREAM_READY;
  pa_threaded_mainloop_unlock(connection.loop);
  return gone;
}

void PulseCapture::close() {
  connection.disconnect(stream);
  sourceName.clear();
  sourceDescription.clear();
  lostFrames = written = taken = 0;
}

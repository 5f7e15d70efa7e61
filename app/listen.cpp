// Listening: the capture opened, the listener's thread (the sound into the ring at its
// loudness, its beat followed, a report after each piece), and the live show on it.
#include "app/listen.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/options.h"
#include "app/run.h"
#include "app/start_up.h"
#include "audio/live_beat.h"
#include "audio/loudness.h"
#include "audio/playback.h"
#include "platform/live.h"
#include "platform/pulse_capture.h"
#include "show/live_loop.h"
#include "show/music_source.h"
#include "show/player.h"

namespace {
constexpr std::uint32_t pieceFrames = 1024;       // taken from the capture at a time
constexpr int idleWaitMs = 5;                     // between looks at a capture with nothing new
constexpr std::uint64_t retryNs = 2'000'000'000;  // a lost source is tried again this often
constexpr const char* serverHint =
    "start PulseAudio or PipeWire's PulseAudio service (pipewire-pulse), or check PULSE_SERVER";

// The source named on the command line: a name, or a number in --listen=list's order.
// Empty `wanted`: the default (the default output's monitor).
bool findSource(const std::string& wanted, std::string& name, std::string& error, int& code) {
  std::vector<CaptureSource> sources;
  std::string why;
  if (!listCaptureSources(sources, why)) {
    error = "cannot listen: no sound server answers (" + why + "): " + serverHint;
    code = exitEnvironment;
    return false;
  }
  if (sources.empty()) {
    error = "cannot listen: the sound server has no capture source";
    code = exitEnvironment;
    return false;
  }
  if (wanted.empty()) {
    name.clear();
    return true;
  }
  int number = 0;
  if (parseCount(wanted, 1, static_cast<int>(sources.size()), number)) {
    name = sources[number - 1].name;
    return true;
  }
  for (const CaptureSource& source : sources)
    if (source.name == wanted || source.description == wanted) {
      name = source.name;
      return true;
    }
  error = "no capture source '" + wanted + "'; the sound server has:";
  for (std::size_t i = 0; i < sources.size(); ++i)
    error += "\n  " + std::to_string(i + 1) + "  " + sources[i].name + " (" + sources[i].description + ")";
  code = exitUsage;
  return false;
}

// The thread that hears: the capture, and what it hears into the show.
struct Listener {
  std::string source;  // the name asked for; empty for the default
  PulseCapture capture;
  ListenHearing hearing;
  ListenFeed* feed = nullptr;
  std::atomic<bool> stopping{false};
  std::thread thread;

  std::vector<float> piece = std::vector<float>(2 * pieceFrames);

  void start() {
    thread = std::thread([this] { run(); });
    pthread_setname_np(thread.native_handle(), "pulse165 listen");  // for top -H and ps -L
  }
  void stop() {
    stopping = true;
    if (thread.joinable()) thread.join();
  }

  // A source that went away: the picture holds (nothing new is captured); tried again
  // every 2 s, the time away counted as a gap that the beat runs across.
  void reopen() {
    std::fprintf(stderr, "pulse165: lost %s: trying again every 2 s\n", feed->source);
    hearing.report.lost = true;
    feed->publish(hearing.report);
    const std::uint64_t lostNs = monotonicNanoseconds();
    std::uint64_t lastTry = lostNs;
    std::string why;
    while (!stopping) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const std::uint64_t nowNs = monotonicNanoseconds();
      if (nowNs - lastTry < retryNs) continue;
      lastTry = nowNs;
      if (!capture.open(source, why)) continue;
      hearing.skip((nowNs - lostNs) * sampleRate / 1'000'000'000ull);
      hearing.report.lost = false;
      std::fprintf(stderr, "pulse165: listening to %s\n", capture.sourceDescription.c_str());
      return;
    }
  }

  void run() {
    while (!stopping) {
      if (capture.failed()) {
        reopen();
        continue;
      }
      const std::uint32_t frames = capture.read(piece.data(), pieceFrames);
      if (frames == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(idleWaitMs));
        continue;
      }
      const ListenReport before = hearing.report;
      hearing.take(piece.data(), frames);
      hearing.tell(before);
      feed->publish(hearing.publish(monotonicNanoseconds(), capture.latency()));
    }
  }
};
}  // namespace

int listCaptureSourcesToStdout() {
  std::vector<CaptureSource> sources;
  std::string why;
  if (!listCaptureSources(sources, why))
    return reportFailure(exitEnvironment,
                         "cannot list capture sources: no sound server answers (" + why + "): " + serverHint);
  for (std::size_t i = 0; i < sources.size(); ++i)
    std::printf("%2zu %c %s (%s%s)\n", i + 1, sources[i].isDefault ? '*' : ' ', sources[i].name.c_str(),
                sources[i].description.c_str(), sources[i].monitor ? ", what an output plays" : "");
  if (sources.empty()) std::printf("(no capture sources)\n");
  return 0;
}

namespace {
// The live show on what it hears; on a failure to start, its exit code with its line in `error`.
int listenLive(const Options& options, std::string& error) {
  Listener listener;
  int code = 0;
  if (!findSource(options.listenSource, listener.source, error, code)) return code;
  if (!listener.capture.open(listener.source, error)) {
    error = "cannot listen: " + error;
    return exitEnvironment;
  }
  if (!listener.hearing.open()) {
    error = "cannot listen: the beat or loudness analysis cannot start";
    return exitEnvironment;
  }
  const std::string description = listener.capture.sourceDescription;
  std::fprintf(stderr, "pulse165: listening to %s\n", description.c_str());

  LiveWindow window;
  if (const int code = openLiveWindow(options, window, error); code != 0) return code;
  startShow(listeningMusic(), nullptr, 0, window.clientWidth, window.clientHeight, &window);

  ListenFeed feed;
  feed.source = description.c_str();
  listener.feed = &feed;
  listener.start();
  PlayClock clock;
  clock.listen = &feed;
  clock.avOffsetMs = options.avOffsetMs;
  LivePlayer player;
  player.start(window);
  const int result = runFrameLoop(window, clock, player);
  listener.stop();
  return result;
}
}  // namespace

int runListening(const Options& options) {
  std::string error;
  const int code = listenLive(options, error);
  if (error.empty()) return code;
  if (code == exitUsage && error.rfind("no capture source", 0) == 0)
    reportMisuse(error);
  else
    reportFailure(code, error);
  tellDesktop(options, error);
  return code;
}

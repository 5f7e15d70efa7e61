// Start-up and shutdown: the live show on SDL2, and headless runs on EGL.
#include "app/run.h"

#include <GL/gl.h>
#include <SDL.h>
#include <malloc.h>
#include <unistd.h>
#include <vorbis/codec.h>
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/display.h"
#include "app/output.h"
#include "app/track.h"
#include "audio/playback.h"
#include "platform/headless.h"
#include "platform/image.h"
#include "platform/live.h"
#include "resources/embedded.h"
#include "show/frame.h"
#include "show/player.h"

namespace {
constexpr int screenshotFps = 60;
constexpr std::uint32_t screenshotLeadIn = 3 * sampleRate;  // frames rendered before the moment

// One line on stderr; the platform's messages already name the program.
int fail(int code, const std::string& what) {
  const char* prefix = what.rfind("pulse165: ", 0) == 0 ? "" : "pulse165: ";
  std::fprintf(stderr, "%s%s\n", prefix, what.c_str());
  return code;
}
}  // namespace

std::uint32_t virtualPosition(std::uint64_t frame, int fps) {
  return static_cast<std::uint32_t>(frame * sampleRate / static_cast<std::uint64_t>(fps));
}

std::uint64_t firstFrameAtOrAfter(std::uint32_t position, int fps) {
  // ceil(position x fps / 44,100), exact in integers.
  return (static_cast<std::uint64_t>(position) * fps + sampleRate - 1) / sampleRate;
}

namespace {
// The live show up to its end; on a failure to start, the exit code with its line in
// `error`. The window and the audio device are gone when it returns.
int playLive(const Options& options, std::string& error) {
  TrackBytes track;
  if (!loadTrack(options.trackPath, track, error)) return exitUsage;

  LiveWindow window;
  window.fullScreen = !options.windowed;
  window.requestWidth = options.windowWidth;
  window.requestHeight = options.windowHeight;
  window.displayIndex = options.display;
  if (!window.open(error)) return window.displayOutOfRange ? exitUsage : exitEnvironment;

  initialiseShow(track.data, track.size, window.clientWidth, window.clientHeight, &window);

  // Playback starts at --from (0 for the show as it is); the clock counts from there.
  PlayClock clock;
  LiveAudio audio;
  if (options.mute) {
    clock.startFrame = options.fromPosition;
    clock.startNs = monotonicNanoseconds();
  } else {
    if (!audio.open(playbackBuffer, playbackFrameCount, error)) return exitEnvironment;
    if (options.fromPosition > 0) audio.seek(options.fromPosition);
    audio.start();
    clock.audio = &audio;
  }
  LivePlayer player;
  player.loop = options.loop;
  player.start(window);
  return runFrameLoop(window, clock, player);
}
}  // namespace

int runLiveShow(const Options& options) {
  std::string error;
  const int code = playLive(options, error);
  if (error.empty()) return code;
  fail(code, error);
  // Started from the menu, nobody reads stderr: the same line in a message box.
  if (isatty(STDERR_FILENO) == 0) {
    const std::string line = error.rfind("pulse165: ", 0) == 0 ? error.substr(10) : error;
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "pulse165 cannot start", line.c_str(), nullptr);
  }
  return code;
}

int runScreenshot(const Options& options) {
  std::string error;
  TrackBytes track;
  if (!loadTrack(options.trackPath, track, error)) return fail(exitUsage, error);
  const std::string probe = options.screenshotPath + ".probe-" + std::to_string(getpid());
  if (!checkOutputPath(options.screenshotPath, probe, "write", error)) return fail(exitUsage, error);
  HeadlessContext context;
  if (!context.open(options.width, options.height, error)) return fail(exitEnvironment, error);
  initialiseShow(track.data, track.size, options.width, options.height, nullptr);

  const std::uint32_t start = options.atPosition > screenshotLeadIn ? options.atPosition - screenshotLeadIn : 0;
  const std::uint64_t first = firstFrameAtOrAfter(start, screenshotFps);
  const std::uint64_t last = firstFrameAtOrAfter(options.atPosition, screenshotFps);
  {
    auto frame = std::make_unique<ShowFrame>();
    for (std::uint64_t n = first; n <= last; ++n) frame->draw(virtualPosition(n, screenshotFps));
    glFinish();
  }
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(options.width) * options.height * 4);
  context.readPixels(pixels.data());
  if (!writePng(options.screenshotPath, pixels.data(), options.width, options.height, error))
    return fail(exitEnvironment, error);
  return 0;
}

int printVersion() {
  SDL_version sdl;
  SDL_GetVersion(&sdl);
  std::printf("pulse165 %s\n", PULSE165_VERSION);
  std::printf("SDL %d.%d.%d, %s, FFmpeg %s (libavformat %u.%u, libavcodec %u.%u)\n", sdl.major, sdl.minor, sdl.patch,
              vorbis_version_string(), av_version_info(), AV_VERSION_MAJOR(avformat_version()),
              AV_VERSION_MINOR(avformat_version()), AV_VERSION_MAJOR(avcodec_version()),
              AV_VERSION_MINOR(avcodec_version()));
  HeadlessContext context;
  std::string error;
  if (context.open(16, 16, error))
    std::printf("GL renderer (headless): %s\n", context.renderer());
  else
    std::printf("GL renderer (headless): unavailable (%s)\n", error.c_str());
  return 0;
}

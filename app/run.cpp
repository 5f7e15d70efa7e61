// Start-up and shutdown: the live show on SDL2, and headless runs on EGL.
#include "app/run.h"

#include <GL/gl.h>
#include <SDL.h>
#include <malloc.h>
#include <strings.h>
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

#include "app/output_file.h"
#include "app/preflight.h"
#include "app/start_up.h"
#include "app/track.h"
#include "audio/playback.h"
#include "platform/headless.h"
#include "platform/image.h"
#include "platform/live.h"
#include "resources/embedded.h"
#include "show/frame.h"
#include "show/live_loop.h"
#include "show/offline_run.h"
#include "show/player.h"

namespace {
// The live show up to its end; on a failure to start, the exit code with its line in
// `error`, and in `refusal` why the music was refused where it was. The window and
// the audio device are gone when it returns.
int playLive(Options options, std::string& error, MusicRefusal& refusal) {
  ShowMusic music;
  refusal = prepareMusic(options, music, error);
  if (refusal != MusicRefusal::none) return exitUsage;
  if (music.handPicked()) std::printf("pulse165: %s\n", trackSummary(music).c_str());
  std::fflush(stdout);

  LiveWindow window;
  if (const int code = openLiveWindow(options, window, error); code != 0) return code;

  startShow(music.source(), music.vorbisData(), music.vorbisSize(), window.clientWidth, window.clientHeight, &window);

  // Playback starts at --from (0 for the show as it is); the clock counts from there.
  PlayClock clock;
  LiveAudio audio;
  if (options.mute) {
    clock.startFrame = options.fromPosition;
    clock.startNs = monotonicNanoseconds();
  } else {
    if (!audio.open(playing.samples, playing.frames, error)) return exitEnvironment;
    if (options.fromPosition > 0) audio.seek(options.fromPosition);
    audio.start();
    clock.audio = &audio;
    clock.avOffsetMs = options.avOffsetMs;
  }
  LivePlayer player;
  player.loop = options.loop;
  player.start(window);
  return runFrameLoop(window, clock, player);
}
}  // namespace

int openLiveWindow(const Options& options, LiveWindow& window, std::string& error) {
  window.fullScreen = !options.windowed;
  window.requestWidth = options.windowWidth;
  window.requestHeight = options.windowHeight;
  window.displayIndex = options.display;
  if (window.open(error)) return 0;
  return window.displayOutOfRange ? exitUsage : exitEnvironment;
}

int runLiveShow(const Options& options) {
  std::string error;
  MusicRefusal refusal = MusicRefusal::none;
  const int code = playLive(options, error, refusal);
  if (error.empty()) return code;
  if (refusal != MusicRefusal::none)
    reportRefusal(refusal, error);
  else
    reportFailure(code, error);
  tellDesktop(options, error);
  return code;
}

void tellDesktop(const Options& options, const std::string& error) {
  // Run from a shell or a script, nothing may wait for a click.
  if (!options.fromDesktop) return;
  const std::string line = error.rfind("pulse165: ", 0) == 0 ? error.substr(10) : error;
  // The box is drawn by a child process of SDL's; one that failed to start is tried once more.
  for (int attempt = 0; attempt < 2; ++attempt)
    if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "pulse165 cannot start", line.c_str(), nullptr) == 0) return;
  std::fprintf(stderr, "pulse165: cannot show the message box either: %s\n", SDL_GetError());
}

int runScreenshot(Options options) {
  const std::string& target = options.screenshotPath;
  const std::size_t dot = target.rfind('.');
  if (dot == std::string::npos || strcasecmp(target.c_str() + dot, ".png") != 0)
    return reportFailure(exitUsage, "cannot write " + target + ": a screenshot is a PNG, so its name must end in .png");
  std::string error;
  OutputFile file;
  if (!file.reserve(target, "write", "screenshot", error)) return reportFailure(exitUsage, error);
  ShowMusic music;
  if (const MusicRefusal refusal = prepareMusic(options, music, error); refusal != MusicRefusal::none)
    return reportRefusal(refusal, error);
  HeadlessContext context;
  int code = 0;
  if (!probeRenderer(context, options.width, options.height, "take a screenshot", code, error))
    return reportFailure(code, error);
  const std::string size = std::to_string(options.width) + "x" + std::to_string(options.height);
  if (!checkMemory(memoryNeeded(options.width, options.height, 1, 0), "take a screenshot at " + size, error))
    return reportFailure(exitUsage, error);
  if (!context.open(options.width, options.height, error)) return reportFailure(exitEnvironment, error);
  startShow(music.source(), music.vorbisData(), music.vorbisSize(), options.width, options.height, nullptr);

  OfflineRun run;
  run.startAt(screenshotFps, firstFrameAtOrAfter(options.atPosition, screenshotFps));
  run.step();
  glFinish();
  run.finish();
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(options.width) * options.height * 4);
  context.readPixels(pixels.data());
  if (!writePng(file.descriptor, pixels.data(), options.width, options.height, error) || !file.commit(error))
    return reportFailure(exitEnvironment, "cannot write " + target + ": " + error);
  return 0;
}

int runTrackInfo(const Options& options) {
  std::string error;
  ShowMusic music;
  if (const MusicRefusal refusal = loadMusic(options.trackPath, options.beatRequest, music, error);
      refusal != MusicRefusal::none)
    return reportRefusal(refusal, error);
  if (!music.notice.empty()) std::fprintf(stderr, "pulse165: %s\n", music.notice.c_str());
  const std::string report = options.json ? trackInfoJson(music) : trackInfoText(music);
  std::fputs(report.c_str(), stdout);
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

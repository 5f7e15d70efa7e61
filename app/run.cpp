// Start-up and shutdown: the live show on SDL2, and headless runs on EGL.
#include "app/run.h"

#include <GL/gl.h>
#include <SDL.h>
#include <malloc.h>
#include <sched.h>
#include <strings.h>
#include <unistd.h>
#include <vorbis/codec.h>
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/output_file.h"
#include "app/playlist.h"
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
// The overlay's glyphs are ASCII: a song's name there, with the rest as '?'.
std::string asciiLabel(const std::string& label) {
  std::string out;
  for (std::size_t i = 0; i < label.size(); ++i) {
    const auto c = static_cast<unsigned char>(label[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (label.compare(i, 3, "\u2013") == 0) {
      out += '-';
      i += 2;
    } else if ((c & 0xC0) != 0x80) {
      out += '?';  // one for each character's leading byte
    }
  }
  return out;
}

// The songs of a live run and the one playing: its show, its place and its name.
struct SongTurn {
  std::vector<std::string> songs;
  std::vector<bool> refused;
  int index = 0;
  std::string label;

  // The next song that may play, from `from` on in `step`'s direction, round the list
  // where it loops; -1 where none is left.
  int next(int from, int step, bool loop) const {
    const int count = static_cast<int>(songs.size());
    for (int tried = 0; tried < count; ++tried, from += step) {
      if (from < 0 || from >= count) {
        if (!loop) return -1;
        from = (from + count) % count;
      }
      if (!refused[static_cast<std::size_t>(from)]) return from;
    }
    return -1;
  }
};

// The next song, decoded and analysed on a thread of its own at low priority while
// this one plays, and handed to the audio device to follow it without a gap.
struct SongPreload {
  int index = -1;
  std::thread worker;
  std::mutex mutex;  // guards what follows, which the worker sets when it is done
  std::unique_ptr<ShowMusic> music;
  MusicRefusal refusal = MusicRefusal::none;
  std::string error;
  bool wanted = false;  // the song playing still ends into it
  bool queued = false;  // the device plays it after the song playing

  void start(int at, const std::string& path, LiveAudio* audio) {
    index = at;
    wanted = true;
    queued = false;
    worker = std::thread([this, path, audio] {
      // Only what the processors leave over, so that the frames of the song playing
      // keep their time (bench/preload_cost: nice 10 cost them a tenth).
      sched_param none{};
      sched_setscheduler(0, SCHED_IDLE, &none);  // this thread alone
      auto loaded = std::make_unique<ShowMusic>();
      std::string why;
      const MusicRefusal refused = loadMusic(path, BeatRequest{}, *loaded, why);
      const std::lock_guard<std::mutex> lock(mutex);
      refusal = refused;
      error = why;
      music = std::move(loaded);
      if (wanted && refusal == MusicRefusal::none && audio != nullptr && audio->device != nullptr) {
        audio->queue(music->media.samples, static_cast<std::uint32_t>(music->media.frames));
        queued = true;
      }
    });
  }
  // The song playing ends otherwise than into it: it is not queued from now on.
  void unwant() {
    const std::lock_guard<std::mutex> lock(mutex);
    wanted = false;
  }
  void wait() {
    if (worker.joinable()) worker.join();
  }
  // Waits for the worker; the song loaded for `at` with why it cannot be played where
  // it cannot, or null with nothing taken.
  std::unique_ptr<ShowMusic> take(int at, MusicRefusal& refused, std::string& why) {
    wait();
    if (at != index || !music) {
      music.reset();  // loaded for a song that does not come next after all
      return nullptr;
    }
    index = -1;
    refused = refusal;
    why = error;
    return std::move(music);
  }
  ~SongPreload() { wait(); }
};

// The live show up to its end, song by song where several are given; on a failure to
// start, the exit code with its line in `error`, and in `refusal` why the music was
// refused where it was. The window and the audio device are gone when it returns.
int playLive(Options options, std::string& error, MusicRefusal& refusal) {
  SongTurn turn;
  if (!options.songs.empty()) turn.songs = expandSongs(options.songs, options.recursive);
  if (options.shuffle) std::shuffle(turn.songs.begin(), turn.songs.end(), std::mt19937(std::random_device{}()));
  turn.refused.assign(turn.songs.size(), false);
  bool list = turn.songs.size() > 1 || options.songs.size() > 1 ||
              (turn.songs.size() == 1 && options.trackPath != turn.songs.front());
  if (!options.songs.empty() && turn.songs.empty()) {
    refusal = MusicRefusal::track;
    error = "no songs to play in " + options.songs.front() + (options.songs.size() > 1 ? " and the rest" : "");
    return exitUsage;
  }
  if (list && (options.beatRequest.bpm > 0 || options.beatRequest.firstBeatSeconds >= 0 || !options.fromText.empty())) {
    refusal = MusicRefusal::option;
    error = "--bpm, --first-beat and --from belong to one song, not to a list";
    return exitUsage;
  }

  LiveWindow window;
  // Samples outlive the device that may play them: the device closes first, then the
  // song playing and the one readied go; the worker that readies it is done before.
  SongPreload preload;
  std::unique_ptr<ShowMusic> music;
  LiveAudio audio;
  struct PreloadDone {
    SongPreload& preload;
    ~PreloadDone() {
      preload.unwant();
      preload.wait();
    }
  } preloadDone{preload};
  LivePlayer player;
  player.loop = options.loop && !list;
  player.loopList = options.loop && list;
  bool played = false;
  bool gapless = false;  // the device has turned to this song already
  for (;;) {
    std::unique_ptr<ShowMusic> previous = std::move(music);  // its sound may play on until this one starts
    if (!turn.songs.empty()) options.trackPath = turn.songs[static_cast<std::size_t>(turn.index)];
    music = preload.take(turn.index, refusal, error);
    if (music) {
      if (refusal == MusicRefusal::none) {
        if (!music->notice.empty()) std::fprintf(stderr, "pulse165: %s\n", music->notice.c_str());
        playMusic(music->source());
      }
    } else {
      music = std::make_unique<ShowMusic>();
      refusal = prepareMusic(options, *music, error);
    }
    if (refusal == MusicRefusal::track && list) {
      // One line for a song that cannot be played, and on to the next.
      std::fprintf(stderr, "pulse165: %s: skipped\n", error.c_str());
      turn.refused[static_cast<std::size_t>(turn.index)] = true;
      refusal = MusicRefusal::none;
      error.clear();
      music = std::move(previous);
      gapless = false;
      turn.index = turn.next(turn.index + 1, 1, player.loopList || !played);
      if (turn.index >= 0) continue;
      if (played) return 0;
      refusal = MusicRefusal::track;
      error = "none of the songs can be played";
      return exitUsage;
    }
    if (refusal != MusicRefusal::none) return exitUsage;
    if (music->handPicked()) {
      turn.label = songLabel(music->path, music->media.artist, music->media.title);
      if (list)
        std::printf("pulse165: %d/%zu %s: %s\n", turn.index + 1, turn.songs.size(), turn.label.c_str(),
                    trackSummary(*music).c_str());
      else
        std::printf("pulse165: %s\n", trackSummary(*music).c_str());
    }
    std::fflush(stdout);

    PlayClock clock;
    if (!played) {
      if (const int code = openLiveWindow(options, window, error); code != 0) return code;
      player.start(window);
      startShow(music->source(), music->vorbisData(), music->vorbisSize(), window.clientWidth, window.clientHeight,
                &window);
    }
    // Later songs carry the picture's trails on, as a seek does.
    if (options.mute) {
      // Playback starts at --from (0 for the show as it is); the clock counts from there.
      clock.startFrame = options.fromPosition;
      clock.startNs = monotonicNanoseconds();
    } else {
      if (audio.device == nullptr) {
        if (!audio.open(playing.samples, playing.frames, error)) return exitEnvironment;
        if (options.fromPosition > 0) audio.seek(options.fromPosition);
        audio.start();
      } else if (!gapless) {
        audio.change(playing.samples, playing.frames);
        audio.resume();  // where the last song was paused
      }
      clock.audio = &audio;
      clock.tracksBegun = audio.tracksBegun();
      clock.avOffsetMs = options.avOffsetMs;
      clock.setMuted(player.muted);
    }
    previous.reset();
    played = true;
    options.fromPosition = 0;  // --from is the first song's
    options.fromText.clear();

    const std::string overlayLabel = asciiLabel(turn.label);
    player.songIndex = turn.index;
    player.songCount = music->handPicked() && list ? static_cast<int>(turn.songs.size()) : 0;
    player.songLabel = overlayLabel.c_str();
    player.paused = false;
    player.leave = LivePlayer::Leave::none;
    player.note = nullptr;
    LiveWindow::MediaSong media;
    media.title = music->handPicked() ? music->media.title : "pulse165";
    if (media.title.empty()) media.title = songLabel(music->path, "", "");
    media.artist = music->media.artist;
    media.album = music->media.album;
    media.frames = playing.frames;
    media.index = turn.index;
    media.canGoNext = player.songCount > 0 && (player.loopList || turn.index + 1 < player.songCount);
    media.canGoPrevious = player.songCount > 0;
    window.announce(media);

    // The next song gets ready meanwhile.
    const int following = list ? turn.next(turn.index + 1, 1, player.loopList) : -1;
    if (following >= 0 && following != turn.index)
      preload.start(following, turn.songs[static_cast<std::size_t>(following)], options.mute ? nullptr : &audio);

    for (;;) {
      runFrameLoop(window, clock, player);
      if (player.leave != LivePlayer::Leave::dropped) break;
      // Dropped files join the list, and the first of them plays now.
      const std::vector<std::string> added = expandSongs(window.drops, true);
      window.drops.clear();
      if (!added.empty()) {
        turn.index = static_cast<int>(turn.songs.size());
        turn.songs.insert(turn.songs.end(), added.begin(), added.end());
        turn.refused.resize(turn.songs.size(), false);
        list = true;
        player.loopList = options.loop;
        player.loop = false;
        break;
      }
      std::fprintf(stderr, "pulse165: nothing to play in what was dropped\n");
      player.leave = LivePlayer::Leave::none;
    }
    player.songLabel = "";

    // At the song's end the device may have turned to the next already, or be about to.
    gapless = false;
    if (player.leave == LivePlayer::Leave::ended && !options.mute) {
      for (int look = 0; look < 50 && !clock.nextTrackBegun(); ++look) {
        {
          const std::lock_guard<std::mutex> lock(preload.mutex);
          if (!preload.queued) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        audio.position();
      }
      gapless = clock.nextTrackBegun();
    }
    if (!gapless) preload.unwant();

    switch (player.leave) {
      case LivePlayer::Leave::none:  // the viewer ended the show
        return 0;
      case LivePlayer::Leave::ended:
        turn.index = turn.songs.empty() ? -1 : turn.next(turn.index + 1, 1, player.loopList);
        break;
      case LivePlayer::Leave::next:
        turn.index = turn.next(turn.index + 1, 1, player.loopList);
        break;
      case LivePlayer::Leave::previous:
        turn.index = turn.next(turn.index - 1, -1, player.loopList);
        break;
      case LivePlayer::Leave::dropped:
        break;  // turn.index is the first song dropped
    }
    if (turn.index < 0) return 0;
  }
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
  std::vector<std::string> songs = expandSongs(options.songs, options.recursive);
  const bool several = songs.size() != 1 || options.songs.size() != 1 || songs.front() != options.trackPath;
  if (!several) songs = {options.trackPath};
  // Several songs: each report in turn (a JSON array), a song that cannot be read said
  // in one line and left out.
  std::string reports;
  int told = 0;
  for (const std::string& path : songs) {
    std::string error;
    ShowMusic music;
    if (const MusicRefusal refusal = loadMusic(path, options.beatRequest, music, error);
        refusal != MusicRefusal::none) {
      if (!several) return reportRefusal(refusal, error);
      std::fprintf(stderr, "pulse165: %s: skipped\n", error.c_str());
      continue;
    }
    if (!music.notice.empty()) std::fprintf(stderr, "pulse165: %s\n", music.notice.c_str());
    if (told++ > 0) reports += options.json ? "," : "\n";
    reports += options.json ? trackInfoJson(music) : trackInfoText(music);
  }
  if (told == 0) return reportFailure(exitUsage, "none of the songs can be read");
  if (several && options.json) reports = "[" + reports + "]\n";
  std::fputs(reports.c_str(), stdout);
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

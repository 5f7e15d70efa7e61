// pulse165 in the browser: the page's program. What it does depends on the page's query:
//   index.html                          the show with sound, started by a click, driven
//                                       by the desktop's keys (platform/keys.h) through
//                                       the desktop's player (show/player.h)
//   index.html?at=TIME[&size=WxH]       renders that moment on the virtual clock without
//                                       sound, as --screenshot does (default 1920x1080),
//                                       then sets the title to "pulse165 ready"
//   index.html?benchmark[&size=WxH][&frames=N]
//                                       times every scene as --benchmark does and writes
//                                       the JSON report into the page
//   index.html?listen                   the show to what the page hears (the microphone, or
//                                       the input the browser lets it have), after a click,
//                                       on the endless schedule, as --listen draws it
//   index.html?track-info               a song chosen with the page's button (or dropped):
//                                       its report as --track-info --json gives it, into
//                                       the page, then the title "pulse165 ready"
// A song dropped on the show's page, or chosen with its button, is decoded by the
// browser, analysed between frames as the desktop analyses a --track, and played with
// the show fitted to it. "save video" (web/js/video.js) renders the show to what plays,
// song or soundtrack, on the virtual clock as --capture does, frame by frame between the
// page's turns, for the browser's encoders.
#include <GL/gl.h>
#include <emscripten/emscripten.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/benchmark.h"
#include "app/options.h"
#include "app/start_up.h"
#include "app/track.h"
#include "audio/beat_features.h"
#include "audio/beat_grid.h"
#include "audio/loudness.h"
#include "audio/playback.h"
#include "audio/resample.h"
#include "platform/live.h"
#include "platform/web/page.h"
#include "resources/embedded.h"
#include "show/frame.h"
#include "show/listening.h"
#include "show/live_loop.h"
#include "show/music_source.h"
#include "show/offline_run.h"
#include "show/player.h"
#include "show/virtual_clock.h"
#include "tests/playback_digest.h"

// The page's side of songs (web/js/song.js).
extern "C" void pulse165_watchForSongs();
// Shows or hides the song's button.
extern "C" void pulse165_offerSongs(int shown);
// Whether the browser lets the page's sound start now: its AudioContext runs, or the
// viewer has clicked or typed on the page before.
extern "C" int pulse165_soundAllowed();
// The bar of the song's analysis: how far, from 0 to 1; below 0 it goes.
extern "C" void pulse165_showSongProgress(double done);
// The page's side of listening (web/js/listen.js): asks for the input and hears it.
extern "C" void pulse165_listenToInput();
// The page's side of saving a video (web/js/video.js): its controls, shown or hidden.
extern "C" void pulse165_watchForVideo();
extern "C" void pulse165_offerVideo(int shown);

namespace {

constexpr int defaultBenchmarkFrames = 180;

struct BrowserShow {
  LiveWindow window;
  LiveAudio audio;
  PlayClock clock;
  LivePlayer player;
  std::unique_ptr<ShowFrame> frame;
  bool started = false;
  bool looping = false;            // the animation loop runs
  bool saving = false;             // a video is being rendered: the live show stands aside
  std::uint32_t lastPosition = 0;  // the clock after the latest turn, or the moment drawn
  std::uint64_t framesDrawn = 0;
};

BrowserShow show;

void fail(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  setPagePrompt(what.c_str());
  setPageTitle("pulse165: failed");
}

//----------------------------------------------------------------------------------
// The live show
//----------------------------------------------------------------------------------

// One turn of the desktop's live loop per animation frame: a frame on the audio clock
// and the keys' actions, or, paused, the keys alone. The browser paces the frames, so
// there is no sleep.
void startWhatPlays(int width, int height, LiveWindow* window);
void waitForClick(const std::string& prompt);

EM_BOOL liveFrame(double, void*) {
  if (show.saving) {
    show.looping = false;
    return EM_FALSE;
  }
  const bool drawing = !show.player.paused;
  const bool going = liveTurn(*show.frame, show.window, show.clock, show.player, false);
  if (drawing) ++show.framesDrawn;
  show.lastPosition = show.clock.read();
  if (going) return EM_TRUE;
  show.audio.close();
  show.frame.reset();
  show.looping = false;
  if (show.clock.listen != nullptr) {
    setPagePrompt("the end: reload the page to listen again");
    return EM_FALSE;
  }
  // Again from the start after a click, as after a video.
  startWhatPlays(show.window.clientWidth, show.window.clientHeight, &show.window);
  waitForClick("the end: click to play again");
  return EM_FALSE;
}

// The show's frames from a fresh frame on `clock` (the sound's, or what is heard), keys
// pressed before ignored; the animation loop runs from the first start on.
void startFrames(const PlayClock& clock) {
  show.started = true;
  show.frame = std::make_unique<ShowFrame>();
  WindowEvents early;
  show.window.takeEvents(early);
  show.clock = clock;
  setPagePrompt("");
  if (!show.looping) emscripten_request_animation_frame_loop(liveFrame, nullptr);
  show.looping = true;
}

// The sound of what plays now (the soundtrack, or a song), from its start, and the
// frames on its clock.
void beginShow() {
  show.audio.close();
  std::string error;
  if (!show.audio.open(playing.samples, playing.frames, error)) return fail(error);
  show.audio.start();
  PlayClock clock;
  clock.audio = &show.audio;
  show.player.paused = false;
  pulse165_offerSongs(0);  // a drop still brings another song
  pulse165_offerVideo(0);
  startFrames(clock);
}

// The click that browsers ask for before they play sound; one on the song's button or
// the video's controls stops before it reaches the document (web/js).
EM_BOOL startOnClick(int, const EmscriptenMouseEvent*, void*) {
  if (show.started || show.saving) return EM_FALSE;
  emscripten_set_click_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_FALSE, nullptr);
  beginShow();
  return EM_TRUE;
}

// The show waits for the click that starts its sound, the prompt saying `prompt`; the
// song's button and the video's controls are offered meanwhile.
void waitForClick(const std::string& prompt) {
  show.started = false;
  setPagePrompt(prompt.c_str());
  emscripten_set_click_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_FALSE, startOnClick);
  pulse165_offerSongs(1);
  pulse165_offerVideo(1);
}

void runLive() {
  std::string error;
  show.window.fullScreen = true;
  if (!show.window.open(error)) return fail(error);
  startShow(embeddedMusic(), embeddedTrack, embeddedTrackSize, show.window.clientWidth, show.window.clientHeight,
            &show.window);
  show.player.start(show.window);
  waitForClick("click to play");
}

//----------------------------------------------------------------------------------
// A song dropped on the page, or chosen with its button (web/js/song.js decodes it)
//----------------------------------------------------------------------------------

constexpr double sliceMs = 30.0;  // the analysis' share of the page's time between two looks at it

struct PageSong {
  std::unique_ptr<ShowMusic> playing;         // the song the show plays
  std::unique_ptr<ShowMusic> heard;           // the song being analysed
  std::unique_ptr<BeatFeatureReader> reader;  // hearing the beat
  BeatFeatures features;                      // what it heard
  std::unique_ptr<BeatGridFinder> finder;     // then finding the grid
  std::unique_ptr<LoudnessMeter> meter;       // then measuring the loudness
  std::int64_t metered = 0;                   // frames measured
  bool reportOnly = false;                    // ?track-info: the report as JSON, no show
  std::string label;                          // what the overlay says of the song
  double heardSince = 0;                      // when the analysis began, on the page's clock
  bool hearing = false;                       // a chain of the analysis' slices runs
  double longestSliceMs = 0;                  // the longest of them
};
constexpr std::int64_t hopsPerLook = 16;       // hops between two looks at the clock
constexpr std::int64_t framesPerLook = 16384;  // frames measured between two looks

PageSong song;

// The show as a new process starts it, on what plays now (the song chosen last, or the
// soundtrack), for a picture of W x H.
void startWhatPlays(int width, int height, LiveWindow* window) {
  if (song.playing) {
    startShow(song.playing->source(), nullptr, 0, width, height, window);
  } else {
    startShow(embeddedMusic(), embeddedTrack, embeddedTrackSize, width, height, window);
  }
}

void songReady() {
  pulse165_showSongProgress(-1);
  ShowMusic& music = *song.heard;
  const Loudness loudness = song.meter->finish();
  song.meter.reset();
  std::string error;
  const double began = pageMilliseconds();
  if (analyseMusic(BeatRequest{}, music, error, &song.finder->grid, &loudness) != MusicRefusal::none)
    return fail(error);
  song.finder.reset();
  song.features = BeatFeatures{};
  const std::string summary = trackSummary(music);
  std::printf("pulse165: %s\n", summary.c_str());
  const double lastMs = pageMilliseconds() - began;
  std::printf(
      "pulse165: analysed in %.1f s, in slices of at most %.0f ms, the last (the gain and the schedule) %.0f ms\n",
      (pageMilliseconds() - song.heardSince) / 1000.0, song.longestSliceMs, lastMs);
  if (song.reportOnly) {
    setPageReport(trackInfoJson(music).c_str());
    setPagePrompt("");
    setPageTitle("pulse165 ready");
    return;
  }
  song.playing = std::move(song.heard);
  song.label = summary;
  startWhatPlays(show.window.clientWidth, show.window.clientHeight, &show.window);
  show.player.songCount = 1;
  show.player.songLabel = song.label.c_str();
  if (pulse165_soundAllowed() == 0) {
    // Dropped on a page that has had no click: the browser plays no sound until one.
    return waitForClick(song.playing->path + ": click to play");
  }
  beginShow();
}

// A slice of the analysis per turn of the page's event loop, the prompt saying how far:
// the pass that hears the beat, the search for its grid, the loudness, then the gain and
// the schedule at once.
void hearSlice(void*) {
  if (!song.reader && !song.finder) {
    song.hearing = false;  // another song's samples are being handed over: its own chain follows
    return;
  }
  const double began = pageMilliseconds();
  const MediaTrack& media = song.heard->media;
  while (pageMilliseconds() - began < sliceMs) {
    if (song.reader) {
      if (!song.reader->step(hopsPerLook)) continue;
      song.features = song.reader->take();
      song.reader.reset();
      song.finder = std::make_unique<BeatGridFinder>(song.features, media.frames);
    } else if (song.finder && !song.meter) {
      if (!song.finder->step()) continue;
      song.meter = std::make_unique<LoudnessMeter>();
      song.metered = 0;
      if (!song.meter->open()) song.metered = media.frames;
    } else if (song.metered < media.frames) {
      const std::int64_t frames = std::min<std::int64_t>(framesPerLook, media.frames - song.metered);
      if (!song.meter->add(media.samples + 2 * song.metered, static_cast<std::size_t>(frames))) {
        song.metered = media.frames;
      } else {
        song.metered += frames;
      }
    } else {
      song.hearing = false;
      return songReady();
    }
  }
  song.longestSliceMs = std::max(song.longestSliceMs, pageMilliseconds() - began);
  const double done = song.reader   ? 0.8 * song.reader->done()
                      : !song.meter ? 0.8
                                    : 0.8 + 0.2 * static_cast<double>(song.metered) / static_cast<double>(media.frames);
  char line[160];
  std::snprintf(line, sizeof line, "listening to %s: %.0f %%", song.heard->path.c_str(), 100.0 * done);
  setPagePrompt(line);
  pulse165_showSongProgress(done);
  emscripten_set_timeout(hearSlice, 0, nullptr);
}

}  // namespace

extern "C" {
EMSCRIPTEN_KEEPALIVE void pulse165_song_decoding() {
  if (!show.saving) setPagePrompt("decoding the song");
}
EMSCRIPTEN_KEEPALIVE void pulse165_song_refused(const char* line) {
  std::fprintf(stderr, "pulse165: %s\n", line);
  setPagePrompt(line);
}
// A block for `frames` decoded frames of the song called `name`, within the show's
// limits (a longer song is cut, and the page says so); null for one too short or too
// large for the page's memory, which the page is told.
EMSCRIPTEN_KEEPALIVE float* pulse165_song_samples(double frames, const char* name) {
  const MediaLimits limits;
  const std::string label = name;
  if (show.saving) {
    std::printf("pulse165: %s: a video is being saved; drop the song again once it is\n", name);
    return nullptr;
  }
  if (frames < static_cast<double>(limits.minFrames)) {
    pulse165_song_refused((label + ": shorter than 30 s, the least the show takes").c_str());
    return nullptr;
  }
  auto music = std::make_unique<ShowMusic>();
  music->path = label;
  MediaTrack& media = music->media;
  media.cut = frames > static_cast<double>(limits.maxFrames);
  media.frames = media.cut ? limits.maxFrames : static_cast<std::int64_t>(frames);
  media.sourceRate = static_cast<int>(sampleRate);
  media.sourceChannels = 2;
  media.formatName = "the browser's";
  media.codecName = "decoded";
  media.samples =
      static_cast<float*>(std::calloc(static_cast<std::size_t>(media.frames + mediaGuardFrames) * 2, sizeof(float)));
  if (media.samples == nullptr) {
    pulse165_song_refused((label + ": too large for the page's memory").c_str());
    return nullptr;
  }
  if (media.cut) music->notice = label + ": longer than 15:00; cut there";
  song.meter.reset();
  song.finder.reset();
  song.reader.reset();
  song.heard = std::move(music);
  return song.heard->media.samples;
}
EMSCRIPTEN_KEEPALIVE double pulse165_song_frames() {
  return song.heard ? static_cast<double>(song.heard->media.frames) : 0.0;
}
// The samples are in place: the analysis begins, a slice at a time.
EMSCRIPTEN_KEEPALIVE void pulse165_song_decoded() {
  if (!song.heard) return;
  if (!song.heard->notice.empty()) std::printf("pulse165: %s\n", song.heard->notice.c_str());
  song.reader = std::make_unique<BeatFeatureReader>(song.heard->media.samples, song.heard->media.frames);
  song.heardSince = pageMilliseconds();
  song.longestSliceMs = 0;
  // One chain of slices at a time: a song dropped while another is heard takes its place.
  if (!song.hearing) emscripten_set_timeout(hearSlice, 0, nullptr);
  song.hearing = true;
}
}

namespace {

//----------------------------------------------------------------------------------
// Listening: what the page hears, into the ring, its beat followed, the show on it
//----------------------------------------------------------------------------------
constexpr std::uint32_t listenPieceFrames = 1024;  // what web/js/listen.js hands over at a time

struct PageListening {
  ListenHearing hearing;
  ListenFeed feed;
  std::string source;
  std::int32_t heardLead = 0;  // the input's latency, in frames
  float piece[2 * listenPieceFrames] = {};
  bool opened = false;
};

PageListening listening;

// The click that lets the page hear (and run its AudioContext).
EM_BOOL listenOnClick(int, const EmscriptenMouseEvent*, void*) {
  emscripten_set_click_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_FALSE, nullptr);
  setPagePrompt("asking to hear the input");
  pulse165_listenToInput();
  return EM_TRUE;
}

void runListening() {
  std::string error;
  show.window.fullScreen = true;
  if (!show.window.open(error)) return fail(error);
  if (!listening.hearing.open()) return fail("pulse165: the beat or loudness analysis cannot start");
  startShow(listeningMusic(), nullptr, 0, show.window.clientWidth, show.window.clientHeight, &show.window);
  show.player.start(show.window);
  setPagePrompt("click to listen");
  emscripten_set_click_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_FALSE, listenOnClick);
}

}  // namespace

extern "C" {
// Where web/js/listen.js puts each piece it hands over.
EMSCRIPTEN_KEEPALIVE float* pulse165_listen_block() {
  return listening.piece;
}
// A piece of `frames` stereo frames is in the block: heard, and reported to the frame loop.
EMSCRIPTEN_KEEPALIVE void pulse165_listen_heard(int frames) {
  if (!listening.opened || frames <= 0) return;
  const ListenReport before = listening.hearing.report;
  listening.hearing.take(listening.piece,
                         std::min<std::uint32_t>(listenPieceFrames, static_cast<std::uint32_t>(frames)));
  listening.hearing.tell(before);
  listening.feed.publish(listening.hearing.publish(monotonicNanoseconds(), listening.heardLead));
}
// The input is open: `label` is its name, `latencyFrames` how late its sound comes.
EMSCRIPTEN_KEEPALIVE void pulse165_listen_opened(const char* label, double latencyFrames) {
  listening.source = label;
  listening.heardLead = static_cast<std::int32_t>(latencyFrames + 0.5);
  listening.feed.source = listening.source.c_str();
  listening.opened = true;
  std::printf("pulse165: listening to %s\n", label);
  PlayClock clock;
  clock.listen = &listening.feed;
  startFrames(clock);
}
EMSCRIPTEN_KEEPALIVE void pulse165_listen_refused(const char* line) {
  std::printf("pulse165: %s\n", line);
  setPagePrompt(line);
}
// For scripts that drive the page: the tempo heard (0 before the first measure), and
// whether the beat is locked.
EMSCRIPTEN_KEEPALIVE double pulse165_listen_bpm() {
  return listening.hearing.report.bpm;
}
EMSCRIPTEN_KEEPALIVE int pulse165_listen_locked() {
  return listening.hearing.report.locked ? 1 : 0;
}
}

namespace {

//----------------------------------------------------------------------------------
// Saving a video: the show on the virtual clock, a frame a call, presented on the
// canvas at the video's size; web/js/video.js encodes each frame from the canvas and
// the sound of the same span from the play buffer.
//----------------------------------------------------------------------------------
constexpr int videoFps = 60;

struct PageVideo {
  OfflineRun run;
  CaptureSpan span;
  std::vector<float> sound;  // a second of the sound at a time, for the encoder
};

PageVideo video;

}  // namespace

extern "C" {
// Begins a video of the first `seconds` of what plays (all of it for 0) at W x H, 60
// frames a second, the live show set aside; the number of frames, or 0 where it
// cannot be made, which the page is told.
EMSCRIPTEN_KEEPALIVE double pulse165_video_begin(int width, int height, double seconds) {
  if (show.saving) return 0;
  if (song.hearing || song.reader || song.finder) {
    setPagePrompt("the song is still being heard: save its video once it plays");
    return 0;
  }
  if (width < 2 || height < 2 || width % 2 != 0 || height % 2 != 0) {
    setPagePrompt("a video needs an even width and height, e.g. 1280x720");
    return 0;
  }
  std::string why;
  if (!holdCanvasAt(show.window, width, height, why)) {
    setPagePrompt(
        ("cannot save a video at " + std::to_string(width) + "x" + std::to_string(height) + ": " + why).c_str());
    return 0;
  }
  show.saving = true;  // the animation loop stops at its next turn
  pulse165_offerSongs(0);
  show.audio.close();
  show.frame.reset();
  startWhatPlays(width, height, nullptr);
  video.run.start(videoFps, 0);
  const double wanted = seconds > 0 ? std::min(seconds * sampleRate, static_cast<double>(playing.frames))
                                    : static_cast<double>(playing.frames);
  video.span = captureSpan(0, static_cast<std::uint32_t>(wanted), videoFps);
  return static_cast<double>(video.span.frameCount);
}
// Draws the video's next frame onto the canvas.
EMSCRIPTEN_KEEPALIVE void pulse165_video_frame() {
  if (!show.saving) return;
  video.run.step();
  show.window.present();
  show.window.swap();
}
// The video's sound at 48,000 Hz (what Opus takes; the browser's own conversion would
// delay it): how many frames, and frames [first, first + count) of them, interleaved
// stereo, in a block that the next call reuses.
EMSCRIPTEN_KEEPALIVE double pulse165_video_sound_frames() {
  return static_cast<double>(framesAt48k(video.span.soundFrames));
}
EMSCRIPTEN_KEEPALIVE const float* pulse165_video_sound(double first, int count) {
  video.sound.resize(2 * static_cast<std::size_t>(count));
  resampleTo48k(playing.samples + 2 * static_cast<std::size_t>(video.span.soundStart), video.span.soundFrames,
                static_cast<std::int64_t>(first), count, video.sound.data());
  return video.sound.data();
}
// The video is saved, or given up: the canvas fills the page again and the show waits
// for a click, the prompt saying `line` before "click to play".
EMSCRIPTEN_KEEPALIVE void pulse165_video_end(const char* line) {
  if (!show.saving) return;
  video.run.finish();
  fillPageAgain(show.window);
  startWhatPlays(show.window.clientWidth, show.window.clientHeight, &show.window);
  show.player.start(show.window);
  show.saving = false;
  waitForClick(std::string(line) + ": click to play");
}
}

namespace {

//----------------------------------------------------------------------------------
// One moment on the virtual clock
//----------------------------------------------------------------------------------

bool pictureSize(int& width, int& height) {
  bool given = false;
  const std::string size = pageQuery("size", given);
  std::string error;
  if (given && !parseSize(size, width, height, error)) {
    fail("pulse165: " + error);
    return false;
  }
  return true;
}

void runMoment(const std::string& at) {
  std::uint32_t position = 0;
  std::string error;
  if (!parseShowTime(at, position, error)) return fail("pulse165: " + error);
  int width = 1920, height = 1080;
  if (!pictureSize(width, height)) return;
  setPagePrompt("");
  show.window.fullScreen = false;
  show.window.requestWidth = width;
  show.window.requestHeight = height;
  if (!show.window.open(error)) return fail(error);
  startShow(embeddedMusic(), embeddedTrack, embeddedTrackSize, width, height, nullptr);

  OfflineRun run;
  run.startAt(screenshotFps, firstFrameAtOrAfter(position, screenshotFps));
  run.step();
  glFinish();
  run.finish();
  show.window.present();
  show.window.swap();
  show.lastPosition = position;
  setPageTitle("pulse165 ready");
}

//----------------------------------------------------------------------------------
// The benchmark: one scene per turn of the page's event loop
//----------------------------------------------------------------------------------

struct BrowserBenchmark {
  BenchmarkReport report;
  std::vector<SceneFrames> scenes;
  std::vector<double> milliseconds;
  OfflineRun run;
  int frames = defaultBenchmarkFrames;
  std::size_t next = 0;
};

BrowserBenchmark benchmark;

void benchmarkScene(void*) {
  BrowserBenchmark& b = benchmark;
  if (b.next == b.scenes.size()) {
    b.run.finish();
    const std::string json = benchmarkJson(b.report);
    std::fputs(json.c_str(), stdout);
    setPageReport(json.c_str());
    setPageTitle("pulse165 ready");
    return;
  }
  b.report.scenes.push_back(timeScene(b.run, b.scenes[b.next++], b.frames, pageMilliseconds, b.milliseconds));
  show.window.present();
  show.window.swap();
  emscripten_set_timeout(benchmarkScene, 0, nullptr);
}

void runBenchmarkPage() {
  int width = 1280, height = 720;
  if (!pictureSize(width, height)) return;
  bool given = false;
  const std::string frames = pageQuery("frames", given);
  if (given && !parseCount(frames, 1, 100000, benchmark.frames))
    return fail("pulse165: frame count '" + frames + "' is not a whole number from 1 to 100000");
  setPagePrompt("");
  std::string error;
  show.window.fullScreen = false;
  show.window.requestWidth = width;
  show.window.requestHeight = height;
  if (!show.window.open(error)) return fail(error);
  BenchmarkReport& report = benchmark.report;
  report.renderer = webglRenderer();
  report.width = width;
  report.height = height;
  const double began = pageMilliseconds();
  startShow(embeddedMusic(), embeddedTrack, embeddedTrackSize, width, height, nullptr);
  glFinish();
  report.startupMs = pageMilliseconds() - began;
  benchmark.scenes = benchmarkScenes(benchmarkFps);
  benchmark.milliseconds.reserve(static_cast<std::size_t>(benchmark.frames));
  benchmark.run.start(benchmarkFps, 0);
  emscripten_set_timeout(benchmarkScene, 0, nullptr);
}

}  // namespace

// For scripts that drive the page (the browser test).
extern "C" {
EMSCRIPTEN_KEEPALIVE double pulse165_position() {
  return show.lastPosition;
}
EMSCRIPTEN_KEEPALIVE double pulse165_frames() {
  return static_cast<double>(show.framesDrawn);
}
EMSCRIPTEN_KEEPALIVE int pulse165_paused() {
  return show.player.paused ? 1 : 0;
}
EMSCRIPTEN_KEEPALIVE const char* pulse165_digest() {
  static std::string digest;
  digest = playbackDigest();
  return digest.c_str();
}
}

int main() {
  bool atGiven = false, benchmarkGiven = false, listenGiven = false;
  const std::string at = pageQuery("at", atGiven);
  pageQuery("benchmark", benchmarkGiven);
  pageQuery("listen", listenGiven);
  pageQuery("track-info", song.reportOnly);
  if (listenGiven) {
    runListening();
    return 0;
  }
  pulse165_watchForSongs();
  if (!song.reportOnly && !atGiven && !benchmarkGiven) pulse165_watchForVideo();
  if (song.reportOnly) {
    setPagePrompt("choose a song for its report");
  } else if (atGiven) {
    runMoment(at);
  } else if (benchmarkGiven) {
    runBenchmarkPage();
  } else {
    runLive();
  }
  return 0;  // the runtime stays: the page's callbacks carry on
}

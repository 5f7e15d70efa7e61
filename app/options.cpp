// Command-line parsing on getopt_long.
#include "app/options.h"

#include <getopt.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/encoder.h"
#include "audio/playback.h"
#include "platform/latency.h"

namespace {
constexpr int maxSide = 16384;

enum OptionId {
  optWindow = 1000,
  optScreenshot,
  optAt,
  optSize,
  optCapture,
  optFps,
  optFrom,
  optTo,
  optBenchmark,
  optFrames,
  optJson,
  optMute,
  optTrack,
  optCrf,
  optPreset,
  optSegment,
  optDisplay,
  optLoop,
  optBpm,
  optFirstBeat,
  optTrackInfo,
  optFromDesktop,
  optAvOffset,
  optListen,
  optRecursive,
  optShuffle,
  optHelp,
  optVersion
};

constexpr int maxFps = 240;
constexpr int maxCrf = 63;  // VP9's scale; x264's ends at 51, checked with the codec
constexpr int maxBenchmarkFrames = 100000;
constexpr int maxDisplay = 63;
constexpr int maxSegments = 1000;
constexpr double lowestGivenBpm = 40.0;
constexpr double highestGivenBpm = 300.0;

bool setMode(Options& options, RunMode mode, std::string& error) {
  if (options.mode != RunMode::live && options.mode != mode) {
    error = "--screenshot, --capture, --benchmark and --track-info exclude one another";
    return false;
  }
  options.mode = mode;
  return true;
}
}  // namespace

int reportFailure(int code, const std::string& line) {
  const char* prefix = line.rfind("pulse165: ", 0) == 0 ? "" : "pulse165: ";
  std::fprintf(stderr, "%s%s\n", prefix, line.c_str());
  return code;
}

int reportMisuse(const std::string& line) {
  reportFailure(exitUsage, line);
  std::fputs("Try 'pulse165 --help' for more information.\n", stderr);
  return exitUsage;
}

bool parseCount(const std::string& text, int low, int high, int& value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  const long v = std::strtol(text.c_str(), nullptr, 10);
  if (v < low || v > high) return false;
  value = static_cast<int>(v);
  return true;
}

bool parseSize(const std::string& text, int& width, int& height, std::string& error) {
  const std::size_t x = text.find('x');
  char* end = nullptr;
  if (x == std::string::npos || x == 0 || x + 1 >= text.size()) {
    error = "size '" + text + "' is not of the form WIDTHxHEIGHT, e.g. 1920x1080";
    return false;
  }
  const std::string w = text.substr(0, x), h = text.substr(x + 1);
  for (const std::string& part : {w, h}) {
    for (char c : part) {
      if (c < '0' || c > '9') {
        error = "size '" + text + "' is not of the form WIDTHxHEIGHT, e.g. 1920x1080";
        return false;
      }
    }
  }
  const long wv = std::strtol(w.c_str(), &end, 10), hv = std::strtol(h.c_str(), &end, 10);
  if (wv < 1 || hv < 1 || wv > maxSide || hv > maxSide || w.size() > 6 || h.size() > 6) {
    error = "size '" + text + "' is out of range (1 to 16384 on a side)";
    return false;
  }
  width = static_cast<int>(wv);
  height = static_cast<int>(hv);
  return true;
}

bool parseOptions(int argc, char** argv, Options& options, std::string& error) {
  static const option longOptions[] = {
      {"window", optional_argument, nullptr, optWindow},
      {"screenshot", required_argument, nullptr, optScreenshot},
      {"at", required_argument, nullptr, optAt},
      {"size", required_argument, nullptr, optSize},
      {"capture", required_argument, nullptr, optCapture},
      {"fps", required_argument, nullptr, optFps},
      {"from", required_argument, nullptr, optFrom},
      {"to", required_argument, nullptr, optTo},
      {"benchmark", no_argument, nullptr, optBenchmark},
      {"frames", required_argument, nullptr, optFrames},
      {"json", no_argument, nullptr, optJson},
      {"mute", no_argument, nullptr, optMute},
      {"track", required_argument, nullptr, optTrack},
      {"crf", required_argument, nullptr, optCrf},
      {"preset", required_argument, nullptr, optPreset},
      {"segment", required_argument, nullptr, optSegment},
      {"display", required_argument, nullptr, optDisplay},
      {"loop", no_argument, nullptr, optLoop},
      {"bpm", required_argument, nullptr, optBpm},
      {"first-beat", required_argument, nullptr, optFirstBeat},
      {"track-info", no_argument, nullptr, optTrackInfo},
      {"from-desktop", no_argument, nullptr, optFromDesktop},
      {"av-offset", required_argument, nullptr, optAvOffset},
      {"listen", optional_argument, nullptr, optListen},
      {"recursive", no_argument, nullptr, optRecursive},
      {"shuffle", no_argument, nullptr, optShuffle},
      {"help", no_argument, nullptr, optHelp},
      {"version", no_argument, nullptr, optVersion},
      {nullptr, 0, nullptr, 0},
  };
  bool displayGiven = false;
  bool avOffsetGiven = false;
  bool sizeGiven = false, fpsGiven = false, fromGiven = false, toGiven = false, framesGiven = false;
  bool qualityGiven = false;
  optind = 0;  // a fresh scan each call
  opterr = 0;
  for (;;) {
    int index = 0;
    // "-": arguments that are no options come in their place among the options, as
    // songs, so that songs and --track keep the order they are given in.
    const int id = getopt_long(argc, argv, "-hV", longOptions, &index);
    if (id == -1) break;
    const std::string value = optarg ? optarg : "";
    switch (id) {
      case optWindow:
        options.windowed = true;
        if (optarg && !parseSize(value, options.windowWidth, options.windowHeight, error)) return false;
        break;
      case optScreenshot:
        if (value.empty()) {
          error = "--screenshot needs a file name, e.g. --screenshot=shot.png";
          return false;
        }
        if (!setMode(options, RunMode::screenshot, error)) return false;
        options.screenshotPath = value;
        break;
      case optAt:
        if (ShowTime time; !checkShowTime(value, time, error)) return false;
        options.atText = value;
        options.atGiven = true;
        break;
      case optSize:
        if (!parseSize(value, options.width, options.height, error)) return false;
        sizeGiven = true;
        break;
      case optCapture:
        if (value.empty()) {
          error = "--capture needs a file name, e.g. --capture=show.mp4";
          return false;
        }
        if (!setMode(options, RunMode::capture, error)) return false;
        options.capturePath = value;
        break;
      case optFps:
        if (!parseCount(value, 1, maxFps, options.fps)) {
          error = "frame rate '" + value + "' is not a whole number from 1 to 240";
          return false;
        }
        fpsGiven = true;
        break;
      case optFrom:
        if (ShowTime time; !checkShowTime(value, time, error)) return false;
        options.fromText = value;
        fromGiven = true;
        break;
      case optTo:
        if (ShowTime time; !checkShowTime(value, time, error)) return false;
        options.toText = value;
        toGiven = true;
        break;
      case optBenchmark:
        if (!setMode(options, RunMode::benchmark, error)) return false;
        break;
      case optFrames:
        if (!parseCount(value, 1, maxBenchmarkFrames, options.benchmarkFrames)) {
          error = "frame count '" + value + "' is not a whole number from 1 to 100000";
          return false;
        }
        framesGiven = true;
        break;
      case optJson:
        options.json = true;
        break;
      case optMute:
        options.mute = true;
        break;
      case optTrack:
        if (value.empty()) {
          error = "--track needs a file name, e.g. --track=song.mp3";
          return false;
        }
        options.songs.push_back(value);
        break;
      case 1:
        if (value.empty()) {
          error = "an empty argument: songs are named by their files";
          return false;
        }
        options.songs.push_back(value);
        break;
      case optRecursive:
        options.recursive = true;
        break;
      case optShuffle:
        options.shuffle = true;
        break;
      case optBpm:
        if (!readDecimal(value, options.beatRequest.bpm) || options.beatRequest.bpm < lowestGivenBpm ||
            options.beatRequest.bpm > highestGivenBpm) {
          error = "--bpm '" + value + "' is not a tempo from 40 to 300 beats per minute, e.g. --bpm=128";
          return false;
        }
        break;
      case optFirstBeat: {
        ShowTime time;
        if (!readShowTime(value, time) || time.beats) {
          error = "--first-beat '" + value + "' is not a time in the track: seconds (0.37) or minutes:seconds (0:01.5)";
          return false;
        }
        options.beatRequest.firstBeatSeconds = time.value;
        break;
      }
      case optTrackInfo:
        if (!setMode(options, RunMode::trackInfo, error)) return false;
        break;
      case optCrf:
        if (!parseCount(value, 0, maxCrf, options.crf)) {
          error = "--crf '" + value + "' is not a whole number from 0 to 63 (x264: 0 to 51)";
          return false;
        }
        qualityGiven = true;
        break;
      case optSegment: {
        const std::size_t slash = value.find('/');
        if (slash == std::string::npos || !parseCount(value.substr(0, slash), 1, maxSegments, options.segment) ||
            !parseCount(value.substr(slash + 1), 1, maxSegments, options.segments) ||
            options.segment > options.segments) {
          error = "--segment '" + value + "' is not K/N with 1 <= K <= N <= 1000, e.g. --segment=2/4";
          return false;
        }
        qualityGiven = true;
        break;
      }
      case optPreset:
        if (encoderPreset(value) == nullptr) {
          error = "--preset '" + value +
                  "' is none of ultrafast, superfast, veryfast, faster, fast, medium, slow, slower, veryslow, placebo";
          return false;
        }
        options.preset = value;
        qualityGiven = true;
        break;
      case optDisplay:
        if (!parseCount(value, 0, maxDisplay, options.display)) {
          error = "display '" + value + "' is not a whole number from 0 to 63";
          return false;
        }
        displayGiven = true;
        break;
      case optLoop:
        options.loop = true;
        break;
      case optFromDesktop:
        options.fromDesktop = true;
        break;
      case optAvOffset: {
        const bool negative = !value.empty() && value[0] == '-';
        const std::string digits = negative || (!value.empty() && value[0] == '+') ? value.substr(1) : value;
        if (!parseCount(digits, 0, longestAvOffsetMs, options.avOffsetMs)) {
          error = "--av-offset '" + value + "' is not a whole number of milliseconds from -1000 to 1000, e.g. 40";
          return false;
        }
        if (negative) options.avOffsetMs = -options.avOffsetMs;
        avOffsetGiven = true;
        break;
      }
      case optListen:
        options.listen = true;
        options.listenSource = value;
        if (optarg != nullptr && value.empty()) {
          error = "--listen= needs a source: a name or number from --listen=list";
          return false;
        }
        break;
      case optHelp:
      case 'h':
        options.mode = RunMode::help;
        return true;
      case optVersion:
      case 'V':
        options.mode = RunMode::version;
        return true;
      default: {
        const char* arg = optind > 0 && optind <= argc ? argv[optind - 1] : "";
        error = std::string("unknown option, or a value missing or not allowed: '") + arg + "'";
        return false;
      }
    }
  }
  for (int i = optind; i < argc; ++i) options.songs.push_back(argv[i]);  // those after "--"
  if (options.songs.size() == 1) options.trackPath = options.songs.front();
  const RunMode mode = options.mode;
  auto refuse = [&error](const char* message) {
    error = message;
    return false;
  };
  if (mode == RunMode::screenshot && !options.atGiven)
    return refuse("--screenshot needs --at=TIME, e.g. --at=1:23.5 or --at=288b");
  if (options.atGiven && mode != RunMode::screenshot) return refuse("--at belongs to --screenshot");
  if (sizeGiven && mode != RunMode::screenshot && mode != RunMode::capture && mode != RunMode::benchmark)
    return refuse("--size belongs to --screenshot, --capture and --benchmark");
  if ((fpsGiven || toGiven || qualityGiven) && mode != RunMode::capture)
    return refuse("--fps, --to, --crf, --preset and --segment belong to --capture");
  if (fromGiven && mode != RunMode::capture && mode != RunMode::live)
    return refuse("--from belongs to the live show and --capture");
  if (framesGiven && mode != RunMode::benchmark) return refuse("--frames belongs to --benchmark");
  if (options.json && mode != RunMode::benchmark && mode != RunMode::trackInfo)
    return refuse("--json belongs to --benchmark and --track-info");
  if (options.mute && mode != RunMode::live) return refuse("--mute belongs to the live show");
  if (avOffsetGiven && mode != RunMode::live)
    return refuse("--av-offset belongs to the live show (captures and screenshots are exact)");
  if (avOffsetGiven && options.mute) return refuse("--av-offset has no sound to follow with --mute");
  if (options.windowed && mode != RunMode::live) return refuse("--window belongs to the live show");
  if ((displayGiven || options.loop || options.fromDesktop) && mode != RunMode::live)
    return refuse("--display, --loop and --from-desktop belong to the live show");
  const bool track = !options.songs.empty();
  if ((options.recursive || options.shuffle) && (!track || mode != RunMode::live))
    return refuse("--recursive and --shuffle belong to songs played live: pulse165 [--shuffle] FILE|FOLDER...");
  if (options.listen) {
    if (mode != RunMode::live)
      return refuse("--listen is the live show: not with --screenshot, --capture, --benchmark or --track-info");
    if (track) return refuse("--listen and --track exclude one another: the show draws to what it hears");
    if (fromGiven || options.loop) return refuse("--from and --loop have no track to move in while listening");
    if (options.mute) return refuse("--mute has nothing to silence: listening plays no sound");
    return true;
  }
  if (mode == RunMode::trackInfo && !track) return refuse("--track-info needs --track=FILE");
  if ((options.beatRequest.bpm > 0 || options.beatRequest.firstBeatSeconds >= 0) && !track)
    return refuse("--bpm and --first-beat belong to --track");
  if (options.songs.size() > 1) {
    if (mode != RunMode::live && mode != RunMode::trackInfo)
      return refuse("--screenshot, --capture and --benchmark take one song");
    if (options.beatRequest.bpm > 0 || options.beatRequest.firstBeatSeconds >= 0 || fromGiven)
      return refuse("--bpm, --first-beat and --from belong to one song, not to a list");
  }
  // A hand-picked track's times wait until its length and its beats are known.
  if (track) return true;
  if (options.atGiven && !parseShowTime(options.atText, options.atPosition, error)) return false;
  if (fromGiven && !parseShowTime(options.fromText, options.fromPosition, error)) return false;
  if (toGiven && !parseShowTime(options.toText, options.toPosition, error)) return false;
  if (mode == RunMode::capture && options.fromPosition >= options.toPosition)
    return refuse("the capture's span is empty: --from must come before --to");
  if (mode == RunMode::live && options.fromPosition >= playbackFrameCount)
    return refuse("--from must lie before the end of the show (179 s)");
  return true;
}

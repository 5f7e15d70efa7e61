// Command-line parsing on getopt_long.
#include "app/options.h"

#include <getopt.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/encoder.h"
#include "audio/playback.h"
#include "platform/keys.h"
#include "show/show_clock.h"

namespace {
constexpr int maxSide = 16384;
constexpr double showSeconds = 179.0;

bool allDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// DIGITS or DIGITS.DIGITS, read as a decimal number (a huge one as infinity).
bool readDecimal(std::string_view text, double& value) {
  const std::size_t point = text.find('.');
  const bool wellFormed = point == std::string_view::npos
                              ? allDigits(text)
                              : allDigits(text.substr(0, point)) && allDigits(text.substr(point + 1));
  if (!wellFormed) return false;
  const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  if (problem == std::errc::result_out_of_range) value = HUGE_VAL;
  return end == text.data() + text.size() || problem == std::errc::result_out_of_range;
}

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
  optDisplay,
  optLoop,
  optBpm,
  optFirstBeat,
  optTrackInfo,
  optFromDesktop,
  optHelp,
  optVersion
};

constexpr int maxFps = 240;
constexpr int maxCrf = 63;  // VP9's scale; x264's ends at 51, checked with the codec
constexpr int maxBenchmarkFrames = 100000;
constexpr int maxDisplay = 63;
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

bool readShowTime(const std::string& text, ShowTime& time) {
  const std::string_view whole = text;
  if (!whole.empty() && whole.back() == 'b') {
    time.beats = true;
    return readDecimal(whole.substr(0, whole.size() - 1), time.value);
  }
  time.beats = false;
  const std::size_t colon = whole.find(':');
  if (colon == std::string_view::npos) return readDecimal(whole, time.value);
  // Minutes, then seconds below 60 written with two digits: "1:05", "12:59.5".
  const std::string_view minutes = whole.substr(0, colon), seconds = whole.substr(colon + 1);
  double m = 0, s = 0;
  if (!allDigits(minutes) || seconds.size() < 2 || (seconds.size() > 2 && seconds[2] != '.') ||
      !readDecimal(minutes, m) || !readDecimal(seconds, s) || s >= 60.0)
    return false;
  time.value = m * 60.0 + s;
  return true;
}

bool showTimePosition(const ShowTime& time, const std::string& text, std::uint32_t& position, std::string& error) {
  if (time.beats) {
    if (time.value * 60.0 / 165.0 > showSeconds) {
      error = "time '" + text + "' is outside the show (0 to 179 s, beats 0 to 492.25)";
      return false;
    }
    // The first frame of beat 288, not the end of beat 287.
    position = firstPositionOfBeat(time.value);
    return true;
  }
  if (time.value > showSeconds) {
    error = "time '" + text + "' is outside the show (0 to 179 s)";
    return false;
  }
  position = static_cast<std::uint32_t>(std::ceil(time.value * sampleRate - 1e-6));
  if (position > playbackFrameCount) position = playbackFrameCount;
  return true;
}


namespace {
// The grammar alone, for a time that waits for its track.
bool checkShowTime(const std::string& text, ShowTime& time, std::string& error) {
  if (readShowTime(text, time)) return true;
  error = "time '" + text + "' is not seconds (83.5), minutes:seconds (1:23.5) or beats (288b)";
  return false;
}

bool trackTimePosition(const std::string& text, const ShowClock& clock, std::uint32_t& position, std::string& error) {
  ShowTime time;
  if (!checkShowTime(text, time, error)) return false;
  const double seconds = static_cast<double>(clock.frames) / sampleRate;
  if (time.beats) {
    if (time.value > clock.endBeat()) {
      char range[96];
      // Rounded down: the last beat named must be one that is taken.
      std::snprintf(range, sizeof range, "beats 0 to %.2f from its first beat",
                    std::floor(clock.endBeat() * 100) / 100);
      error = "time '" + text + "' is outside the track (" + range + ")";
      return false;
    }
    position = clock.positionOfBeat(time.value);
    return true;
  }
  if (time.value > seconds) {
    error = "time '" + text + "' is outside the track (0 to " + clockText(seconds) + ")";
    return false;
  }
  const double at = std::ceil(time.value * sampleRate - 1e-6);
  position = at < clock.frames ? static_cast<std::uint32_t>(at) : clock.frames;
  return true;
}
}  // namespace

bool parseShowTime(const std::string& text, std::uint32_t& position, std::string& error) {
  ShowTime time;
  return checkShowTime(text, time, error) && showTimePosition(time, text, position, error);
}

bool resolveTrackTimes(Options& options, const ShowClock& clock, std::string& error) {
  if (!options.atText.empty() && !trackTimePosition(options.atText, clock, options.atPosition, error)) return false;
  if (!options.fromText.empty() && !trackTimePosition(options.fromText, clock, options.fromPosition, error))
    return false;
  options.toPosition = clock.frames;
  if (!options.toText.empty() && !trackTimePosition(options.toText, clock, options.toPosition, error)) return false;
  if (options.mode == RunMode::capture && options.fromPosition >= options.toPosition) {
    error = "the capture's span is empty: --from must come before --to";
    return false;
  }
  if (options.mode == RunMode::live && options.fromPosition >= clock.frames) {
    error = "--from must lie before the end of the track (" +
            clockText(static_cast<double>(clock.frames) / sampleRate) + ")";
    return false;
  }
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
      {"display", required_argument, nullptr, optDisplay},
      {"loop", no_argument, nullptr, optLoop},
      {"bpm", required_argument, nullptr, optBpm},
      {"first-beat", required_argument, nullptr, optFirstBeat},
      {"track-info", no_argument, nullptr, optTrackInfo},
      {"from-desktop", no_argument, nullptr, optFromDesktop},
      {"help", no_argument, nullptr, optHelp},
      {"version", no_argument, nullptr, optVersion},
      {nullptr, 0, nullptr, 0},
  };
  bool displayGiven = false;
  bool sizeGiven = false, fpsGiven = false, fromGiven = false, toGiven = false, framesGiven = false;
  bool qualityGiven = false;
  optind = 0;  // a fresh scan each call
  opterr = 0;
  for (;;) {
    int index = 0;
    const int id = getopt_long(argc, argv, "hV", longOptions, &index);
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
        options.trackPath = value;
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
  if (optind < argc) {
    error = std::string("unexpected argument '") + argv[optind] + "'";
    return false;
  }
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
    return refuse("--fps, --to, --crf and --preset belong to --capture");
  if (fromGiven && mode != RunMode::capture && mode != RunMode::live)
    return refuse("--from belongs to the live show and --capture");
  if (framesGiven && mode != RunMode::benchmark) return refuse("--frames belongs to --benchmark");
  if (options.json && mode != RunMode::benchmark && mode != RunMode::trackInfo)
    return refuse("--json belongs to --benchmark and --track-info");
  if (options.mute && mode != RunMode::live) return refuse("--mute belongs to the live show");
  if (options.windowed && mode != RunMode::live) return refuse("--window belongs to the live show");
  if ((displayGiven || options.loop || options.fromDesktop) && mode != RunMode::live)
    return refuse("--display, --loop and --from-desktop belong to the live show");
  const bool track = !options.trackPath.empty();
  if (mode == RunMode::trackInfo && !track) return refuse("--track-info needs --track=FILE");
  if ((options.beatRequest.bpm > 0 || options.beatRequest.firstBeatSeconds >= 0) && !track)
    return refuse("--bpm and --first-beat belong to --track");
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

const char* helpText() {
  static const std::string text = [] {
    std::string t =
        "Usage: pulse165 [OPTION]...\n"
        "A real-time audiovisual show: three minutes of music at 165 beats per minute and\n"
        "nine generated scenes drawn in step with it. With no options it plays full screen\n"
        "with sound and ends by itself after 179 seconds, or on Escape.\n"
        "\n"
        "Options:\n"
        "  --window[=WxH]        play in an ordinary window (default 1280x720, at most the\n"
        "                        screen's size)\n"
        "                          e.g. pulse165 --window=1600x800\n"
        "  --display=N           the screen the live show plays on, counted from 0 (default\n"
        "                        0): full screen there, or a window in its middle\n"
        "                          e.g. pulse165 --display=1\n"
        "  --loop                start the live show again when it ends (for kiosks)\n"
        "  --from-desktop        as the desktop's menu starts it: a failure to start also\n"
        "                        comes in a message box, as nobody reads stderr there\n"
        "  --screenshot=FILE.png render one moment headless (no display needed) to a PNG\n"
        "  --at=TIME             the moment for --screenshot: decimal seconds (83.5),\n"
        "                        minutes and seconds (1:23.5) or a beat (288b, 288.5b)\n"
        "                          e.g. pulse165 --screenshot=greetings.png --at=300b\n"
        "  --size=WxH            picture size for --screenshot, --capture and --benchmark\n"
        "                        (default 1920x1080); a capture needs an even width and height\n"
        "  --capture=FILE        render the show headless to a video, as fast as the\n"
        "                        machine allows: .mp4 (H.264 + AAC), .mkv (H.264 + FLAC)\n"
        "                        or .webm (VP9 + Opus)\n"
        "                          e.g. pulse165 --capture=show.mp4 --size=1280x720\n"
        "  --fps=N               frames per second of the capture (default 60)\n"
        "  --crf=N               the capture's constant quality, lower is better and larger:\n"
        "                        H.264 0 to 51 (default 18), VP9 0 to 63 (default 30)\n"
        "  --preset=NAME         how hard the encoder works, x264's names from fastest to\n"
        "                        smallest file: ultrafast (default), superfast, veryfast,\n"
        "                        faster, fast, medium, slow, slower, veryslow, placebo; for\n"
        "                        VP9 the first four are real-time mode at speed 8 to 5, the\n"
        "                        next five good-quality mode at speed 4 to 0, placebo best\n"
        "                          e.g. pulse165 --capture=show.mp4 --preset=medium --crf=23\n"
        "  --from=TIME           where the capture, or the live show, starts (default 0)\n"
        "                          e.g. pulse165 --from=288b\n"
        "  --to=TIME             where the capture ends (default the end: 179 s, or the track's)\n"
        "                          e.g. pulse165 --capture=claim.mkv --from=192b --to=288b\n"
        "  --benchmark           render every scene headless and print frame times\n"
        "                          e.g. pulse165 --benchmark --size=1280x720\n"
        "  --frames=N            frames per scene for --benchmark (default 180)\n"
        "  --json                print the benchmark's figures, or --track-info's, as JSON\n"
        "  --mute                play live without sound, on the computer's clock\n"
        "  --track=FILE          play the show to your own music instead of its soundtrack:\n"
        "                        any audio file FFmpeg reads (MP3, FLAC, Ogg Vorbis, Opus,\n"
        "                        WAV, AAC/M4A...), 30 s to 15 min (longer is cut there).\n"
        "                        The show finds the tempo and the first beat and moves on\n"
        "                        the track's beats, brings its loudness to the soundtrack's\n"
        "                        (-16.2 LUFS, peaks kept below full scale), and fits its\n"
        "                        schedule to the track: the opening opens, the finale ends\n"
        "                        with the music, the middle scenes fill what lies between,\n"
        "                        repeated or shortened. Live and with --screenshot,\n"
        "                        --capture and --benchmark; TIME then counts the track's\n"
        "                        seconds, and its beats from its first beat (--at=64b)\n"
        "                          e.g. pulse165 --window --track=mysong.mp3\n"
        "  --bpm=N               the track's tempo in beats per minute, 40 to 300, where\n"
        "                        the detected one is wrong (the first beat is still found)\n"
        "  --first-beat=TIME     where the track's first beat (a bar's start) lies, in\n"
        "                        seconds (0.37) or minutes:seconds (0:01.25)\n"
        "  --track-info          print what the show will do with the --track: length,\n"
        "                        format, tempo and where it came from (detected, given or\n"
        "                        fallback to 165 for music without a pulse), first beat,\n"
        "                        beats, loudness and gain, each scene's stretches; no picture\n"
        "                          e.g. pulse165 --track=mysong.mp3 --track-info --json\n"
        "  -h, --help            show this help and exit\n"
        "  -V, --version         show the version, library versions and GL renderer\n"
        "\n"
        "Keys, while the live show plays:\n";
    constexpr std::size_t column = 24;
    for (const KeyHelp& key : keyHelp()) {
      std::string line = std::string("  ") + key.keys;
      line += line.size() + 2 <= column ? std::string(column - line.size(), ' ') : "\n" + std::string(column, ' ');
      t += line + key.what + "\n";
    }
    t += "\n"
         "Files: a screenshot or capture is written to FILE.part-XXXXXX beside FILE (six\n"
         "random letters; FILE shortened if the name would be too long) and renamed to FILE\n"
         "when complete, so a failed or stopped run leaves nothing, and of two runs writing\n"
         "the same FILE the last to finish wins whole. Only SIGKILL or a crash leaves such a\n"
         "file behind; it is safe to delete and never blocks a later run.\n"
         "\n"
         "Exit status: 0 after the show, 1 when the machine cannot run it (no display,\n"
         "no audio device, no OpenGL, no encoder, a write that fails), 2 for a malformed\n"
         "command line (an unknown option, a bad value, an unknown file type, an odd capture\n"
         "size, a size beyond the renderer, the encoder or the free memory, an unwritable\n"
         "folder, an unusable --track, a --display that does not exist), 128 + N when a\n"
         "screenshot or capture is stopped by signal N (130 for Ctrl-C, 143 for SIGTERM,\n"
         "129 for SIGHUP).\n";
    return t;
  }();
  return text.c_str();
}

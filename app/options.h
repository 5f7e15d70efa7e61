// The command line: with no arguments the show plays as it is; options add a
// window, headless screenshots and the like.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/show_time.h"
#include "app/text.h"
#include "audio/beat_grid.h"

enum class RunMode { live, screenshot, capture, benchmark, trackInfo, help, version };

struct Options {
  RunMode mode = RunMode::live;
  bool windowed = false;
  int windowWidth = 1280;
  int windowHeight = 720;
  std::string screenshotPath;
  bool atGiven = false;
  std::uint32_t atPosition = 0;  // the play position that --at names
  int width = 1920;              // headless picture size
  int height = 1080;
  // Capture: the span from fromPosition up to toPosition, at fps frames per second.
  std::string capturePath;
  int fps = 60;
  std::uint32_t fromPosition = 0;  // also where the live show starts
  std::uint32_t toPosition = 7893900;
  int crf = -1;        // the video encoder's constant quality; -1 for its default
  std::string preset;  // x264's preset name; empty for the default, "ultrafast"
  // --segment=K/N: only the K-th of N pieces of the span, which joined end to end make
  // the whole capture; 1/1 for all of it.
  int segment = 1;
  int segments = 1;
  // Benchmark.
  int benchmarkFrames = 180;
  bool json = false;  // --benchmark and --track-info
  // Sound.
  bool mute = false;      // live show on a monotonic clock, no audio device
  int avOffsetMs = 0;     // --av-offset: the live picture this much later against the sound
  std::string trackPath;  // a hand-picked track in any common format instead of the embedded one
  // The songs as given (arguments and --track, in order): files, folders, .m3u lists.
  // One file is the hand-picked track above; more play in turn, each with its own show.
  std::vector<std::string> songs;
  bool recursive = false;   // folders' subfolders too
  bool shuffle = false;     // the songs in a random order
  BeatRequest beatRequest;  // --bpm and --first-beat
  // --listen[=SOURCE]: the live show draws to what it hears; the source by name or
  // number, empty for the default output's monitor, "list" to list them.
  bool listen = false;
  std::string listenSource;
  // The times as written. The embedded track's are resolved into the positions above
  // while parsing; a hand-picked track's count its own seconds and beats, so they wait
  // for resolveTrackTimes. Empty where not given.
  std::string atText, fromText, toText;
  // The live show's screen and ending.
  int display = -1;   // --display=N; -1: the first display
  bool loop = false;  // start again at the end (a list: its first song after its last)
  // --from-desktop: started from the desktop's menu, where nobody reads stderr; a
  // failure to start also comes in a message box.
  bool fromDesktop = false;
};

// Exit codes: 0 after the show, 1 when the environment fails it, 2 for usage errors.
constexpr int exitEnvironment = 1;
constexpr int exitUsage = 2;

// A failure as one line on stderr ("pulse165: " is added where the line lacks it);
// returns `code`.
int reportFailure(int code, const std::string& line);
// A command line that asks for what cannot be: its line and the hint to --help;
// returns exitUsage. Also for what is found wrong with the options only once the
// track is known (a time or a first beat past its end).
int reportMisuse(const std::string& line);

// Fills `options`; false with one line in `error` for unknown options and malformed
// or out-of-range values.
bool parseOptions(int argc, char** argv, Options& options, std::string& error);

// A whole number within [low, high].
bool parseCount(const std::string& text, int low, int high, int& value);

// "WxH" with 1 <= W, H <= 16384.
bool parseSize(const std::string& text, int& width, int& height, std::string& error);

const char* helpText();

// The command line: with no arguments the show plays as it is; options add a
// window, headless screenshots and the like.
#pragma once

#include <cstdint>
#include <string>

enum class RunMode { live, screenshot, help, version };

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
};

// Exit codes: 0 after the show, 1 when the environment fails it, 2 for usage errors.
constexpr int exitEnvironment = 1;
constexpr int exitUsage = 2;

// Fills `options`; false with one line in `error` for unknown options and malformed
// or out-of-range values.
bool parseOptions(int argc, char** argv, Options& options, std::string& error);

// "83.5" (seconds), "1:23.5" (minutes and seconds) or "288b" / "288.5b" (beats) to the
// first play position at or after that moment; false outside 0 .. 179 s.
bool parseShowTime(const std::string& text, std::uint32_t& position, std::string& error);

// "WxH" with 1 <= W, H <= 16384.
bool parseSize(const std::string& text, int& width, int& height, std::string& error);

const char* helpText();

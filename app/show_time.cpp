// TIME as the options write it, and the play positions it names on the show's clock
// or on a hand-picked track's.
#include "app/show_time.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "app/options.h"
#include "app/text.h"
#include "audio/playback.h"
#include "show/show_clock.h"

namespace {
constexpr double showSeconds = 179.0;

bool allDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// DIGITS or DIGITS.DIGITS, read as a decimal number (a huge one as infinity).
}  // namespace

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

bool checkShowTime(const std::string& text, ShowTime& time, std::string& error) {
  if (readShowTime(text, time)) return true;
  error = "time '" + text + "' is not seconds (83.5), minutes:seconds (1:23.5) or beats (288b)";
  return false;
}

namespace {

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

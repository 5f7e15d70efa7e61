// TIME as the options write it: decimal seconds, minutes:seconds or a beat, and the
// play positions it names on the show's own clock or on a hand-picked track's.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct Options;
struct ShowClock;

// DIGITS or DIGITS.DIGITS, read as a decimal number (a huge one as infinity).
bool readDecimal(std::string_view text, double& value);

// A TIME as written: decimal seconds ("83.5"), minutes and two-digit seconds
// ("1:23.5") or a beat ("288b", "288.5b"); digits and at most one point in each
// number, nothing else (no sign, exponent, spaces, "inf" or hexadecimal).
struct ShowTime {
  bool beats = false;
  double value = 0;  // seconds, or beats
};
bool readShowTime(const std::string& text, ShowTime& time);

// A ShowTime to the first play position at or after that moment; false outside
// 0 .. 179 s, with `text` quoted in `error`.
bool showTimePosition(const ShowTime& time, const std::string& text, std::uint32_t& position, std::string& error);

// The grammar alone, for a time that waits for its track; one line in `error`.
bool checkShowTime(const std::string& text, ShowTime& time, std::string& error);

// Both in one: text to play position, with one line in `error`.
bool parseShowTime(const std::string& text, std::uint32_t& position, std::string& error);

// With a hand-picked track, once its clock is known: --at, --from and --to as play
// positions on it (seconds of the track up to its end, beats counted from its first
// beat), --to at its end where not given, and the checks that need its length. False
// with one line in `error`.
bool resolveTrackTimes(Options& options, const ShowClock& clock, std::string& error);

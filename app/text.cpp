// Times for people, and JSON for scripts.
#include "app/text.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace {
// The bytes of the UTF-8 sequence at `at` (whose lead byte is 0x80 or above), and
// whether it is well-formed. An ill-formed one (a stray continuation byte, a lead byte
// that begins nothing: C0, C1, F5 to FF; a sequence cut short, an overlong form, a
// surrogate, a code point above U+10FFFF) ends before the first byte that cannot
// continue it: it becomes one U+FFFD, and the character after it is kept.
std::size_t utf8Sequence(const std::string& text, std::size_t at, bool& wellFormed) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(text[i])); };
  const unsigned lead = byte(at);
  std::size_t length = 0;
  unsigned low = 0x80, high = 0xbf;  // the second byte's range
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    if (lead == 0xe0) low = 0xa0;   // below U+0800: overlong
    if (lead == 0xed) high = 0x9f;  // U+D800 to U+DFFF: surrogates
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    if (lead == 0xf0) low = 0x90;   // below U+10000: overlong
    if (lead == 0xf4) high = 0x8f;  // above U+10FFFF
  }
  std::size_t i = 1;
  for (; i < length && at + i < text.size(); ++i) {
    const unsigned next = byte(at + i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xbf)) break;
  }
  wellFormed = length > 0 && i == length;
  return i;
}
}  // namespace

std::string clockText(double seconds, int decimals) {
  // Rounded first, so that 59.96 s reads 1:00.0, never 0:60.0.
  const double scale = std::pow(10.0, decimals);
  const double rounded = std::round(std::fabs(seconds) * scale) / scale;
  const int minutes = static_cast<int>(rounded / 60.0);
  char text[48];
  std::snprintf(text, sizeof text, "%s%d:%0*.*f", seconds < 0 && rounded > 0 ? "-" : "", minutes,
                decimals > 0 ? decimals + 3 : 2, decimals, rounded - 60.0 * minutes);
  return text;
}

std::string format(const char* pattern, ...) {
  char text[512];
  va_list arguments;
  va_start(arguments, pattern);
  std::vsnprintf(text, sizeof text, pattern, arguments);
  va_end(arguments);
  return text;
}

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (std::size_t at = 0; at < text.size();) {
    const char c = text[at];
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) {
      // A file name need not be UTF-8, but JSON must be: each ill-formed sequence
      // becomes one U+FFFD.
      bool wellFormed = false;
      const std::size_t length = utf8Sequence(text, at, wellFormed);
      out += wellFormed ? text.substr(at, length) : "\xef\xbf\xbd";
      at += length;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(byte));
      out += escaped;
    } else {
      out += c;
    }
    ++at;
  }
  return out + "\"";
}

JsonWriter& JsonWriter::key(const char* name) {
  if (!first.back()) text += ", ";
  first.back() = false;
  text += jsonString(name) + ": ";
  return *this;
}

JsonWriter& JsonWriter::field(const char* name, const std::string& value) {
  key(name);
  text += jsonString(value);
  return *this;
}

JsonWriter& JsonWriter::field(const char* name, const char* value) {
  return field(name, std::string(value));
}

JsonWriter& JsonWriter::field(const char* name, bool value) {
  key(name);
  text += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::field(const char* name, long long value) {
  key(name);
  text += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::number(const char* name, double value, const char* pattern) {
  key(name);
  if (!std::isfinite(value)) {
    text += "null";
    return *this;
  }
  char digits[64];
  std::snprintf(digits, sizeof digits, pattern, value);
  text += digits;
  return *this;
}

JsonWriter& JsonWriter::beginList(const char* name) {
  key(name);
  text += "[";
  first.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::beginItem() {
  text += first.back() ? "\n  {" : ",\n  {";
  first.back() = false;
  first.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::endItem() {
  text += "}";
  first.pop_back();
  return *this;
}

JsonWriter& JsonWriter::endList() {
  text += "\n]";
  first.pop_back();
  return *this;
}

std::string JsonWriter::finish() {
  return text + "}\n";
}

// Text for people and for scripts: times as minutes and seconds, and JSON, which
// every --json report writes through one writer.
#pragma once

#include <string>
#include <vector>

// A time as minutes:seconds with `decimals` places ("3:07.5"); a negative one keeps its
// sign. Rounded as a whole: 59.96 s reads 1:00.0, never 0:60.0.
std::string clockText(double seconds, int decimals = 1);

// printf into a std::string (at most 511 characters).
std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

// A JSON string with its quotes: quotes, backslashes and control characters escaped,
// and each ill-formed UTF-8 sequence replaced by U+FFFD (a file name need not be UTF-8).
std::string jsonString(const std::string& text);

// One JSON object, written field by field in the order given, with lists of objects,
// one per line: {"a": 1, "b": "x", "list": [\n  {"c": 2},\n  {"c": 3}\n]}.
struct JsonWriter {
  std::string text = "{";
  std::vector<bool> first{true};  // per open object or list: nothing written in it yet

  JsonWriter& field(const char* name, const std::string& value);  // a string
  JsonWriter& field(const char* name, const char* value);
  JsonWriter& field(const char* name, bool value);
  JsonWriter& field(const char* name, long long value);
  JsonWriter& field(const char* name, int value) { return field(name, static_cast<long long>(value)); }
  // A number in `pattern`'s form; null for what JSON cannot hold (infinity, NaN).
  JsonWriter& number(const char* name, double value, const char* pattern = "%.3f");
  JsonWriter& beginList(const char* name);
  JsonWriter& beginItem();
  JsonWriter& endItem();
  JsonWriter& endList();
  // The object closed, with a newline.
  std::string finish();

 private:
  JsonWriter& key(const char* name);
};

// Time series that outside programs recorded (ffmpeg's metadata printouts: one value a
// frame or a block, with its time stamp in microseconds), and where two of them match.
#pragma once

#include <limits>
#include <vector>

struct Series {
  std::vector<double> times;
  std::vector<double> values;
};

// Reads "pts:T" lines (microseconds: the filters set that time base) and the value line
// of `key` that follows each; decibels become amplitudes. False where fewer than two.
bool readSeries(const char* path, const char* key, bool decibels, Series& series);

// The value at `t`, linear between samples, held beyond the ends.
double valueAt(const Series& s, double t);

// Where `live` (on its recorder's clock) best matches `exact` (on another): the lag that
// takes exact's time onto live's, found coarsely (5 ms) over every lag that leaves 4 s
// in common, then to half a millisecond. False where no lag correlates above 0.5.
// Only lags from `from` to `to` seconds are tried, where given; `score`, where given,
// takes the match's correlation.
bool alignment(const Series& exact, const Series& live, double& lag,
               double from = -std::numeric_limits<double>::infinity(),
               double to = std::numeric_limits<double>::infinity(), double* score = nullptr);

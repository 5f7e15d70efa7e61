// The music the show plays: the embedded track, decoded by the show's own Vorbis
// decoder into the PlaybackBuffer, or a hand-picked file in any common format, decoded
// with FFmpeg's libraries, its beat found, its loudness brought to the embedded track's
// and the show's schedule fitted to its beats, all before the show starts.
#pragma once

#include <string>

#include "audio/beat_grid.h"
#include "audio/loudness.h"
#include "audio/media_decoder.h"
#include "show/music_source.h"
#include "show/track_schedule.h"

struct ShowMusic {
  std::string path;     // the hand-picked track as given; empty for the embedded track
  MediaTrack media;     // its floats at 44,100 Hz with the gain applied: what the show plays
  BeatRequest request;  // what the user gave of its beat
  BeatGrid grid;
  Loudness loudness;  // as measured, before the gain
  TrackSchedule schedule;
  std::string notice;  // one line where the track was cut at 15:00; empty otherwise

  ShowMusic() = default;
  ShowMusic(const ShowMusic&) = delete;
  ShowMusic& operator=(const ShowMusic&) = delete;

  bool handPicked() const { return !path.empty(); }
  // The embedded track's Ogg Vorbis stream for initialiseShow; null for a hand-picked
  // track, which is decoded already.
  const unsigned char* vorbisData() const;
  int vorbisSize() const;
  // This music as the show plays it (show/music_source.h); a hand-picked track's
  // samples stay here, so this must outlive the show that plays them.
  MusicSource source() const;
};

// Why the music cannot be played: the track itself, or an option that does not fit
// it (a time or a first beat past its end), told as a malformed command line is.
// Either ends the program with exit code 2.
enum class MusicRefusal { none, track, option };

// The hand-picked track at `path` with what the user gave of its beat; the embedded
// track where `path` is empty (nothing to do until initialiseShow). A refusal with one
// line in `error` for a track that cannot be played or a first beat past its end.
// FFmpeg's own log is silent meanwhile: failures come in the show's line.
MusicRefusal loadMusic(const std::string& path, const BeatRequest& request, ShowMusic& music, std::string& error);

// The analysis of music decoded into `music.media` (and named by `music.path`): its
// beat with what the user gave of it, its loudness brought to the embedded track's, and
// the show's schedule fitted to its beats. A refusal with one line in `error` for a first
// beat past its end. `found` and `measured`: the beat grid found and the loudness
// measured already, where a caller went through them in steps (the page).
MusicRefusal analyseMusic(const BeatRequest& request, ShowMusic& music, std::string& error,
                          const BeatGrid* found = nullptr, const Loudness* measured = nullptr);

struct Options;
// loadMusic for the options' --track, --bpm and --first-beat; then the music plays
// (playMusic) and, for a hand-picked track, the options' times are resolved on
// its clock. A long track's cut is told on stderr here. A refusal with one line in
// `error`.
MusicRefusal prepareMusic(Options& options, ShowMusic& music, std::string& error);

// Tells a refusal as its kind asks (the hint to --help for an option); returns exit code 2.
int reportRefusal(MusicRefusal refusal, const std::string& line);

// What the show will do with a hand-picked track: the live show's one line (tempo,
// first beat, gain), and --track-info's report for people and as one JSON object.
std::string trackSummary(const ShowMusic& music);
std::string trackInfoText(const ShowMusic& music);
std::string trackInfoJson(const ShowMusic& music);

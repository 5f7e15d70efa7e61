// The analysis of decoded music, and telling the user what the show will do with a
// hand-picked track.
#include "app/track.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "app/text.h"
#include "resources/embedded.h"
#include "show/show_clock.h"

// The show reads a few frames past the play position (the spectrum's window): a
// hand-picked track's silent guard is as long as the PlaybackBuffer's.
static_assert(mediaGuardFrames == guardFrameCount);

namespace {
std::string tempoText(const BeatGrid& grid) {
  return format("%.2f bpm, %s", grid.bpm, tempoSourceName(grid.source));
}

std::string gainText(const Loudness& loudness) {
  return format("%+.1f dB", loudness.gainDb);
}

}  // namespace

const unsigned char* ShowMusic::vorbisData() const {
  return handPicked() ? nullptr : embeddedTrack;
}

int ShowMusic::vorbisSize() const {
  return handPicked() ? 0 : static_cast<int>(embeddedTrackSize);
}

MusicSource ShowMusic::source() const {
  if (!handPicked()) return embeddedMusic();
  return fittedMusic(media.samples, static_cast<std::uint32_t>(media.frames), grid.map(), schedule);
}

MusicRefusal analyseMusic(const BeatRequest& request, ShowMusic& music, std::string& error, const BeatGrid* found,
                          const Loudness* measured) {
  music.request = request;
  if (request.firstBeatSeconds >= music.media.seconds()) {
    error = music.path + ": --first-beat lies past the end of the track (" + clockText(music.media.seconds(), 2) + ")";
    return MusicRefusal::option;
  }
  // The beat on the music as it is; the gain only scales it.
  music.grid = found != nullptr ? *found : findBeatGrid(music.media.samples, music.media.frames, request);
  music.loudness = measured != nullptr ? *measured : measureLoudness(music.media.samples, music.media.frames);
  applyGain(music.media.samples, music.media.frames, music.loudness.gain());
  music.schedule = fitSchedule(static_cast<int>(music.grid.beats));
  return MusicRefusal::none;
}

std::string trackSummary(const ShowMusic& music) {
  return music.path + ": " + tempoText(music.grid) + ", first beat at " + clockText(music.grid.firstBeatSeconds, 2) +
         ", gain " + gainText(music.loudness);
}

std::string trackInfoText(const ShowMusic& music) {
  const MediaTrack& media = music.media;
  const BeatGrid& grid = music.grid;
  const Loudness& loudness = music.loudness;
  std::string out = "file:       " + music.path + "\n";
  if (!media.title.empty() || !media.artist.empty())
    out += "song:       " + (media.artist.empty() ? "" : media.artist + " \u2013 ") + media.title +
           (media.album.empty() ? "" : " (" + media.album + ")") + "\n";
  out += format("duration:   %s (%.2f s)%s\n", clockText(media.seconds(), 2).c_str(), media.seconds(),
                media.cut ? ", cut at the show's longest" : "");
  out += format("source:     %s in %s, %d Hz, %d channel%s; played at 44,100 Hz stereo\n", media.codecName.c_str(),
                media.formatName.c_str(), media.sourceRate, media.sourceChannels, media.sourceChannels == 1 ? "" : "s");
  out += "tempo:      " + tempoText(grid);
  if (grid.source == TempoSource::detected) {
    out += format(" (pulse %.2f times chance", grid.pulse);
    if (grid.runnerUpBpm > 0) out += format("; next best %.2f bpm at %.2f", grid.runnerUpBpm, grid.runnerUpPulse);
    out += ")";
  }
  out += "\n";
  if (!grid.stretches.empty()) {
    out += format("tempo map:  %zu stretches of steady tempo\n", grid.stretches.size() + 1);
    for (const TempoStretch& s : tempoMap(grid))
      out += format("  from beat %-5.0f %s  %.2f bpm\n", s.beat, clockText(s.position / sampleRate, 2).c_str(),
                    60.0 * sampleRate / s.beatSamples);
  }
  if (!grid.note.empty()) out += "            " + grid.note + "\n";
  // The grid's note says why no pulse was found; then beat 0 is the first sample.
  const std::string placed = music.request.firstBeatSeconds >= 0 ? "given"
                             : !grid.barFound
                                 ? "the first sample: no pulse to place it by"
                                 : format("on a bar start, %.0f %% ahead of the next best", 100.0 * grid.barMargin);
  out += "first beat: " + clockText(grid.firstBeatSeconds, 2) + " (the show's beat 0; " + placed + ")\n";
  out += format("beats:      %lld, each %.3f s\n", static_cast<long long>(grid.beats), grid.beatSamples / sampleRate);
  if (std::isfinite(loudness.lufs))
    out += format("loudness:   %.1f LUFS, peak %.1f dBFS; gain ", loudness.lufs, loudness.peakDb) + gainText(loudness) +
           format(" towards the show's %.2f LUFS", embeddedLoudnessLufs) +
           (loudness.peakLimited ? format(", held back to keep the peak at %.0f dBFS", peakCeilingDb) : "") + "\n";
  else
    out += "loudness:   silent; no gain\n";
  out += "schedule:   the show's 493 beats fitted to the track's " + std::to_string(music.schedule.trackBeats) +
         ": the opening opens, the finale closes, the middle fills between\n";
  const std::vector<SceneSpan> spans = sceneSpans(music.schedule);
  const std::vector<SceneTimes> times = sceneTimes(music.schedule, grid, media.seconds());
  for (std::size_t i = 0; i < spans.size() && i < times.size(); ++i)
    out += format("  scene %d  %s - %s  beats %d-%d\n", times[i].scene, clockText(times[i].startSeconds, 2).c_str(),
                  clockText(times[i].endSeconds, 2).c_str(), spans[i].trackStart, spans[i].trackEnd - 1);
  return out;
}

std::string trackInfoJson(const ShowMusic& music) {
  const MediaTrack& media = music.media;
  const BeatGrid& grid = music.grid;
  const Loudness& loudness = music.loudness;
  JsonWriter json;
  json.field("file", music.path)
      .field("title", media.title)
      .field("artist", media.artist)
      .field("album", media.album)
      .number("duration_s", media.seconds())
      .field("cut", media.cut)
      .field("source_rate", media.sourceRate)
      .field("source_channels", media.sourceChannels)
      .field("format", media.formatName)
      .field("codec", media.codecName)
      .number("tempo_bpm", grid.bpm)
      .field("tempo_source", tempoSourceName(grid.source))
      .number("first_beat_s", grid.firstBeatSeconds, "%.4f")
      .field("beats", static_cast<long long>(grid.beats))
      .number("pulse", grid.pulse)
      .number("runner_up_bpm", grid.runnerUpBpm)
      .number("bar_margin", grid.barMargin)
      .field("note", grid.note)
      .number("loudness_lufs", loudness.lufs)  // null for silence
      .number("peak_dbfs", loudness.peakDb)
      .number("gain_db", loudness.gainDb)
      .field("peak_limited", loudness.peakLimited)
      .beginList("tempo_map");
  for (const TempoStretch& s : tempoMap(grid))
    json.beginItem()
        .field("beat", static_cast<long long>(s.beat))
        .number("start_s", s.position / sampleRate, "%.4f")
        .number("bpm", 60.0 * sampleRate / s.beatSamples)
        .endItem();
  json.endList().beginList("scenes");
  const std::vector<SceneSpan> spans = sceneSpans(music.schedule);
  const std::vector<SceneTimes> times = sceneTimes(music.schedule, grid, media.seconds());
  for (std::size_t i = 0; i < spans.size() && i < times.size(); ++i)
    json.beginItem()
        .field("scene", times[i].scene)
        .number("start_s", times[i].startSeconds)
        .number("end_s", times[i].endSeconds)
        .field("first_beat", spans[i].trackStart)
        .field("last_beat", spans[i].trackEnd - 1)
        .endItem();
  return json.endList().finish();
}

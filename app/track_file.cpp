// Loading a hand-picked track from its file: FFmpeg's decoding, then the analysis.
#include <cstdio>

extern "C" {
#include <libavutil/log.h>
}

#include "app/options.h"
#include "app/show_time.h"
#include "app/track.h"
#include "show/show_clock.h"

MusicRefusal loadMusic(const std::string& path, const BeatRequest& request, ShowMusic& music, std::string& error) {
  music.path = path;
  music.request = request;
  if (path.empty()) return MusicRefusal::none;
  const int level = av_log_get_level();
  av_log_set_level(AV_LOG_QUIET);
  const MediaResult result = decodeMediaFile(path, music.media);
  av_log_set_level(level);
  if (!result.ok()) {
    error = result.message;
    return MusicRefusal::track;
  }
  music.notice = result.message;  // where a long track was cut
  return analyseMusic(request, music, error);
}

MusicRefusal prepareMusic(Options& options, ShowMusic& music, std::string& error) {
  if (const MusicRefusal refusal = loadMusic(options.trackPath, options.beatRequest, music, error);
      refusal != MusicRefusal::none)
    return refusal;
  if (!music.notice.empty()) std::fprintf(stderr, "pulse165: %s\n", music.notice.c_str());
  playMusic(music.source());
  if (music.handPicked() && !resolveTrackTimes(options, showClock, error)) return MusicRefusal::option;
  return MusicRefusal::none;
}

int reportRefusal(MusicRefusal refusal, const std::string& line) {
  return refusal == MusicRefusal::option ? reportMisuse(line) : reportFailure(exitUsage, line);
}

// av_lag: how far the live picture lags the live sound, from what outside programs
// recorded (ffmpeg's metadata printouts, one value a frame with its time stamp in
// microseconds), against an exact capture of the same span.
//   av_lag LIVE_PICTURE LIVE_SOUND EXACT_PICTURE EXACT_SOUND
// A picture file holds lavfi.signalstats.YAVG per frame, a sound file
// lavfi.astats.Overall.RMS_level (dB) per block. The live sound is aligned with the
// capture's by cross-correlation, and so is the live picture with the capture's; in
// the capture both share one clock, so the difference of the two alignments is how
// much later the live picture comes than it should (negative: earlier), to the
// millisecond. Exits 1 where the recordings are too short or do not match.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/series.h"

namespace {
constexpr double pictureReach = 2.0;  // seconds either side of the sound's match
// The show lights up on every beat, so where the grab dropped frames a match a beat or
// two away can come out a little better than the right one: a match within half a beat
// (at 165 bpm) of the sound's is taken where its correlation is this close to the best.
constexpr double halfBeat = 30.0 / 165.0;
constexpr double nearlyAsGood = 0.05;

bool read(const char* path, bool picture, Series& series) {
  const bool ok = picture ? readSeries(path, "lavfi.signalstats.YAVG", false, series)
                          : readSeries(path, "lavfi.astats.Overall.RMS_level", true, series);
  if (!ok) std::fprintf(stderr, "pulse165: av_lag: no %s in %s\n", picture ? "brightness" : "levels", path);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "pulse165: av_lag: usage: av_lag LIVE_PICTURE LIVE_SOUND EXACT_PICTURE EXACT_SOUND\n");
    return 2;
  }
  Series livePicture, liveSound, exactPicture, exactSound;
  if (!read(argv[1], true, livePicture) || !read(argv[2], false, liveSound) || !read(argv[3], true, exactPicture) ||
      !read(argv[4], false, exactSound))
    return 1;
  double pictureLag = 0.0;
  double soundLag = 0.0;
  // The picture is matched near the sound's match: its brightness comes round again
  // every few seconds (a scene's figure of twelve beats is 4.4 s), and a match a whole
  // round away, as good as the right one, would be no measure of the picture's lag.
  double best = 0.0;
  if (!alignment(exactSound, liveSound, soundLag) ||
      !alignment(exactPicture, livePicture, pictureLag, soundLag - pictureReach, soundLag + pictureReach, &best)) {
    std::fprintf(stderr, "pulse165: av_lag: the live recordings do not match the capture\n");
    return 1;
  }
  double nearLag = 0.0, near = 0.0;
  if (alignment(exactPicture, livePicture, nearLag, soundLag - halfBeat, soundLag + halfBeat, &near) &&
      near >= best - nearlyAsGood)
    pictureLag = nearLag;
  std::printf("picture offset %+ld ms\n", std::lround((pictureLag - soundLag) * 1000.0));
  if (std::getenv("AV_LAG_DEBUG")) std::fprintf(stderr, "picture lag %.4f sound lag %.4f\n", pictureLag, soundLag);
  return 0;
}

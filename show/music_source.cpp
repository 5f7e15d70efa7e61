// The kinds of music, and the one writer of what the show reads of it.
#include "show/music_source.h"

MusicSource embeddedMusic() {
  return {PlaybackView{playbackBuffer, playbackFrameCount}, embeddedClock()};
}

MusicSource listeningMusic() {
  return {PlaybackView{playbackBuffer, listenRingFrames}, listeningClock()};
}

MusicSource fittedMusic(const float* samples, std::uint32_t frames, const BeatMap& beats,
                        const TrackSchedule& schedule) {
  return {PlaybackView{samples, frames}, fittedClock(beats, schedule, frames)};
}

void playMusic(const MusicSource& music) {
  playing = music.sound;
  showClock = music.clock;
}

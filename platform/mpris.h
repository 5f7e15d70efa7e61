// The desktop player as the desktop's media controls (and playerctl) see it: MPRIS on the
// session bus through sd-bus, with no thread of its own. The frame loop tells it what plays
// and calls poll() once a frame for what the controls asked.
#pragma once

#include <cstdint>
#include <string>

struct sd_bus;
struct sd_bus_slot;

// What the desktop's media controls ask of the player.
enum class MprisRequest { none, playPause, play, pause, stop, next, previous, seek, setPosition, raise, quit };
struct MprisCommand {
  MprisRequest request = MprisRequest::none;
  std::int64_t microseconds = 0;  // seek: the offset; setPosition: the position
};

struct MprisSong {
  std::string title, artist, album;  // empty ones are left out of the metadata
  std::int64_t lengthUs = 0;         // 0: not known
  int index = 0;                     // 0-based place in the list; mpris:trackid is /org/pulse165/song/<index>
};

enum class MprisStatus { playing, paused, stopped };

struct MprisPlayer {
  MprisPlayer() = default;
  MprisPlayer(const MprisPlayer&) = delete;  // the bus holds a pointer to it while open
  MprisPlayer& operator=(const MprisPlayer&) = delete;
  ~MprisPlayer() { close(); }

  // Connects to the session bus (the user's, or `address` where given: tests use a private bus)
  // and takes org.mpris.MediaPlayer2.pulse165, or org.mpris.MediaPlayer2.pulse165.instance<pid>
  // when another instance holds the first. False, silently, where there is no session bus: the
  // show runs on without it.
  bool open(const char* address = nullptr);
  void close();
  bool isOpen() const { return bus != nullptr; }
  // The name taken on the bus (empty while closed).
  const std::string& busName() const { return name; }
  // What the player is now; each emits PropertiesChanged for what changed (Metadata,
  // PlaybackStatus, CanGoNext/CanGoPrevious).
  void setSong(const MprisSong& now, bool nextAllowed, bool previousAllowed);
  void setStatus(MprisStatus now);
  // The position as of this frame (read by the Position property; no signal, as MPRIS says).
  void setPosition(std::int64_t microseconds) { position = microseconds; }
  // After a jump the player made (a key, a seek asked for over the bus): the Seeked signal.
  void seeked(std::int64_t microseconds);
  // Handles what the bus sent since the last call, without blocking; the requests in order,
  // at most `max` of them (more are dropped). Returns how many.
  int poll(MprisCommand* out, int max);

  // The state below is read by the bus's callbacks (platform/mpris.cpp).
  sd_bus* bus = nullptr;
  sd_bus_slot* slots[2] = {};  // the two interfaces' tables
  std::string name;
  MprisSong song;
  bool hasSong = false, canGoNext = false, canGoPrevious = false;
  MprisStatus status = MprisStatus::stopped;
  std::int64_t position = 0;
  // The requests since the last poll; those past the end are dropped.
  MprisCommand queue[16];
  int queued = 0;
  void push(MprisRequest request, std::int64_t microseconds = 0);
};

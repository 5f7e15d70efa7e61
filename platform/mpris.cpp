// MPRIS through sd-bus: two interfaces' tables on /org/mpris/MediaPlayer2, their properties
// read from the player's state when asked, their methods queued as requests for poll().
#include "platform/mpris.h"

#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>
#include <string_view>

namespace {

constexpr const char* objectPath = "/org/mpris/MediaPlayer2";
constexpr const char* rootInterface = "org.mpris.MediaPlayer2";
constexpr const char* playerInterface = "org.mpris.MediaPlayer2.Player";
constexpr const char* baseName = "org.mpris.MediaPlayer2.pulse165";

std::string trackPath(int index) {
  return "/org/pulse165/song/" + std::to_string(index);
}

MprisPlayer& playerOf(void* userdata) {
  return *static_cast<MprisPlayer*>(userdata);
}

int getRoot(sd_bus*, const char*, const char*, const char* property, sd_bus_message* reply, void*, sd_bus_error*) {
  const std::string_view p = property;
  if (p == "Identity" || p == "DesktopEntry") return sd_bus_message_append(reply, "s", "pulse165");
  if (p == "CanQuit" || p == "CanRaise") return sd_bus_message_append(reply, "b", 1);
  if (p == "HasTrackList" || p == "CanSetFullscreen") return sd_bus_message_append(reply, "b", 0);
  if (p == "SupportedUriSchemes") return sd_bus_message_append(reply, "as", 1, "file");
  // SupportedMimeTypes: what the decoder reads.
  return sd_bus_message_append(reply, "as", 7, "audio/mpeg", "audio/flac", "audio/ogg", "audio/x-wav", "audio/mp4",
                               "audio/aac", "audio/opus");
}

int appendMetadata(sd_bus_message* reply, const MprisPlayer& player) {
  int r = sd_bus_message_open_container(reply, 'a', "{sv}");
  if (r < 0 || !player.hasSong) return r < 0 ? r : sd_bus_message_close_container(reply);
  const MprisSong& s = player.song;
  const std::string track = trackPath(s.index);
  r = sd_bus_message_append(reply, "{sv}", "mpris:trackid", "o", track.c_str());
  if (r >= 0 && s.lengthUs > 0) r = sd_bus_message_append(reply, "{sv}", "mpris:length", "x", s.lengthUs);
  if (r >= 0 && !s.title.empty()) r = sd_bus_message_append(reply, "{sv}", "xesam:title", "s", s.title.c_str());
  if (r >= 0 && !s.artist.empty()) r = sd_bus_message_append(reply, "{sv}", "xesam:artist", "as", 1, s.artist.c_str());
  if (r >= 0 && !s.album.empty()) r = sd_bus_message_append(reply, "{sv}", "xesam:album", "s", s.album.c_str());
  return r < 0 ? r : sd_bus_message_close_container(reply);
}

int getPlayer(sd_bus*, const char*, const char*, const char* property, sd_bus_message* reply, void* userdata,
              sd_bus_error*) {
  const MprisPlayer& player = playerOf(userdata);
  const std::string_view p = property;
  if (p == "PlaybackStatus") {
    const char* words[] = {"Playing", "Paused", "Stopped"};
    return sd_bus_message_append(reply, "s", words[static_cast<int>(player.status)]);
  }
  if (p == "LoopStatus") return sd_bus_message_append(reply, "s", "None");
  if (p == "Rate" || p == "Volume" || p == "MinimumRate" || p == "MaximumRate")
    return sd_bus_message_append(reply, "d", 1.0);
  if (p == "Shuffle") return sd_bus_message_append(reply, "b", 0);
  if (p == "Metadata") return appendMetadata(reply, player);
  if (p == "Position") return sd_bus_message_append(reply, "x", player.position);
  if (p == "CanGoNext") return sd_bus_message_append(reply, "b", player.canGoNext);
  if (p == "CanGoPrevious") return sd_bus_message_append(reply, "b", player.canGoPrevious);
  // CanPlay, CanPause, CanSeek, CanControl.
  return sd_bus_message_append(reply, "b", 1);
}

// The methods without arguments, each a request as it stands.
int onRequest(sd_bus_message* m, void* userdata, sd_bus_error*) {
  struct Entry {
    std::string_view member;
    MprisRequest request;
  };
  static constexpr Entry entries[] = {
      {"Raise", MprisRequest::raise},       {"Quit", MprisRequest::quit},   {"Next", MprisRequest::next},
      {"Previous", MprisRequest::previous}, {"Pause", MprisRequest::pause}, {"PlayPause", MprisRequest::playPause},
      {"Stop", MprisRequest::stop},         {"Play", MprisRequest::play},
  };
  const std::string_view member = sd_bus_message_get_member(m);
  for (const Entry& e : entries)
    if (e.member == member) playerOf(userdata).push(e.request);
  return sd_bus_reply_method_return(m, "");
}

int onSeek(sd_bus_message* m, void* userdata, sd_bus_error*) {
  std::int64_t offset = 0;
  const int r = sd_bus_message_read(m, "x", &offset);
  if (r < 0) return r;
  playerOf(userdata).push(MprisRequest::seek, offset);
  return sd_bus_reply_method_return(m, "");
}

// Ignored, as MPRIS says, unless it names the song playing now and a place inside it.
int onSetPosition(sd_bus_message* m, void* userdata, sd_bus_error*) {
  MprisPlayer& player = playerOf(userdata);
  const char* track = nullptr;
  std::int64_t at = 0;
  const int r = sd_bus_message_read(m, "ox", &track, &at);
  if (r < 0) return r;
  const bool inside = at >= 0 && (player.song.lengthUs <= 0 || at <= player.song.lengthUs);
  if (player.hasSong && trackPath(player.song.index) == track && inside) player.push(MprisRequest::setPosition, at);
  return sd_bus_reply_method_return(m, "");
}

int onOpenUri(sd_bus_message*, void*, sd_bus_error* error) {
  return sd_bus_error_set(error, SD_BUS_ERROR_NOT_SUPPORTED, "pulse165 plays the songs it was started with");
}

constexpr std::uint64_t constant = SD_BUS_VTABLE_PROPERTY_CONST;
constexpr std::uint64_t changes = SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE;

const sd_bus_vtable rootTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Raise", "", "", onRequest, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Quit", "", "", onRequest, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_PROPERTY("Identity", "s", getRoot, 0, constant),
    SD_BUS_PROPERTY("DesktopEntry", "s", getRoot, 0, constant),
    SD_BUS_PROPERTY("CanQuit", "b", getRoot, 0, constant),
    SD_BUS_PROPERTY("CanRaise", "b", getRoot, 0, constant),
    SD_BUS_PROPERTY("HasTrackList", "b", getRoot, 0, constant),
    SD_BUS_PROPERTY("CanSetFullscreen", "b", getRoot, 0, constant),
    SD_BUS_PROPERTY("SupportedUriSchemes", "as", getRoot, 0, constant),
    SD_BUS_PROPERTY("SupportedMimeTypes", "as", getRoot, 0, constant),
    SD_BUS_VTABLE_END,
};

const sd_bus_vtable playerTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Next", "", "", onRequest, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Previous", "", "", onRequest, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Pause", "", "", onRequest, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("PlayPause", "", "", onRequest, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Stop", "", "", onRequest, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Play", "", "", onRequest, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("Seek", "x", SD_BUS_PARAM(Offset), "", , onSeek, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("SetPosition", "ox", SD_BUS_PARAM(TrackId) SD_BUS_PARAM(Position), "", , onSetPosition,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("OpenUri", "s", SD_BUS_PARAM(Uri), "", , onOpenUri, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL_WITH_NAMES("Seeked", "x", SD_BUS_PARAM(Position), 0),
    SD_BUS_PROPERTY("PlaybackStatus", "s", getPlayer, 0, changes),
    SD_BUS_PROPERTY("LoopStatus", "s", getPlayer, 0, constant),
    SD_BUS_PROPERTY("Rate", "d", getPlayer, 0, constant),
    SD_BUS_PROPERTY("Shuffle", "b", getPlayer, 0, constant),
    SD_BUS_PROPERTY("Metadata", "a{sv}", getPlayer, 0, changes),
    SD_BUS_PROPERTY("Volume", "d", getPlayer, 0, constant),
    SD_BUS_PROPERTY("Position", "x", getPlayer, 0, 0),  // read when wanted, never signalled
    SD_BUS_PROPERTY("MinimumRate", "d", getPlayer, 0, constant),
    SD_BUS_PROPERTY("MaximumRate", "d", getPlayer, 0, constant),
    SD_BUS_PROPERTY("CanGoNext", "b", getPlayer, 0, changes),
    SD_BUS_PROPERTY("CanGoPrevious", "b", getPlayer, 0, changes),
    SD_BUS_PROPERTY("CanPlay", "b", getPlayer, 0, constant),
    SD_BUS_PROPERTY("CanPause", "b", getPlayer, 0, constant),
    SD_BUS_PROPERTY("CanSeek", "b", getPlayer, 0, constant),
    SD_BUS_PROPERTY("CanControl", "b", getPlayer, 0, constant),
    SD_BUS_VTABLE_END,
};

}  // namespace

bool MprisPlayer::open(const char* address) {
  close();
  int r = 0;
  if (address != nullptr) {
    r = sd_bus_new(&bus);
    if (r >= 0) r = sd_bus_set_address(bus, address);
    if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
    if (r >= 0) r = sd_bus_start(bus);
  } else {
    r = sd_bus_open_user(&bus);
  }
  // Only open() waits on the bus (for the name); a bus that hangs costs two seconds once.
  if (r >= 0) r = sd_bus_set_method_call_timeout(bus, 2'000'000);
  if (r >= 0) r = sd_bus_add_object_vtable(bus, &slots[0], objectPath, rootInterface, rootTable, this);
  if (r >= 0) r = sd_bus_add_object_vtable(bus, &slots[1], objectPath, playerInterface, playerTable, this);
  if (r >= 0) {
    name = baseName;
    r = sd_bus_request_name(bus, name.c_str(), 0);
    if (r == -EEXIST) {
      name += ".instance" + std::to_string(getpid());
      r = sd_bus_request_name(bus, name.c_str(), 0);
    }
  }
  if (r < 0) close();
  return r >= 0;
}

void MprisPlayer::close() {
  for (sd_bus_slot*& slot : slots) slot = sd_bus_slot_unref(slot);
  // Flushed, so that the answer to a Quit still goes out.
  bus = sd_bus_flush_close_unref(bus);
  name.clear();
  queued = 0;
}

void MprisPlayer::setSong(const MprisSong& now, bool nextAllowed, bool previousAllowed) {
  const char* changed[4] = {};
  int count = 0;
  if (!hasSong || now.title != song.title || now.artist != song.artist || now.album != song.album ||
      now.lengthUs != song.lengthUs || now.index != song.index)
    changed[count++] = "Metadata";
  if (nextAllowed != canGoNext) changed[count++] = "CanGoNext";
  if (previousAllowed != canGoPrevious) changed[count++] = "CanGoPrevious";
  song = now;
  hasSong = true;
  canGoNext = nextAllowed;
  canGoPrevious = previousAllowed;
  if (bus != nullptr && count > 0)
    sd_bus_emit_properties_changed_strv(bus, objectPath, playerInterface, const_cast<char**>(changed));
}

void MprisPlayer::setStatus(MprisStatus now) {
  if (now == status) return;
  status = now;
  if (bus != nullptr) sd_bus_emit_properties_changed(bus, objectPath, playerInterface, "PlaybackStatus", nullptr);
}

void MprisPlayer::seeked(std::int64_t microseconds) {
  position = microseconds;
  if (bus != nullptr) sd_bus_emit_signal(bus, objectPath, playerInterface, "Seeked", "x", microseconds);
}

void MprisPlayer::push(MprisRequest request, std::int64_t microseconds) {
  if (queued < static_cast<int>(std::size(queue))) queue[queued++] = {request, microseconds};
}

int MprisPlayer::poll(MprisCommand* out, int max) {
  int r = 0;
  while (bus != nullptr && (r = sd_bus_process(bus, nullptr)) > 0) {
  }
  const int count = queued < max ? queued : max;
  for (int i = 0; i < count; ++i) out[i] = queue[i];
  queued = 0;
  // The bus went away (the session ended): the show goes on without it.
  if (r < 0) close();
  return count;
}

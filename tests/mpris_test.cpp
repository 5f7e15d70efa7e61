// The desktop player over MPRIS on a session bus of the test's own, driven by playerctl
// (and dbus-send) while the test polls it as the frame loop would.
#include "platform/mpris.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Mpris : ::testing::Test {
  pid_t daemon = 0;
  std::string address;

  void SetUp() override {
    if (std::system("command -v dbus-daemon playerctl dbus-send >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "dbus-daemon, dbus-send or playerctl is missing";
    // Its address and pid, a line each (its complaint that it may not raise its file limit aside).
    FILE* in = popen("dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1 2>/dev/null", "r");
    ASSERT_NE(in, nullptr);
    char line[512], pid[32];
    if (std::fgets(line, sizeof line, in) != nullptr && std::fgets(pid, sizeof pid, in) != nullptr) {
      address.assign(line, std::strcspn(line, "\n"));
      daemon = std::atoi(pid);
    }
    pclose(in);
    ASSERT_FALSE(address.empty()) << "the private bus did not start";
  }
  void TearDown() override {
    if (daemon > 0) kill(daemon, SIGTERM);
  }

  // Runs `command` on the private bus (5 s at most), polling `player` every 5 ms meanwhile
  // as the frame loop would; its output, and what the player was asked in `seen`.
  // `printed`, where given, is called once the command has printed something.
  std::string drive(MprisPlayer& player, const std::string& command, std::vector<MprisCommand>* seen = nullptr,
                    const std::function<void()>& printed = {}) {
    std::string output;
    std::atomic<bool> done = false, said = false;
    std::thread runner([&] {
      const std::string line = "DBUS_SESSION_BUS_ADDRESS='" + address + "' timeout 5 " + command + " 2>&1";
      if (FILE* pipe = popen(line.c_str(), "r")) {
        char chunk[256];
        while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) {
          output += chunk;
          said = true;
        }
        pclose(pipe);
      }
      done = true;
    });
    MprisCommand commands[8];
    for (bool told = false; !done;) {
      if (said && printed && !told) {
        printed();
        told = true;
      }
      const int n = player.poll(commands, 8);
      if (seen != nullptr) seen->insert(seen->end(), commands, commands + n);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    runner.join();
    if (!output.empty() && output.back() == '\n') output.pop_back();
    return output;
  }
};

const MprisSong first{"Night Drive", "Someone", "Tapes", 180'000'000, 0};
const MprisSong second{"Morning", "Another", "", 95'000'000, 1};

}  // namespace

TEST_F(Mpris, TheDesktopSeesTheSongAndStatus) {
  MprisPlayer player;
  ASSERT_TRUE(player.open(address.c_str()));
  EXPECT_EQ(player.busName(), "org.mpris.MediaPlayer2.pulse165");
  player.setSong(first, true, false);
  player.setStatus(MprisStatus::playing);
  const std::string format = " metadata --format '{{title}}|{{artist}}|{{album}}|{{mpris:length}}|{{mpris:trackid}}'";
  EXPECT_EQ(drive(player, "playerctl -p pulse165" + format),
            "Night Drive|Someone|Tapes|180000000|'/org/pulse165/song/0'");
  EXPECT_EQ(drive(player, "playerctl -p pulse165 status"), "Playing");
  // A desktop that follows the player hears of the next song as it starts.
  const std::string follow = "timeout 2 playerctl -p pulse165 --follow metadata --format '{{title}}|{{album}}'";
  EXPECT_EQ(drive(player, follow, nullptr,
                  [&] {
                    player.setSong(second, false, true);
                    player.setStatus(MprisStatus::paused);
                  }),
            "Night Drive|Tapes\nMorning|");
  EXPECT_EQ(drive(player, "playerctl -p pulse165 status"), "Paused");
}

TEST_F(Mpris, TheControlsReachPollInOrder) {
  MprisPlayer player;
  ASSERT_TRUE(player.open(address.c_str()));
  player.setSong(first, true, true);
  player.setStatus(MprisStatus::playing);
  std::vector<MprisCommand> seen;
  for (const char* command : {"next", "previous", "play-pause", "position 12", "position 5-", "stop"})
    drive(player, std::string("playerctl -p pulse165 ") + command, &seen);
  // A place in a song no longer playing, and one past the end, are ignored.
  const std::string setPosition =
      "dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.pulse165 /org/mpris/MediaPlayer2 "
      "org.mpris.MediaPlayer2.Player.SetPosition objpath:";
  drive(player, setPosition + "/org/pulse165/song/3 int64:1000000", &seen);
  drive(player, setPosition + "/org/pulse165/song/0 int64:200000000", &seen);
  const std::vector<std::pair<MprisRequest, std::int64_t>> expected = {
      {MprisRequest::next, 0},          {MprisRequest::previous, 0},
      {MprisRequest::playPause, 0},     {MprisRequest::setPosition, 12'000'000},
      {MprisRequest::seek, -5'000'000}, {MprisRequest::stop, 0}};
  ASSERT_EQ(seen.size(), expected.size());
  for (std::size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].request, expected[i].first) << "request " << i;
    EXPECT_EQ(seen[i].microseconds, expected[i].second) << "request " << i;
  }
}

TEST_F(Mpris, ASecondPlayerTakesAnInstanceNameAndNoBusIsQuiet) {
  MprisPlayer player, other;
  ASSERT_TRUE(player.open(address.c_str()));
  ASSERT_TRUE(other.open(address.c_str()));
  const std::string instance = "org.mpris.MediaPlayer2.pulse165.instance" + std::to_string(getpid());
  EXPECT_EQ(other.busName(), instance);
  const std::string listed = drive(player, "playerctl -l");
  EXPECT_NE(listed.find("pulse165.instance" + std::to_string(getpid())), std::string::npos) << listed;

  MprisPlayer lost;
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  EXPECT_FALSE(lost.open("unix:path=/nonexistent/pulse165-bus"));
  EXPECT_EQ(testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(lost.isOpen());
}

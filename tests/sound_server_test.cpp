// The live sound through a sound server of the test's own (PulseAudio with a null
// sink, whose monitor hears what it plays): the show's playback says how late the
// server plays, and what it plays comes back at its level through the capture.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "audio/sample_rate.h"
#include "platform/live.h"
#include "platform/pulse_capture.h"

namespace {

struct PrivateSoundServer : ::testing::Test {
  std::filesystem::path dir;
  pid_t server = 0;
  // The environment as it was, given back afterwards.
  struct Saved {
    const char* name;
    std::string value;
    bool set;
  };
  std::vector<Saved> saved;

  void SetUp() override {
    for (const char* name : {"XDG_RUNTIME_DIR", "HOME", "PULSE_SERVER"}) {
      const char* value = std::getenv(name);
      saved.push_back({name, value != nullptr ? value : "", value != nullptr});
    }
    if (std::system("command -v pulseaudio >/dev/null 2>&1") != 0) GTEST_SKIP() << "pulseaudio is missing";
    char pattern[] = "/tmp/pulse165-server-XXXXXX";
    dir = mkdtemp(pattern);
    const std::filesystem::path runtime = dir / "runtime";
    mkdir(runtime.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("HOME", dir.c_str(), 1);
    const std::string socket = (runtime / "pulse" / "native").string();
    setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    server = fork();
    if (server == 0) {
      freopen("/dev/null", "w", stderr);
      execlp("pulseaudio", "pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "--use-pid-file=no",
             "--load=module-null-sink sink_name=show", "--load=module-native-protocol-unix auth-anonymous=1",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    std::vector<CaptureSource> sources;
    std::string why;
    for (int tries = 0; tries < 100 && !listCaptureSources(sources, why); ++tries)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_FALSE(sources.empty()) << "the private sound server did not start: " << why;
  }
  void TearDown() override {
    if (server > 0) {
      kill(server, SIGTERM);
      waitpid(server, nullptr, 0);
    }
    for (const Saved& s : saved) {
      if (s.set) {
        setenv(s.name, s.value.c_str(), 1);
      } else {
        unsetenv(s.name);
      }
    }
    if (!dir.empty()) std::filesystem::remove_all(dir);
  }
};

}  // namespace

TEST_F(PrivateSoundServer, ThePlaybackNamesTheServersLatencyAndTheMonitorHearsItAtItsLevel) {
  std::vector<CaptureSource> sources;
  std::string why;
  ASSERT_TRUE(listCaptureSources(sources, why)) << why;
  int defaults = 0;
  for (const CaptureSource& s : sources) defaults += s.isDefault;
  ASSERT_EQ(defaults, 1);
  const auto monitor = std::find_if(sources.begin(), sources.end(), [](const CaptureSource& s) { return s.isDefault; });
  EXPECT_EQ(monitor->name, "show.monitor");
  EXPECT_TRUE(monitor->monitor);

  PulseCapture capture;
  ASSERT_TRUE(capture.open("", why)) << why;
  EXPECT_EQ(capture.sourceName, "show.monitor");

  // Two seconds of a sine at half the full scale, played by the show's own playback.
  constexpr std::uint32_t frames = 2 * sampleRate;
  std::vector<float> tone(2 * (frames + 512), 0.0f);
  for (std::uint32_t i = 0; i < frames; ++i)
    tone[2 * i] = tone[2 * i + 1] = 0.5f * std::sin(2.0 * M_PI * 441.0 * i / sampleRate);
  LiveAudio audio;
  ASSERT_TRUE(audio.open(tone.data(), frames, why)) << why;
  EXPECT_STREQ(audio.latencySource(), "from the sound server");
  audio.start();

  // What the monitor hears while the tone plays: its level, once the tone has begun.
  std::vector<float> heard(2 * sampleRate * 3);
  std::size_t count = 0;
  std::uint32_t playLatency = 0;
  std::int32_t captureLatency = 0;  // the largest each reported (the monitor's below 0)
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (audio.position() < frames * 3 / 4 && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    count += capture.read(heard.data() + 2 * count, static_cast<std::uint32_t>(heard.size() / 2 - count));
    playLatency = std::max(playLatency, audio.latency());
    if (std::abs(capture.latency()) > std::abs(captureLatency)) captureLatency = capture.latency();
  }
  EXPECT_GE(audio.position(), frames * 3 / 4) << "the tone plays on";
  EXPECT_GT(playLatency, 0u) << "the server's latency, as it reports it";
  EXPECT_NE(captureLatency, 0);
  double sum = 0.0;
  std::size_t loud = 0;
  for (std::size_t i = 0; i < count; ++i)
    if (std::abs(heard[2 * i]) > 0.01f) sum += heard[2 * i] * heard[2 * i], ++loud;
  ASSERT_GT(loud, sampleRate / 2u) << "the monitor heard the tone for at least half a second";
  EXPECT_NEAR(std::sqrt(sum / static_cast<double>(loud)), 0.5 / std::sqrt(2.0), 0.02);

  PulseCapture nowhere;
  EXPECT_FALSE(nowhere.open("no.such.source", why));
  EXPECT_NE(why.find("no.such.source"), std::string::npos) << why;
}

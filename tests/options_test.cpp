// The command line: times, sizes and the options that use them.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "app/run.h"
#include "audio/playback.h"
#include "platform/viewport.h"
#include "show/show_clock.h"

namespace {
bool parse(std::vector<const char*> args, Options& options, std::string& error) {
  args.insert(args.begin(), "pulse165");
  std::vector<char*> argv;
  for (const char* a : args) argv.push_back(const_cast<char*>(a));
  argv.push_back(nullptr);
  return parseOptions(static_cast<int>(args.size()), argv.data(), options, error);
}
}  // namespace

TEST(ShowTime, ReadsSecondsMinutesAndBeats) {
  std::uint32_t p = 0;
  std::string error;
  ASSERT_TRUE(parseShowTime("83.5", p, error));
  EXPECT_EQ(p, 3682350u);
  ASSERT_TRUE(parseShowTime("1:23.5", p, error));
  EXPECT_EQ(p, 3682350u);
  ASSERT_TRUE(parseShowTime("0", p, error));
  EXPECT_EQ(p, 0u);
  ASSERT_TRUE(parseShowTime("179", p, error));
  EXPECT_EQ(p, playbackFrameCount);
}

TEST(ShowTime, ABeatNamesTheFirstPositionOfThatBeat) {
  std::string error;
  for (int beat : {1, 10, 11, 64, 288, 420, 492}) {
    std::uint32_t p = 0;
    ASSERT_TRUE(parseShowTime(std::to_string(beat) + "b", p, error)) << error;
    EXPECT_EQ(beatClockAt(p).beat, beat) << "beat " << beat;
    EXPECT_EQ(beatClockAt(p - 1).beat, beat - 1) << "beat " << beat;
  }
  std::uint32_t half = 0;
  ASSERT_TRUE(parseShowTime("288.5b", half, error));
  EXPECT_NEAR(beatClockAt(half).beatPhase, 0.5f, 1e-3f);
}

TEST(ShowTime, RejectsTimesOutsideTheShowAndMalformedText) {
  std::uint32_t p = 0;
  std::string error;
  for (const char* text :
       {"-1", "179.1", "3:00", "493b", "-2b", "", "abc", "1:2:3", "1:75", "12x", " 5", "nan", "inf", "b", "1e400"}) {
    error.clear();
    EXPECT_FALSE(parseShowTime(text, p, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(ShowTime, WritesMinutesAndSecondsRoundedAsAWhole) {
  const struct {
    double seconds;
    int decimals;
    const char* text;
  } cases[] = {{179.0, 1, "2:59.0"},   {59.96, 1, "1:00.0"},   {187.519, 2, "3:07.52"},
               {-0.25, 2, "-0:00.25"}, {-0.001, 2, "0:00.00"}, {600.0, 0, "10:00"}};
  for (const auto& c : cases) EXPECT_EQ(clockText(c.seconds, c.decimals), c.text) << c.seconds;
}

TEST(PictureSize, AcceptsOneTo16384OnASideOnly) {
  int w = 0, h = 0;
  std::string error;
  ASSERT_TRUE(parseSize("1024x768", w, h, error));
  EXPECT_EQ(w, 1024);
  EXPECT_EQ(h, 768);
  ASSERT_TRUE(parseSize("16384x1", w, h, error));
  for (const char* text :
       {"0x0", "-5x10", "99999x99999", "16385x10", "10x", "x10", "10*10", "10x10x10", "", "1.5x2", "0010x0"}) {
    EXPECT_FALSE(parseSize(text, w, h, error)) << text;
  }
}

TEST(CommandLine, NoArgumentsIsTheFullScreenShow) {
  Options o;
  std::string error;
  ASSERT_TRUE(parse({}, o, error));
  EXPECT_EQ(o.mode, RunMode::live);
  EXPECT_FALSE(o.windowed);
}

TEST(CommandLine, ReadsWindowScreenshotAndSize) {
  Options o;
  std::string error;
  ASSERT_TRUE(parse({"--window"}, o, error));
  EXPECT_TRUE(o.windowed);
  EXPECT_EQ(o.windowWidth, 1280);
  Options s;
  ASSERT_TRUE(parse({"--screenshot=a.png", "--at=4b", "--size=1024x768"}, s, error)) << error;
  EXPECT_EQ(s.mode, RunMode::screenshot);
  EXPECT_EQ(s.screenshotPath, "a.png");
  EXPECT_EQ(s.width, 1024);
  EXPECT_EQ(beatClockAt(s.atPosition).beat, 4);
  Options w;
  ASSERT_TRUE(parse({"--window=800x400"}, w, error));
  EXPECT_EQ(w.windowHeight, 400);
}

TEST(CommandLine, ReadsTheLiveShowsDisplayAndLoop) {
  Options o;
  std::string error;
  ASSERT_TRUE(parse({}, o, error));
  EXPECT_EQ(o.display, -1);
  EXPECT_FALSE(o.loop);
  EXPECT_EQ(o.avOffsetMs, 0);
  ASSERT_TRUE(parse({"--display=2", "--loop", "--window", "--av-offset=-250"}, o, error)) << error;
  EXPECT_EQ(o.display, 2);
  EXPECT_TRUE(o.loop);
  EXPECT_EQ(o.avOffsetMs, -250);
  ASSERT_TRUE(parse({"--av-offset=+1000"}, o, error)) << error;
  EXPECT_EQ(o.avOffsetMs, 1000);
  EXPECT_FALSE(o.listen);
  Options l;
  ASSERT_TRUE(parse({"--listen", "--window", "--display=1", "--av-offset=30"}, l, error)) << error;
  EXPECT_TRUE(l.listen);
  EXPECT_EQ(l.listenSource, "");
  ASSERT_TRUE(parse({"--listen=alsa_input.usb-mic"}, l, error)) << error;
  EXPECT_EQ(l.listenSource, "alsa_input.usb-mic");
}

TEST(CommandLine, RejectsUnknownAndIncompleteOptions) {
  for (std::vector<const char*> args :
       std::vector<std::vector<const char*>>{{"--bogus"},
                                             {"-x"},
                                             {"--screenshot=a.png"},
                                             {"--at=4b"},
                                             {"--screenshot="},
                                             {""},
                                             {"a.mp3", "b.mp3", "--bpm=120"},
                                             {"a.mp3", "b.mp3", "--from=10"},
                                             {"a.mp3", "b.mp3", "--capture=a.mp4"},
                                             {"--shuffle"},
                                             {"a.mp3", "--recursive", "--screenshot=a.png", "--at=4b"},
                                             {"--listen", "a.mp3"},
                                             {"--window=0x0"},
                                             {"--help=yes"},
                                             {"--screenshot=a.png", "--at=200"},
                                             {"--size"},
                                             {"--window", "--screenshot=a.png", "--at=4b"},
                                             {"--window", "--capture=a.mp4"},
                                             {"--window", "--benchmark"},
                                             {"--loop", "--benchmark"},
                                             {"--display=1", "--capture=a.mp4"},
                                             {"--display=-1"},
                                             {"--display=64"},
                                             {"--display="},
                                             {"--loop=yes"},
                                             {"--av-offset=1001"},
                                             {"--av-offset=-"},
                                             {"--av-offset=4.5"},
                                             {"--av-offset=40", "--mute"},
                                             {"--av-offset=40", "--capture=a.mp4"},
                                             {"--listen="},
                                             {"--listen", "--track=a.mp3"},
                                             {"--listen", "--capture=a.mp4"},
                                             {"--listen", "--screenshot=a.png", "--at=4b"},
                                             {"--listen", "--benchmark"},
                                             {"--listen", "--from=10"},
                                             {"--listen", "--loop"},
                                             {"--listen", "--mute"}}) {
    Options o;
    std::string error, line;
    for (const char* arg : args) line += std::string(arg) + " ";
    EXPECT_FALSE(parse(args, o, error)) << line;
    EXPECT_FALSE(error.empty()) << line;
  }
}

TEST(VirtualClock, FrameNShowsFloorOfNTimes44100OverFps) {
  EXPECT_EQ(virtualPosition(0, 60), 0u);
  EXPECT_EQ(virtualPosition(1, 60), 735u);
  EXPECT_EQ(virtualPosition(10740, 60), playbackFrameCount);
  EXPECT_EQ(virtualPosition(1, 24), 1837u);
  EXPECT_EQ(firstFrameAtOrAfter(0, 60), 0u);
  EXPECT_EQ(firstFrameAtOrAfter(735, 60), 1u);
  EXPECT_EQ(firstFrameAtOrAfter(736, 60), 2u);
  EXPECT_EQ(firstFrameAtOrAfter(1838, 24), 2u);
}

TEST(Viewport, LetterboxesEveryScreenToAFullWidth2To1Band) {
  struct Case {
    int w, h, height, y;
    float aspect;
  };
  for (const Case c :
       {Case{1024, 768, 512, 128, 2.0f}, Case{1280, 1024, 640, 192, 2.0f}, Case{1920, 1080, 960, 60, 2.0f},
        Case{1366, 768, 683, 43, 2.0f}, Case{1365, 768, 682, 43, 2.0014663f}, Case{2560, 1080, 1280, -100, 2.0f},
        Case{0, 0, 0, 0, 0.0f}}) {
    const ViewportLayout v = letterboxViewport(c.w, c.h);
    EXPECT_EQ(v.width, c.w);
    EXPECT_EQ(v.height, c.height) << c.w << "x" << c.h;
    EXPECT_EQ(v.y, c.y) << c.w << "x" << c.h;
    if (c.height > 0) {
      EXPECT_FLOAT_EQ(v.aspect, c.aspect) << c.w << "x" << c.h;
    }
  }
  // A zero-sized client area gives 0 / 0: no picture, nothing broken.
  EXPECT_TRUE(std::isnan(letterboxViewport(0, 0).aspect));
}

TEST(CommandLine, TrackOptionsBelongToATrackAndItsTimesWaitForIt) {
  Options o;
  std::string error;
  ASSERT_TRUE(parse({"--track=a.mp3", "--track-info", "--json", "--bpm=127.5", "--first-beat=0:01.25"}, o, error));
  EXPECT_EQ(o.mode, RunMode::trackInfo);
  EXPECT_EQ(o.beatRequest.bpm, 127.5);
  EXPECT_EQ(o.beatRequest.firstBeatSeconds, 1.25);
  Options songs;  // arguments and --track are songs in turn; one alone is the track
  ASSERT_TRUE(parse({"a.mp3", "--track=b.ogg", "--shuffle", "c/"}, songs, error)) << error;
  EXPECT_EQ(songs.songs, (std::vector<std::string>{"a.mp3", "b.ogg", "c/"}));
  EXPECT_TRUE(songs.trackPath.empty());
  ASSERT_TRUE(parse({"a.mp3", "--bpm=120"}, songs = Options{}, error)) << error;
  EXPECT_EQ(songs.trackPath, "a.mp3");
  Options later;  // a time beyond the embedded show waits for the track
  ASSERT_TRUE(parse({"--track=a.mp3", "--screenshot=a.png", "--at=900b"}, later, error)) << error;
  for (std::vector<const char*> args :
       std::vector<std::vector<const char*>>{{"--track-info"},
                                             {"--bpm=120"},
                                             {"--track=a.mp3", "--bpm=300.1"},
                                             {"--track=a.mp3", "--first-beat=4b"},
                                             {"--track=a.mp3", "--track-info", "--window"},
                                             {"--track=a.mp3", "--screenshot=a.png", "--at=1:75"}}) {
    Options refused;
    EXPECT_FALSE(parse(args, refused, error)) << args.back();
  }
}

TEST(TrackTimes, CountTheTracksSecondsAndItsBeatsFromItsFirstBeat) {
  constexpr BeatMap beats{22050.0, 22050.0, {}};  // 120 bpm from half a second in, 60 s long
  constexpr std::uint32_t end = 60 * 44100;
  const ShowClock clock = fittedClock(beats, fitSchedule(119), end);
  struct Case {
    std::vector<const char*> args;
    bool accepted;
    std::uint32_t at, from, to;  // as resolved
  };
  const Case cases[] = {
      {{"--screenshot=a.png", "--at=10b"}, true, 22050 + 10 * 22050, 0, end},
      {{"--screenshot=a.png", "--at=119b"}, true, end, 0, end},  // the end, as a beat
      {{"--capture=a.mkv", "--from=0.5", "--to=4b"}, true, 0, 22050, 22050 + 4 * 22050},
      {{"--screenshot=a.png", "--at=1:00.1"}, false, 0, 0, 0},
      {{"--screenshot=a.png", "--at=119.1b"}, false, 0, 0, 0},
      {{"--from=60"}, false, 0, 0, 0},  // the live show must start before the end
  };
  for (const Case& c : cases) {
    std::vector<const char*> args = c.args;
    args.push_back("--track=a.flac");
    Options o;
    std::string error;
    ASSERT_TRUE(parse(args, o, error)) << error;
    ASSERT_EQ(resolveTrackTimes(o, clock, error), c.accepted) << args[0] << error;
    const std::vector<std::uint32_t> resolved = {o.atPosition, o.fromPosition, o.toPosition};
    if (c.accepted) {
      EXPECT_EQ(resolved, (std::vector<std::uint32_t>{c.at, c.from, c.to})) << args[0];
    }
  }
}

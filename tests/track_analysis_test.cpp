// Hand-picked tracks: decoding any format, finding the beat, matching the loudness, and
// the program on them.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/beat_grid.h"
#include "audio/decoder.h"
#include "audio/loudness.h"
#include "audio/media_decoder.h"
#include "audio/playback.h"
#include "resources/embedded.h"
#include "tests/fuzz/media_input.h"
#include "tests/sanitizer.h"
#include "tests/track_synth.h"
#include "show/show_state.h"

namespace fs = std::filesystem;

namespace {
// Files made for one test in a folder of its own, by FFmpeg's command-line tool.
class TrackFiles : public ::testing::Test {
 protected:
  fs::path dir = fs::temp_directory_path() /
                 ("pulse165-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
                  std::to_string(getpid()));

  void SetUp() override { fs::create_directories(dir); }
  void TearDown() override { fs::remove_all(dir); }

  // `ffmpeg ARGS FILE`; FFmpeg's own sources (video, pictures, tones) come in through ARGS.
  fs::path ffmpeg(const std::string& args, const std::string& file) {
    const std::string command = "ffmpeg -nostdin -v error -y " + args + " '" + (dir / file).string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return dir / file;
  }

  // The music (its left side alone for one channel) encoded into FILE with ARGS.
  fs::path make(const synth::Music& music, const std::string& file, const std::string& args, int channels = 2) {
    EXPECT_TRUE(synth::encode(music, dir / file, args, channels)) << file;
    return dir / file;
  }

  // The files one after another: a chained Ogg from Ogg files.
  fs::path chain(const std::vector<fs::path>& parts, const std::string& file) {
    std::ofstream out(dir / file, std::ios::binary);
    for (const fs::path& part : parts) out << std::ifstream(part, std::ios::binary).rdbuf();
    return dir / file;
  }
};

double peakOf(const MediaTrack& t, int side, std::int64_t from = 0) {
  double peak = 0;
  for (std::int64_t i = from; i < t.frames; ++i) peak = std::max(peak, std::fabs(double{t.samples[2 * i + side]}));
  return peak;
}

long statusField(const char* name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(name, 0) == 0) return std::stol(line.substr(line.find(':') + 1));
  return -1;
}

// What COMMAND printed (stdout and stderr), and its exit code.
std::string run(const std::string& command, int& code) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  std::string out;
  char buffer[4096];
  for (std::size_t n; pipe != nullptr && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  const int status = pipe != nullptr ? pclose(pipe) : -1;
  code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

// The number after NAME in a JSON text or an FFmpeg report (NaN where there is none).
double numberAfter(const std::string& text, const std::string& name) {
  const std::size_t at = text.find(name);
  return at == std::string::npos ? NAN : std::strtod(text.c_str() + at + name.size(), nullptr);
}

// The mean of red, green and blue over the left four fifths of a PNG (without the scope).
double meanLight(const fs::path& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return NAN;
  image.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return NAN;
  double sum = 0;
  const std::uint32_t columns = image.width * 4 / 5;
  for (std::uint32_t y = 0; y < image.height; ++y)
    for (std::uint32_t x = 0; x < 3 * columns; ++x) sum += rgb[3 * image.width * y + x];
  return sum / (3.0 * columns * image.height);
}
}  // namespace

TEST_F(TrackFiles, FindsTheTempoAndTheFirstBarInEveryFormat) {
  struct Case {
    const char* file;
    const char* args;
    int sourceRate;
    double bpm, firstBeat, expectedBpm;
  };
  const Case cases[] = {
      {"kicks.flac", "-ar 48000 -c:a flac", 48000, 128.0, 0.37, 128.0},
      {"kicks.mp3", "-c:a libmp3lame -b:a 192k", 44100, 174.0, 0.52, 174.0},
      {"kicks.opus", "-c:a libopus -b:a 128k", 48000, 90.0, 0.25, 180.0},  // below 110: doubled
      {"kicks.wav", "-c:a pcm_s16le", 44100, 140.0, 0.0, 140.0},             // on the first sample
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const fs::path path = make(synth::kicks(c.bpm, c.firstBeat, 36.0), c.file, c.args);
    MediaTrack track;
    const MediaResult result = decodeMediaFile(path, track);
    ASSERT_TRUE(result.ok()) << result.message;
    EXPECT_EQ(track.sourceRate, c.sourceRate);
    EXPECT_NEAR(track.seconds(), 36.0, 0.1);
    const BeatGrid grid = findBeatGrid(track.samples, track.frames);
    EXPECT_EQ(grid.source, TempoSource::detected) << grid.note;
    EXPECT_NEAR(grid.bpm, c.expectedBpm, 0.5);
    EXPECT_NEAR(grid.firstBeatSeconds, c.firstBeat, 0.025);
    EXPECT_GE(grid.firstBeatSeconds, 0.0);
  }
}

TEST(BeatGrid, MusicWithoutAPulseFallsBackTo165FromTheFirstSample) {
  const synth::Music silence = synth::silence(31.0);
  for (const synth::Music& music : {synth::drone(31.0), silence}) {
    const BeatGrid grid = findBeatGrid(music.stereo.data(), music.frames());
    EXPECT_EQ(grid.source, TempoSource::fallback);
    EXPECT_EQ(grid.bpm, 165.0);
    EXPECT_EQ(grid.firstBeatSamples, 0.0);
    EXPECT_FALSE(grid.note.empty());
    EXPECT_EQ(grid.beats, 86);  // 31 s at 165 bpm: 85.25 beats, the last begun
  }
}

TEST(BeatGrid, GivenValuesAreKeptAndOnlyTheRestIsSought) {
  const synth::Music music = synth::kicks(128.0, 0.25, 31.0);
  struct Case {
    BeatRequest request;
    TempoSource source;
    double bpm, firstBeat;
  };
  const Case cases[] = {
      {{128.0, -1.0}, TempoSource::given, 128.0, 0.25},                // the phase is found
      {{0.0, 0.25 + 0.46875}, TempoSource::detected, 128.0, 0.71875},  // the tempo is found
      {{100.0, 0.1}, TempoSource::given, 100.0, 0.1},                  // nothing is found
  };
  for (const Case& c : cases) {
    const BeatGrid grid = findBeatGrid(music.stereo.data(), music.frames(), c.request);
    EXPECT_EQ(grid.source, c.source) << c.request.bpm;
    EXPECT_NEAR(grid.bpm, c.bpm, c.source == TempoSource::given ? 0.0 : 0.5);
    EXPECT_NEAR(grid.firstBeatSeconds, c.firstBeat, c.request.firstBeatSeconds >= 0 ? 1e-9 : 0.025);
  }
}

TEST(BeatGrid, FoldsTheTempoIntoTheShowsRangeOrNearestToIt) {
  const double cases[][2] = {{165, 165}, {60, 120},  {90, 180},  {240, 120},
                             {380, 190}, {100, 200}, {105, 105}, {52.5, 105}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(foldTempo(c[0]), c[1]) << c[0];
}

TEST_F(TrackFiles, MonoIsHeardAtFullLevelOnBothSides) {
  synth::Music tone;
  tone.rate = 22050;
  for (int i = 0; i < 22050 * 31; ++i) tone.stereo.insert(tone.stereo.end(), 2, 0.5f * std::sin(0.1256f * i));
  MediaTrack track;
  ASSERT_TRUE(decodeMediaFile(make(tone, "mono.flac", "-c:a flac", 1), track).ok());
  EXPECT_EQ(track.sourceChannels, 1);
  EXPECT_NEAR(peakOf(track, 0, sampleRate), 0.5, 0.005);
  EXPECT_NEAR(peakOf(track, 1, sampleRate), 0.5, 0.005);
}

TEST_F(TrackFiles, ChannelsInNoKnownOrderAreMixedEvenLeftOddRight) {
  MediaLimits limits;
  limits.minFrames = 1;
  for (const std::uint32_t channels : {32u, 64u, 101u}) {  // past 64 the resampler takes none
    SCOPED_TRACE(channels);
    // A float WAV of one second at 8 kHz: 0.5 on the even channels, -0.25 on the odd ones.
    const fs::path path = dir / (std::to_string(channels) + ".wav");
    const std::uint32_t dataBytes = 8000 * channels * 4;
    std::ofstream out(path, std::ios::binary);
    const auto put = [&out](std::uint32_t value, int bytes) { out.write(reinterpret_cast<const char*>(&value), bytes); };
    out << "RIFF";
    put(36 + dataBytes, 4);
    out << "WAVEfmt ";
    put(16, 4);  // the size of the format chunk
    put(3, 2);   // floats
    put(channels, 2);
    put(8000, 4);
    put(8000 * channels * 4, 4);  // bytes a second
    put(channels * 4, 2);         // bytes a frame
    put(32, 2);
    out << "data";
    put(dataBytes, 4);
    for (std::uint32_t i = 0; i < 8000 * channels; ++i) {
      const float value = i % channels % 2 == 0 ? 0.5f : -0.25f;
      out.write(reinterpret_cast<const char*>(&value), sizeof value);
    }
    out.close();
    MediaTrack track;
    const MediaResult result = decodeMediaFile(path, track, limits);
    ASSERT_TRUE(result.ok()) << result.message;
    EXPECT_EQ(track.sourceChannels, static_cast<int>(channels));
    EXPECT_NEAR(track.samples[track.frames], 0.5, 1e-4);  // the middle frame, left then right
    EXPECT_NEAR(track.samples[track.frames + 1], -0.25, 1e-4);
  }
}

TEST_F(TrackFiles, RefusesWhatItCannotPlayInOneLine) {
  const fs::path garbage = dir / "garbage.mp3";
  std::ofstream(garbage) << std::string(50000, '\x5a') << "not music";
  const fs::path fifo = dir / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // A float WAV whose header claims 671 MHz: the resampler would take seconds and
  // gigabytes to set up for it.
  const fs::path hugeRate = dir / "huge-rate.wav";
  std::ofstream(hugeRate, std::ios::binary)
      .write(
          "RIFF\x64\x1f\0\0WAVEfmt \x10\0\0\0\x03\0\x01\0\x40\x1f\0\x28\0\x7d\x61\0\x04\0\x20\0"
          "data\x40\x1f\0\0\0\0\0\0vuLOgg=S",
          56);
  const fs::path vorbisThenOpus = chain({make(synth::kicks(120, 0, 20), "first.ogg", "-c:a libvorbis"),
                                         make(synth::kicks(120, 0, 20), "second.opus", "-c:a libopus")},
                                        "chain.ogg");
  struct Case {
    fs::path path;
    MediaRefusal refusal;
  };
  const Case cases[] = {
      {ffmpeg("-f lavfi -i testsrc=d=1:s=64x64 -c:v mpeg4", "video.mkv"), MediaRefusal::noAudioStream},
      {ffmpeg("-f lavfi -i color=c=red:s=64x64 -frames:v 1", "picture.png"), MediaRefusal::noAudioStream},
      {garbage, MediaRefusal::nothingDecodable},
      {hugeRate, MediaRefusal::nothingDecodable},
      {make(synth::kicks(120, 0, 5), "short.flac", "-c:a flac"), MediaRefusal::tooShort},
      {vorbisThenOpus, MediaRefusal::damaged},  // a chained Ogg whose second stream changes codec
      {dir, MediaRefusal::notRegularFile},
      {fifo, MediaRefusal::notRegularFile},
      {dir / "missing.flac", MediaRefusal::unreadable},
  };
  for (const Case& c : cases) {
    MediaTrack track;
    const MediaResult result = decodeMediaFile(c.path, track);
    EXPECT_EQ(result.refusal, c.refusal) << c.path << ": " << result.message;
    EXPECT_EQ(result.message.rfind(c.path.string() + ": ", 0), 0u) << result.message;
    EXPECT_EQ(result.message.find('\n'), std::string::npos) << result.message;
    EXPECT_EQ(track.samples, nullptr);
    EXPECT_EQ(track.frames, 0);
  }
}

TEST_F(TrackFiles, AChainedOggPlaysAllItsStreams) {
  const fs::path stereoThenMono =
      chain({make(synth::kicks(120, 0, 20), "a.ogg", "-c:a libvorbis -serial_offset 1"),
             make(synth::kicks(140, 0, 15), "b.ogg", "-ar 22050 -c:a libvorbis -serial_offset 9", 1)},
            "chain.ogg");
  MediaTrack track;
  const MediaResult result = decodeMediaFile(stereoThenMono, track);
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_NEAR(track.seconds(), 35.0, 0.1);
  EXPECT_EQ(track.resamplerSetups, 2);
  EXPECT_GT(peakOf(track, 0, 25 * sampleRate), 0.2);  // the second stream is heard, on both sides
  EXPECT_GT(peakOf(track, 1, 25 * sampleRate), 0.2);
}

TEST_F(TrackFiles, ANameWithAColonIsAFileName) {
  const fs::path made = make(synth::kicks(120, 0, 31), "made.flac", "-c:a flac");
  const fs::path before = fs::current_path();
  fs::current_path(dir);
  for (const char* name : {"file:made.flac", "pipe:0", "concat:made.flac|made.flac"}) {
    fs::copy_file(made, name);
    MediaTrack track;
    const MediaResult result = decodeMediaFile(name, track);
    EXPECT_TRUE(result.ok()) << name << ": " << result.message;
    EXPECT_NEAR(track.seconds(), 31.0, 0.05) << name;
  }
  fs::current_path(before);
}

TEST_F(TrackFiles, BytesInMemoryDecodeAsTheFileDoes) {
  const fs::path path = make(synth::kicks(120, 0, 31), "kicks.m4a", "-c:a aac -b:a 96k");
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  MediaTrack fromFile, fromBytes;
  ASSERT_TRUE(decodeMediaFile(path, fromFile).ok());
  ASSERT_TRUE(decodeMediaBytes(bytes.data(), bytes.size(), fromBytes).ok());
  ASSERT_EQ(fromFile.frames, fromBytes.frames);
  EXPECT_TRUE(std::equal(fromFile.samples, fromFile.samples + 2 * fromFile.frames, fromBytes.samples));
}

TEST_F(TrackFiles, ALongTrackIsCutAtTheLimitAndASlowOneStopsAtTheDeadline) {
  const fs::path path = make(synth::kicks(120, 0, 34), "long.flac", "-c:a flac");
  MediaTrack track;
  MediaLimits limits;
  limits.maxFrames = 32 * sampleRate;
  const MediaResult cut = decodeMediaFile(path, track, limits);
  ASSERT_TRUE(cut.ok()) << cut.message;
  EXPECT_TRUE(track.cut);
  EXPECT_EQ(track.frames, limits.maxFrames);
  EXPECT_NE(cut.message.find("cut"), std::string::npos);
  for (std::int64_t i = 2 * track.frames; i < 2 * (track.frames + mediaGuardFrames); ++i)
    ASSERT_EQ(track.samples[i], 0.0f);  // the guard after the end is silent

  limits.deadlineSeconds = 0.0;
  EXPECT_EQ(decodeMediaFile(path, track, limits).refusal, MediaRefusal::tooSlow);
}

TEST_F(TrackFiles, ATenMinuteTrackCostsItsFloatsAndLittleMore) {
  if (underAddressSanitizer()) GTEST_SKIP() << "the sanitizer's own bookkeeping swamps the figure";
  const fs::path path = ffmpeg("-f lavfi -i sine=f=220:d=600:r=48000 -ac 2 -c:a flac", "ten.flac");
  std::ofstream("/proc/self/clear_refs") << "5";  // peak resident size starts afresh
  const long before = statusField("VmRSS:");
  MediaTrack track;
  ASSERT_TRUE(decodeMediaFile(path, track).ok());
  const long peakKiB = statusField("VmHWM:") - before;
  const long floatsKiB = static_cast<long>(track.frames * 2 * sizeof(float) / 1024);
  EXPECT_EQ(track.frames, 600 * sampleRate);
  EXPECT_LT(peakKiB, floatsKiB + 24 * 1024) << "peak " << peakKiB << " KiB for " << floatsKiB << " KiB of floats";
}

TEST(MediaDecoder, CommittedFuzzInputsKeepTheRules) {
  const fs::path root = fs::path(PULSE165_SOURCE_DIR) / "tests" / "fuzz";
  int replayed = 0;
  for (const char* folder : {"media_corpus", "media_crashes"}) {
    if (!fs::is_directory(root / folder)) continue;
    for (const fs::directory_entry& entry : fs::directory_iterator(root / folder)) {
      std::ifstream in(entry.path(), std::ios::binary);
      const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
      // The rules are checked inside; a broken one aborts the test.
      const MediaResult result = fuzzmedia::decodeUntrusted(bytes.data(), bytes.size());
      ++replayed;
      const std::string name = entry.path().filename().string();
      if (name == "chained-codecs.ogg") {
        EXPECT_EQ(result.refusal, MediaRefusal::damaged);
      } else if (folder == std::string("media_corpus") && name.find('.') != std::string::npos) {
        EXPECT_TRUE(result.ok()) << name << ": " << result.message;  // the seeds, named for what they hold, play
      }
    }
  }
  EXPECT_GE(replayed, 21);
}

TEST(Loudness, TheEmbeddedTrackMeasuresAsItsConstantSays) {
  TrackDecoder decoder(embeddedTrack, embeddedTrackSize);
  ASSERT_TRUE(decoder.open() && decoder.decodeAll());
  resetShowState();
  fillPlaybackBuffer(decoder.pcmData, decoder.pcmBytes());
  decoder.clear();
  EXPECT_NEAR(measureLoudness(playbackBuffer, playbackFrameCount).lufs, embeddedLoudnessLufs, 0.05);
}

TEST(Loudness, GainReachesTheTargetUnlessThePeakStopsIt) {
  // Short loud beeps in silence: quiet on the whole, but already near full scale.
  synth::Music beeps = synth::silence(31.0);
  for (int i = 0; i < 44100 * 31; ++i)
    if (i % 44100 < 441) beeps.stereo[2 * i] = beeps.stereo[2 * i + 1] = 0.8f * std::sin(0.1f * i);
  const synth::Music silence = synth::silence(31.0);
  struct Case {
    synth::Music music;
    bool limited;
  };
  synth::Music quiet = synth::drone(31.0);  // an old master, 30 dB down
  for (float& v : quiet.stereo) v *= 0.03f;
  Case cases[] = {{quiet, false}, {beeps, true}, {silence, false}};
  for (Case& c : cases) {
    const Loudness before = measureLoudness(c.music.stereo.data(), c.music.frames());
    EXPECT_EQ(before.peakLimited, c.limited);
    applyGain(c.music.stereo.data(), c.music.frames(), before.gain());
    const Loudness after = measureLoudness(c.music.stereo.data(), c.music.frames());
    if (!std::isfinite(before.lufs)) {
      EXPECT_EQ(before.gainDb, 0.0);  // silence stays as it is
    } else if (c.limited) {
      EXPECT_NEAR(after.peakDb, peakCeilingDb, 0.01);
      EXPECT_LT(after.lufs, embeddedLoudnessLufs);
    } else {
      EXPECT_GT(before.gainDb, 10.0);
      EXPECT_NEAR(after.lufs, embeddedLoudnessLufs, 0.1);
    }
  }
}

TEST_F(TrackFiles, TrackInfoTellsWhatTheShowWillDoAsTextAndJson) {
  const fs::path flac = make(synth::kicks(128.0, 0.37, 40.0), "kicks.flac", "-ar 48000 -c:a flac");
  const std::string program = std::string(PULSE165_BINARY) + " --track-info --track='" + flac.string() + "'";
  int code = -1;
  const std::string json = run(program + " --json", code);
  ASSERT_EQ(code, 0) << json;
  EXPECT_EQ(json.find("{\"file\": "), 0u) << json;
  EXPECT_NEAR(numberAfter(json, "\"duration_s\": "), 40.0, 0.01);
  EXPECT_NEAR(numberAfter(json, "\"tempo_bpm\": "), 128.0, 0.5);
  EXPECT_NE(json.find("\"tempo_source\": \"detected\""), std::string::npos);
  EXPECT_NEAR(numberAfter(json, "\"first_beat_s\": "), 0.37, 0.025);
  EXPECT_EQ(numberAfter(json, "\"beats\": "), 85);  // (40 - 0.37) / (60 / 128) = 84.5: 85 begun
  // The schedule from the start to the end: the opening first, scene 9 last.
  EXPECT_NE(json.find("[\n  {\"scene\": 1, \"start_s\": 0.000,"), std::string::npos) << json;
  EXPECT_NE(json.find("{\"scene\": 9, \"start_s\": 36.9"), std::string::npos) << json;
  EXPECT_NE(json.find("\"end_s\": 40.000, \"first_beat\": 78, \"last_beat\": 84}\n]}"), std::string::npos);

  const std::string text = run(program + " --bpm=130 --first-beat=0.5", code);
  EXPECT_NE(text.find("tempo:      130.00 bpm, given"), std::string::npos) << text;
  EXPECT_NE(text.find("first beat: 0:00.50"), std::string::npos) << text;
}

TEST_F(TrackFiles, TheShowEndsWithTheTrackInScene9sFade) {
  const fs::path flac = make(synth::kicks(128.0, 0.37, 40.0), "kicks.flac", "-ar 48000 -c:a flac");
  const std::string program = std::string(PULSE165_BINARY) + " --size=160x80 --track='" + flac.string() + "'";
  int code = -1;
  // Track beat 60 shows scene 8's ring of stars; the end, within beat 84 of 85, its fade.
  for (const char* at : {"60b", "40"}) {
    const std::string out = run(program + " --at=" + at + " --screenshot='" + (dir / at).string() + ".png'", code);
    ASSERT_EQ(code, 0) << out;
  }
  const double ring = meanLight(dir / "60b.png"), end = meanLight(dir / "40.png");
  EXPECT_GT(ring, 10.0);
  EXPECT_LT(end, 0.1 * ring) << "scene 8: " << ring << ", the end: " << end;
  EXPECT_NE(run(program + " --screenshot=x.png --at=40.1", code).find("outside the track (0 to 0:40.0)"),
            std::string::npos);
  EXPECT_EQ(code, 2);
  // A capture from 39 s runs to the track's end, with the track's kicks as its sound.
  const std::string clip = (dir / "end.mkv").string();
  EXPECT_NE(run(program + " --from=39 --capture='" + clip + "'", code).find(": 60 frames, 0:01.0"), std::string::npos);
  const std::string volume = run("ffmpeg -nostdin -i '" + clip + "' -af volumedetect -f null -", code);
  EXPECT_GT(numberAfter(volume, "max_volume: "), -12.0) << volume;
}

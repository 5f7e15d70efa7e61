// Video capture: the span of frames and sound, the files as libavformat reads them
// back, the sound sample for sample through the lossless path, the same frames for
// the same options, and the refusals that come before any work.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <GL/gl.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/capture.h"
#include "app/start_up.h"
#include "app/encoder.h"
#include "app/options.h"
#include "app/run.h"
#include "audio/playback.h"
#include "audio/spectrum.h"
#include "effects/disk_swarm.h"
#include "platform/headless.h"
#include "resources/embedded.h"
#include "show/frame.h"
#include "tests/probe.h"
#include "show/music_source.h"
#include "show/offline_run.h"

namespace {
constexpr int testWidth = 320;
constexpr int testHeight = 180;
constexpr int testFps = 60;

// A fresh, empty directory for one test's files.
std::string scratchDirectory(const std::string& name) {
  std::string path = testing::TempDir() + "pulse165-capture-" + name + "-" + std::to_string(getpid());
  std::string command = "rm -rf '" + path + "'";
  if (std::system(command.c_str()) != 0) ADD_FAILURE() << "cannot clear " << path;
  mkdir(path.c_str(), 0755);
  return path;
}

std::vector<std::string> filesIn(const std::string& directory) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(directory.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

Options captureOptions(const std::string& path, double fromSeconds, double toSeconds) {
  Options options;
  options.mode = RunMode::capture;
  options.capturePath = path;
  options.width = testWidth;
  options.height = testHeight;
  options.fps = testFps;
  options.fromPosition = static_cast<std::uint32_t>(std::lround(fromSeconds * sampleRate));
  options.toPosition = static_cast<std::uint32_t>(std::lround(toSeconds * sampleRate));
  return options;
}

// What libavformat and libavcodec find in a file: the streams, every video packet,
// and the decoded sound (kept as interleaved 16-bit samples where the decoder gives
// them so, as FLAC does).
struct FileFacts {
  int videoStreams = 0;
  int audioStreams = 0;
  AVCodecID videoCodec = AV_CODEC_ID_NONE;
  AVCodecID audioCodec = AV_CODEC_ID_NONE;
  int width = 0;
  int height = 0;
  AVRational frameRate{0, 1};
  std::int64_t videoPackets = 0;
  std::int64_t firstVideoPts = -1;
  int audioRate = 0;
  int audioChannels = 0;
  std::int64_t audioSamples = 0;  // decoded sample frames
  std::vector<std::int16_t> pcm;  // interleaved, when the decoder gives packed or planar 16-bit samples

  double audioSeconds() const { return audioRate > 0 ? static_cast<double>(audioSamples) / audioRate : 0; }
};

void keepSamples(const AVFrame* frame, FileFacts& facts) {
  facts.audioSamples += frame->nb_samples;
  const int channels = frame->ch_layout.nb_channels;
  if (frame->format == AV_SAMPLE_FMT_S16) {
    const auto* data = reinterpret_cast<const std::int16_t*>(frame->data[0]);
    facts.pcm.insert(facts.pcm.end(), data, data + frame->nb_samples * channels);
  } else if (frame->format == AV_SAMPLE_FMT_S16P) {
    for (int i = 0; i < frame->nb_samples; ++i)
      for (int c = 0; c < channels; ++c) facts.pcm.push_back(reinterpret_cast<const std::int16_t*>(frame->data[c])[i]);
  }
}

FileFacts readFile(const std::string& path) {
  FileFacts facts;
  AVFormatContext* input = nullptr;
  if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0) {
    ADD_FAILURE() << "libavformat cannot open " << path;
    return facts;
  }
  avformat_find_stream_info(input, nullptr);
  int videoIndex = -1, audioIndex = -1;
  AVCodecContext* decoder = nullptr;
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    const AVStream* stream = input->streams[i];
    const AVCodecParameters* p = stream->codecpar;
    if (p->codec_type == AVMEDIA_TYPE_VIDEO) {
      ++facts.videoStreams;
      videoIndex = static_cast<int>(i);
      facts.videoCodec = p->codec_id;
      facts.width = p->width;
      facts.height = p->height;
      facts.frameRate = stream->avg_frame_rate.num != 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    } else if (p->codec_type == AVMEDIA_TYPE_AUDIO) {
      ++facts.audioStreams;
      audioIndex = static_cast<int>(i);
      facts.audioCodec = p->codec_id;
      facts.audioRate = p->sample_rate;
      facts.audioChannels = p->ch_layout.nb_channels;
      const AVCodec* codec = avcodec_find_decoder(p->codec_id);
      decoder = avcodec_alloc_context3(codec);
      avcodec_parameters_to_context(decoder, p);
      decoder->pkt_timebase = stream->time_base;
      if (avcodec_open2(decoder, codec, nullptr) < 0) ADD_FAILURE() << "cannot open the audio decoder";
    }
  }
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  auto drain = [&] {
    while (avcodec_receive_frame(decoder, frame) == 0) keepSamples(frame, facts);
  };
  while (av_read_frame(input, packet) >= 0) {
    if (packet->stream_index == videoIndex) {
      if (facts.videoPackets == 0) facts.firstVideoPts = packet->pts;
      ++facts.videoPackets;
    } else if (packet->stream_index == audioIndex && decoder != nullptr) {
      avcodec_send_packet(decoder, packet);
      drain();
    }
    av_packet_unref(packet);
  }
  if (decoder != nullptr) {
    avcodec_send_packet(decoder, nullptr);
    drain();
  }
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&decoder);
  avformat_close_input(&input);
  return facts;
}

// The file's first picture, decoded and converted back to RGBA, top row first, with
// the colour matrix the file declares.
probe::Frame firstPicture(const std::string& path, AVColorSpace& declared) {
  probe::Frame picture;
  AVFormatContext* input = nullptr;
  if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0) {
    ADD_FAILURE() << "libavformat cannot open " << path;
    return picture;
  }
  avformat_find_stream_info(input, nullptr);
  const int index = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) {
    ADD_FAILURE() << "no video stream in " << path;
    avformat_close_input(&input);
    return picture;
  }
  const AVCodecParameters* p = input->streams[index]->codecpar;
  declared = p->color_space;
  const AVCodec* codec = avcodec_find_decoder(p->codec_id);
  AVCodecContext* decoder = avcodec_alloc_context3(codec);
  avcodec_parameters_to_context(decoder, p);
  avcodec_open2(decoder, codec, nullptr);
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  bool got = false;
  while (!got && av_read_frame(input, packet) >= 0) {
    if (packet->stream_index == index) {
      avcodec_send_packet(decoder, packet);
      got = avcodec_receive_frame(decoder, frame) == 0;
    }
    av_packet_unref(packet);
  }
  if (!got) {
    avcodec_send_packet(decoder, nullptr);
    got = avcodec_receive_frame(decoder, frame) == 0;
  }
  if (got) {
    picture.width = frame->width;
    picture.height = frame->height;
    picture.rgba.resize(static_cast<std::size_t>(frame->width) * frame->height * 4);
    SwsContext* toRgb =
        sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), frame->width,
                       frame->height, AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    sws_setColorspaceDetails(toRgb, sws_getCoefficients(SWS_CS_ITU709), 0, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0,
                             1 << 16, 1 << 16);
    std::uint8_t* const rows[1] = {picture.rgba.data()};
    const int strides[1] = {frame->width * 4};
    sws_scale(toRgb, frame->data, frame->linesize, 0, frame->height, rows, strides);
    sws_freeContext(toRgb);
  } else {
    ADD_FAILURE() << "no picture decoded from " << path;
  }
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&decoder);
  avformat_close_input(&input);
  return picture;
}

// Mean absolute difference over the RGB channels; `flipped` compares b upside down.
double meanDifference(const probe::Frame& a, const probe::Frame& b, bool flipped) {
  double sum = 0;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) {
      const probe::Rgb p = a.at(x, y), q = b.at(x, flipped ? b.height - 1 - y : y);
      sum += std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b);
    }
  return sum / (3.0 * a.width * a.height);
}
}  // namespace

//----------------------------------------------------------------------------------
// The span
//----------------------------------------------------------------------------------
TEST(CaptureSpan, StartsAtTheFirstFrameAtOrAfterFromAndHoldsEveryFrameBeforeTo) {
  struct Case {
    std::uint32_t from, to;
    int fps;
  };
  const Case cases[] = {{0, 88200, 60},
                        {1000, 89000, 60},
                        {735, 1470, 60},
                        {736, 100000, 60},
                        {3682350, 3770550, 30},
                        {123457, 234567, 25},
                        {44099, 44101, 1},
                        {0, 22050, 1},
                        {7800000, playbackFrameCount, 60},
                        {5000000, 5000001, 240},
                        {0, playbackFrameCount, 60}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "from " << c.from << " to " << c.to << " at " << c.fps << " fps");
    const CaptureSpan span = captureSpan(c.from, c.to, c.fps);
    // Counted frame by frame: every frame whose position lies in [from, to).
    std::uint64_t first = 0, count = 0;
    for (std::uint64_t n = 0; virtualPosition(n, c.fps) < c.to; ++n) {
      if (virtualPosition(n, c.fps) < c.from) continue;
      if (count == 0) first = n;
      ++count;
    }
    EXPECT_EQ(span.frameCount, count);
    if (count > 0) {
      EXPECT_EQ(span.firstFrame, first);
      EXPECT_GE(virtualPosition(span.firstFrame, c.fps), c.from);
      if (span.firstFrame > 0) {
        EXPECT_LT(virtualPosition(span.firstFrame - 1, c.fps), c.from);
      }
    }
    // The sound starts with the first frame and lasts as long as the frames do, the
    // last one cut short at `to`.
    EXPECT_EQ(span.soundStart, virtualPosition(span.firstFrame, c.fps));
    const std::uint32_t end = std::min(virtualPosition(span.firstFrame + count, c.fps), c.to);
    EXPECT_EQ(span.soundStart + span.soundFrames, count > 0 ? end : span.soundStart);
    if (count > 0) {
      EXPECT_EQ(span.lastFrameSamples, end - virtualPosition(span.firstFrame + count - 1, c.fps));
    }
  }
}

TEST(CaptureSpan, TheWholeShowIs179SecondsOfFramesAndSound) {
  const CaptureSpan span = captureSpan(0, playbackFrameCount, testFps);
  EXPECT_EQ(span.firstFrame, 0u);
  EXPECT_EQ(span.frameCount, static_cast<std::uint64_t>(playbackFrameCount) * testFps / sampleRate);
  EXPECT_EQ(span.soundStart, 0u);
  EXPECT_EQ(span.soundFrames, playbackFrameCount);
}

TEST(CaptureFormat, TheExtensionPicksContainerAndCodecsInAnyCase) {
  struct Case {
    const char* path;
    const char* muxer;  // null: refused
    const char* audio;
  };
  const Case cases[] = {{"show.mp4", "mp4", "aac"},        {"dir.v1/SHOW.MKV", "matroska", "flac"},
                        {"a.b.webm", "webm", "libopus"},   {"show.avi", nullptr, nullptr},
                        {"show", nullptr, nullptr},        {"dir.mp4/show", nullptr, nullptr},
                        {"show.mp4.tmp", nullptr, nullptr}};
  for (const Case& c : cases) {
    const CaptureFormat* format = captureFormatFor(c.path);
    if (c.muxer == nullptr) {
      EXPECT_EQ(format, nullptr) << c.path;
      continue;
    }
    ASSERT_NE(format, nullptr) << c.path;
    EXPECT_STREQ(format->muxer, c.muxer) << c.path;
    EXPECT_STREQ(format->audioEncoder, c.audio) << c.path;
  }
}

//----------------------------------------------------------------------------------
// The files
//----------------------------------------------------------------------------------
TEST(Capture, Mp4HoldsOneH264StreamOfTheSpansFramesAndAacAsLongAsThey) {
  const std::string directory = scratchDirectory("mp4");
  const std::string path = directory + "/two.mp4";
  const Options options = captureOptions(path, 10.0, 12.0);
  ASSERT_EQ(runCapture(options), 0);
  EXPECT_EQ(filesIn(directory), std::vector<std::string>{"two.mp4"}) << "the temporary file is gone";

  const FileFacts facts = readFile(path);
  EXPECT_EQ(facts.videoStreams, 1);
  EXPECT_EQ(facts.videoCodec, AV_CODEC_ID_H264);
  EXPECT_EQ(facts.width, testWidth);
  EXPECT_EQ(facts.height, testHeight);
  EXPECT_EQ(facts.frameRate.num, testFps * facts.frameRate.den);
  EXPECT_EQ(facts.videoPackets, 2 * testFps);
  EXPECT_EQ(facts.audioStreams, 1);
  EXPECT_EQ(facts.audioCodec, AV_CODEC_ID_AAC);
  EXPECT_EQ(facts.audioRate, sampleRate);
  EXPECT_EQ(facts.audioChannels, 2);
  EXPECT_NEAR(facts.audioSeconds(), 2.0, 1024.0 / sampleRate);  // within one AAC frame
}

TEST(Capture, MkvSoundIsThePlaybackBuffersSpanSampleForSample) {
  const std::string directory = scratchDirectory("mkv");
  const std::string path = directory + "/greetings.mkv";
  // From the middle of a frame's worth of samples, so the first frame lies after `from`.
  Options options = captureOptions(path, 0, 0);
  options.fromPosition = 288 * 16036 + 123;
  options.toPosition = options.fromPosition + 2 * sampleRate;
  ASSERT_EQ(runCapture(options), 0);
  const CaptureSpan span = captureSpan(options.fromPosition, options.toPosition, testFps);
  ASSERT_GT(span.soundStart, options.fromPosition);

  const FileFacts facts = readFile(path);
  EXPECT_EQ(facts.videoStreams, 1);
  EXPECT_EQ(facts.width, testWidth);
  EXPECT_EQ(facts.height, testHeight);
  EXPECT_EQ(facts.videoPackets, static_cast<std::int64_t>(span.frameCount));
  EXPECT_EQ(facts.frameRate.num, testFps * facts.frameRate.den);
  EXPECT_EQ(facts.firstVideoPts, 0);
  ASSERT_EQ(facts.audioStreams, 1);
  EXPECT_EQ(facts.audioCodec, AV_CODEC_ID_FLAC);
  ASSERT_EQ(facts.audioSamples, static_cast<std::int64_t>(span.soundFrames));
  ASSERT_EQ(facts.pcm.size(), 2u * span.soundFrames);
  // The PlaybackBuffer holds 16-bit samples scaled by 1 / 32,768, so FLAC's 16-bit
  // samples bring back every value exactly; the first is the first frame's own.
  std::size_t mismatches = 0, firstMismatch = 0;
  for (std::size_t i = 0; i < facts.pcm.size(); ++i) {
    const float expected = playbackBuffer[2 * static_cast<std::size_t>(span.soundStart) + i];
    if (facts.pcm[i] * sampleScale != expected && mismatches++ == 0) firstMismatch = i;
  }
  EXPECT_EQ(mismatches, 0u) << "first at sample " << firstMismatch;
  // Not a silent stretch that would match anything.
  std::size_t loud = 0;
  for (std::int16_t s : facts.pcm) loud += std::abs(s) > 1000;
  EXPECT_GT(loud, facts.pcm.size() / 10);
}

TEST(Capture, TheFirstPictureIsTheRenderedFrameUprightWithinTheCodecsLoss) {
  const std::string directory = scratchDirectory("picture");
  const std::string path = directory + "/scene.mkv";
  const Options options = captureOptions(path, 80.0, 80.25);
  ASSERT_EQ(runCapture(options), 0);
  AVColorSpace declared = AVCOL_SPC_UNSPECIFIED;
  const probe::Frame decoded = firstPicture(path, declared);
  ASSERT_EQ(decoded.width, testWidth);
  ASSERT_EQ(decoded.height, testHeight);
  EXPECT_EQ(declared, AVCOL_SPC_BT709);

  // The same frame drawn here from the show's start, as a new process would draw it.
  const CaptureSpan span = captureSpan(options.fromPosition, options.toPosition, testFps);
  HeadlessContext context;
  std::string error;
  ASSERT_TRUE(context.open(testWidth, testHeight, error)) << error;
  startShow(embeddedMusic(), embeddedTrack, embeddedTrackSize, testWidth, testHeight, nullptr);
  OfflineRun run;
  run.startAt(testFps, span.firstFrame);
  run.step();
  glFinish();
  const probe::Frame rendered = probe::grab(context);
  run.finish();
  ASSERT_GT(probe::litCount(rendered, 0, 0, testWidth, testHeight), testWidth * testHeight / 50)
      << "a frame with something to compare";
  const double upright = meanDifference(rendered, decoded, false);
  const double flipped = meanDifference(rendered, decoded, true);
  EXPECT_LT(upright, 5.0);  // x264 at quality 18 on one-pixel lines and 4:2:0 colour
  EXPECT_GT(flipped, 4 * upright) << "upside down the picture would match far worse";
}

TEST(Capture, WebmCarriesVp9AndOpusAt48kHz) {
  const std::string directory = scratchDirectory("webm");
  const std::string path = directory + "/short.webm";
  ASSERT_EQ(runCapture(captureOptions(path, 30.0, 31.0)), 0);
  const FileFacts facts = readFile(path);
  EXPECT_EQ(facts.videoStreams, 1);
  EXPECT_EQ(facts.videoCodec, AV_CODEC_ID_VP9);
  EXPECT_EQ(facts.videoPackets, testFps);
  EXPECT_EQ(facts.audioStreams, 1);
  EXPECT_EQ(facts.audioCodec, AV_CODEC_ID_OPUS);
  EXPECT_EQ(facts.audioRate, 48000);
  EXPECT_NEAR(facts.audioSeconds(), 1.0, 0.021);  // within one 20 ms Opus frame
}

// The frames of [from, to) as a capture draws them, from the show's start in a context
// of their own: FNV-1a over their RGBA bytes.
std::uint64_t hashCaptureFrames(double from, double to) {
  const CaptureSpan span = captureSpan(static_cast<std::uint32_t>(from * sampleRate),
                                       static_cast<std::uint32_t>(to * sampleRate), testFps);
  HeadlessContext context;
  std::string error;
  EXPECT_TRUE(context.open(testWidth, testHeight, error)) << error;
  startShow(embeddedMusic(), embeddedTrack, embeddedTrackSize, testWidth, testHeight, nullptr);
  OfflineRun run;
  run.startAt(testFps, span.firstFrame);
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(testWidth) * testHeight * 4);
  std::uint64_t hash = 14695981039346656037ull;
  for (std::uint64_t i = 0; i < span.frameCount; ++i) {
    run.step();
    context.readPixels(pixels.data());
    for (std::uint8_t byte : pixels) hash = (hash ^ byte) * 1099511628211ull;
  }
  run.finish();
  return hash;
}

TEST(Capture, TheSameSpanGivesTheSameFramesEvenAfterAnotherRun) {
  const std::uint64_t a = hashCaptureFrames(20.0, 20.5);
  const std::uint64_t b = hashCaptureFrames(20.0 + 1.0 / testFps, 20.5);
  EXPECT_EQ(hashCaptureFrames(20.0, 20.5), a);
  EXPECT_NE(a, b) << "a span one frame later starts with another picture";
}

//----------------------------------------------------------------------------------
// Refusals: before any work, exit code 2, nothing left behind
//----------------------------------------------------------------------------------
TEST(Capture, RefusesWhatCannotWorkBeforeAnyWorkAndLeavesNoFile) {
  const std::string directory = scratchDirectory("refusals");
  const std::string plainFile = directory + "/plain";
  std::FILE* f = std::fopen(plainFile.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  mkdir((directory + "/taken.mp4").c_str(), 0755);

  struct Case {
    std::string path;
    int width;
    std::string why;
  };
  const Case cases[] = {
      {directory + "/show.avi", testWidth, "an unknown extension"},
      {directory + "/show", testWidth, "no extension"},
      {directory + "/missing/show.mp4", testWidth, "a directory that does not exist"},
      {plainFile + "/show.mkv", testWidth, "a file where the directory should be"},
      {directory + "/taken.mp4", testWidth, "a directory in the target's place"},
      {directory + "/odd.mp4", testWidth + 1, "an odd width"},
  };
  for (const Case& c : cases) {
    Options options = captureOptions(c.path, 0.0, 1.0);
    options.width = c.width;
    testing::internal::CaptureStderr();
    const int code = runCapture(options);
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, exitUsage) << c.why;
    EXPECT_EQ(message.rfind("pulse165: ", 0), 0u) << c.why << ": " << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << c.why << ": " << message;
  }
  Options badTrack = captureOptions(directory + "/track.mp4", 0.0, 1.0);
  badTrack.trackPath = plainFile;  // empty: no audio to play
  testing::internal::CaptureStderr();
  EXPECT_EQ(runCapture(badTrack), exitUsage);
  testing::internal::GetCapturedStderr();

  std::vector<std::string> left = filesIn(directory);
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"plain", "taken.mp4"}));
}

// The track decoder on the embedded stream, on cut streams and on broken bytes.
#include "audio/decoder.h"

#include <gtest/gtest.h>
#include <ogg/ogg.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "audio/playback.h"
#include "resources/embedded.h"
#include "tests/fuzz/decode_input.h"
#include "tests/fuzz/vorbis_stream.h"
#include "tests/sanitizer.h"
#include "show/show_state.h"

namespace {
// The granule position of the stream's last page: its length in frames.
ogg_int64_t lastGranule(const unsigned char* data, int size) {
  ogg_sync_state sync;
  ogg_sync_init(&sync);
  char* buffer = ogg_sync_buffer(&sync, size);
  std::memcpy(buffer, data, static_cast<std::size_t>(size));
  ogg_sync_wrote(&sync, size);
  ogg_page page;
  ogg_int64_t granule = -1;
  while (ogg_sync_pageout(&sync, &page) == 1) {
    if (ogg_page_granulepos(&page) >= 0) granule = ogg_page_granulepos(&page);
  }
  ogg_sync_clear(&sync);
  return granule;
}

// Byte offset just past the page that holds `target` bytes, so a cut stream ends
// on a page boundary without an end-of-stream flag.
int pageBoundaryAfter(const unsigned char* data, int size, int target) {
  ogg_sync_state sync;
  ogg_sync_init(&sync);
  char* buffer = ogg_sync_buffer(&sync, size);
  std::memcpy(buffer, data, static_cast<std::size_t>(size));
  ogg_sync_wrote(&sync, size);
  ogg_page page;
  int offset = 0;
  while (ogg_sync_pageout(&sync, &page) == 1) {
    offset += static_cast<int>(page.header_len + page.body_len);
    if (offset >= target) break;
  }
  ogg_sync_clear(&sync);
  return offset;
}

struct Decoded {
  bool opened = false;
  bool decoded = false;
  int channels = 0;
  long rate = 0;
  int bytes = 0;
  int capacity = 0;
  std::vector<std::int16_t> samples;
};

Decoded decode(const unsigned char* data, int size) {
  Decoded result;
  TrackDecoder decoder(data, size);
  result.opened = decoder.open();
  if (result.opened) {
    result.channels = decoder.channels();
    result.rate = decoder.rate();
    result.decoded = decoder.decodeAll();
  } else {
    // A decoder that did not open refuses to decode and holds nothing.
    EXPECT_FALSE(decoder.decodeAll());
  }
  result.bytes = decoder.pcmBytes();
  result.capacity = decoder.pcmCapacity;
  if (result.bytes > 0) result.samples.assign(decoder.pcmData, decoder.pcmData + result.bytes / 2);
  decoder.clear();
  return result;
}

Decoded decode(const std::vector<unsigned char>& bytes) {
  return decode(bytes.data(), static_cast<int>(bytes.size()));
}

ogg_int64_t lastGranule(const std::vector<unsigned char>& bytes) {
  return lastGranule(bytes.data(), static_cast<int>(bytes.size()));
}

std::vector<unsigned char> concatenated(std::vector<unsigned char> first, const std::vector<unsigned char>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// An Ogg stream of well-formed pages whose packets are not Vorbis at all.
std::vector<unsigned char> oggOfForeignPackets() {
  std::vector<unsigned char> out;
  ogg_stream_state stream;
  ogg_stream_init(&stream, 77);
  for (int i = 0; i < 6; ++i) {
    std::string text = "not a vorbis packet, number " + std::to_string(i);
    ogg_packet packet{};
    packet.packet = reinterpret_cast<unsigned char*>(text.data());
    packet.bytes = static_cast<long>(text.size());
    packet.b_o_s = i == 0;
    packet.e_o_s = i == 5;
    packet.packetno = i;
    ogg_stream_packetin(&stream, &packet);
    ogg_page page;
    while (ogg_stream_flush(&stream, &page) != 0) teststream::appendPage(out, page);
  }
  ogg_stream_clear(&stream);
  return out;
}

// Replaces one byte inside a page's body and sets the page's checksum anew, so the
// page is accepted and the damage reaches the codec.
std::vector<unsigned char> damagedInPage(std::vector<unsigned char> bytes, int pageStart, int pageEnd, int offset,
                                         unsigned char value) {
  ogg_page page;
  page.header = bytes.data() + pageStart;
  page.header_len = 27 + page.header[26];
  page.body = page.header + page.header_len;
  page.body_len = pageEnd - pageStart - page.header_len;
  page.body[offset] = value;
  ogg_page_checksum_set(&page);
  return bytes;
}

// Sizes of the process's address space, for the allocation-failure cases.
std::size_t addressSpaceBytes() {
  std::ifstream statm("/proc/self/statm");
  std::size_t pages = 0;
  statm >> pages;
  return pages * 4096;
}
}  // namespace

TEST(TrackDecoder, EmbeddedTrackDecodesToItsLastGranuleInStereo) {
  const ogg_int64_t frames = lastGranule(embeddedTrack, embeddedTrackSize);
  ASSERT_GT(frames, 0);
  const Decoded d = decode(embeddedTrack, embeddedTrackSize);
  ASSERT_TRUE(d.opened);
  EXPECT_TRUE(d.decoded);
  EXPECT_EQ(d.channels, 2);
  EXPECT_EQ(d.bytes, frames * 4);
}

TEST(TrackDecoder, OutputGrowsInEightMebibyteStepsBeforeItWouldFill) {
  const Decoded d = decode(embeddedTrack, embeddedTrackSize);
  constexpr int step = 8388608;
  // Growth happens when a copy would reach the capacity, so the capacity is always
  // the first multiple of the step strictly above the size.
  EXPECT_EQ(d.capacity, (d.bytes / step + 1) * step);
}

TEST(TrackDecoder, ConvertsWithTruncationTowardZeroAndSilentClipping) {
  struct Case {
    float value;
    int expected;
  };
  for (const Case c : {Case{0.5f, 8000}, Case{-0.99999f, -15999}, Case{2.5f, 32767}, Case{-3.0f, -32768},
                       Case{1.0f, 16000}, Case{0.0f, 0}, Case{1e30f, 32767}, Case{-1e30f, -32768}}) {
    EXPECT_EQ(convertSample(c.value), c.expected) << "value " << c.value;
  }
}

TEST(TrackDecoder, StreamWithoutEndFlagEndsAtTheEndOfTheDataKeepingWhatWasDecoded) {
  const int cut = pageBoundaryAfter(embeddedTrack, embeddedTrackSize, embeddedTrackSize / 3);
  ASSERT_LT(cut, embeddedTrackSize);
  const ogg_int64_t frames = lastGranule(embeddedTrack, cut);
  const Decoded d = decode(embeddedTrack, cut);
  ASSERT_TRUE(d.opened);
  EXPECT_TRUE(d.decoded);
  // Everything up to the last complete page is kept.
  EXPECT_EQ(d.bytes, frames * 4);
}

TEST(TrackDecoder, RefusesDataThatIsNoVorbisStream) {
  std::vector<unsigned char> noise(20000);
  std::mt19937 random(7);
  for (auto& byte : noise) byte = static_cast<unsigned char>(random());
  EXPECT_FALSE(decode(noise.data(), static_cast<int>(noise.size())).opened);
  EXPECT_FALSE(decode(noise.data(), 0).opened);
  // A stream cut inside its headers.
  EXPECT_FALSE(decode(embeddedTrack, 200).opened);
  // A valid first page followed by noise.
  std::vector<unsigned char> mixed(embeddedTrack, embeddedTrack + 58);
  mixed.insert(mixed.end(), noise.begin(), noise.end());
  EXPECT_FALSE(decode(mixed.data(), static_cast<int>(mixed.size())).opened);
}

TEST(TrackDecoder, MonoAndStereoStreamsAtAnyRateDecodeToTheirLastGranule) {
  struct Case {
    int channels;
    long rate;
    long frames;
  };
  for (const Case c : {Case{1, 44100, 8820}, Case{2, 44100, 13230}, Case{1, 48000, 9600}, Case{2, 48000, 4800},
                       Case{3, 22050, 2205}}) {
    const std::vector<unsigned char> stream = teststream::encode(c.channels, c.rate, c.frames);
    ASSERT_FALSE(stream.empty());
    const Decoded d = decode(stream);
    ASSERT_TRUE(d.opened) << c.channels << " channel(s) at " << c.rate;
    EXPECT_TRUE(d.decoded);
    EXPECT_EQ(d.channels, c.channels);
    EXPECT_EQ(d.rate, c.rate);
    EXPECT_EQ(lastGranule(stream), c.frames);
    EXPECT_EQ(d.bytes, c.frames * c.channels * 2) << c.channels << " channel(s) at " << c.rate;
  }
}

TEST(TrackDecoder, JunkBeforeTheFirstPageIsSkippedHoweverLong) {
  const std::vector<unsigned char> stream = teststream::encode(2, 44100, 13230);
  const Decoded plain = decode(stream);
  ASSERT_TRUE(plain.opened);
  // A first chunk of 4096 bytes with no page in it, and junk spread over several chunks.
  for (const std::size_t length : {std::size_t{100}, std::size_t{4096}, std::size_t{5000}, std::size_t{20000}}) {
    std::vector<unsigned char> junk(length);
    std::mt19937 random(static_cast<unsigned>(length));
    for (auto& byte : junk) byte = static_cast<unsigned char>(random() % 200);  // never "OggS"
    const Decoded d = decode(concatenated(junk, stream));
    ASSERT_TRUE(d.opened) << length << " bytes of junk";
    EXPECT_TRUE(d.decoded);
    EXPECT_EQ(d.samples, plain.samples) << length << " bytes of junk";
  }
}

TEST(TrackDecoder, ShortDataWithJunkBeforeItsPagesStillOpens) {
  // Less than one chunk in all: the headers alone, after a little junk.
  const std::vector<unsigned char> stream = teststream::encode(1, 44100, 4410);
  const std::vector<int> ends = teststream::pageEnds(stream);
  ASSERT_GE(ends.size(), 3u);
  const std::vector<unsigned char> headers(stream.begin(), stream.begin() + ends[1]);
  ASSERT_LT(headers.size() + 64, 4096u);
  const Decoded d = decode(concatenated(std::vector<unsigned char>(64, 'x'), headers));
  EXPECT_TRUE(d.opened);
  EXPECT_TRUE(d.decoded);
  EXPECT_EQ(d.bytes, 0);
}

TEST(TrackDecoder, StreamThatEndsBeforeItsThreeHeadersIsRefusedWhereverItIsCut) {
  const std::vector<unsigned char> stream = teststream::encode(2, 44100, 13230);
  const std::vector<int> ends = teststream::pageEnds(stream);
  ASSERT_GE(ends.size(), 3u);
  for (int cut = 0; cut < ends[1]; cut += 37) {
    const Decoded d = decode(stream.data(), cut);
    EXPECT_FALSE(d.opened) << "cut at " << cut;
    EXPECT_EQ(d.bytes, 0);
  }
  // Exactly the three headers: it opens, and there is nothing to decode.
  const Decoded d = decode(stream.data(), ends[1]);
  EXPECT_TRUE(d.opened);
  EXPECT_EQ(d.bytes, 0);
}

TEST(TrackDecoder, PacketsThatAreNotVorbisAreRefused) {
  EXPECT_FALSE(decode(oggOfForeignPackets()).opened);

  const std::vector<unsigned char> stream = teststream::encode(2, 44100, 13230);
  const std::vector<int> ends = teststream::pageEnds(stream);
  // The identification packet's "vorbis" tag, its channel count, and the setup
  // packet's type byte (which makes it look like audio).
  EXPECT_FALSE(decode(damagedInPage(stream, 0, ends[0], 1, 'X')).opened);
  EXPECT_FALSE(decode(damagedInPage(stream, 0, ends[0], 11, 0)).opened);
  EXPECT_FALSE(decode(damagedInPage(stream, ends[0], ends[1], 0, 0x04)).opened);
  // A second identification header where the comment header belongs.
  std::vector<unsigned char> twice(stream.begin(), stream.begin() + ends[0]);
  const std::vector<unsigned char> again = concatenated(twice, twice);
  EXPECT_FALSE(decode(concatenated(again, std::vector<unsigned char>(stream.begin() + ends[0], stream.end()))).opened);
}

TEST(TrackDecoder, DamagedAudioPagesArePassedOverAndTheRestDecodes) {
  const std::vector<unsigned char> stream = teststream::encode(2, 44100, 13230);
  const std::vector<int> ends = teststream::pageEnds(stream);
  ASSERT_GE(ends.size(), 4u);
  const Decoded whole = decode(stream);
  // A page whose checksum fails is dropped by libogg; a damaged packet fails synthesis.
  std::vector<unsigned char> badChecksum = stream;
  badChecksum[static_cast<std::size_t>(ends[1]) + 22] ^= 0x5a;
  for (const std::vector<unsigned char>& damaged : {badChecksum, damagedInPage(stream, ends[1], ends[2], 2, 0xff),
                                                    damagedInPage(stream, ends[1], ends[2], 0, 0x01)}) {
    const Decoded d = decode(damaged);
    ASSERT_TRUE(d.opened);
    EXPECT_TRUE(d.decoded);
    EXPECT_GT(d.bytes, 0);
    EXPECT_LE(d.bytes, whole.bytes + 2 * 4096 * 2);
    EXPECT_EQ(d.bytes % 4, 0);
  }
}

TEST(TrackDecoder, ChainedStreamEndsWithTheFirstStream) {
  const std::vector<unsigned char> first = teststream::encode(1, 44100, 8820, 0.1f, 1);
  const std::vector<unsigned char> second = teststream::encode(1, 44100, 4410, 0.1f, 2);
  const Decoded d = decode(concatenated(first, second));
  ASSERT_TRUE(d.opened);
  EXPECT_EQ(d.bytes, 8820 * 2);
}

TEST(TrackDecoder, TrackLongerThanTheShowIsCutAtWhatTheBufferHolds) {
  constexpr long frames = playbackFrameCount + 3 * 44100L;
  const std::vector<unsigned char> stream = teststream::encode(1, 44100, frames, -0.1f);
  ASSERT_FALSE(stream.empty());
  const Decoded d = decode(stream);
  ASSERT_TRUE(d.opened);
  EXPECT_TRUE(d.decoded);
  EXPECT_EQ(d.bytes, static_cast<int>(playbackFrameCount) * 2);
  EXPECT_LT(d.bytes, d.capacity);
}

TEST(TrackDecoder, OpensAndDecodesOnlyOnce) {
  const std::vector<unsigned char> stream = teststream::encode(2, 44100, 4410);
  TrackDecoder decoder(stream.data(), static_cast<int>(stream.size()));
  ASSERT_TRUE(decoder.open());
  EXPECT_FALSE(decoder.open());
  ASSERT_TRUE(decoder.decodeAll());
  const int bytes = decoder.pcmBytes();
  EXPECT_FALSE(decoder.decodeAll());
  EXPECT_EQ(decoder.pcmBytes(), bytes);
  decoder.clear();
  decoder.clear();  // a second clear releases nothing twice
}

TEST(TrackDecoder, FailedAllocationsEndDecodingAndKeepWhatFits) {
  if (underAddressSanitizer()) GTEST_SKIP() << "the sanitizer's shadow memory needs an unlimited address space";
  // In a child process whose address space is capped: first too small for the first
  // 8 MiB of output, then too small for the first growth step. The child is a fresh
  // run of this test alone, so earlier tests' freed heap cannot serve the allocations.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto decodeCapped = [](std::size_t headroom) {
    TrackDecoder decoder(embeddedTrack, embeddedTrackSize);
    if (!decoder.open()) std::_Exit(3);
    // One reading for both limits: two could differ, and a soft limit above the hard
    // one is refused (EINVAL), which would leave the space uncapped.
    const rlim_t limit = addressSpaceBytes() + headroom;
    const rlimit cap{limit, limit};
    setrlimit(RLIMIT_AS, &cap);
    const bool decoded = decoder.decodeAll();
    const int bytes = decoder.pcmBytes();
    decoder.clear();
    std::_Exit(decoded ? 1 : bytes == 0 ? 10 : bytes > 8000000 && bytes < 8388608 ? 11 : 12);
  };
  EXPECT_EXIT(decodeCapped(std::size_t{4} << 20), ::testing::ExitedWithCode(10), "");
  EXPECT_EXIT(decodeCapped(std::size_t{12} << 20), ::testing::ExitedWithCode(11), "");
}

TEST(TrackDecoder, CommittedFuzzInputsDecodeWithinTheirBounds) {
  namespace fs = std::filesystem;
  const fs::path root = fs::path(PULSE165_SOURCE_DIR) / "tests" / "fuzz";
  int replayed = 0;
  for (const char* folder : {"corpus", "crashes"}) {
    if (!fs::is_directory(root / folder)) continue;
    for (const fs::directory_entry& entry : fs::directory_iterator(root / folder)) {
      if (!entry.is_regular_file()) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      // The invariants are checked inside; a broken one aborts the test.
      const fuzzinput::Outcome outcome = fuzzinput::decodeUntrusted(bytes.data(), bytes.size());
      EXPECT_LE(outcome.frames, playbackFrameCount) << entry.path();
      ++replayed;
    }
  }
  resetShowState();
  EXPECT_GT(replayed, 10);
}

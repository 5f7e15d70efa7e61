// The track decoder on the embedded stream, on cut streams and on broken bytes.
#include <gtest/gtest.h>
#include <ogg/ogg.h>

#include <cstring>
#include <random>
#include <vector>

#include "audio/decoder.h"
#include "resources/embedded.h"

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
  int bytes = 0;
  int capacity = 0;
};

Decoded decode(const unsigned char* data, int size) {
  Decoded result;
  TrackDecoder decoder(data, size);
  result.opened = decoder.open();
  if (result.opened) {
    result.channels = decoder.channels();
    result.decoded = decoder.decodeAll();
  }
  result.bytes = decoder.pcmBytes();
  result.capacity = decoder.pcmCapacity;
  decoder.clear();
  return result;
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

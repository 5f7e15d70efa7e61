// Writes the fuzzer's seed corpus: small valid Vorbis streams (mono and stereo,
// 44.1 and 48 kHz, a few hundred milliseconds) and cut and corrupted copies of them.
//   make_fuzz_seeds DIRECTORY
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/fuzz/vorbis_stream.h"

namespace {
using Bytes = std::vector<unsigned char>;

bool writeFile(const std::string& path, const Bytes& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

Bytes cut(const Bytes& bytes, std::size_t length) {
  return Bytes(bytes.begin(), bytes.begin() + length);
}

// Overwrites the Ogg page's checksum, so that libogg drops the page as a gap.
Bytes badChecksum(Bytes bytes, int pageStart) {
  bytes[static_cast<std::size_t>(pageStart) + 22] ^= 0x5a;
  return bytes;
}

// Rewrites one byte of a page body and fixes the page's checksum, so that the page
// is accepted and the damage reaches the codec.
Bytes damageInsidePage(Bytes bytes, int pageStart, int pageEnd, int bodyOffset, unsigned char value) {
  ogg_page page;
  unsigned char* header = bytes.data() + pageStart;
  const int segments = header[26];
  page.header = header;
  page.header_len = 27 + segments;
  page.body = header + page.header_len;
  page.body_len = pageEnd - pageStart - page.header_len;
  if (bodyOffset < page.body_len) page.body[bodyOffset] = value;
  ogg_page_checksum_set(&page);
  return bytes;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds DIRECTORY\n");
    return 2;
  }
  const std::string dir = argv[1];
  const Bytes stereo44 = teststream::encode(2, 44100, 13230);
  const Bytes mono44 = teststream::encode(1, 44100, 8820);
  const Bytes stereo48 = teststream::encode(2, 48000, 9600);
  const Bytes mono48 = teststream::encode(1, 48000, 4800);
  const Bytes three22 = teststream::encode(3, 22050, 4410);
  if (stereo44.empty() || mono44.empty() || stereo48.empty() || mono48.empty() || three22.empty()) {
    std::fprintf(stderr, "make_fuzz_seeds: libvorbisenc refused a stream\n");
    return 1;
  }
  const std::vector<int> ends = teststream::pageEnds(stereo44);
  // ends[0]: identification page; ends[1] (and maybe [2]): comment and setup; then audio.
  const int headersEnd = ends[1];
  const int lastAudio = ends[ends.size() - 2];

  struct Seed {
    const char* name;
    Bytes bytes;
  };
  std::vector<Seed> seeds = {
      {"stereo-44100.ogg", stereo44},
      {"mono-44100.ogg", mono44},
      {"stereo-48000.ogg", stereo48},
      {"mono-48000.ogg", mono48},
      {"three-channels-22050.ogg", three22},
      {"cut-in-first-page.ogg", cut(stereo44, 40)},
      {"cut-after-first-page.ogg", cut(stereo44, static_cast<std::size_t>(ends[0]))},
      {"cut-in-setup-header.ogg", cut(stereo44, static_cast<std::size_t>(ends[0] + (headersEnd - ends[0]) / 2))},
      {"cut-after-headers.ogg", cut(stereo44, static_cast<std::size_t>(headersEnd))},
      {"cut-in-audio.ogg", cut(stereo44, static_cast<std::size_t>((headersEnd + lastAudio) / 2))},
      {"no-end-flag.ogg", cut(stereo44, static_cast<std::size_t>(lastAudio))},
      {"bad-checksum-on-setup.ogg", badChecksum(stereo44, ends[0])},
      {"bad-checksum-on-audio.ogg", badChecksum(stereo44, headersEnd)},
      {"not-vorbis-identification.ogg", damageInsidePage(stereo44, 0, ends[0], 1, 'X')},
      {"zero-channels.ogg", damageInsidePage(stereo44, 0, ends[0], 11, 0)},
      {"bad-setup-codebook.ogg", damageInsidePage(stereo44, ends[0], headersEnd, 40, 0xff)},
      {"setup-as-audio-packet.ogg", damageInsidePage(stereo44, ends[0], headersEnd, 0, 0x04)},
      {"damaged-audio-packet.ogg", damageInsidePage(stereo44, headersEnd, ends[3], 3, 0xff)},
  };
  // Junk before the first page: 5,000 bytes, more than the first chunk.
  Bytes junk(5000);
  for (std::size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<unsigned char>(i * 37 + 11);
  Bytes prefixed = junk;
  prefixed.insert(prefixed.end(), mono44.begin(), mono44.end());
  seeds.push_back({"junk-before-first-page.ogg", prefixed});
  // Two streams chained one after the other.
  Bytes chained = mono44;
  const Bytes second = teststream::encode(1, 44100, 4410, 0.1f, 166);
  chained.insert(chained.end(), second.begin(), second.end());
  seeds.push_back({"chained.ogg", chained});

  for (const Seed& seed : seeds) {
    if (!writeFile(dir + "/" + seed.name, seed.bytes)) {
      std::fprintf(stderr, "make_fuzz_seeds: cannot write %s/%s: %s\n", dir.c_str(), seed.name, std::strerror(errno));
      return 1;
    }
  }
  return 0;
}

// FFmpeg's side of a capture: the container, the video and audio encoders, the
// colour conversion and the resampling, writing into a file that the caller has
// opened (app/descriptor_file.h); which encoders and settings, app/encoder_catalogue.h.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/descriptor_file.h"
#include "app/encoder_catalogue.h"
#include "app/options.h"

struct AVAudioFifo;
struct AVCodec;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;
struct AVStream;
struct SwrContext;
struct SwsContext;

// FFmpeg's and the encoders' own error lines are kept from here on, not printed: the
// last one explains a refusal better than an error code does. Call before any encoder
// is looked for.
void keepLibraryLines();

// One capture's encoders and container, all set up by open() before the first frame.
// The encoding thread alone calls the rest, in order.
struct CaptureEncoder {
  AVFormatContext* output = nullptr;
  AVIOContext* io = nullptr;  // writes to `file` (app/descriptor_file.h)
  AVCodecContext* video = nullptr;
  AVCodecContext* audio = nullptr;
  AVStream* videoStream = nullptr;
  AVStream* audioStream = nullptr;
  SwsContext* scaler = nullptr;
  SwrContext* resampler = nullptr;
  AVFrame* picture = nullptr;
  AVFrame* sound = nullptr;
  AVAudioFifo* fifo = nullptr;
  AVPacket* packet = nullptr;
  std::uint8_t** converted = nullptr;  // the resampler's output, one chunk
  int convertedCapacity = 0;
  int audioFrameSize = 0;
  bool smallLastFrame = false;
  int width = 0;
  int height = 0;
  DescriptorFile file;
  bool videoRefused = false;           // the video encoder refused the settings or the size
  const float* soundSource = nullptr;  // the span's first sample frame in the PlaybackBuffer
  std::uint32_t soundFed = 0;          // sample frames handed to the resampler so far
  std::int64_t soundPts = 0;           // in the encoder's samples
  // The last picture, shown for this many sample frames at 44,100 Hz (less than a
  // frame where the capture ends between two); -1 for no such picture.
  std::int64_t finalPicture = -1;
  std::uint32_t finalPictureSamples = 0;
  std::string error;
  // An encoder library that prints on stderr by itself (x264's "malloc of size ...
  // failed" has no handle to go through FFmpeg's log) prints into this buffer while
  // the encoders are open; its last line joins `error`. glibc's stderr is an ordinary
  // variable, made to be set: `messages` is the real one, for the capture's own lines.
  FILE* messages = stderr;
  FILE* libraryStderr = nullptr;
  char* libraryText = nullptr;
  std::size_t libraryTextSize = 0;

  CaptureEncoder() = default;
  CaptureEncoder(const CaptureEncoder&) = delete;
  CaptureEncoder& operator=(const CaptureEncoder&) = delete;
  ~CaptureEncoder() { close(); }

  // Opens both encoders with the capture's real settings and writes the container's
  // header into `file`. `sound` is where the span's sound will stand once the show
  // is loaded. False with one line in `error`.
  bool open(const CaptureFormat& format, const AVCodec* videoCodec, const AVCodec* audioCodec, int file,
            const Options& options, const float* sound);
  bool encodePicture(const std::uint8_t* rgbaBottomUp, std::int64_t index);
  // Hands the sound up to sample frame `upTo` of the span to the encoder.
  bool feedSound(std::uint32_t upTo);
  // The encoders' last packets and the container's trailer.
  bool finish();
  void close();

  bool openVideo(const AVCodec* codec, const Options& options);
  bool openAudio(const AVCodec* codec, const CaptureFormat& format);
  bool send(AVCodecContext* codec, AVStream* stream, const AVFrame* frame);
  bool drainSound(bool last);
  bool failed(const std::string& what, int code);
  bool failed(const std::string& what);
  // The last line a library printed on stderr since open(); empty for none.
  std::string lastLibraryLine();
  bool writeFailed(const std::string& what, int code);
};

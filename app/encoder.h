// FFmpeg's side of a capture: the container, the video and audio encoders, the
// colour conversion and the resampling, writing into a file that the caller has
// opened. No name is ever handed to FFmpeg, so no name is read as a protocol.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

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

// The codecs that a file name's extension (.mp4, .mkv, .webm, in any case) implies.
struct CaptureFormat {
  const char* extension;
  const char* muxer;         // libavformat's name of the container
  const char* videoEncoder;  // preferred encoder
  int videoCodec;            // AVCodecID of any other encoder of the same kind
  const char* audioEncoder;
  int sampleFormat;           // AVSampleFormat handed to the audio encoder
  int audioRate;              // its sample rate; the show's 44,100 Hz is resampled to it
  std::int64_t audioBitRate;  // 0 for a lossless codec
};

// Null for an extension that names none of the three.
const CaptureFormat* captureFormatFor(const std::string& path);

// x264's presets by name, fastest first, and the VP9 settings each stands for.
struct EncoderPreset {
  const char* name;
  const char* vp9Deadline;  // libvpx's "realtime", "good" or "best"
  int vp9Speed;             // its cpu-used
};
// Null for a name that is not one of x264's ten.
const EncoderPreset* encoderPreset(const std::string& name);

// The format's encoders: its video encoder or, failing that, another one for the
// same codec (with a note on stderr), and its audio encoder. False with one line in
// `error` when FFmpeg offers none.
struct CaptureCodecs {
  const AVCodec* video = nullptr;
  const AVCodec* audio = nullptr;
};
bool findEncoders(const CaptureFormat& format, CaptureCodecs& codecs, std::string& error);

// Whether options.crf and options.preset suit `codec` (x264: crf 0 to 51, VP9: 0 to
// 63; another encoder takes neither). One line in `error` otherwise.
bool checkVideoQuality(const AVCodec* codec, const Options& options, std::string& error);

// What the video encoder holds per pixel of the picture at these settings: its
// reference and look-ahead frames, as measured on this show's captures.
double encoderBytesPerPixel(const AVCodec* codec, const Options& options);

// The encoder and the quality it runs at, for the summary line:
// "libx264 ultrafast crf 18", "libvpx-vp9 ultrafast (realtime, speed 8) crf 30".
std::string videoQualityText(const AVCodec* codec, const Options& options);

// One capture's encoders and container, all set up by open() before the first frame.
// The encoding thread alone calls the rest, in order.
struct CaptureEncoder {
  AVFormatContext* output = nullptr;
  AVIOContext* io = nullptr;  // writes to `descriptor` with pwrite and seeks by itself
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
  int descriptor = -1;                 // the file, open for reading and writing
  std::int64_t writePosition = 0;      // where the container's next bytes go
  int writeErrno = 0;                  // the first failed write's errno
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

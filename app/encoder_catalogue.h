// The capture's formats and encoders: which container and codecs a file name's
// extension means, x264's presets and what they mean for VP9, the constant quality each
// encoder takes, the memory each holds, and how the summary line names them.
#pragma once

#include <cstdint>
#include <string>

struct AVCodec;
struct Options;

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

// The encoders that take --crf and --preset, with their scales and defaults.
struct TunedEncoder {
  const char* name;
  int maxCrf;
  int defaultCrf;
};
// Null for an encoder that takes neither.
const TunedEncoder* tuningOf(const AVCodec* codec);
// The options' preset, or the default (ultrafast).
const EncoderPreset& presetOf(const Options& options);

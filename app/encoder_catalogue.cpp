// The capture's formats and encoders: which container and codecs an extension means,
// x264's presets and what they mean for VP9, the constant quality each encoder takes,
// the memory each holds, and how the summary names them.
#include "app/encoder_catalogue.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/samplefmt.h>
}

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <iterator>

#include "app/options.h"
#include "audio/sample_rate.h"

namespace {
// H.264 with AAC for the widely played .mp4; the same picture with lossless FLAC in
// Matroska; VP9 and Opus (which runs at 48 kHz) for the web.
constexpr std::int64_t aacBitRate = 192000;
constexpr std::int64_t opusBitRate = 160000;
constexpr int opusRate = 48000;

const CaptureFormat captureFormats[] = {
    {".mp4", "mp4", "libx264", AV_CODEC_ID_H264, "aac", AV_SAMPLE_FMT_FLTP, sampleRate, aacBitRate},
    {".mkv", "matroska", "libx264", AV_CODEC_ID_H264, "flac", AV_SAMPLE_FMT_S16, sampleRate, 0},
    {".webm", "webm", "libvpx-vp9", AV_CODEC_ID_VP9, "libopus", AV_SAMPLE_FMT_FLT, opusRate, opusBitRate},
};

// x264's presets, and VP9 settings of a like speed: libvpx's real-time mode at speed
// 8 to 5 for the four fastest, its good-quality mode at speed 4 to 0 for the next
// five, and its best-quality mode for "placebo".
const EncoderPreset encoderPresets[] = {
    {"ultrafast", "realtime", 8}, {"superfast", "realtime", 7}, {"veryfast", "realtime", 6}, {"faster", "realtime", 5},
    {"fast", "good", 4},          {"medium", "good", 3},        {"slow", "good", 2},         {"slower", "good", 1},
    {"veryslow", "good", 0},      {"placebo", "best", 0},
};

// The encoders that take --crf and --preset. The defaults: x264's constant rate
// factor 18 (hardly distinguishable from the rendered frames) at "ultrafast": on two
// cores the renderer takes about one, and only the fastest preset encodes the busy
// scenes at 1280x720 in less time than they take to render (about 4 to 8 ms a frame,
// against 7 to 17 for "superfast" and 9 to 28 for "veryfast"). VP9 in its real-time
// mode at the fastest speed, constant quality 30.
constexpr TunedEncoder tunedEncoders[] = {{"libx264", 51, 18}, {"libvpx-vp9", 63, 30}};
constexpr const char* defaultPreset = "ultrafast";
}  // namespace

const TunedEncoder* tuningOf(const AVCodec* codec) {
  for (const TunedEncoder& tuned : tunedEncoders)
    if (std::strcmp(codec->name, tuned.name) == 0) return &tuned;
  return nullptr;
}

const EncoderPreset& presetOf(const Options& options) {
  const EncoderPreset* preset = encoderPreset(options.preset.empty() ? defaultPreset : options.preset);
  return preset != nullptr ? *preset : encoderPresets[0];
}

const CaptureFormat* captureFormatFor(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return nullptr;
  const std::string extension = path.substr(dot);
  for (const CaptureFormat& format : captureFormats)
    if (strcasecmp(extension.c_str(), format.extension) == 0) return &format;
  return nullptr;
}

const EncoderPreset* encoderPreset(const std::string& name) {
  for (const EncoderPreset& preset : encoderPresets)
    if (name == preset.name) return &preset;
  return nullptr;
}

bool findEncoders(const CaptureFormat& format, CaptureCodecs& codecs, std::string& error) {
  codecs.video = avcodec_find_encoder_by_name(format.videoEncoder);
  if (codecs.video == nullptr) codecs.video = avcodec_find_encoder(static_cast<AVCodecID>(format.videoCodec));
  codecs.audio = avcodec_find_encoder_by_name(format.audioEncoder);
  const char* missing = codecs.video == nullptr   ? avcodec_get_name(static_cast<AVCodecID>(format.videoCodec))
                        : codecs.audio == nullptr ? format.audioEncoder
                                                  : nullptr;
  if (missing != nullptr) {
    error = std::string("FFmpeg offers no ") + missing + " encoder";
    return false;
  }
  if (std::strcmp(codecs.video->name, format.videoEncoder) != 0)
    std::fprintf(stderr, "pulse165: %s is missing; encoding with %s instead\n", format.videoEncoder,
                 codecs.video->name);
  return true;
}

bool checkVideoQuality(const AVCodec* codec, const Options& options, std::string& error) {
  const TunedEncoder* tuned = tuningOf(codec);
  if (tuned == nullptr && (options.crf >= 0 || !options.preset.empty())) {
    error = std::string("the encoder ") + codec->name + " takes neither --crf nor --preset";
    return false;
  }
  if (tuned != nullptr && options.crf > tuned->maxCrf) {
    error = "--crf=" + std::to_string(options.crf) + " is beyond " + codec->name + "'s scale of 0 to " +
            std::to_string(tuned->maxCrf);
    return false;
  }
  return true;
}

double encoderBytesPerPixel(const AVCodec* codec, const Options& options) {
  // From the peak memory of captures: ultrafast and VP9 at 1920x1080 and 3840x2160,
  // less the renderer's buffers and the ring of frames; veryfast, medium, veryslow and
  // placebo as what each added to ultrafast at 640x360 (their look-ahead and reference
  // frames); the presets between those in proportion. VP9 took the same at every speed.
  static constexpr double x264[] = {26, 80, 130, 190, 220, 250, 330, 420, 480, 680};
  static_assert(std::size(x264) == std::size(encoderPresets));
  if (std::strcmp(codec->name, "libx264") == 0) return x264[&presetOf(options) - encoderPresets];
  if (std::strcmp(codec->name, "libvpx-vp9") == 0) return 120;
  return x264[0];
}

std::string videoQualityText(const AVCodec* codec, const Options& options) {
  const TunedEncoder* tuned = tuningOf(codec);
  if (tuned == nullptr) return codec->name;
  const EncoderPreset& preset = presetOf(options);
  std::string text = std::string(codec->name) + " " + preset.name;
  if (std::strcmp(codec->name, "libvpx-vp9") == 0)
    text += std::string(" (") + preset.vp9Deadline + ", speed " + std::to_string(preset.vp9Speed) + ")";
  return text + " crf " + std::to_string(options.crf >= 0 ? options.crf : tuned->defaultCrf);
}

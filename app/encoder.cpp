// FFmpeg's side of a capture: the container and the encoders, set up before the first
// frame, with the file written through callbacks of our own on a descriptor that the
// caller opened (pwrite at the container's own position, so the muxer may seek back).
#include "app/encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <mutex>
#include <utility>

#include "audio/playback.h"

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
struct TunedEncoder {
  const char* name;
  int maxCrf;
  int defaultCrf;
};
constexpr TunedEncoder tunedEncoders[] = {{"libx264", 51, 18}, {"libvpx-vp9", 63, 30}};
constexpr const char* defaultPreset = "ultrafast";

constexpr std::uint32_t soundChunk = 1024;    // sample frames handed to the resampler at once
constexpr int fallbackAudioFrameSize = 1024;  // for encoders that take any frame size
constexpr int ioBufferBytes = 1 << 16;

const TunedEncoder* tuningOf(const AVCodec* codec) {
  for (const TunedEncoder& tuned : tunedEncoders)
    if (std::strcmp(codec->name, tuned.name) == 0) return &tuned;
  return nullptr;
}

const EncoderPreset& presetOf(const Options& options) {
  const EncoderPreset* preset = encoderPreset(options.preset.empty() ? defaultPreset : options.preset);
  return preset != nullptr ? *preset : encoderPresets[0];
}

// FFmpeg's and the encoders' own error lines are kept, not printed: the last one
// explains a refusal better than an error code does ("Picture size ... is invalid").
std::mutex libraryLineMutex;
std::string libraryLine;

void keepErrorLine(void*, int level, const char* format, va_list arguments) {
  if (level > AV_LOG_ERROR) return;
  char line[256];
  std::vsnprintf(line, sizeof line, format, arguments);
  std::string text = line;
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  std::lock_guard lock(libraryLineMutex);
  libraryLine = text;
}

std::string takeLibraryLine() {
  std::lock_guard lock(libraryLineMutex);
  return std::exchange(libraryLine, std::string());
}

std::string ffmpegMessage(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

//----------------------------------------------------------------------------------
// The file, through callbacks: the container's writes and seeks, and the reads that
// the MP4 muxer makes to move its index to the front
//----------------------------------------------------------------------------------
struct FileReader {
  int descriptor;
  std::int64_t position;
};

int writeBytes(void* opaque, std::uint8_t* bytes, int count) {
  auto* encoder = static_cast<CaptureEncoder*>(opaque);
  int left = count;
  while (left > 0) {
    const ssize_t done = pwrite(encoder->descriptor, bytes, static_cast<std::size_t>(left), encoder->writePosition);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      if (encoder->writeErrno == 0) encoder->writeErrno = done < 0 ? errno : EIO;
      return AVERROR(encoder->writeErrno);
    }
    bytes += done;
    left -= static_cast<int>(done);
    encoder->writePosition += done;
  }
  return count;
}

// The new position, or the file's size for AVSEEK_SIZE.
std::int64_t seekIn(int descriptor, std::int64_t& position, std::int64_t offset, int whence) {
  struct stat info {};
  if ((whence & ~AVSEEK_FORCE) == AVSEEK_SIZE) return fstat(descriptor, &info) == 0 ? info.st_size : AVERROR(errno);
  switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
      break;
    case SEEK_CUR:
      offset += position;
      break;
    case SEEK_END:
      if (fstat(descriptor, &info) != 0) return AVERROR(errno);
      offset += info.st_size;
      break;
    default:
      return AVERROR(EINVAL);
  }
  if (offset < 0) return AVERROR(EINVAL);
  position = offset;
  return position;
}

std::int64_t seekWriter(void* opaque, std::int64_t offset, int whence) {
  auto* encoder = static_cast<CaptureEncoder*>(opaque);
  return seekIn(encoder->descriptor, encoder->writePosition, offset, whence);
}

int readBytes(void* opaque, std::uint8_t* bytes, int count) {
  auto* reader = static_cast<FileReader*>(opaque);
  for (;;) {
    const ssize_t done = pread(reader->descriptor, bytes, static_cast<std::size_t>(count), reader->position);
    if (done < 0 && errno == EINTR) continue;
    if (done < 0) return AVERROR(errno);
    if (done == 0) return AVERROR_EOF;
    reader->position += done;
    return static_cast<int>(done);
  }
}

std::int64_t seekReader(void* opaque, std::int64_t offset, int whence) {
  auto* reader = static_cast<FileReader*>(opaque);
  return seekIn(reader->descriptor, reader->position, offset, whence);
}

// Whatever name the muxer asks for, it gets the capture's own file, for reading.
int openAgain(AVFormatContext* output, AVIOContext** io, const char*, int flags, AVDictionary**) {
  auto* encoder = static_cast<CaptureEncoder*>(output->opaque);
  if (flags & AVIO_FLAG_WRITE) return AVERROR(EPERM);
  auto* buffer = static_cast<unsigned char*>(av_malloc(ioBufferBytes));
  auto* reader = static_cast<FileReader*>(av_mallocz(sizeof(FileReader)));
  if (buffer != nullptr && reader != nullptr) {
    *reader = FileReader{encoder->descriptor, 0};
    *io = avio_alloc_context(buffer, ioBufferBytes, 0, reader, readBytes, nullptr, seekReader);
  }
  if (buffer == nullptr || reader == nullptr || *io == nullptr) {
    av_free(buffer);
    av_free(reader);
    return AVERROR(ENOMEM);
  }
  return 0;
}

int closeAgain(AVFormatContext*, AVIOContext* io) {
  av_free(io->opaque);
  av_freep(&io->buffer);
  avio_context_free(&io);
  return 0;
}
}  // namespace

//----------------------------------------------------------------------------------
// Formats, presets and qualities
//----------------------------------------------------------------------------------
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
  // Failures are reported here, in one line each, with the library's reason.
  av_log_set_level(AV_LOG_ERROR);
  av_log_set_callback(keepErrorLine);
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

//----------------------------------------------------------------------------------
// The encoder
//----------------------------------------------------------------------------------
bool CaptureEncoder::failed(const std::string& what, int code) {
  return failed(what + ": " + ffmpegMessage(code));
}

bool CaptureEncoder::failed(const std::string& what) {
  const std::string said = lastLibraryLine();
  error = said.empty() ? what : what + " (" + said + ")";
  return false;
}

std::string CaptureEncoder::lastLibraryLine() {
  if (libraryStderr == nullptr) return {};
  // The library's threads write under the stream's lock, and so is it read.
  flockfile(libraryStderr);
  std::string text;
  if (fflush_unlocked(libraryStderr) == 0 && libraryText != nullptr) text.assign(libraryText, libraryTextSize);
  funlockfile(libraryStderr);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  const std::size_t newline = text.rfind('\n');
  return newline == std::string::npos ? text : text.substr(newline + 1);
}

// A failed write says what the system said ("No space left on device").
bool CaptureEncoder::writeFailed(const std::string& what, int code) {
  return failed(what, writeErrno != 0 ? AVERROR(writeErrno) : code);
}

bool CaptureEncoder::openVideo(const AVCodec* codec, const Options& options) {
  const int fps = options.fps;
  video = avcodec_alloc_context3(codec);
  if (video == nullptr) return failed("cannot allocate the video encoder");
  video->width = width;
  video->height = height;
  video->time_base = AVRational{1, fps};
  video->framerate = AVRational{fps, 1};
  video->pix_fmt = AV_PIX_FMT_YUV420P;
  video->color_range = AVCOL_RANGE_MPEG;
  video->colorspace = AVCOL_SPC_BT709;
  video->color_primaries = AVCOL_PRI_BT709;
  video->color_trc = AVCOL_TRC_BT709;
  if (output->oformat->flags & AVFMT_GLOBALHEADER) video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

  AVDictionary* settings = nullptr;
  if (const TunedEncoder* tuned = tuningOf(codec)) {
    const EncoderPreset& preset = presetOf(options);
    const int crf = options.crf >= 0 ? options.crf : tuned->defaultCrf;
    av_dict_set_int(&settings, "crf", crf, 0);
    if (std::strcmp(codec->name, "libx264") == 0) {
      av_dict_set(&settings, "preset", preset.name, 0);
    } else {
      video->bit_rate = 0;  // constant quality
      av_dict_set(&settings, "deadline", preset.vp9Deadline, 0);
      av_dict_set_int(&settings, "cpu-used", preset.vp9Speed, 0);
      av_dict_set(&settings, "row-mt", "1", 0);
      // In real time the encoder never looks ahead, yet it keeps 25 frames of
      // look-ahead buffers (110 MB at 1920x1080) unless told not to: same stream.
      if (std::strcmp(preset.vp9Deadline, "realtime") == 0) av_dict_set(&settings, "lag-in-frames", "0", 0);
    }
  }
  takeLibraryLine();  // a line from before (a hand-picked track's decoding) is not this refusal's reason
  const int result = avcodec_open2(video, codec, &settings);
  av_dict_free(&settings);
  videoRefused = result < 0;
  if (result < 0) {
    const std::string reason = takeLibraryLine();
    return failed("the video encoder refuses " + std::to_string(width) + "x" + std::to_string(height) + " at " +
                  videoQualityText(codec, options) + ": " + (reason.empty() ? ffmpegMessage(result) : reason));
  }

  videoStream = avformat_new_stream(output, nullptr);
  if (videoStream == nullptr) return failed("cannot add the video stream");
  videoStream->time_base = video->time_base;
  videoStream->avg_frame_rate = video->framerate;
  videoStream->r_frame_rate = video->framerate;
  const int copied = avcodec_parameters_from_context(videoStream->codecpar, video);
  if (copied < 0) return failed("cannot describe the video stream", copied);

  picture = av_frame_alloc();
  if (picture == nullptr) return failed("cannot allocate a video frame");
  picture->format = video->pix_fmt;
  picture->width = width;
  picture->height = height;
  const int allocated = av_frame_get_buffer(picture, 0);
  if (allocated < 0) return failed("cannot allocate a video frame", allocated);

  // The rendered frames are full-range RGB; the video is limited-range BT.709.
  scaler = sws_getContext(width, height, AV_PIX_FMT_RGBA, width, height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr,
                          nullptr, nullptr);
  if (scaler == nullptr) return failed("cannot set up the colour conversion");
  sws_setColorspaceDetails(scaler, sws_getCoefficients(SWS_CS_DEFAULT), 1, sws_getCoefficients(SWS_CS_ITU709), 0, 0,
                           1 << 16, 1 << 16);
  return true;
}

bool CaptureEncoder::openAudio(const AVCodec* codec, const CaptureFormat& format) {
  audio = avcodec_alloc_context3(codec);
  if (audio == nullptr) return failed("cannot allocate the audio encoder");
  const auto sampleFormat = static_cast<AVSampleFormat>(format.sampleFormat);
  audio->sample_fmt = sampleFormat;
  audio->sample_rate = format.audioRate;
  av_channel_layout_default(&audio->ch_layout, 2);
  audio->time_base = AVRational{1, format.audioRate};
  if (format.audioBitRate > 0) audio->bit_rate = format.audioBitRate;
  if (output->oformat->flags & AVFMT_GLOBALHEADER) audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  const int result = avcodec_open2(audio, codec, nullptr);
  if (result < 0) return failed(std::string("cannot open the audio encoder ") + codec->name, result);

  audioStream = avformat_new_stream(output, nullptr);
  if (audioStream == nullptr) return failed("cannot add the audio stream");
  audioStream->time_base = audio->time_base;
  const int copied = avcodec_parameters_from_context(audioStream->codecpar, audio);
  if (copied < 0) return failed("cannot describe the audio stream", copied);

  const bool anySize = codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE;
  audioFrameSize = anySize || audio->frame_size <= 0 ? fallbackAudioFrameSize : audio->frame_size;
  smallLastFrame = anySize || (codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME);

  // The PlaybackBuffer's interleaved 44,100 Hz floats, converted to the encoder's
  // sample format and, for Opus, rate.
  AVChannelLayout stereo{};
  av_channel_layout_default(&stereo, 2);
  const int made = swr_alloc_set_opts2(&resampler, &stereo, sampleFormat, format.audioRate, &stereo, AV_SAMPLE_FMT_FLT,
                                       sampleRate, 0, nullptr);
  av_channel_layout_uninit(&stereo);
  if (made < 0) return failed("cannot set up the sound conversion", made);
  const int started = swr_init(resampler);
  if (started < 0) return failed("cannot set up the sound conversion", started);

  convertedCapacity = static_cast<int>(av_rescale_rnd(soundChunk, format.audioRate, sampleRate, AV_ROUND_UP)) + 256;
  const int buffers = av_samples_alloc_array_and_samples(&converted, nullptr, 2, convertedCapacity, sampleFormat, 0);
  if (buffers < 0) return failed("cannot allocate the sound buffers", buffers);
  fifo = av_audio_fifo_alloc(sampleFormat, 2, audioFrameSize + convertedCapacity);
  if (fifo == nullptr) return failed("cannot allocate the sound buffers");

  sound = av_frame_alloc();
  if (sound == nullptr) return failed("cannot allocate an audio frame");
  sound->format = sampleFormat;
  sound->sample_rate = format.audioRate;
  sound->nb_samples = audioFrameSize;
  av_channel_layout_default(&sound->ch_layout, 2);
  const int allocated = av_frame_get_buffer(sound, 0);
  if (allocated < 0) return failed("cannot allocate an audio frame", allocated);
  return true;
}

bool CaptureEncoder::open(const CaptureFormat& format, const AVCodec* videoCodec, const AVCodec* audioCodec, int file,
                          const Options& options, const float* sound) {
  width = options.width;
  height = options.height;
  descriptor = file;
  writePosition = 0;
  soundSource = sound;
  libraryStderr = open_memstream(&libraryText, &libraryTextSize);
  if (libraryStderr != nullptr) {
    messages = stderr;
    stderr = libraryStderr;
  }
  const int made = avformat_alloc_output_context2(&output, nullptr, format.muxer, nullptr);
  if (made < 0 || output == nullptr)
    return failed(std::string("cannot set up the ") + format.muxer + " container", made);
  if (!openVideo(videoCodec, options) || !openAudio(audioCodec, format)) return false;
  packet = av_packet_alloc();
  if (packet == nullptr) return failed("cannot allocate a packet");

  auto* buffer = static_cast<unsigned char*>(av_malloc(ioBufferBytes));
  if (buffer != nullptr) io = avio_alloc_context(buffer, ioBufferBytes, 1, this, nullptr, writeBytes, seekWriter);
  if (io == nullptr) {
    av_free(buffer);
    return failed("cannot allocate the file's buffer");
  }
  output->pb = io;
  output->flags |= AVFMT_FLAG_CUSTOM_IO;
  output->opaque = this;
  output->io_open = openAgain;
  output->io_close2 = closeAgain;
  AVDictionary* settings = nullptr;
  if (std::strcmp(format.muxer, "mp4") == 0) av_dict_set(&settings, "movflags", "+faststart", 0);
  const int written = avformat_write_header(output, &settings);
  av_dict_free(&settings);
  if (written < 0) return writeFailed("cannot write the container's header", written);
  return true;
}

// Hands one frame (null: the end) to an encoder and writes what comes out.
bool CaptureEncoder::send(AVCodecContext* codec, AVStream* stream, const AVFrame* frame) {
  int result = avcodec_send_frame(codec, frame);
  if (result < 0) return failed(std::string("the encoder ") + codec->codec->name + " failed", result);
  for (;;) {
    result = avcodec_receive_packet(codec, packet);
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return true;
    if (result < 0) return failed(std::string("the encoder ") + codec->codec->name + " failed", result);
    const bool final = codec == video && packet->pts == finalPicture;
    av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
    if (final) packet->duration = av_rescale_q(finalPictureSamples, AVRational{1, sampleRate}, stream->time_base);
    packet->stream_index = stream->index;
    result = av_interleaved_write_frame(output, packet);
    // Some muxers learn of a failed write only at the end: stop at the first.
    if (result < 0 || writeErrno != 0) return writeFailed("cannot write the video file", result);
  }
}

bool CaptureEncoder::encodePicture(const std::uint8_t* rgbaBottomUp, std::int64_t index) {
  const int writable = av_frame_make_writable(picture);
  if (writable < 0) return failed("cannot reuse the video frame", writable);
  // A negative stride walks the bottom-up rows from the top of the picture.
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
  const std::uint8_t* const rows[1] = {rgbaBottomUp + rowBytes * static_cast<std::size_t>(height - 1)};
  const int strides[1] = {-static_cast<int>(rowBytes)};
  sws_scale(scaler, rows, strides, 0, height, picture->data, picture->linesize);
  picture->pts = index;
  return send(video, videoStream, picture);
}

// Encodes whole frames from the FIFO; at the end also the rest, padded with silence
// for an encoder that takes whole frames only.
bool CaptureEncoder::drainSound(bool last) {
  for (;;) {
    const int waiting = av_audio_fifo_size(fifo);
    if (waiting == 0 || (waiting < audioFrameSize && !last)) return true;
    const int writable = av_frame_make_writable(sound);
    if (writable < 0) return failed("cannot reuse the audio frame", writable);
    const int count = std::min(waiting, audioFrameSize);
    av_audio_fifo_read(fifo, reinterpret_cast<void**>(sound->data), count);
    sound->nb_samples = count;
    if (count < audioFrameSize && !smallLastFrame) {
      av_samples_set_silence(sound->data, count, audioFrameSize - count, 2, audio->sample_fmt);
      sound->nb_samples = audioFrameSize;
    }
    sound->pts = soundPts;
    soundPts += sound->nb_samples;
    if (!send(audio, audioStream, sound)) return false;
  }
}

// Hands the sound up to sample frame `upTo` of the span to the encoder.
bool CaptureEncoder::feedSound(std::uint32_t upTo) {
  while (soundFed < upTo) {
    const std::uint32_t count = std::min(upTo - soundFed, soundChunk);
    const std::uint8_t* input[1] = {reinterpret_cast<const std::uint8_t*>(soundSource + 2 * soundFed)};
    const int got = swr_convert(resampler, converted, convertedCapacity, input, static_cast<int>(count));
    if (got < 0) return failed("cannot convert the sound", got);
    if (av_audio_fifo_write(fifo, reinterpret_cast<void**>(converted), got) < got)
      return failed("cannot buffer the sound");
    soundFed += count;
    if (!drainSound(false)) return false;
  }
  return true;
}

bool CaptureEncoder::finish() {
  if (!send(video, videoStream, nullptr)) return false;
  // What the resampler still holds, then the last, partial frame.
  for (;;) {
    const int got = swr_convert(resampler, converted, convertedCapacity, nullptr, 0);
    if (got < 0) return failed("cannot convert the sound", got);
    if (got == 0) break;
    if (av_audio_fifo_write(fifo, reinterpret_cast<void**>(converted), got) < got)
      return failed("cannot buffer the sound");
    if (!drainSound(false)) return false;
  }
  if (!drainSound(true) || !send(audio, audioStream, nullptr)) return false;
  const int trailer = av_write_trailer(output);
  if (trailer < 0) return writeFailed("cannot finish the video file", trailer);
  avio_flush(io);
  if (io->error < 0) return writeFailed("cannot finish the video file", io->error);
  return true;
}

void CaptureEncoder::close() {
  avformat_free_context(output);  // leaves the custom `io` alone
  output = nullptr;
  if (io != nullptr) av_freep(&io->buffer);
  avio_context_free(&io);
  avcodec_free_context(&video);
  avcodec_free_context(&audio);
  sws_freeContext(scaler);
  scaler = nullptr;
  swr_free(&resampler);
  av_frame_free(&picture);
  av_frame_free(&sound);
  if (fifo != nullptr) av_audio_fifo_free(fifo);
  fifo = nullptr;
  av_packet_free(&packet);
  if (converted != nullptr) av_freep(&converted[0]);
  av_freep(&converted);
  // The encoders' threads are gone: stderr is the real one again.
  if (libraryStderr != nullptr) {
    stderr = messages;
    std::fclose(libraryStderr);
    libraryStderr = nullptr;
  }
  std::free(libraryText);
  libraryText = nullptr;
  libraryTextSize = 0;
}

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

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

#include "audio/playback.h"

namespace {
constexpr std::uint32_t soundChunk = 1024;    // sample frames handed to the resampler at once
constexpr int fallbackAudioFrameSize = 1024;  // for encoders that take any frame size

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
}  // namespace

void keepLibraryLines() {
  av_log_set_level(AV_LOG_ERROR);
  av_log_set_callback(keepErrorLine);
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
  return failed(what, file.writeErrno != 0 ? AVERROR(file.writeErrno) : code);
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

bool CaptureEncoder::open(const CaptureFormat& format, const AVCodec* videoCodec, const AVCodec* audioCodec, int descriptor,
                          const Options& options, const float* sound) {
  width = options.width;
  height = options.height;
  this->file = DescriptorFile{descriptor, 0, 0};
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

  io = openDescriptorWriter(file);
  if (io == nullptr) return failed("cannot allocate the file's buffer");
  output->pb = io;
  output->flags |= AVFMT_FLAG_CUSTOM_IO;
  output->opaque = &file;
  output->io_open = openDescriptorAgain;
  output->io_close2 = closeDescriptorAgain;
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
    if (result < 0 || file.writeErrno != 0) return writeFailed("cannot write the video file", result);
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

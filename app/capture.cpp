// Video capture: the GL thread renders the frames on the virtual clock and reads
// them back into a small ring of pre-allocated RGBA frames; an encoding thread
// converts them to 4:2:0 video, encodes them with the sound of the same span and
// writes the container. Picture and sound come from the same play positions, so they
// stay in step by construction, over three minutes as over two seconds.
#include "app/capture.h"
#include "app/output.h"

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

#include <GL/gl.h>
#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/display.h"
#include "app/run.h"
#include "app/track.h"
#include "audio/playback.h"
#include "audio/spectrum.h"
#include "effects/disk_swarm.h"
#include "platform/headless.h"
#include "show/frame.h"

//----------------------------------------------------------------------------------
// Spans and formats
//----------------------------------------------------------------------------------
CaptureSpan captureSpan(std::uint32_t from, std::uint32_t to, int fps) {
  CaptureSpan span;
  span.firstFrame = firstFrameAtOrAfter(from, fps);
  // Frame n lies before `to` exactly when n x 44,100 < to x fps, so the frame after
  // the last one is the first frame at or after `to`.
  const std::uint64_t end = firstFrameAtOrAfter(to, fps);
  span.frameCount = end > span.firstFrame ? end - span.firstFrame : 0;
  span.soundStart = virtualPosition(span.firstFrame, fps);
  span.soundFrames = virtualPosition(span.firstFrame + span.frameCount, fps) - span.soundStart;
  return span;
}

namespace {
// H.264 at about crf 18 with AAC for the widely played .mp4; the same picture with
// lossless FLAC in Matroska; VP9 and Opus (which runs at 48 kHz) for the web.
constexpr std::int64_t aacBitRate = 192000;
constexpr std::int64_t opusBitRate = 160000;
constexpr int opusRate = 48000;

const CaptureFormat captureFormats[] = {
    {".mp4", "mp4", "libx264", AV_CODEC_ID_H264, "aac", AV_SAMPLE_FMT_FLTP, sampleRate, aacBitRate},
    {".mkv", "matroska", "libx264", AV_CODEC_ID_H264, "flac", AV_SAMPLE_FMT_S16, sampleRate, 0},
    {".webm", "webm", "libvpx-vp9", AV_CODEC_ID_VP9, "libopus", AV_SAMPLE_FMT_FLT, opusRate, opusBitRate},
};
}  // namespace

const CaptureFormat* captureFormatFor(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return nullptr;
  const std::string extension = path.substr(dot);
  for (const CaptureFormat& format : captureFormats)
    if (strcasecmp(extension.c_str(), format.extension) == 0) return &format;
  return nullptr;
}

namespace {
//----------------------------------------------------------------------------------
// Constants and small helpers
//----------------------------------------------------------------------------------
constexpr int queueDepth = 4;                    // RGBA frames between the GL thread and the encoder
constexpr std::uint32_t soundChunk = 1024;       // sample frames handed to the resampler at once
constexpr int fallbackAudioFrameSize = 1024;     // for encoders that take any frame size
constexpr double progressInterval = 0.5;         // seconds between progress lines
constexpr auto signalPoll = std::chrono::milliseconds(100);
constexpr std::uint64_t fnvOffset = 14695981039346656037ull;
constexpr std::uint64_t fnvPrime = 1099511628211ull;

// Video quality: x264's constant rate factor 18 (hardly distinguishable from the
// rendered frames). On two cores the renderer takes about one, and only the fastest
// preset encodes the busy scenes at 1280x720 in less time than they take to render
// (about 4 to 8 ms a frame, against 7 to 17 for "superfast" and 9 to 28 for
// "veryfast"); the files are about half as large again as with "superfast". VP9 in
// its real-time mode at the fastest speed, constant quality 30.
constexpr const char* x264Preset = "ultrafast";
constexpr const char* x264Quality = "18";
constexpr const char* vp9Speed = "8";
constexpr const char* vp9Quality = "30";

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int fail(int code, const std::string& what) {
  const char* prefix = what.rfind("pulse165: ", 0) == 0 ? "" : "pulse165: ";
  std::fprintf(stderr, "%s%s\n", prefix, what.c_str());
  return code;
}

std::string ffmpegMessage(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// "2:59.0", or "0:02.0" for a short span.
std::string clockText(double seconds) {
  if (seconds < 0) seconds = 0;
  const int minutes = static_cast<int>(seconds / 60.0);
  char text[32];
  std::snprintf(text, sizeof text, "%d:%04.1f", minutes, seconds - 60.0 * minutes);
  return text;
}


//----------------------------------------------------------------------------------
// Ctrl-C and SIGTERM: noted by the handler, acted on by the GL thread between frames
//----------------------------------------------------------------------------------
std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void noteStopSignal(int number) { stopSignal.store(number); }

struct StopSignals {
  struct sigaction previousInterrupt {};
  struct sigaction previousTerminate {};

  StopSignals() {
    stopSignal.store(0);
    struct sigaction action {};
    action.sa_handler = noteStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previousInterrupt);
    sigaction(SIGTERM, &action, &previousTerminate);
  }
  ~StopSignals() {
    sigaction(SIGINT, &previousInterrupt, nullptr);
    sigaction(SIGTERM, &previousTerminate, nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
};

//----------------------------------------------------------------------------------
// The renderer: the show headless, from the state that a fresh process starts in
//----------------------------------------------------------------------------------
struct CaptureRenderer {
  TrackBytes track;
  HeadlessContext context;
  std::unique_ptr<ShowFrame> frame;  // destroyed before the context goes
  int fps = 60;

  // False with the exit code and one line in `error`.
  bool open(const Options& options, int& code, std::string& error) {
    if (!loadTrack(options.trackPath, track, error)) {
      code = exitUsage;
      return false;
    }
    if (!context.open(options.width, options.height, error)) {
      code = exitEnvironment;
      return false;
    }
    // The same options give the same frames: the buffer, the random layouts and the
    // swirl start as they do in a new process, even on a second capture in one.
    clearPlaybackBuffer();
    resetRandom();
    swirlAngle = 0.0f;
    initialiseShow(track.data, track.size, options.width, options.height, nullptr);
    frame = std::make_unique<ShowFrame>();
    fps = options.fps;
    return true;
  }

  // Draws frame n and reads it back as OpenGL hands it over, bottom row first.
  void render(std::uint64_t n, std::uint8_t* rgba) {
    frame->draw(virtualPosition(n, fps));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, context.width, context.height, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  }
};

//----------------------------------------------------------------------------------
// The encoder: FFmpeg's muxer, the video and audio encoders, the colour conversion
// and the resampler, all set up before the first frame
//----------------------------------------------------------------------------------
const AVCodec* findVideoEncoder(const CaptureFormat& format) {
  const AVCodec* codec = avcodec_find_encoder_by_name(format.videoEncoder);
  if (codec == nullptr) codec = avcodec_find_encoder(static_cast<AVCodecID>(format.videoCodec));
  return codec;
}

struct CaptureEncoder {
  AVFormatContext* output = nullptr;
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
  const float* soundSource = nullptr;  // the span's first sample frame in the PlaybackBuffer
  std::uint32_t soundFed = 0;          // sample frames handed to the resampler so far
  std::int64_t soundPts = 0;           // in the encoder's samples
  std::string error;

  CaptureEncoder() = default;
  CaptureEncoder(const CaptureEncoder&) = delete;
  CaptureEncoder& operator=(const CaptureEncoder&) = delete;
  ~CaptureEncoder() { close(); }

  bool failed(const std::string& what, int code) {
    error = what + ": " + ffmpegMessage(code);
    return false;
  }
  bool failed(const std::string& what) {
    error = what;
    return false;
  }

  bool openVideo(const AVCodec* codec, int fps);
  bool openAudio(const AVCodec* codec, const CaptureFormat& format);
  bool open(const CaptureFormat& format, const AVCodec* videoCodec, const AVCodec* audioCodec,
            const std::string& path, const Options& options, const CaptureSpan& span);
  bool send(AVCodecContext* codec, AVStream* stream, const AVFrame* frame);
  bool encodePicture(const std::uint8_t* rgbaBottomUp, std::int64_t index);
  bool drainSound(bool last);
  bool feedSound(std::uint32_t upTo);
  bool finish();
  void close();
};

bool CaptureEncoder::openVideo(const AVCodec* codec, int fps) {
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
  if (std::strcmp(codec->name, "libx264") == 0) {
    av_dict_set(&settings, "preset", x264Preset, 0);
    av_dict_set(&settings, "crf", x264Quality, 0);
  } else if (std::strcmp(codec->name, "libvpx-vp9") == 0) {
    video->bit_rate = 0;  // constant quality
    av_dict_set(&settings, "deadline", "realtime", 0);
    av_dict_set(&settings, "cpu-used", vp9Speed, 0);
    av_dict_set(&settings, "crf", vp9Quality, 0);
    av_dict_set(&settings, "row-mt", "1", 0);
  }
  const int result = avcodec_open2(video, codec, &settings);
  av_dict_free(&settings);
  if (result < 0) return failed(std::string("cannot open the video encoder ") + codec->name, result);

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
  scaler = sws_getContext(width, height, AV_PIX_FMT_RGBA, width, height, AV_PIX_FMT_YUV420P, SWS_BILINEAR,
                          nullptr, nullptr, nullptr);
  if (scaler == nullptr) return failed("cannot set up the colour conversion");
  sws_setColorspaceDetails(scaler, sws_getCoefficients(SWS_CS_DEFAULT), 1, sws_getCoefficients(SWS_CS_ITU709), 0,
                           0, 1 << 16, 1 << 16);
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
  const int made = swr_alloc_set_opts2(&resampler, &stereo, sampleFormat, format.audioRate, &stereo,
                                       AV_SAMPLE_FMT_FLT, sampleRate, 0, nullptr);
  av_channel_layout_uninit(&stereo);
  if (made < 0) return failed("cannot set up the sound conversion", made);
  const int started = swr_init(resampler);
  if (started < 0) return failed("cannot set up the sound conversion", started);

  convertedCapacity = static_cast<int>(av_rescale_rnd(soundChunk, format.audioRate, sampleRate, AV_ROUND_UP)) + 256;
  const int buffers =
      av_samples_alloc_array_and_samples(&converted, nullptr, 2, convertedCapacity, sampleFormat, 0);
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

bool CaptureEncoder::open(const CaptureFormat& format, const AVCodec* videoCodec, const AVCodec* audioCodec,
                          const std::string& path, const Options& options, const CaptureSpan& span) {
  width = options.width;
  height = options.height;
  soundSource = &playbackBuffer[2 * static_cast<std::size_t>(span.soundStart)];
  const int made = avformat_alloc_output_context2(&output, nullptr, format.muxer, path.c_str());
  if (made < 0 || output == nullptr) return failed(std::string("cannot set up the ") + format.muxer + " container", made);
  if (!openVideo(videoCodec, options.fps) || !openAudio(audioCodec, format)) return false;
  packet = av_packet_alloc();
  if (packet == nullptr) return failed("cannot allocate a packet");

  const int opened = avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE);
  if (opened < 0) return failed("cannot write " + path, opened);
  AVDictionary* settings = nullptr;
  if (std::strcmp(format.muxer, "mp4") == 0) av_dict_set(&settings, "movflags", "+faststart", 0);
  const int written = avformat_write_header(output, &settings);
  av_dict_free(&settings);
  if (written < 0) return failed("cannot write the container's header", written);
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
    av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
    packet->stream_index = stream->index;
    result = av_interleaved_write_frame(output, packet);
    if (result < 0) return failed("cannot write the video file", result);
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
  if (trailer < 0) return failed("cannot finish the video file", trailer);
  const int closed = avio_closep(&output->pb);
  if (closed < 0) return failed("cannot finish the video file", closed);
  return true;
}

void CaptureEncoder::close() {
  if (output != nullptr) {
    if (output->pb != nullptr) avio_closep(&output->pb);
    avformat_free_context(output);
    output = nullptr;
  }
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
}

//----------------------------------------------------------------------------------
// The ring of frames between the GL thread and the encoding thread
//----------------------------------------------------------------------------------
struct FrameQueue {
  std::size_t frameBytes = 0;
  std::vector<std::uint8_t> storage;  // queueDepth frames, allocated once
  std::mutex mutex;
  std::condition_variable changed;
  int head = 0;           // the oldest rendered frame
  int filled = 0;         // rendered frames not yet encoded
  bool closed = false;    // the renderer hands in no more frames
  bool aborted = false;   // stop at once: an encoder error or a signal

  explicit FrameQueue(std::size_t bytes) : frameBytes(bytes), storage(bytes * queueDepth) {}

  std::uint8_t* slot(int i) { return storage.data() + frameBytes * static_cast<std::size_t>(i); }

  // GL thread: a free frame to render into; null once aborted or on a stop signal.
  std::uint8_t* acquire() {
    std::unique_lock lock(mutex);
    while (!changed.wait_for(lock, signalPoll, [this] { return filled < queueDepth || aborted; }))
      if (stopSignal.load() != 0) return nullptr;
    return aborted ? nullptr : slot((head + filled) % queueDepth);
  }
  void publish() {
    {
      std::lock_guard lock(mutex);
      ++filled;
    }
    changed.notify_all();
  }
  // Encoding thread: the oldest rendered frame; null when there is none to come.
  const std::uint8_t* next() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return filled > 0 || closed || aborted; });
    return aborted || filled == 0 ? nullptr : slot(head);
  }
  void release() {
    {
      std::lock_guard lock(mutex);
      head = (head + 1) % queueDepth;
      --filled;
    }
    changed.notify_all();
  }
  void end(bool abort) {
    {
      std::lock_guard lock(mutex);
      closed = true;
      aborted = aborted || abort;
    }
    changed.notify_all();
  }
};

// The temporary file beside the target: removed unless it was renamed into place.
struct TemporaryFile {
  std::string path;
  bool kept = false;
  ~TemporaryFile() {
    if (!kept && !path.empty()) unlink(path.c_str());
  }
};

void printProgress(const std::string& target, std::uint64_t done, std::uint64_t total, double seconds) {
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  const double left = rate > 0 ? static_cast<double>(total - done) / rate : 0;
  const int percent = total > 0 ? static_cast<int>(100 * done / total) : 100;
  std::fprintf(stderr, "\rcapturing %s: %3d %%, %.1f frames/s, %s left\033[K", target.c_str(), percent, rate,
               clockText(left).c_str());
}
}  // namespace

//----------------------------------------------------------------------------------
// Determinism check and the capture itself
//----------------------------------------------------------------------------------
bool hashCaptureFrames(const Options& options, std::uint64_t& hash, std::string& error) {
  CaptureRenderer renderer;
  int code = 0;
  if (!renderer.open(options, code, error)) return false;
  const CaptureSpan span = captureSpan(options.fromPosition, options.toPosition, options.fps);
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(options.width) * options.height * 4);
  hash = fnvOffset;
  for (std::uint64_t i = 0; i < span.frameCount; ++i) {
    renderer.render(span.firstFrame + i, pixels.data());
    for (std::uint8_t byte : pixels) hash = (hash ^ byte) * fnvPrime;
  }
  return true;
}

int runCapture(const Options& options) {
  const Clock::time_point began = Clock::now();
  const std::string& target = options.capturePath;

  // Everything that can be checked is checked before the show is decoded.
  const CaptureFormat* format = captureFormatFor(target);
  if (format == nullptr)
    return fail(exitUsage, "cannot capture to " + target + ": unknown file type (use .mp4, .mkv or .webm)");
  if (options.width % 2 != 0 || options.height % 2 != 0)
    return fail(exitUsage, "cannot capture at " + std::to_string(options.width) + "x" +
                               std::to_string(options.height) +
                               ": 4:2:0 video needs an even width and height, e.g. 1280x720");
  TemporaryFile temporary;
  const std::string partial = target + ".part";
  std::string error;
  if (!checkOutputPath(target, partial, "capture to", error)) return fail(exitUsage, error);

  av_log_set_level(AV_LOG_QUIET);  // failures are reported here, in one line each
  const AVCodec* videoCodec = findVideoEncoder(*format);
  const AVCodec* audioCodec = avcodec_find_encoder_by_name(format->audioEncoder);
  if (videoCodec == nullptr)
    return fail(exitEnvironment, "cannot capture to " + target + ": FFmpeg offers no " +
                                     avcodec_get_name(static_cast<AVCodecID>(format->videoCodec)) + " encoder");
  if (audioCodec == nullptr)
    return fail(exitEnvironment,
                "cannot capture to " + target + ": FFmpeg offers no " + format->audioEncoder + " encoder");
  if (std::strcmp(videoCodec->name, format->videoEncoder) != 0)
    std::fprintf(stderr, "pulse165: %s is missing; encoding with %s instead\n", format->videoEncoder,
                 videoCodec->name);

  const CaptureSpan span = captureSpan(options.fromPosition, options.toPosition, options.fps);
  if (span.frameCount == 0) return fail(exitUsage, "the capture's span holds no frame at this frame rate");

  StopSignals signals;
  CaptureRenderer renderer;
  int code = 0;
  if (!renderer.open(options, code, error)) return fail(code, error);

  CaptureEncoder encoder;
  temporary.path = partial;
  if (!encoder.open(*format, videoCodec, audioCodec, partial, options, span))
    return fail(exitEnvironment, "cannot capture to " + target + ": " + encoder.error);

  FrameQueue queue(static_cast<std::size_t>(options.width) * options.height * 4);
  std::atomic<std::uint64_t> encoded{0};
  std::thread worker([&] {
    for (std::uint64_t i = 0;; ++i) {
      const std::uint8_t* pixels = queue.next();
      if (pixels == nullptr) return;
      const std::uint32_t soundUpTo = virtualPosition(span.firstFrame + i + 1, options.fps) - span.soundStart;
      const bool ok = encoder.encodePicture(pixels, static_cast<std::int64_t>(i)) && encoder.feedSound(soundUpTo);
      queue.release();
      if (!ok) {
        queue.end(true);
        return;
      }
      encoded.store(i + 1);
    }
  });

  const bool showProgress = isatty(STDERR_FILENO) == 1;
  const Clock::time_point renderStart = Clock::now();
  double lastProgress = 0;
  for (std::uint64_t i = 0; i < span.frameCount && stopSignal.load() == 0; ++i) {
    std::uint8_t* pixels = queue.acquire();
    if (pixels == nullptr) break;
    renderer.render(span.firstFrame + i, pixels);
    queue.publish();
    if (showProgress) {
      const double seconds = secondsSince(renderStart);
      if (seconds - lastProgress >= progressInterval) {
        lastProgress = seconds;
        printProgress(target, encoded.load(), span.frameCount, seconds);
      }
    }
  }
  queue.end(stopSignal.load() != 0);
  worker.join();
  if (showProgress) std::fputs("\r\033[K", stderr);

  // A stop signal at any moment before the rename, even while the file is being
  // finished, leaves nothing behind.
  auto interrupted = [&target](int signal) {
    std::fprintf(stderr, "pulse165: capture interrupted (%s); %s was not written\n",
                 signal == SIGINT ? "Ctrl-C" : "SIGTERM", target.c_str());
    return 128 + signal;
  };
  if (const int signal = stopSignal.load(); signal != 0) return interrupted(signal);
  if (!encoder.error.empty()) return fail(exitEnvironment, "cannot capture to " + target + ": " + encoder.error);
  if (encoded.load() != span.frameCount)
    return fail(exitEnvironment, "cannot capture to " + target + ": frames went missing");
  if (!encoder.finish()) return fail(exitEnvironment, "cannot capture to " + target + ": " + encoder.error);
  encoder.close();
  if (const int signal = stopSignal.load(); signal != 0) return interrupted(signal);
  if (std::rename(partial.c_str(), target.c_str()) != 0)
    return fail(exitEnvironment, "cannot capture to " + target + ": renaming " + partial + " failed (" +
                                     std::strerror(errno) + ")");
  temporary.kept = true;

  const double wall = secondsSince(began);
  const double showSeconds = static_cast<double>(span.frameCount) / options.fps;
  struct stat info {};
  const double mebibytes = stat(target.c_str(), &info) == 0 ? static_cast<double>(info.st_size) / 1048576.0 : 0;
  std::printf("%s: %llu frames, %s at %d fps, %dx%d, %.1f MiB, made in %s: %.2f x real time\n", target.c_str(),
              static_cast<unsigned long long>(span.frameCount), clockText(showSeconds).c_str(), options.fps,
              options.width, options.height, mebibytes, clockText(wall).c_str(), wall > 0 ? showSeconds / wall : 0);
  return 0;
}

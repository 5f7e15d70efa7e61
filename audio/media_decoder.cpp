// Decoding a hand-picked track with libavformat, libavcodec and libswresample.
#include "audio/media_decoder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace {
// Seconds of processor time this thread has used. Decoding runs on this thread alone
// (the decoder is given one thread), so this bounds the work whatever the load on the
// machine.
double threadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Demuxers of the files people keep audio in, and nothing that opens other files or
// URLs (playlists, concatenation, streaming manifests) or reads images alone. A
// container that also carries video (AVI, MPEG-TS, MP4, Matroska) is read for its
// audio: the video is never decoded.
constexpr const char* audioFormats =
    "ogg,mp3,flac,wav,w64,aiff,mov,aac,matroska,caf,wv,ape,tta,au,asf,ac3,eac3,dts,avi,mpegts";
// Audio decoders only: a video or image codec is never opened, not even while probing.
// Beside the codecs of the audio formats themselves: DTS and TrueHD (films' tracks in
// Matroska and MPEG-TS), Blu-ray PCM (M2TS) and QuickTime's IMA ADPCM (AIFF-C, MOV, CAF).
constexpr const char* audioCodecs =
    "vorbis,libvorbis,opus,libopus,mp1,mp1float,mp2,mp2float,mp3,mp3float,flac,alac,aac,aac_fixed,aac_latm,wavpack,"
    "ape,tta,ac3,ac3_fixed,eac3,dca,truehd,wmav1,wmav2,wmapro,pcm_u8,pcm_s8,pcm_s16le,pcm_s16be,pcm_s24le,pcm_s24be,"
    "pcm_s32le,pcm_s32be,pcm_f32le,pcm_f32be,pcm_f64le,pcm_f64be,pcm_alaw,pcm_mulaw,pcm_bluray,adpcm_ima_wav,"
    "adpcm_ima_qt,adpcm_ms";
constexpr int ioBufferBytes = 64 * 1024;
constexpr float sampleBound = 4.0f;  // +12 dBFS: beyond any real decoder's overshoot

// Where the bytes come from: an open file or a block of memory, read by FFmpeg only
// through the two callbacks below. Both watch the deadline.
struct ByteSource {
  int fd = -1;
  const std::uint8_t* data = nullptr;
  std::int64_t size = 0;
  std::int64_t offset = 0;  // memory only
  double deadline = 0.0;    // in threadSeconds()
  bool expired = false;

  bool pastDeadline() {
    if (!expired && threadSeconds() >= deadline) expired = true;
    return expired;
  }
};

int readBytes(void* opaque, std::uint8_t* buffer, int wanted) {
  auto& source = *static_cast<ByteSource*>(opaque);
  if (source.pastDeadline()) return AVERROR_EXIT;
  if (source.fd >= 0) {
    ssize_t got;
    do {
      got = ::read(source.fd, buffer, static_cast<std::size_t>(wanted));
    } while (got < 0 && errno == EINTR);
    if (got < 0) return AVERROR(errno);
    return got == 0 ? AVERROR_EOF : static_cast<int>(got);
  }
  const std::int64_t left = source.size - source.offset;
  if (left <= 0) return AVERROR_EOF;
  const int got = static_cast<int>(std::min<std::int64_t>(left, wanted));
  std::memcpy(buffer, source.data + source.offset, static_cast<std::size_t>(got));
  source.offset += got;
  return got;
}

std::int64_t seekBytes(void* opaque, std::int64_t offset, int whence) {
  auto& source = *static_cast<ByteSource*>(opaque);
  whence &= ~AVSEEK_FORCE;
  if (whence == AVSEEK_SIZE) return source.size;
  if (source.pastDeadline()) return AVERROR_EXIT;
  if (source.fd >= 0) {
    const off_t at = ::lseek(source.fd, static_cast<off_t>(offset), whence);
    return at < 0 ? AVERROR(errno) : static_cast<std::int64_t>(at);
  }
  std::int64_t base = 0;
  if (whence == SEEK_CUR)
    base = source.offset;
  else if (whence == SEEK_END)
    base = source.size;
  else if (whence != SEEK_SET)
    return AVERROR(EINVAL);
  if (offset > source.size - base || base + offset < 0) return AVERROR(EINVAL);
  source.offset = base + offset;
  return source.offset;
}

// One sample as a float at full scale 1, as the resampler converts it.
float asFloat(std::uint8_t v) {
  return static_cast<float>(static_cast<int>(v) - 128) * (1.0f / 128);
}
float asFloat(std::int16_t v) {
  return static_cast<float>(v) * (1.0f / 32768);
}
float asFloat(std::int32_t v) {
  return static_cast<float>(static_cast<double>(v) * (1.0 / 2147483648.0));
}
float asFloat(std::int64_t v) {
  return static_cast<float>(static_cast<double>(v) * (1.0 / 9223372036854775808.0));
}
float asFloat(float v) {
  return v;
}
float asFloat(double v) {
  return static_cast<float>(v);
}

// The frame's channels mixed into interleaved stereo: the even channels averaged on the
// left, the odd ones on the right (one channel alone on both).
template <typename Sample>
void mixChannels(const AVFrame& frame, int channels, bool planar, float* stereo) {
  const int frames = frame.nb_samples;
  std::fill(stereo, stereo + 2 * frames, 0.0f);
  for (int c = 0; c < channels; ++c) {
    const auto* data = reinterpret_cast<const Sample*>(frame.extended_data[planar ? c : 0]) + (planar ? 0 : c);
    const std::ptrdiff_t step = planar ? 1 : channels;
    float* side = stereo + (c & 1);
    for (int i = 0; i < frames; ++i) side[2 * i] += asFloat(data[i * step]);
  }
  const float left = 1.0f / static_cast<float>((channels + 1) / 2);
  const float right = 1.0f / static_cast<float>(std::max(channels / 2, 1));
  for (int i = 0; i < frames; ++i) {
    stereo[2 * i] *= left;
    stereo[2 * i + 1] = channels > 1 ? stereo[2 * i + 1] * right : stereo[2 * i];
  }
}

int interruptAtDeadline(void* opaque) {
  return static_cast<ByteSource*>(opaque)->pastDeadline() ? 1 : 0;
}

// A demuxer that wants to open a second file or URL (a playlist entry, a reference
// inside a movie) is refused: the show reads the one file it was given.
int refuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
  return AVERROR(EPERM);
}

std::string baseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", s);
  return text;
}

// One decoding run: the FFmpeg objects and the growing output, all released at the end.
struct MediaDecoding {
  ByteSource& source;
  MediaTrack& track;
  const MediaLimits& limits;
  std::string name;

  AVIOContext* io = nullptr;
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  SwrContext* resampler = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  int streamIndex = -1;
  std::int64_t capacityFrames = 0;  // room in track.samples, guard excluded
  // What the resampler was set up for.
  int inRate = 0;
  int inFormat = -1;
  AVChannelLayout frameLayout{};  // as the decoder gives it
  AVChannelLayout inLayout{};     // the same, with a default order where it gives none
  // Where the channels have no order the resampler can downmix by (or more of them than
  // it takes), they are mixed into stereo here first: `mixed` holds a frame's worth.
  bool mixing = false;
  float* mixed = nullptr;
  unsigned mixedBytes = 0;
  bool full = false;  // the output reached limits.maxFrames

  MediaDecoding(ByteSource& s, MediaTrack& t, const MediaLimits& l, std::string n)
      : source(s), track(t), limits(l), name(std::move(n)) {}
  ~MediaDecoding() {
    av_frame_free(&frame);
    av_packet_free(&packet);
    swr_free(&resampler);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    if (io) av_freep(&io->buffer);
    avio_context_free(&io);
    av_channel_layout_uninit(&frameLayout);
    av_channel_layout_uninit(&inLayout);
    av_freep(&mixed);
  }
  MediaDecoding(const MediaDecoding&) = delete;
  MediaDecoding& operator=(const MediaDecoding&) = delete;

  MediaResult refuse(MediaRefusal why, const std::string& text) {
    track.release();
    return {why, name + ": " + text};
  }

  MediaResult failure(int error, MediaRefusal otherwise, const std::string& text) {
    if (source.expired)
      return refuse(MediaRefusal::tooSlow,
                    "took more than " + seconds(limits.deadlineSeconds) + " of processor time to decode");
    if (error == AVERROR(ENOMEM)) return refuse(MediaRefusal::outOfMemory, "out of memory while decoding");
    return refuse(otherwise, text);
  }

  // Room for `frames` frames plus the guard; grows by half again at least.
  bool reserve(std::int64_t frames) {
    if (frames <= capacityFrames) return true;
    const std::int64_t grown = std::min(capacityFrames + capacityFrames / 2, limits.maxFrames);
    const std::int64_t wanted = std::max(frames, grown);
    void* moved = std::realloc(track.samples, static_cast<std::size_t>(wanted + mediaGuardFrames) * 2 * sizeof(float));
    if (!moved) return false;
    track.samples = static_cast<float*>(moved);
    capacityFrames = wanted;
    return true;
  }

  MediaResult run();
  MediaResult open();
  bool setUpResampler();
  int mix();
  int convert(const std::uint8_t** input, int inputFrames);
  int takeFrames();
};

MediaResult MediaDecoding::open() {
  std::uint8_t* buffer = static_cast<std::uint8_t*>(av_malloc(ioBufferBytes));
  if (!buffer) return refuse(MediaRefusal::outOfMemory, "out of memory");
  io = avio_alloc_context(buffer, ioBufferBytes, 0, &source, readBytes, nullptr, seekBytes);
  if (!io) {
    av_free(buffer);
    return refuse(MediaRefusal::outOfMemory, "out of memory");
  }

  // Probe first, so that a file that is no audio at all is named for what it is.
  const AVInputFormat* found = nullptr;
  const std::string probeName = baseName(name);  // its extension is a hint, nothing is opened by it
  int status = av_probe_input_buffer2(io, &found, probeName.c_str(), nullptr, 0, 0);
  if (status < 0 || !found)
    return failure(status, MediaRefusal::nothingDecodable, "not an audio file that can be read");
  if (av_match_list(found->name, audioFormats, ',') <= 0)
    return refuse(MediaRefusal::noAudioStream, std::string("holds no audio stream (a ") + found->name + " file)");

  format = avformat_alloc_context();
  if (!format) return refuse(MediaRefusal::outOfMemory, "out of memory");
  format->pb = io;
  format->flags |= AVFMT_FLAG_CUSTOM_IO;
  format->interrupt_callback.callback = interruptAtDeadline;
  format->interrupt_callback.opaque = &source;
  format->io_open = refuseNestedOpen;
  AVDictionary* options = nullptr;
  av_dict_set(&options, "format_whitelist", audioFormats, 0);
  av_dict_set(&options, "codec_whitelist", audioCodecs, 0);
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  status = avformat_open_input(&format, "", found, &options);
  av_dict_free(&options);
  if (status < 0)  // the context is freed on failure
    return failure(status, MediaRefusal::nothingDecodable,
                   std::string("not a ") + found->name + " file that can be read");

  // Only audio is read any further (cover art and video are skipped by the demuxer).
  for (unsigned i = 0; i < format->nb_streams; ++i)
    if (format->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) format->streams[i]->discard = AVDISCARD_ALL;
  // Fills in what the headers leave open (FLAC's rate and channels, for one) and
  // estimates the duration; a failure here still leaves the decoder to try.
  status = avformat_find_stream_info(format, nullptr);
  if (source.expired) return failure(status, MediaRefusal::tooSlow, "");
  streamIndex = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (streamIndex < 0) return refuse(MediaRefusal::noAudioStream, "holds no audio stream");
  for (unsigned i = 0; i < format->nb_streams; ++i)
    if (static_cast<int>(i) != streamIndex) format->streams[i]->discard = AVDISCARD_ALL;

  const AVStream* stream = format->streams[streamIndex];
  const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
  const char* codecName = avcodec_get_name(stream->codecpar->codec_id);
  if (!decoder || decoder->type != AVMEDIA_TYPE_AUDIO || av_match_list(decoder->name, audioCodecs, ',') <= 0)
    return refuse(MediaRefusal::nothingDecodable, std::string("its ") + codecName + " audio cannot be decoded");
  codec = avcodec_alloc_context3(decoder);
  if (!codec) return refuse(MediaRefusal::outOfMemory, "out of memory");
  status = avcodec_parameters_to_context(codec, stream->codecpar);
  if (status >= 0) {
    codec->pkt_timebase = stream->time_base;
    codec->thread_count = 1;
    av_dict_set(&options, "codec_whitelist", audioCodecs, 0);
    status = avcodec_open2(codec, decoder, &options);
    av_dict_free(&options);
  }
  if (status < 0)
    return failure(status, MediaRefusal::nothingDecodable,
                   std::string("its ") + codecName + " audio cannot be decoded");
  if (codec->sample_rate > mediaMaxSourceRate)
    return refuse(MediaRefusal::nothingDecodable, "its sample rate of " + std::to_string(codec->sample_rate) +
                                                      " Hz is above the " + std::to_string(mediaMaxSourceRate) +
                                                      " Hz that can be played");
  track.formatName = found->name;
  track.codecName = decoder->name;
  // Tags live with the container (MP3, MP4, FLAC) or with the stream (Ogg).
  auto tag = [&](const char* key) {
    const AVDictionaryEntry* entry = av_dict_get(format->metadata, key, nullptr, 0);
    if (entry == nullptr) entry = av_dict_get(stream->metadata, key, nullptr, 0);
    return entry != nullptr ? std::string(entry->value).substr(0, 200) : std::string();
  };
  track.title = tag("title");
  track.artist = tag("artist");
  track.album = tag("album");
  track.sourceRate = codec->sample_rate;
  track.sourceChannels = codec->ch_layout.nb_channels;

  // The whole track in one block: reserved from the container's duration where it
  // gives one (a little over, so that a close estimate never grows it), else a minute.
  std::int64_t expected = sampleRate * 60;
  if (format->duration > 0)
    expected = av_rescale(format->duration, sampleRate, AV_TIME_BASE) + format->duration / AV_TIME_BASE * 20 + 4096;
  if (!reserve(std::clamp<std::int64_t>(expected, 4096, limits.maxFrames)))
    return refuse(MediaRefusal::outOfMemory, "out of memory");
  packet = av_packet_alloc();
  frame = av_frame_alloc();
  if (!packet || !frame) return refuse(MediaRefusal::outOfMemory, "out of memory");
  return {};
}

bool MediaDecoding::setUpResampler() {
  if (frame->sample_rate <= 0 || frame->sample_rate > mediaMaxSourceRate) return false;
  swr_free(&resampler);
  av_channel_layout_uninit(&frameLayout);
  av_channel_layout_uninit(&inLayout);
  if (av_channel_layout_copy(&frameLayout, &frame->ch_layout) < 0) return false;
  if (av_channel_layout_copy(&inLayout, &frame->ch_layout) < 0) return false;
  if (inLayout.order == AV_CHANNEL_ORDER_UNSPEC) {
    const int channels = inLayout.nb_channels;
    av_channel_layout_uninit(&inLayout);
    av_channel_layout_default(&inLayout, channels);
  }
  inRate = frame->sample_rate;
  inFormat = frame->format;
  mixing = false;
  AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;  // not const: swr_alloc_set_opts2 takes it so
  ++track.resamplerSetups;
  if (inLayout.order != AV_CHANNEL_ORDER_UNSPEC) {
    if (swr_alloc_set_opts2(&resampler, &stereo, AV_SAMPLE_FMT_FLT, sampleRate, &inLayout,
                            static_cast<AVSampleFormat>(inFormat), inRate, 0, nullptr) < 0)
      return false;
    if (inLayout.nb_channels == 1) {
      // Mono on both sides at its own level; the standard matrix would lower it by 3 dB.
      const double bothSides[2] = {1.0, 1.0};
      if (swr_set_matrix(resampler, bothSides, 1) < 0) return false;
    }
    if (swr_init(resampler) >= 0) return true;
    swr_free(&resampler);
  }
  // Channels in no known order (32 or 100 of them in a WAV, say), or a layout the
  // resampler refuses (ambisonics in an Opus file): mixed here, and only resampled there.
  if (inLayout.nb_channels < 1) return false;
  mixing = true;
  return swr_alloc_set_opts2(&resampler, &stereo, AV_SAMPLE_FMT_FLT, sampleRate, &stereo, AV_SAMPLE_FMT_FLT, inRate, 0,
                             nullptr) >= 0 &&
         swr_init(resampler) >= 0;
}

// The frame mixed into `mixed` as stereo floats. Returns 0, or a negative error.
int MediaDecoding::mix() {
  av_fast_malloc(&mixed, &mixedBytes, static_cast<std::size_t>(frame->nb_samples) * 2 * sizeof(float));
  if (!mixed) return AVERROR(ENOMEM);
  const int channels = frame->ch_layout.nb_channels;
  const auto format = static_cast<AVSampleFormat>(frame->format);
  const bool planar = av_sample_fmt_is_planar(format) != 0;
  switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8:
      mixChannels<std::uint8_t>(*frame, channels, planar, mixed);
      return 0;
    case AV_SAMPLE_FMT_S16:
      mixChannels<std::int16_t>(*frame, channels, planar, mixed);
      return 0;
    case AV_SAMPLE_FMT_S32:
      mixChannels<std::int32_t>(*frame, channels, planar, mixed);
      return 0;
    case AV_SAMPLE_FMT_S64:
      mixChannels<std::int64_t>(*frame, channels, planar, mixed);
      return 0;
    case AV_SAMPLE_FMT_FLT:
      mixChannels<float>(*frame, channels, planar, mixed);
      return 0;
    case AV_SAMPLE_FMT_DBL:
      mixChannels<double>(*frame, channels, planar, mixed);
      return 0;
    default:
      return AVERROR(EINVAL);
  }
}

// Resamples `inputFrames` frames (none: drains the resampler) onto the end of the
// track. Returns the frames written, or a negative error.
int MediaDecoding::convert(const std::uint8_t** input, int inputFrames) {
  const int possible = swr_get_out_samples(resampler, inputFrames);
  if (possible < 0) return possible;
  const std::int64_t room = limits.maxFrames - track.frames;
  const int wanted = static_cast<int>(std::min<std::int64_t>(possible, room));
  if (wanted <= 0) {
    if (possible > 0) full = true;
    return 0;
  }
  if (!reserve(track.frames + wanted)) return AVERROR(ENOMEM);
  float* out = track.samples + 2 * track.frames;
  auto* outBytes = reinterpret_cast<std::uint8_t*>(out);
  const int got = swr_convert(resampler, &outBytes, wanted, input, inputFrames);
  if (got < 0) return got;
  // A float decoder passes on whatever the file holds: no value that is not a
  // number, and none far beyond full scale, reaches the show.
  for (int i = 0; i < 2 * got; ++i) {
    const float v = out[i];
    out[i] = std::isfinite(v) ? std::clamp(v, -sampleBound, sampleBound) : 0.0f;
  }
  track.frames += got;
  if (got == wanted && wanted < possible && track.frames >= limits.maxFrames) full = true;
  return got;
}

// Every frame the decoder has ready, through the resampler. Returns 0, or a negative
// error that ends the decoding.
int MediaDecoding::takeFrames() {
  for (;;) {
    int status = avcodec_receive_frame(codec, frame);
    if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return 0;
    if (status < 0) return status == AVERROR(ENOMEM) ? status : 0;  // a damaged frame is passed over
    if (frame->nb_samples > 0) {
      if (full) {
        av_frame_unref(frame);
        return 0;
      }
      const bool changed = !resampler || frame->sample_rate != inRate || frame->format != inFormat ||
                           av_channel_layout_compare(&frame->ch_layout, &frameLayout) != 0;
      if (changed) {
        // A new stream in a chain, or new parameters: what the old set-up holds first.
        if (resampler) {
          status = convert(nullptr, 0);
          if (status < 0) return status;
        }
        if (!setUpResampler()) {
          av_frame_unref(frame);
          return AVERROR(EINVAL);
        }
      }
      if (mixing) {
        status = mix();
        if (status < 0) {
          av_frame_unref(frame);
          return status;
        }
        const auto* stereo = reinterpret_cast<const std::uint8_t*>(mixed);
        status = convert(&stereo, frame->nb_samples);
      } else {
        status = convert(const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
      }
      if (status < 0) return status;
    }
    av_frame_unref(frame);
  }
}

MediaResult MediaDecoding::run() {
  MediaResult opened = open();
  if (!opened.ok()) return opened;

  int status = 0;
  int readStatus = 0;
  while (!full) {
    readStatus = av_read_frame(format, packet);
    if (readStatus < 0) break;
    if (packet->stream_index == streamIndex) {
      status = avcodec_send_packet(codec, packet);
      if (status == AVERROR(ENOMEM)) break;
      status = takeFrames();  // a packet the decoder refuses is passed over
    }
    av_packet_unref(packet);
    if (status < 0) break;
  }
  if (status >= 0 && !full) {
    avcodec_send_packet(codec, nullptr);
    status = takeFrames();
    if (status >= 0 && resampler) status = convert(nullptr, 0);
  }
  if (source.expired || status == AVERROR(ENOMEM)) return failure(status, MediaRefusal::nothingDecodable, "");
  if (readStatus < 0 && readStatus != AVERROR_EOF && !full) {
    // The demuxer gave up before the end of the file: rather than play part of the
    // music as if it were all of it, say where and why. In an Ogg file this is a
    // chain whose next stream the demuxer cannot take up (another codec).
    char why[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(readStatus, why, sizeof why);
    const std::string where = seconds(track.seconds());
    if (track.formatName == "ogg")
      return refuse(MediaRefusal::damaged,
                    "the chained Ogg stream that follows " + where + " cannot be read (" + why + ")");
    return refuse(MediaRefusal::damaged, "cannot be read past " + where + " (" + why + ")");
  }
  if (status < 0) {
    // The decoder or the resampler failed for good (parameters no resampler takes):
    // as above, never part of the music as if it were all of it.
    if (track.frames == 0) return refuse(MediaRefusal::nothingDecodable, "its audio cannot be decoded");
    return refuse(MediaRefusal::damaged, "cannot be decoded past " + seconds(track.seconds()));
  }
  if (track.frames == 0) return refuse(MediaRefusal::nothingDecodable, "holds no audio that can be decoded");
  if (track.frames < limits.minFrames)
    return refuse(MediaRefusal::tooShort, "is " + seconds(track.seconds()) + " long; the show needs at least " +
                                              seconds(static_cast<double>(limits.minFrames) / sampleRate));

  // The block shrinks to the track and its zero guard: realloc gives back the rest.
  void* fitted =
      std::realloc(track.samples, static_cast<std::size_t>(track.frames + mediaGuardFrames) * 2 * sizeof(float));
  if (fitted) track.samples = static_cast<float*>(fitted);
  std::memset(track.samples + 2 * track.frames, 0, static_cast<std::size_t>(mediaGuardFrames) * 2 * sizeof(float));
  track.cut = full;
  MediaResult result;
  if (full) result.message = name + ": longer than " + seconds(track.seconds()) + "; cut there";
  return result;
}

MediaResult decodeFrom(ByteSource& source, MediaTrack& track, const MediaLimits& limits, const std::string& name) {
  track.release();
  source.deadline = threadSeconds() + limits.deadlineSeconds;
  MediaDecoding decoding(source, track, limits, name);
  return decoding.run();
}
}  // namespace

MediaResult decodeMediaFile(const std::string& path, MediaTrack& track, const MediaLimits& limits) {
  track.release();
  // Exactly this path, as a file: no name is ever read as a URL. Non-blocking, so
  // that a pipe without a writer does not hang the open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return {MediaRefusal::unreadable, path + ": " + std::strerror(errno)};
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return {MediaRefusal::notRegularFile, path + ": not a regular file"};
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  ByteSource source;
  source.fd = fd;
  source.size = info.st_size;
  MediaResult result = decodeFrom(source, track, limits, path);
  ::close(fd);
  return result;
}

MediaResult decodeMediaBytes(const std::uint8_t* data, std::size_t size, MediaTrack& track, const MediaLimits& limits,
                             const std::string& name) {
  ByteSource source;
  source.data = data;
  source.size = static_cast<std::int64_t>(size);
  return decodeFrom(source, track, limits, name);
}

// Video capture: the GL thread renders the frames on the virtual clock and reads
// them back into a small ring of pre-allocated RGBA frames; an encoding thread hands
// them to the encoder (app/encoder.cpp) with the sound of the same span. Picture and
// sound come from the same play positions, so they stay in step by construction,
// over three minutes as over two seconds. Everything that can refuse the work is
// asked before the show is decoded; the file's life is app/output_file.cpp's.
#include "app/capture.h"

#include <GL/gl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/encoder.h"
#include "app/output_file.h"
#include "app/preflight.h"
#include "app/start_up.h"
#include "app/track.h"
#include "audio/playback.h"
#include "platform/headless.h"
#include "platform/render_queue.h"
#include "show/offline_run.h"

namespace {
constexpr int queueDepth = 2;  // RGBA frames between the GL thread and the encoder: one drawn while one is encoded
constexpr double progressInterval = 0.5;  // seconds between progress lines

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string sizeText(const Options& options) {
  return std::to_string(options.width) + "x" + std::to_string(options.height);
}

//----------------------------------------------------------------------------------
// The renderer: the show headless, from the state that a fresh process starts in
//----------------------------------------------------------------------------------
struct CaptureRenderer {
  ShowMusic music;  // outlives the context and the frame: it is what they play
  HeadlessContext context;
  OfflineRun run;  // its frame goes before the context

  // The music (a hand-picked track decoded and analysed, and the options' times
  // resolved on it), and a context of one pixel, so that the size is checked before
  // anything of that size is made. False with the exit code and one line, and in
  // `refusal` why the music was refused where it was.
  bool probe(Options& options, int& code, std::string& error, MusicRefusal& refusal) {
    refusal = prepareMusic(options, music, error);
    if (refusal != MusicRefusal::none) {
      code = exitUsage;
      return false;
    }
    return probeRenderer(context, options.width, options.height, "capture", code, error);
  }

  // The context at the real size and the show from its start, once probe() has
  // passed; the first frame to draw is the span's first.
  bool load(const Options& options, std::uint64_t firstFrame, int& code, std::string& error) {
    if (!context.open(options.width, options.height, error)) {
      code = exitEnvironment;
      return false;
    }
    startShow(music.source(), music.vorbisData(), music.vorbisSize(), options.width, options.height, nullptr);
    // A capture from a moment draws the frames the whole run would draw there.
    run.startAt(options.fps, firstFrame);
    return true;
  }

  // Draws the next frame and reads it back as OpenGL hands it over, bottom row first.
  void render(std::uint8_t* rgba) {
    run.step();
    renderFinish();  // a fence of the queue's own, so that the read-back flushes nothing new
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, context.width, context.height, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  }

  ~CaptureRenderer() { run.finish(); }
};

//----------------------------------------------------------------------------------
// The ring of frames between the GL thread and the encoding thread
//----------------------------------------------------------------------------------
struct FrameQueue {
  std::size_t frameBytes = 0;
  std::vector<std::uint8_t> storage;  // queueDepth frames, allocated once
  std::mutex mutex;
  std::condition_variable changed;
  int head = 0;          // the oldest rendered frame
  int filled = 0;        // rendered frames not yet encoded
  bool closed = false;   // the renderer hands in no more frames
  bool aborted = false;  // stop at once: the encoder failed

  explicit FrameQueue(std::size_t bytes) : frameBytes(bytes), storage(bytes * queueDepth) {}

  std::uint8_t* slot(int i) { return storage.data() + frameBytes * static_cast<std::size_t>(i); }

  // GL thread: a free frame to render into; null once aborted.
  std::uint8_t* acquire() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return filled < queueDepth || aborted; });
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

void printProgress(FILE* to, const std::string& target, std::uint64_t done, std::uint64_t total, double seconds) {
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  const double left = rate > 0 ? static_cast<double>(total - done) / rate : 0;
  const int percent = total > 0 ? static_cast<int>(100 * done / total) : 100;
  std::fprintf(to, "\rcapturing %s: %3d %%, %.1f frames/s, %s left\033[K", target.c_str(), percent, rate,
               clockText(left).c_str());
}
}  // namespace

//----------------------------------------------------------------------------------
// The capture
//----------------------------------------------------------------------------------
int runCapture(Options options) {
  const Clock::time_point began = Clock::now();
  const std::string& target = options.capturePath;
  const std::string cannot = "cannot capture to " + target + ": ";

  // Everything that can be checked is checked before the show is decoded: the name,
  // the size, the encoders and their settings, the folder, the renderer, the memory.
  const CaptureFormat* format = captureFormatFor(target);
  if (format == nullptr) return reportFailure(exitUsage, cannot + "unknown file type (use .mp4, .mkv or .webm)");
  if (options.width % 2 != 0 || options.height % 2 != 0)
    return reportFailure(exitUsage, "cannot capture at " + sizeText(options) +
                                        ": 4:2:0 video needs an even width and height, e.g. 1280x720");
  CaptureCodecs codecs;
  std::string error;
  keepLibraryLines();
  if (!findEncoders(*format, codecs, error)) return reportFailure(exitEnvironment, cannot + error);
  if (!checkVideoQuality(codecs.video, options, error)) return reportFailure(exitUsage, cannot + error);
  if (options.trackPath.empty() &&
      captureSegment(options.fromPosition, options.toPosition, options.fps, options.segment, options.segments)
              .frameCount == 0)
    return reportFailure(exitUsage, "the capture's span holds no frame at this frame rate");

  OutputFile file;
  if (!file.reserve(target, "capture to", "capture", error)) return reportFailure(exitUsage, error);
  CaptureRenderer renderer;
  int code = 0;
  MusicRefusal refusal = MusicRefusal::none;
  if (!renderer.probe(options, code, error, refusal))
    return refusal != MusicRefusal::none ? reportRefusal(refusal, error) : reportFailure(code, error);
  // A hand-picked track's span is known now that its times are.
  const CaptureSpan span =
      captureSegment(options.fromPosition, options.toPosition, options.fps, options.segment, options.segments);
  if (span.frameCount == 0) return reportFailure(exitUsage, "the capture's span holds no frame at this frame rate");
  const std::uint64_t needed =
      memoryNeeded(options.width, options.height, queueDepth, encoderBytesPerPixel(codecs.video, options));
  if (!checkMemory(needed, "capture at " + sizeText(options), error)) return reportFailure(exitUsage, error);
  CaptureEncoder encoder;
  const float* sound = playing.at(span.soundStart);
  // Told once the encoder is closed, and stderr the real one again.
  const auto stop = [&encoder](int exitCode, const std::string& line) {
    encoder.close();
    return reportFailure(exitCode, line);
  };
  encoder.finalPicture = static_cast<std::int64_t>(span.frameCount) - 1;
  encoder.finalPictureSamples = span.lastFrameSamples;
  if (!encoder.open(*format, codecs.video, codecs.audio, file.descriptor, options, sound))
    return stop(encoder.videoRefused ? exitUsage : exitEnvironment, cannot + encoder.error);
  if (!renderer.load(options, span.firstFrame, code, error)) return stop(code, error);

  FrameQueue queue(static_cast<std::size_t>(options.width) * options.height * 4);
  std::atomic<std::uint64_t> encoded{0};
  std::thread worker([&] {
    for (std::uint64_t i = 0;; ++i) {
      const std::uint8_t* pixels = queue.next();
      if (pixels == nullptr) return;
      const std::uint32_t soundUpTo =
          std::min(virtualPosition(span.firstFrame + i + 1, options.fps) - span.soundStart, span.soundFrames);
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
  for (std::uint64_t i = 0; i < span.frameCount; ++i) {
    std::uint8_t* pixels = queue.acquire();
    if (pixels == nullptr) break;
    renderer.render(pixels);
    queue.publish();
    if (showProgress) {
      const double seconds = secondsSince(renderStart);
      if (seconds - lastProgress >= progressInterval) {
        lastProgress = seconds;
        printProgress(encoder.messages, target, encoded.load(), span.frameCount, seconds);
      }
    }
  }
  queue.end(false);
  worker.join();
  if (showProgress) std::fputs("\r\033[K", encoder.messages);

  if (!encoder.error.empty()) return stop(exitEnvironment, cannot + encoder.error);
  if (encoded.load() != span.frameCount) return stop(exitEnvironment, cannot + "frames went missing");
  if (!encoder.finish()) return stop(exitEnvironment, cannot + encoder.error);
  encoder.close();
  if (!file.commit(error)) return reportFailure(exitEnvironment, cannot + error);

  const double wall = secondsSince(began);
  const double showSeconds = static_cast<double>(span.soundFrames) / sampleRate;
  struct stat info {};
  const double mebibytes = stat(target.c_str(), &info) == 0 ? static_cast<double>(info.st_size) / 1048576.0 : 0;
  std::printf("%s: %llu frames, %s at %d fps, %s, %s, %.1f MiB, made in %s: %.2f x real time\n", target.c_str(),
              static_cast<unsigned long long>(span.frameCount), clockText(showSeconds).c_str(), options.fps,
              sizeText(options).c_str(), videoQualityText(codecs.video, options).c_str(), mebibytes,
              clockText(wall).c_str(), wall > 0 ? showSeconds / wall : 0);
  return 0;
}

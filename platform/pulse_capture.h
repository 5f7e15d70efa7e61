// Sound captured from the sound server (PulseAudio, or PipeWire's PulseAudio service):
// the sources it offers, and a record stream from one of them, by default the monitor
// of the default output (what the computer plays). The server's thread keeps what
// arrives in a ring; the reader takes it, with the latency the server reports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/pulse_server.h"

struct CaptureSource {
  std::string name;         // the server's name for it, e.g. "alsa_output.pci.analog-stereo.monitor"
  std::string description;  // for people, e.g. "Monitor of Built-in Audio"
  bool monitor = false;     // what an output plays, rather than an input
  bool isDefault = false;   // the default output's monitor
};

// The server's sources, in its order. False, with the reason, where no server answers.
bool listCaptureSources(std::vector<CaptureSource>& sources, std::string& why);

struct PulseCapture {
  static constexpr std::uint32_t ringFrames = 1 << 16;  // about 1.5 s of stereo floats

  // Records interleaved stereo floats at 44,100 Hz from `source` (a name; empty: the
  // default output's monitor). False, with the reason, where no server answers or it
  // refuses; `sourceName` and `sourceDescription` say what was opened.
  bool open(const std::string& source, std::string& why);
  // Takes up to `frames` frames captured since the last call, the oldest first; what
  // overflowed the ring meanwhile is lost (and counted in `lostFrames`).
  std::uint32_t read(float* stereo, std::uint32_t frames);
  // How long ago, in frames, the newest frame read was heard at the source, as the
  // server reports it (0 where it does not). Negative for an output's monitor, which
  // hands each sample over before the output has played it.
  std::int32_t latency();
  // The stream or the server is gone (a device unplugged, the server restarted).
  bool failed();
  void close();
  PulseCapture() = default;
  PulseCapture(const PulseCapture&) = delete;
  PulseCapture& operator=(const PulseCapture&) = delete;
  ~PulseCapture() { close(); }

  std::string sourceName;
  std::string sourceDescription;
  std::uint64_t lostFrames = 0;
  PulseServer connection;
  pa_stream* stream = nullptr;
  // The ring, written on the server's thread and read with it held.
  std::vector<float> ring;
  std::uint64_t written = 0;  // frames written since opening
  std::uint64_t taken = 0;    // frames read
};

// The live sound on the page: one AudioContext at the show's rate, one buffer, a gain
// for muting, and a buffer source for each stretch of playing (a seek starts a new one).
// Called from platform/web/audio.cpp.
mergeInto(LibraryManager.library, {
  pulse165_openPageAudio: function (frames, frameCount, rate) {
    const Context = window.AudioContext || window.webkitAudioContext;
    if (!Context) return 0;
    let context;
    try {
      context = new Context({sampleRate: rate, latencyHint: 'playback'});
    } catch (e) {
      context = new Context();
    }
    const buffer = context.createBuffer(2, Math.max(frameCount, 1), rate);
    const left = buffer.getChannelData(0);
    const right = buffer.getChannelData(1);
    const samples = HEAPF32.subarray(frames >> 2, (frames >> 2) + 2 * frameCount);
    for (let i = 0; i < frameCount; ++i) {
      left[i] = samples[2 * i];
      right[i] = samples[2 * i + 1];
    }
    const gain = context.createGain();
    gain.connect(context.destination);
    Module.pulse165Audio = {context: context, buffer: buffer, gain: gain, source: null, start: 0, rate: rate};
    return 1;
  },

  // Plays the buffer from `frame` on, starting now on the context's clock (at once, or
  // when a suspended context resumes); the clock's start moves so that now is `frame`.
  pulse165_playPageAudioFrom: function (frame) {
    const a = Module.pulse165Audio;
    if (!a) return;
    if (a.source) {
      try { a.source.stop(); } catch (e) {}
      a.source.disconnect();
    }
    const now = a.context.currentTime;
    const offset = frame / a.rate;
    a.source = a.context.createBufferSource();
    a.source.buffer = a.buffer;
    a.source.connect(a.gain);
    if (offset < a.buffer.duration) a.source.start(now, offset);
    a.start = now - offset;
    if (a.context.state === 'suspended' && !a.held) a.context.resume();
  },

  // Seconds of the track heard: the output timestamp's context time carried on to now,
  // where the browser reports a fresh one; otherwise the context's time less the output
  // latency. Never beyond what the context has rendered.
  pulse165_pageAudioSeconds: function () {
    const a = Module.pulse165Audio;
    if (!a || !a.source) return 0;
    const c = a.context;
    let heard = c.currentTime - (c.outputLatency || c.baseLatency || 0);
    if (c.state === 'running' && c.getOutputTimestamp) {
      const t = c.getOutputTimestamp();
      const since = (performance.now() - t.performanceTime) / 1000;
      if (t.contextTime > 0 && t.performanceTime > 0 && since >= 0 && since < 0.5) heard = t.contextTime + since;
    }
    return Math.min(heard, c.currentTime) - a.start;
  },

  // The output's latency as the browser reports it, in seconds (0 where it does not).
  pulse165_pageAudioLatency: function () {
    const a = Module.pulse165Audio;
    if (!a) return 0;
    return a.context.outputLatency || a.context.baseLatency || 0;
  },

  // Paused, the context is suspended: no sound, and its clock stands still.
  pulse165_holdPageAudio: function (hold) {
    const a = Module.pulse165Audio;
    if (!a) return;
    a.held = hold !== 0;
    if (a.held) a.context.suspend(); else a.context.resume();
  },

  pulse165_mutePageAudio: function (silent) {
    const a = Module.pulse165Audio;
    if (a) a.gain.gain.value = silent ? 0 : 1;
  },

  pulse165_closePageAudio: function () {
    const a = Module.pulse165Audio;
    if (!a) return;
    if (a.source) {
      try { a.source.stop(); } catch (e) {}
    }
    a.context.close();
    Module.pulse165Audio = null;
  },
});

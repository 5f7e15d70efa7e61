// The live sound on the page: one AudioContext at the show's rate and a gain for muting.
// The program's memory holds the track's samples, and nothing else does: they are
// handed to Web Audio a second at a time, a few seconds ahead of what plays, each second
// a buffer source started on the frame where the one before it ends.
// The context is made once, and kept (suspended between tracks): making one takes the
// browser a tenth of a second. Called from platform/web/audio.cpp.
mergeInto(LibraryManager.library, {
  // The page's AudioContext at `rate` (or the browser's own rate where it offers no
  // other), made on first use; null where there is no Web Audio.
  $pulse165AudioContext: function (rate) {
    const Context = window.AudioContext || window.webkitAudioContext;
    if (!Context) return null;
    if (!Module.pulse165Context || Module.pulse165Context.state === 'closed') {
      try {
        Module.pulse165Context = new Context({sampleRate: rate, latencyHint: 'playback'});
      } catch (e) {
        Module.pulse165Context = new Context();
      }
    }
    return Module.pulse165Context;
  },

  $pulse165StreamAhead: function (a) {
    const aheadSeconds = 3;  // a hidden page's timers wake once a second at most
    const c = a.context;
    while (a.next < a.frames && a.baseTime + a.scheduled / a.rate < c.currentTime + aheadSeconds) {
      const count = Math.min(a.rate, a.frames - a.next);
      const buffer = c.createBuffer(2, count, a.rate);
      const left = buffer.getChannelData(0);
      const right = buffer.getChannelData(1);
      const from = (a.samples >> 2) + 2 * a.next;  // HEAPF32 anew: the memory may have grown
      const samples = HEAPF32.subarray(from, from + 2 * count);
      for (let i = 0; i < count; ++i) {
        left[i] = samples[2 * i];
        right[i] = samples[2 * i + 1];
      }
      const source = c.createBufferSource();
      source.buffer = buffer;
      source.connect(a.gain);
      // On the frame grid: the context's clock counts whole frames at this rate.
      source.start(a.baseTime + a.scheduled / a.rate);
      source.onended = () => {
        const i = a.sources.indexOf(source);
        if (i >= 0) a.sources.splice(i, 1);
        source.disconnect();
      };
      a.sources.push(source);
      a.next += count;
      a.scheduled += count;
    }
  },

  pulse165_soundAllowed: function () {
    const c = Module.pulse165Context;
    if (c && c.state === 'running') return 1;
    return !navigator.userActivation || navigator.userActivation.hasBeenActive ? 1 : 0;
  },

  pulse165_openPageAudio__deps: ['$pulse165AudioContext'],
  pulse165_openPageAudio: function (frames, frameCount, rate) {
    const context = pulse165AudioContext(rate);
    if (!context) return 0;
    const gain = context.createGain();
    gain.connect(context.destination);
    Module.pulse165Audio = {
      context: context, gain: gain, rate: rate, samples: frames, frames: frameCount,
      sources: [], timer: 0, playing: false, start: 0,
      next: 0,        // the next track frame to hand over
      baseTime: 0,    // where on the context's clock the latest start (or seek) began
      scheduled: 0,   // frames handed over since
    };
    return 1;
  },

  // Plays the track from `frame` on, starting now on the context's clock (at once, or
  // when a suspended context resumes); the clock's start moves so that now is `frame`.
  pulse165_playPageAudioFrom__deps: ['$pulse165StreamAhead'],
  pulse165_playPageAudioFrom: function (frame) {
    const a = Module.pulse165Audio;
    if (!a) return;
    for (const source of a.sources.splice(0)) {
      source.onended = null;
      try { source.stop(); } catch (e) {}
      source.disconnect();
    }
    const now = a.context.currentTime;
    a.start = now - frame / a.rate;
    a.next = Math.min(frame, a.frames);
    a.baseTime = now;
    a.scheduled = 0;
    a.playing = true;
    pulse165StreamAhead(a);
    if (!a.timer) a.timer = setInterval(() => pulse165StreamAhead(a), 250);
    if (a.context.state === 'suspended' && !a.held) a.context.resume();
  },

  // Seconds of the track heard: the output timestamp's context time carried on to now,
  // where the browser reports a fresh one; otherwise the context's time less the output
  // latency. Never beyond what the context has rendered.
  pulse165_pageAudioSeconds: function () {
    const a = Module.pulse165Audio;
    if (!a || !a.playing) return 0;
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
    clearInterval(a.timer);
    for (const source of a.sources) {
      source.onended = null;
      try { source.stop(); } catch (e) {}
    }
    a.gain.disconnect();
    a.context.suspend();
    Module.pulse165Audio = null;
  },
});

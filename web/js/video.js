// "save video": the show rendered to what plays, frame by frame on the virtual clock
// (web/main.cpp draws each frame onto the canvas at the video's size), encoded by the
// browser's WebCodecs and muxed by mediabunny (loaded from the page's own folder when
// first wanted), then offered as a download. Nothing leaves the page.
//   ?size=WxH     the video's size (otherwise the size chosen on the page, 720p first)
//   ?length=S     only the first S seconds
mergeInto(LibraryManager.library, {
  pulse165_watchForVideo__deps: ['$pulse165WithText'],
  pulse165_watchForVideo: function () {
    const box = document.getElementById('video');
    const save = document.getElementById('save');
    const sizes = document.getElementById('video-size');
    const formats = document.getElementById('video-format');
    const progress = document.getElementById('video-progress');
    const cancel = document.getElementById('video-cancel');
    if (!box || !save || !sizes || !formats || !progress || !cancel) return;
    const query = new URLSearchParams(location.search);
    const asked = /^(\d+)x(\d+)$/.exec(query.get('size') || '');
    if (asked) {
      sizes.add(new Option(asked[0], asked[0], true, true), 0);
    }
    const length = Number(query.get('length')) || 0;
    const framesPerSecond = 60;
    const prompt = (text) => {
      const p = document.getElementById('prompt');
      p.textContent = text;
      p.style.display = text ? 'flex' : 'none';
    };
    // Its clicks save a video; they do not start the show (the document's click).
    box.addEventListener('click', (event) => event.stopPropagation());
    const end = (line) => pulse165WithText(line, Module._pulse165_video_end);

    // What this browser can write: WebM with VP9 and Opus, MP4 with H.264 and AAC.
    const containers = {
      webm: { video: 'vp9', audio: 'opus', format: (mb) => new mb.WebMOutputFormat() },
      mp4: { video: 'avc', audio: 'aac', format: (mb) => new mb.Mp4OutputFormat({ fastStart: 'in-memory' }) },
    };
    let mediabunny = null;
    const load = async () => {
      if (!mediabunny) mediabunny = await import('./mediabunny.js');
      return mediabunny;
    };

    let cancelled = false;
    cancel.addEventListener('click', () => { cancelled = true; });
    document.addEventListener('keydown', (event) => {
      if (event.key === 'Escape' && Module.pulse165Saving) cancelled = true;
    });

    const run = async () => {
      if (Module.pulse165Saving) return;
      if (typeof VideoEncoder === 'undefined' || typeof AudioEncoder === 'undefined') {
        prompt('this browser cannot encode video (it has no WebCodecs): try Chromium or Chrome');
        return;
      }
      const [width, height] = sizes.value.split('x').map(Number);
      const container = containers[formats.value] || containers.webm;
      Module.pulse165Saving = true;
      cancelled = false;
      let output = null, begun = false;
      try {
        const mb = await load();
        const quality = mb.QUALITY_HIGH;
        if (!(await mb.canEncodeVideo(container.video, { width, height, quality })) ||
            !(await mb.canEncodeAudio(container.audio, { numberOfChannels: 2, sampleRate: 48000, quality }))) {
          prompt(`this browser cannot encode ${formats.value.toUpperCase()} video at ${width}x${height}`);
          Module.pulse165Saving = false;
          return;
        }
        const frames = Module._pulse165_video_begin(width, height, length);
        if (!frames) {
          Module.pulse165Saving = false;
          return;
        }
        begun = true;
        save.disabled = true;
        progress.style.display = cancel.style.display = 'inline-block';
        output = new mb.Output({ format: container.format(mb), target: new mb.BufferTarget() });
        const canvas = document.getElementById('canvas');
        const picture = new mb.CanvasSource(canvas, { codec: container.video, quality, keyFrameInterval: 2 });
        const sound = new mb.AudioSampleSource({ codec: container.audio, quality });
        output.addVideoTrack(picture, { frameRate: framesPerSecond });
        output.addAudioTrack(sound);
        await output.start();

        // The sound a second at a time, ahead of the frames that show it, at 48 kHz.
        const soundFrames = Module._pulse165_video_sound_frames();
        let soundDone = 0;
        const addSound = async (until) => {
          while (soundDone < soundFrames && soundDone < until) {
            const count = Math.min(48000, soundFrames - soundDone);
            const at = Module._pulse165_video_sound(soundDone, count) >> 2;
            const data = HEAPF32.slice(at, at + 2 * count);
            const sample = new mb.AudioSample({ data, format: 'f32', numberOfChannels: 2, sampleRate: 48000,
                                                timestamp: soundDone / 48000 });
            await sound.add(sample);
            sample.close();
            soundDone += count;
          }
        };

        const began = performance.now();
        let shown = began, drawing = 0;
        for (let n = 0; n < frames && !cancelled; ++n) {
          await addSound((n + framesPerSecond) * 48000 / framesPerSecond);
          const drawn = performance.now();
          Module._pulse165_video_frame();
          drawing += performance.now() - drawn;
          await picture.add(n / framesPerSecond, 1 / framesPerSecond);
          const now = performance.now();
          if (now - shown > 100 || n + 1 === frames) {
            const rate = (n + 1) / ((now - began) / 1000);
            progress.value = (n + 1) / frames;
            prompt(`saving the video: ${Math.floor(100 * (n + 1) / frames)} %, ${rate.toFixed(1)} frames/s`);
            shown = now;
            await new Promise((resolve) => setTimeout(resolve, 0));  // the page shows it, and takes a cancel
          }
        }
        if (cancelled) {
          await output.cancel();
          end('the video was cancelled');
          return;
        }
        await addSound(soundFrames);
        await output.finalize();
        const seconds = (performance.now() - began) / 1000;
        const bytes = output.target.buffer;
        const name = `pulse165-${width}x${height}.${formats.value}`;
        const link = document.createElement('a');
        link.href = URL.createObjectURL(new Blob([bytes], { type: output.format.mimeType }));
        link.download = name;
        link.click();
        setTimeout(() => URL.revokeObjectURL(link.href), 60000);
        const line = `saved ${name}: ${frames} frames in ${seconds.toFixed(1)} s ` +
          `(${(frames / seconds).toFixed(1)} frames/s), ${(bytes.byteLength / 1e6).toFixed(1)} MB`;
        console.log(`pulse165: ${line}; drawing the frames took ${(drawing / 1000).toFixed(1)} s of it`);
        end(line);
      } catch (e) {
        if (output && output.state !== 'finalized' && output.state !== 'canceled') await output.cancel().catch(() => {});
        const line = `the video could not be made: ${e && e.message}`;
        console.warn(`pulse165: ${line}`);
        if (begun) end(line); else prompt(line);  // before it began, the show is as it was
      } finally {
        Module.pulse165Saving = false;
        save.disabled = false;
        progress.style.display = cancel.style.display = 'none';
        progress.value = 0;
      }
    };
    save.addEventListener('click', run);
    // 4K and MP4 only where the browser's encoders take them (asked of WebCodecs itself:
    // mediabunny is loaded only once a video is wanted).
    if (typeof VideoEncoder !== 'undefined' && typeof AudioEncoder !== 'undefined') {
      const takes = (encoder, config) => encoder.isConfigSupported(config).then((r) => r.supported, () => false);
      (async () => {
        if (!(await takes(VideoEncoder, { codec: 'vp09.00.51.08', width: 3840, height: 2160 })))
          for (const o of [...sizes.options]) if (o.value === '3840x2160') o.remove();
        if (await takes(VideoEncoder, { codec: 'avc1.640033', width: 1920, height: 1080 }) &&
            await takes(AudioEncoder, { codec: 'mp4a.40.2', sampleRate: 48000, numberOfChannels: 2 }))
          formats.add(new Option('MP4 (H.264, AAC)', 'mp4'));
      })();
    }
  },

  pulse165_offerVideo: function (shown) {
    const box = document.getElementById('video');
    if (box) box.style.display = shown ? 'block' : 'none';
  },
});

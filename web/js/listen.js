// Listening on the page (index.html?listen): the microphone (or whatever input the
// browser lets the page have), captured by an audio worklet in pieces of 1,024 stereo
// frames at the show's 44,100 Hz and handed to the page's program (web/main.cpp), which
// hears them as the desktop's --listen does. Nothing is played and nothing leaves the page.
mergeInto(LibraryManager.library, {
  pulse165_listenToInput__deps: ['$pulse165WithText', '$pulse165AudioContext'],
  pulse165_listenToInput: function () {
    const refuse = (why) => pulse165WithText(why, Module._pulse165_listen_refused);
    (async () => {
      if (!navigator.mediaDevices || !navigator.mediaDevices.getUserMedia) {
        refuse('this browser lets the page hear no input (no getUserMedia)');
        return;
      }
      const context = pulse165AudioContext(44100);
      if (!context || !context.audioWorklet) {
        refuse('this browser has no audio worklets to hear with');
        return;
      }
      let stream;
      try {
        // The sound as it comes: no echo cancelling, noise suppression or level control.
        stream = await navigator.mediaDevices.getUserMedia({
          audio: { echoCancellation: false, noiseSuppression: false, autoGainControl: false },
        });
      } catch (e) {
        refuse(`cannot listen: ${e.name === 'NotAllowedError' ? 'the browser was not allowed to hear' : e.message}`);
        return;
      }
      const capture = `registerProcessor('pulse165-capture', class extends AudioWorkletProcessor {
        constructor() { super(); this.piece = new Float32Array(2048); this.filled = 0; }
        process(inputs) {
          const input = inputs[0];
          if (!input || input.length === 0) return true;
          const left = input[0], right = input[1] || input[0];
          for (let i = 0; i < left.length; ++i) {
            this.piece[2 * this.filled] = left[i];
            this.piece[2 * this.filled + 1] = right[i];
            if (++this.filled === 1024) {
              this.port.postMessage(this.piece, [this.piece.buffer]);
              this.piece = new Float32Array(2048);
              this.filled = 0;
            }
          }
          return true;
        }
      });`;
      const url = URL.createObjectURL(new Blob([capture], { type: 'text/javascript' }));
      await context.audioWorklet.addModule(url);
      URL.revokeObjectURL(url);
      const node = new AudioWorkletNode(context, 'pulse165-capture', { numberOfInputs: 1, numberOfOutputs: 1,
                                                                         outputChannelCount: [2] });
      const silent = context.createGain();  // pulls the worklet; nothing is heard
      silent.gain.value = 0;
      context.createMediaStreamSource(stream).connect(node);
      node.connect(silent);
      silent.connect(context.destination);
      const block = Module._pulse165_listen_block();
      node.port.onmessage = (event) => {
        HEAPF32.set(event.data, block >> 2);  // looked up anew: the memory may have grown
        Module._pulse165_listen_heard(event.data.length / 2);
      };
      await context.resume();
      const track = stream.getAudioTracks()[0];
      const settings = track && track.getSettings ? track.getSettings() : {};
      // What the input delays: the track's own figure where the browser gives one.
      const inputLatency = typeof settings.latency === 'number' ? settings.latency : 0;
      Module.pulse165Listening = { context, stream, node };
      pulse165WithText((track && track.label) || 'the input',
                       (label) => Module._pulse165_listen_opened(label, inputLatency * context.sampleRate));
    })().catch((e) => refuse(`cannot listen: ${e.message}`));
  },
});

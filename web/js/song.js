// A song for the show: an audio file dropped on the page or chosen with its button,
// decoded by the browser at the show's 44,100 Hz stereo, and handed to the page's
// program (web/main.cpp) as interleaved floats in its memory. Nothing leaves the page.
mergeInto(LibraryManager.library, {
  pulse165_watchForSongs__deps: ['$pulse165WithText', '$pulse165AudioContext'],
  pulse165_watchForSongs: function () {
    let turn = 0;  // the latest song's; an earlier one still being handed over stops
    const take = async (file) => {
      if (!file) return;
      const mine = ++turn;
      const name = file.name || 'song';
      Module._pulse165_song_decoding();
      pulse165AudioContext(44100);  // made now, while the song decodes, rather than when it plays
      let audio;
      try {
        const bytes = await file.arrayBuffer();
        // An offline context at the show's rate: the browser resamples as it decodes.
        audio = await new OfflineAudioContext(2, 1, 44100).decodeAudioData(bytes);
        if (mine !== turn) return;
      } catch (e) {
        pulse165WithText(name + ': the browser cannot decode it as audio', Module._pulse165_song_refused);
        return;
      }
      // The program holds the samples (once, with the guard after them); null where it
      // refuses the song, which it says.
      const at = pulse165WithText(name, (label) => Module._pulse165_song_samples(audio.length, label));
      if (at) {
        const frames = Module._pulse165_song_frames();
        const left = audio.getChannelData(0);
        const right = audio.numberOfChannels > 1 ? audio.getChannelData(1) : left;
        // Interleaved into the program's block a slice at a time, so that the page stays
        // responsive (HEAPF32 is looked up anew: the memory may have grown).
        const slice = 1 << 18;
        for (let from = 0; from < frames; from += slice) {
          const samples = HEAPF32.subarray(at >> 2, (at >> 2) + 2 * frames);
          const to = Math.min(frames, from + slice);
          for (let i = from; i < to; ++i) {
            samples[2 * i] = left[i];
            samples[2 * i + 1] = right[i];
          }
          await new Promise((resolve) => setTimeout(resolve, 0));
          if (mine !== turn) return;  // another song took the block's place
        }
        Module._pulse165_song_decoded();
      }
    };
    const input = document.getElementById('song');
    if (input) input.addEventListener('change', () => take(input.files[0]));
    document.addEventListener('dragover', (event) => event.preventDefault());
    document.addEventListener('drop', (event) => {
      event.preventDefault();
      take(event.dataTransfer && event.dataTransfer.files[0]);
    });
    const choose = document.getElementById('choose');
    if (choose) {
      // Its clicks choose a song; they do not start the soundtrack (the document's click).
      choose.addEventListener('click', (event) => event.stopPropagation());
      choose.style.display = 'block';
    }
  },

  // How far the song's analysis has come, from 0 to 1; below 0 the bar goes.
  pulse165_showSongProgress: function (done) {
    const bar = document.getElementById('song-progress');
    if (!bar) return;
    bar.style.display = done < 0 ? 'none' : 'block';
    if (done >= 0) bar.value = done;
  },

  pulse165_offerSongs: function (shown) {
    const choose = document.getElementById('choose');
    if (choose) choose.style.display = shown ? 'block' : 'none';
  },
});

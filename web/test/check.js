// The browser test: the page in headless Chromium (WebGL 2 on SwiftShader) against the
// desktop program (llvmpipe).
//   node web/test/check.js SITE_DIR PULSE165 PLAYBACK_DIGEST OUT_DIR [--benchmark=FRAMES]
//
// 1. ?at=TIME&size=800x400 for four moments, each compared with
//    `pulse165 --screenshot --at=TIME --size=800x400` by the structural measures of
//    frames.js; the same frame with red and blue swapped and mirrored must fail them.
// 2. The page's fingerprints of the decoded soundtrack equal the desktop's.
// 3. The show page: after a click the audio clock runs (about as fast as the wall
//    clock), what it plays is the track sample for sample, and frames are drawn; then the player's keys: Space holds the picture
//    still with the AudioContext suspended and goes on from the same frame; i shows
//    the overlay in the corner and takes it away without a trace in the picture; paused,
//    a page of 16x8 and back shows the held picture again, not a blow-up; Home
//    and Page Down three times reach scene 4, far brighter than the opening; a page of
//    another shape is letterboxed anew; Escape ends the show.
// 4. A generated 128-bpm song given to ?track-info through the file input: its report
//    (tempo, first beat, scenes, gain) equals the desktop's --track-info --json, and no
//    request leaves the page after it has loaded, none ever beyond its own files.
// 5. "save video" on 5 s of that song at 320x160: its download is 300 VP9 frames at
//    60 fps with 5 s of sound on the song's samples, frame 120 the desktop capture's.
// 6. Under the usual autoplay rule, a song chosen before any click waits for one.
// 7. ?listen with the 128-bpm song as Chromium's fake microphone: the beat locks at 128 bpm.
// No page may log a console error or throw. --benchmark also times every scene.
'use strict';
const { spawnSync } = require('child_process');
const fs = require('fs');
const http = require('http');
const path = require('path');
const { Browser, sleep } = require('./browser.js');
const { readPng, compareFrames, litShares, limits } = require('./frames.js');

const [siteDir, program, digestProgram, outDir] = process.argv.slice(2, 6);
const benchmarkArg = process.argv.slice(6).find((a) => a.startsWith('--benchmark='));
const width = 800, height = 400;
const moments = [
  ['16b', "scene 1, the opening caption at its brightest"],
  ['240b', 'scene 4, the claim over the pillars'],
  ['300b', 'scene 5, the greetings'],
  ['452b', 'scene 8, the ring of stars'],
];
const minShowLit = 0.01;  // of the show page's pixels lit 2 s into the show (3.4 % measured)
const framesPerBeat = 44100 * 60 / 165;
const claimBeat = 192;  // scene 4, the claim, from its first beat to beat 256
const overlayMargin = 8;  // pixels from the corner to the overlay's panel (show/player.cpp)
// The keys as the page receives them: key, code, Windows key code.
const keys = {
  space: [' ', 'Space', 32], i: ['i', 'KeyI', 73], home: ['Home', 'Home', 36],
  pageDown: ['PageDown', 'PageDown', 34], escape: ['Escape', 'Escape', 27],
};
const chromium = ['/usr/bin/chromium', '/usr/bin/chromium-browser'].find((p) => fs.existsSync(p));
let failures = 0;

function fail(what) {
  console.log(`FAIL: ${what}`);
  ++failures;
}

function serve(directory) {
  const root = path.resolve(directory);
  const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm' };
  const server = http.createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://x').pathname).replace(/^\/+/, '') || 'index.html';
    const file = path.join(root, name);
    if (!file.startsWith(root + path.sep) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      response.writeHead(404);
      response.end();
      return;
    }
    response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
    fs.createReadStream(file).pipe(response);
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

function problemsOf(page, what) {
  for (const p of page.problems) fail(`${what}: ${p}`);
}

// The same frame with red and blue swapped, and mirrored left to right: what a wrong
// colour and a wrong camera look like to the measures.
function swapRedBlue(image) {
  const rgb = Float64Array.from(image.rgb);
  for (let i = 0; i < rgb.length; i += 3) [rgb[i], rgb[i + 2]] = [rgb[i + 2], rgb[i]];
  return { ...image, rgb };
}

function mirror(image) {
  const rgb = new Float64Array(image.rgb.length);
  for (let y = 0; y < image.height; ++y)
    for (let x = 0; x < image.width; ++x)
      for (let k = 0; k < 3; ++k)
        rgb[3 * (y * image.width + x) + k] = image.rgb[3 * (y * image.width + image.width - 1 - x) + k];
  return { ...image, rgb };
}

async function checkMoments(browser, base) {
  console.log(`frames at ${width}x${height}: correlation of ${limits.block}-pixel block lumas >= ${limits.minCorrelation},` +
    ` lit share (luma >= ${limits.litLuma}) of each of ${limits.regions.join('x')} regions within ` +
    `${limits.maxLitDifference}, each channel's share of the light within ${limits.maxColourDifference}`);
  let digest = '';
  for (const [at, what] of moments) {
    const nativeFile = path.join(outDir, `native-${at}.png`);
    const webFile = path.join(outDir, `web-${at}.png`);
    const run = spawnSync(program, [`--screenshot=${nativeFile}`, `--at=${at}`, `--size=${width}x${height}`],
      { encoding: 'utf8' });
    if (run.status !== 0) {
      fail(`${at}: pulse165 --screenshot: ${run.stderr.trim()}`);
      continue;
    }
    const page = await browser.openPage(width, height);
    const began = Date.now();
    await page.goto(`${base}/index.html?at=${at}&size=${width}x${height}`);
    try {
      await page.waitFor("document.title === 'pulse165 ready' || document.title.startsWith('pulse165:')", 300);
    } catch (e) {
      fail(`${at}: ${e.message}`);
    }
    const title = await page.evaluate('document.title');
    const seconds = (Date.now() - began) / 1000;
    if (title !== 'pulse165 ready') fail(`${at}: the page says "${title}"`);
    fs.writeFileSync(webFile, await page.screenshot(width, height));
    if (!digest) digest = await page.evaluate('UTF8ToString(Module._pulse165_digest())');
    problemsOf(page, at);
    await page.close();

    const web = readPng(fs.readFileSync(webFile));
    const native = readPng(fs.readFileSync(nativeFile));
    const r = compareFrames(web, native);
    const swapped = compareFrames(swapRedBlue(web), native);
    const mirrored = compareFrames(mirror(web), native);
    const figures = (m) => m.why || `r ${m.correlation.toFixed(4)}, lit ${m.litDifference.toFixed(4)}, ` +
      `colour ${m.colourDifference.toFixed(4)}`;
    console.log(`  ${at.padEnd(5)} ${what}: ${figures(r)} (rendered in ${seconds.toFixed(1)} s)` +
      `; red/blue swapped: ${figures(swapped)}; mirrored: ${figures(mirrored)}`);
    if (!r.match) fail(`${at}: the browser's frame does not match the desktop's (${webFile}, ${nativeFile})`);
    if (swapped.match) fail(`${at}: the measures do not tell red from blue here`);
    if (mirrored.match) fail(`${at}: the measures do not tell the frame from its mirror image`);
  }
  return digest;
}

function checkDigest(webDigest) {
  const run = spawnSync(digestProgram, [], { encoding: 'utf8' });
  const nativeDigest = run.stdout.trim();
  console.log(`decoded soundtrack: desktop ${nativeDigest}, browser ${webDigest}`);
  if (run.status !== 0 || !nativeDigest) fail(`playback_digest: ${run.stderr.trim()}`);
  else if (webDigest !== nativeDigest) fail('the browser does not decode the soundtrack bit for bit as the desktop');
}

async function press(page, name) {
  const [key, code, windowsVirtualKeyCode] = keys[name];
  for (const type of ['keyDown', 'keyUp'])
    await page.send('Input.dispatchKeyEvent', { type, key, code, windowsVirtualKeyCode });
}

async function grab(page, w = width, h = height) { return readPng(await page.screenshot(w, h)); }

const samePicture = (a, b) => a.width === b.width && a.height === b.height && a.rgb.every((v, i) => v === b.rgb[i]);

// Grabs until `wanted` holds, for up to `seconds`: a slow renderer acts on a key late.
async function grabUntil(page, wanted, seconds) {
  const until = Date.now() + 1000 * seconds;
  for (;;) {
    const picture = await grab(page);
    if (wanted(picture) || Date.now() > until) return picture;
    await sleep(200);
  }
}

// The smallest rectangle holding every pixel in which two pictures differ; null if none.
function differingBox(a, b) {
  let box = null;
  for (let y = 0; y < a.height; ++y)
    for (let x = 0; x < a.width; ++x) {
      const p = 3 * (y * a.width + x);
      if (a.rgb[p] === b.rgb[p] && a.rgb[p + 1] === b.rgb[p + 1] && a.rgb[p + 2] === b.rgb[p + 2]) continue;
      if (!box) box = { left: x, top: y, right: x, bottom: y };
      box.left = Math.min(box.left, x); box.right = Math.max(box.right, x);
      box.top = Math.min(box.top, y); box.bottom = Math.max(box.bottom, y);
    }
  return box;
}

const brightness = (image) => image.rgb.reduce((sum, v) => sum + v, 0) / image.rgb.length;

// The first row from the top whose pixel in column x is near white: the top frame line.
function firstBrightRow(image, x) {
  for (let y = 0; y < image.height; ++y) {
    const p = 3 * (y * image.width + x);
    if (image.rgb[p] + image.rgb[p + 1] + image.rgb[p + 2] > 600) return y;
  }
  return -1;
}

async function checkLiveShow(browser, base) {
  const page = await browser.openPage(width, height);
  await page.goto(`${base}/index.html`);
  await page.waitFor("document.getElementById('prompt').textContent === 'click to play'", 120);
  await page.click(width / 2, height / 2);
  await page.waitFor('Module._pulse165_frames() > 0', 30);
  const read = () => page.evaluate(
    '[Module._pulse165_position(), Module._pulse165_frames(), Module.pulse165Audio.context.state, performance.now()]');
  const [p1, f1, state, t1] = await read();
  await sleep(2000);
  const [p2, f2, , t2] = await read();
  const heard = (p2 - p1) / 44100, wall = (t2 - t1) / 1000;
  console.log(`show page: audio ${state}; in ${wall.toFixed(2)} s, ${heard.toFixed(2)} s of sound played and ` +
    `${f2 - f1} frames drawn`);
  if (state !== 'running') fail(`the AudioContext is ${state}`);
  // The clock is read once per frame, so it may trail the wall clock by a frame or two.
  if (!(Math.abs(heard - wall) < 0.5)) fail(`the audio clock moved ${heard.toFixed(2)} s in ${wall.toFixed(2)} s`);
  if (!(f2 > f1)) fail('no frames were drawn');
  // What the page plays, tapped behind its gain for 2.5 s: the track's own samples, one
  // after the other across the seconds that the page hands over one at a time.
  const played = await page.evaluate(`(async () => {
    const a = Module.pulse165Audio;
    const code = "registerProcessor('tap', class extends AudioWorkletProcessor { process(inputs) {" +
      " if (inputs[0].length) this.port.postMessage(inputs[0][0].slice()); return true; } });";
    await a.context.audioWorklet.addModule(URL.createObjectURL(new Blob([code], { type: 'text/javascript' })));
    const tap = new AudioWorkletNode(a.context, 'tap');
    const blocks = [];
    tap.port.onmessage = (e) => blocks.push(e.data);
    const near = Module._pulse165_position();
    a.gain.connect(tap);
    await new Promise((resolve) => setTimeout(resolve, 2500));
    a.gain.disconnect(tap);
    const heard = new Float32Array(blocks.reduce((n, b) => n + b.length, 0));
    blocks.reduce((at, b) => (heard.set(b, at), at + b.length), 0);
    const track = HEAPF32.subarray(a.samples >> 2, (a.samples >> 2) + 2 * a.frames);
    const first = heard.findIndex((v) => v !== 0);
    for (let k = Math.max(0, near - 88200); first >= 0 && k < near + 88200; ++k) {
      let same = 0;
      while (first + same < heard.length && heard[first + same] === track[2 * (k + same)]) ++same;
      if (same >= 128) return { frames: heard.length - first, same, at: k };
    }
    return { frames: heard.length, same: 0, at: -1 };
  })()`);
  console.log(`show page: of ${played.frames} frames tapped behind the gain, the first ${played.same} are the ` +
    `track's from frame ${played.at} on`);
  if (!(played.frames > 88200 && played.same === played.frames))
    fail('the page does not play the track sample for sample across the seconds it hands over');

  // What reached the canvas: the opening's disks, the scope and the frame lines.
  const shot = path.join(outDir, 'show-page.png');
  fs.writeFileSync(shot, await page.screenshot(width, height));
  const [lit] = litShares(readPng(fs.readFileSync(shot)), 1, 1, limits.litLuma);
  console.log(`show page: ${(100 * lit).toFixed(1)} % of the canvas lit after ${(p2 / 44100).toFixed(1)} s`);
  if (!(lit >= minShowLit)) fail(`the show page's canvas is dark (${shot})`);

  // Space: the sound stops and the picture holds still.
  const sample = () => page.evaluate('[Module._pulse165_position(), Module._pulse165_frames(), ' +
    'Module.pulse165Audio.context.currentTime, performance.now()]');
  await press(page, 'space');
  await page.waitFor("Module._pulse165_paused() && Module.pulse165Audio.context.state === 'suspended'", 10);
  const [heldAt, heldFrames, heldTime] = await sample();
  const held1 = await grab(page);
  await sleep(1000);
  const held2 = await grab(page);
  const [stillAt, stillFrames, stillTime, pausedWall] = await sample();
  console.log(`paused: a second later the position moved ${stillAt - heldAt} frames, the AudioContext's clock ` +
    `${(stillTime - heldTime).toFixed(3)} s, ${stillFrames - heldFrames} frames drawn; the grabs ` +
    `${samePicture(held1, held2) ? 'are identical' : 'differ'}`);
  if (stillAt !== heldAt || stillTime !== heldTime) fail('paused, the audio clock ran on');
  if (stillFrames !== heldFrames || !samePicture(held1, held2)) fail('paused, the picture moved');

  // i: the overlay in the corner, over the held picture and not in it.
  await press(page, 'i');
  const overlay = await grabUntil(page, (g) => !samePicture(g, held2), 10);
  const box = differingBox(held2, overlay);
  await press(page, 'i');
  const plain = await grabUntil(page, (g) => samePicture(g, held2), 10);
  const where = box ? `x ${box.left}-${box.right}, y ${box.top}-${box.bottom}` : 'none';
  console.log(`overlay: the pixels it changed lie in ${where}; taken away, the picture is ` +
    `${samePicture(plain, held2) ? 'as it was' : 'changed'}`);
  if (!box) fail('i showed no overlay');
  else if (box.left < overlayMargin || box.top < overlayMargin || box.bottom >= height / 3)
    fail('the overlay changed the picture outside its corner');
  if (!samePicture(plain, held2)) fail('the overlay left a trace in the picture');

  // Paused, the canvas follows a page of another size and shows the held picture
  // letterboxed in it: back at the old size, the same picture, not a blow-up of a small one.
  const canvasSize = "(c => c.width + 'x' + c.height)(document.getElementById('canvas'))";
  for (const [w, h] of [[16, 8], [width, height]]) {
    await page.send('Emulation.setDeviceMetricsOverride', { width: w, height: h, deviceScaleFactor: 1, mobile: false });
    try {
      await page.waitFor(`${canvasSize} === '${w}x${h}'`, 10);
    } catch (e) {
      fail(`paused, the canvas did not follow a page of ${w}x${h}`);
    }
  }
  const back = samePicture(await grabUntil(page, (g) => samePicture(g, held2), 10), held2);
  console.log(`paused, a page of 16x8 and back: the picture is ${back ? 'the one held' : 'another'}`);
  if (!back) fail('paused, after a page of 16x8 and back the picture is not the one held');

  // Space again: on from the same frame, with the sound.
  await press(page, 'space');
  await page.waitFor("!Module._pulse165_paused() && Module.pulse165Audio.context.state === 'running'", 10);
  await sleep(1000);
  const [resumedAt, , , resumedWall] = await sample();
  const onFor = (resumedAt - stillAt) / 44100, wallFor = (resumedWall - pausedWall) / 1000;
  console.log(`resumed: ${onFor.toFixed(2)} s on from the held frame in ${wallFor.toFixed(2)} s`);
  if (!(onFor > 0.5 && onFor <= wallFor + 0.1)) fail('resumed, the clock did not go on from the held frame');

  // Home, then Page Down three times: the claim, scene 4.
  await press(page, 'home');
  await sleep(1500);
  const opening = await grab(page);
  for (let n = 0; n < 3; ++n) await press(page, 'pageDown');
  try {
    await page.waitFor(`Math.floor(Module._pulse165_position() / ${framesPerBeat}) >= ${claimBeat}`, 10);
  } catch (e) {
    fail('three Page Downs did not reach scene 4');
  }
  const beat = Math.floor((await sample())[0] / framesPerBeat);
  await sleep(1500);
  const claim = await grab(page);
  const dark = brightness(opening), bright = brightness(claim);
  console.log(`Home, then Page Down three times: beat ${beat}; mean brightness ${dark.toFixed(1)}, ` +
    `then ${bright.toFixed(1)}`);
  if (!(beat >= claimBeat && beat < claimBeat + 64)) fail(`three Page Downs reached beat ${beat}, not scene 4`);
  if (!(bright > 3 * dark + 30)) fail('three Page Downs did not reach the bright claim');

  // A page of another shape: the 2:1 picture in its middle, the top frame line at its top.
  const square = 600, letterboxTop = square / 2 - square / 4;
  await page.send('Emulation.setDeviceMetricsOverride',
    { width: square, height: square, deviceScaleFactor: 1, mobile: false });
  // The canvas's own size too: the page's style alone would letterbox an old picture.
  let row = -1, size = '';
  for (let tries = 0; tries < 50 && !(row === letterboxTop && size === `${square}x${square}`); ++tries) {
    await sleep(200);
    row = firstBrightRow(await grab(page, square, square), 100);
    size = await page.evaluate(canvasSize);
  }
  console.log(`resized to ${square}x${square}: a picture of ${size}, the top frame line at row ${row}`);
  if (size !== `${square}x${square}`) fail(`resized, the picture is ${size}`);
  if (row !== letterboxTop) fail(`resized, the top frame line is at row ${row}, not ${letterboxTop}`);

  await press(page, 'escape');
  try {
    await page.waitFor("document.getElementById('prompt').textContent.startsWith('the end')", 10);
  } catch (e) {
    fail('Escape did not end the show');
  }
  problemsOf(page, 'show page');
  await page.close();
}

// A song handed to the page through its file input, as a visitor chooses one: a
// generated 128-bpm WAV at 44.1 kHz stereo (so that the browser's decoder and FFmpeg's
// give the same samples): kicks from 0.3 s on, hats between them. Its report equals the desktop's --track-info --json.
function makeSong() {
  const wav = path.join(outDir, 'song-128.wav');
  const made = spawnSync('ffmpeg', ['-nostdin', '-v', 'error', '-y', '-f', 'lavfi', '-i',
    'aevalsrc=gte(t\\,0.3)*(0.6*sin(2*PI*55*t)*exp(-25*mod(t-0.3\\,60/128))+0.2*sin(2*PI*440*t)*exp(-40*mod(t-0.0656\\,60/128))):s=44100:d=40',
    '-ac', '2', '-c:a', 'pcm_s16le', wav], { encoding: 'utf8' });
  if (made.status !== 0) throw new Error(`ffmpeg cannot make the song: ${made.stderr.trim()}`);
  return wav;
}

async function chooseSong(page, wav) {
  const { root } = await page.send('DOM.getDocument', {});
  const { nodeId } = await page.send('DOM.querySelector', { nodeId: root.nodeId, selector: '#song' });
  await page.send('DOM.setFileInputFiles', { nodeId, files: [path.resolve(wav)] });
}

async function checkSong(browser, base) {
  const wav = makeSong();
  const run = spawnSync(program, ['--track-info', '--json', wav], { encoding: 'utf8' });
  if (run.status !== 0) return fail(`pulse165 --track-info: ${run.stderr.trim()}`);
  const desktop = JSON.parse(run.stdout);
  const page = await browser.openPage(width, height);
  await page.goto(`${base}/index.html?track-info`);
  // The page listens for a song once its program runs, and says so.
  await page.waitFor("document.getElementById('prompt').textContent === 'choose a song for its report'", 60);
  const began = Date.now();
  const loaded = page.requests.length;
  await chooseSong(page, wav);
  try {
    await page.waitFor("document.title === 'pulse165 ready' || document.title.startsWith('pulse165:')", 120);
  } catch (e) {
    fail(`the song's report: ${e.message}`);
  }
  const seconds = (Date.now() - began) / 1000;
  const report = await page.evaluate("document.getElementById('report').textContent");
  problemsOf(page, 'the song');
  // Nothing leaves the machine: the song goes nowhere, and the page fetches only its own files.
  const after = page.requests.slice(loaded);
  const foreign = page.requests.filter((url) => !url.startsWith(base + '/') && !url.startsWith('data:'));
  console.log(`song: ${loaded} requests while the page loaded, ${after.length} after`);
  if (loaded === 0) fail('no request seen at all: the check cannot see them');
  if (after.length > 0) fail(`requests after the page had loaded: ${after.join(', ')}`);
  if (foreign.length > 0) fail(`requests beyond the page's own files: ${foreign.join(', ')}`);
  await page.close();
  let web;
  try {
    web = JSON.parse(report);
  } catch (e) {
    return fail(`the page's report is no JSON: ${report.slice(0, 200)}`);
  }
  console.log(`song: desktop ${desktop.tempo_bpm} bpm, first beat ${desktop.first_beat_s} s; ` +
    `page ${web.tempo_bpm} bpm, first beat ${web.first_beat_s} s (decoded and analysed in ${seconds.toFixed(1)} s)`);
  if (Math.abs(web.tempo_bpm - desktop.tempo_bpm) > 0.01) fail('the page finds another tempo than the desktop');
  if (Math.abs(web.first_beat_s - desktop.first_beat_s) > 0.005) fail('the page puts the first beat elsewhere');
  if (web.scenes.length !== desktop.scenes.length) fail('the page fits another schedule');
  web.scenes.forEach((scene, i) => {
    const d = desktop.scenes[i];
    if (!d || scene.scene !== d.scene || Math.abs(scene.start_s - d.start_s) > 0.005 ||
        Math.abs(scene.end_s - d.end_s) > 0.005)
      fail(`scene ${i}: the page's ${JSON.stringify(scene)}, the desktop's ${JSON.stringify(d)}`);
  });
  if (Math.abs(web.gain_db - desktop.gain_db) > 0.05) fail(`gain: page ${web.gain_db}, desktop ${desktop.gain_db}`);
}

// "save video" on the first 5 s of that song at 320x160: a WebM download that ffprobe
// reads as 300 frames at 60 fps with 5 s of sound that starts on the song's first sample,
// whose frame at 2 s is the desktop's --capture's; after load, requests only for the
// page's own files.
async function checkVideo(browser, base) {
  const wav = path.join(outDir, 'song-128.wav');
  const [w, h] = [320, 160];
  const downloads = path.join(outDir, 'downloads');
  fs.rmSync(downloads, { recursive: true, force: true });
  fs.mkdirSync(downloads, { recursive: true });
  await browser.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: path.resolve(downloads) });
  const page = await browser.openPage(width, height);
  await page.goto(`${base}/index.html?size=${w}x${h}&length=5`);
  await page.waitFor("document.getElementById('prompt').textContent === 'click to play'", 120);
  const loaded = page.requests.length;
  await chooseSong(page, wav);
  await page.waitFor('Module._pulse165_frames() > 0', 120);  // the song plays with its show
  await page.evaluate("document.getElementById('save').click()");
  let said = '';
  try {
    said = await page.waitFor("(p => p.startsWith('saved') || p.startsWith('the video') ? p : '')" +
      "(document.getElementById('prompt').textContent)", 300);
  } catch (e) {
    fail(`save video: ${e.message}`);
  }
  console.log(`video: the page says "${said}"`);
  const file = path.join(downloads, `pulse165-${w}x${h}.webm`);
  const until = Date.now() + 30000;
  while (!fs.existsSync(file) && Date.now() < until) await sleep(200);
  const after = page.requests.slice(loaded).filter((url) => !url.startsWith(base + '/') && !url.startsWith('blob:' + base));
  if (after.length > 0) fail(`video: requests beyond the page's own files: ${after.join(', ')}`);
  problemsOf(page, 'video');
  await page.close();
  if (!fs.existsSync(file)) return fail(`save video: no ${file} downloaded`);

  const probe = spawnSync('ffprobe', ['-v', 'error', '-count_frames', '-show_entries',
    'stream=codec_type,codec_name,width,height,r_frame_rate,nb_read_frames', '-of', 'json', file], { encoding: 'utf8' });
  const streams = probe.status === 0 ? JSON.parse(probe.stdout).streams : [];
  const picture = streams.find((s) => s.codec_type === 'video') || {};
  // The sound as mono floats at Opus's 48 kHz, and the song's own first 5 s beside it.
  const decode = (input, extra = []) => {
    const r = spawnSync('ffmpeg', ['-nostdin', '-v', 'error', '-i', input, ...extra, '-map', '0:a', '-f', 'f32le',
      '-ac', '1', '-ar', '48000', '-'], { maxBuffer: 1 << 26 });
    return r.status === 0 ? new Float32Array(r.stdout.buffer, r.stdout.byteOffset, r.stdout.length >> 2) : new Float32Array(0);
  };
  const heard = decode(file), song = decode(wav, ['-t', '5']);
  // Where the two line up best, within ±50 samples: the sound starts on the song's first sample.
  let lag = 0, best = -Infinity;
  for (let d = -50; d <= 50; ++d) {
    let sum = 0;
    for (let i = 1000; i < 96000; ++i) sum += heard[i + d] * song[i];
    if (sum > best) [best, lag] = [sum, d];
  }
  const soundSeconds = heard.length / 48000;
  console.log(`video: ${picture.codec_name} ${picture.width}x${picture.height}, ${picture.nb_read_frames} frames at ` +
    `${picture.r_frame_rate}; ${streams.filter((s) => s.codec_type === 'audio').map((s) => s.codec_name)} ` +
    `sound of ${soundSeconds.toFixed(4)} s, ${lag} samples off the song`);
  if (picture.codec_name !== 'vp9' || picture.width !== w || picture.height !== h) fail('video: not VP9 at 320x160');
  if (Number(picture.nb_read_frames) !== 300 || picture.r_frame_rate !== '60/1') fail('video: not 300 frames at 60 fps');
  // An Opus stream ends on a whole 20-ms packet: the muxer cannot mark the padding after the last sample.
  if (!(soundSeconds >= 5 && soundSeconds <= 5.02)) fail(`video: ${soundSeconds} s of sound, not 5`);
  if (lag !== 0) fail(`video: the sound is ${lag} samples off the song`);

  // Frame 120 (2 s) beside the same frame of the desktop's --capture of the same 5 s.
  const desktopFile = path.join(outDir, 'video-desktop.webm');
  const capture = spawnSync(program, [`--capture=${desktopFile}`, '--to=5', `--size=${w}x${h}`, wav], { encoding: 'utf8' });
  if (capture.status !== 0) return fail(`video: pulse165 --capture: ${capture.stderr.trim()}`);
  const frameAt2s = (input, png) => {
    spawnSync('ffmpeg', ['-nostdin', '-v', 'error', '-y', '-i', input, '-vf', 'select=eq(n\\,120)', '-frames:v', '1', png]);
    return fs.existsSync(png) ? readPng(fs.readFileSync(png)) : null;
  };
  const still = path.join(outDir, 'video-2s.png'), desktopStill = path.join(outDir, 'video-2s-desktop.png');
  const [a, b] = [frameAt2s(file, still), frameAt2s(desktopFile, desktopStill)];
  if (!a || !b) return fail('video: no frame at 2 s to compare');
  const m = compareFrames(a, b);
  console.log(`video: frame 120 beside the desktop capture's: ${m.why || `r ${m.correlation.toFixed(4)}, ` +
    `lit ${m.litDifference.toFixed(4)}, colour ${m.colourDifference.toFixed(4)}`}`);
  if (!m.match) fail(`video: frame 120 is not the desktop capture's (${still}, ${desktopStill})`);
}

// Under the browsers' usual rule (sound only after the viewer has clicked or typed), a
// song chosen on a page nobody has clicked waits for a click, then plays.
async function checkSongWaitsForClick(base) {
  const browser = Browser.launch(chromium, ['--autoplay-policy=document-user-activation-required']);
  try {
    const page = await browser.openPage(width, height);
    await page.goto(`${base}/index.html`);
    await page.waitFor("document.getElementById('prompt').textContent === 'click to play'", 120);
    await chooseSong(page, path.join(outDir, 'song-128.wav'));
    const said = await page.waitFor("(t => t.endsWith(': click to play') ? t : '')" +
      "(document.getElementById('prompt').textContent)", 60);
    await page.click(width / 2, height / 2);
    const [frames, state] = await page.waitFor("Module._pulse165_frames() > 10 && " +
      "[Module._pulse165_frames(), Module.pulse165Audio.context.state]", 30);
    console.log(`a song chosen before any click: "${said}"; after a click ${frames} frames, the sound ${state}`);
    if (state !== 'running') fail('a song chosen before any click does not play after one');
    problemsOf(page, 'a song before any click');
    await page.close();
  } finally {
    await browser.close();
  }
}

// ?listen in a browser whose microphone is the 128-bpm song (Chromium's fake capture,
// which plays the file over and over): after the click the show runs, and the beat
// locks on the song's tempo.
async function checkListening(base) {
  const wav = path.resolve(outDir, 'song-128.wav');
  const browser = Browser.launch(chromium, ['--use-fake-ui-for-media-stream', '--use-fake-device-for-media-stream',
    `--use-file-for-fake-audio-capture=${wav}`]);
  try {
    const page = await browser.openPage(width, height);
    await page.goto(`${base}/index.html?listen`);
    await page.waitFor("document.getElementById('prompt').textContent === 'click to listen'", 120);
    await page.click(width / 2, height / 2);
    const began = Date.now();
    let locked = false;
    try {
      locked = await page.waitFor('Module._pulse165_listen_locked()', 30);
    } catch (e) {
      fail(`listening: no lock (${e.message})`);
    }
    const [bpm, frames] = await page.evaluate('[Module._pulse165_listen_bpm(), Module._pulse165_frames()]');
    console.log(`listening: ${locked ? 'locked' : 'not locked'} at ${bpm.toFixed(2)} bpm ` +
      `${((Date.now() - began) / 1000).toFixed(1)} s after the click, ${frames} frames drawn`);
    if (locked && Math.abs(bpm - 128) > 0.5) fail(`listening: locked at ${bpm} bpm, not 128`);
    if (!(frames > 0)) fail('listening: no frames drawn');
    problemsOf(page, 'listening');
    await page.close();
  } finally {
    await browser.close();
  }
}

async function runBenchmark(browser, base, frames) {
  const page = await browser.openPage(width, height);
  await page.goto(`${base}/index.html?benchmark&size=${width}x${height}&frames=${frames}`);
  await page.waitFor("document.title === 'pulse165 ready'", 1800);
  const report = JSON.parse(await page.evaluate("document.getElementById('report').textContent"));
  console.log(`benchmark in the browser (${report.renderer}), ${report.width}x${report.height}, ${frames} frames:`);
  for (const s of report.scenes)
    console.log(`  scene ${s.scene}: median ${s.median_ms.toFixed(2)} ms, p95 ${s.p95_ms.toFixed(2)} ms`);
  fs.writeFileSync(path.join(outDir, 'benchmark.json'), JSON.stringify(report, null, 1));
  problemsOf(page, 'benchmark page');
  await page.close();
}

(async () => {
  if (!chromium) {
    console.log('FAIL: no chromium (scripts/deps-web.txt installs it)');
    process.exit(1);
  }
  fs.mkdirSync(outDir, { recursive: true });
  const server = await serve(siteDir);
  const base = `http://127.0.0.1:${server.address().port}`;
  const browser = Browser.launch(chromium);
  try {
    const digest = await checkMoments(browser, base);
    checkDigest(digest);
    await checkLiveShow(browser, base);
    await checkSong(browser, base);
    await checkVideo(browser, base);
    await checkSongWaitsForClick(base);
    await checkListening(base);
    if (benchmarkArg) await runBenchmark(browser, base, Number(benchmarkArg.split('=')[1]));
  } catch (e) {
    fail(e.stack || String(e));
  } finally {
    await browser.close();
    server.close();
  }
  console.log(failures === 0 ? 'web test: passed' : `web test: ${failures} failure(s)`);
  process.exit(failures === 0 ? 0 : 1);
})();

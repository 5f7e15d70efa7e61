// The browser test: the page in headless Chromium (WebGL 2 on SwiftShader) against the
// desktop program (llvmpipe).
//   node web/test/check.js SITE_DIR PULSE165 PLAYBACK_DIGEST OUT_DIR [--benchmark=FRAMES]
//
// 1. ?at=TIME&size=800x400 for four moments, each compared with
//    `pulse165 --screenshot --at=TIME --size=800x400` by the structural measures of
//    frames.js; the same frame with red and blue swapped and mirrored must fail them.
// 2. The page's fingerprints of the decoded soundtrack equal the desktop's.
// 3. The show page: after a click the audio clock runs (about as fast as the wall
//    clock), frames are drawn, and Escape ends the show.
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
  // What reached the canvas: the opening's disks, the scope and the frame lines.
  const shot = path.join(outDir, 'show-page.png');
  fs.writeFileSync(shot, await page.screenshot(width, height));
  const [lit] = litShares(readPng(fs.readFileSync(shot)), 1, 1, limits.litLuma);
  console.log(`show page: ${(100 * lit).toFixed(1)} % of the canvas lit after ${(p2 / 44100).toFixed(1)} s`);
  if (!(lit >= minShowLit)) fail(`the show page's canvas is dark (${shot})`);
  for (const type of ['keyDown', 'keyUp'])
    await page.send('Input.dispatchKeyEvent', { type, key: 'Escape', code: 'Escape', windowsVirtualKeyCode: 27 });
  try {
    await page.waitFor("document.getElementById('prompt').textContent.startsWith('the end')", 10);
  } catch (e) {
    fail('Escape did not end the show');
  }
  problemsOf(page, 'show page');
  await page.close();
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

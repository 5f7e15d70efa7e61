// Frames as the browser test sees them: PNG files read into RGB, and the structural
// measures that compare a browser frame with the desktop's frame of the same moment.
// SwiftShader and llvmpipe rasterise lines and edges a little differently and the
// trails carry the differences along, so pixels are not compared one by one.
'use strict';
const zlib = require('zlib');

// 8-bit, non-interlaced greyscale, RGB or RGBA PNGs (what Chromium and pulse165 write).
function readPng(bytes) {
  if (bytes.readUInt32BE(0) !== 0x89504e47) throw new Error('not a PNG');
  let width = 0, height = 0, channels = 0;
  const data = [];
  for (let at = 8; at < bytes.length;) {
    const length = bytes.readUInt32BE(at);
    const type = bytes.toString('latin1', at + 4, at + 8);
    const body = bytes.subarray(at + 8, at + 8 + length);
    if (type === 'IHDR') {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      const depth = body[8], colour = body[9], interlace = body[12];
      channels = { 0: 1, 2: 3, 6: 4 }[colour];
      if (depth !== 8 || !channels || interlace !== 0) throw new Error(`unsupported PNG (depth ${depth}, colour ${colour})`);
    } else if (type === 'IDAT') {
      data.push(body);
    } else if (type === 'IEND') {
      break;
    }
    at += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(data));
  const stride = width * channels;
  const pixels = Buffer.alloc(stride * height);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)];
    const line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    const out = pixels.subarray(y * stride, (y + 1) * stride);
    const up = y > 0 ? pixels.subarray((y - 1) * stride, y * stride) : Buffer.alloc(stride);
    for (let i = 0; i < stride; ++i) {
      const a = i >= channels ? out[i - channels] : 0, b = up[i], c = i >= channels ? up[i - channels] : 0;
      let v = line[i];
      if (filter === 1) v += a;
      else if (filter === 2) v += b;
      else if (filter === 3) v += (a + b) >> 1;
      else if (filter === 4) {
        const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
        v += pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
      }
      out[i] = v & 255;
    }
  }
  const rgb = new Float64Array(width * height * 3);
  for (let p = 0; p < width * height; ++p)
    for (let k = 0; k < 3; ++k) rgb[3 * p + k] = pixels[p * channels + (channels === 1 ? 0 : k)];
  return { width, height, rgb };
}

const luma = (rgb, p) => 0.299 * rgb[3 * p] + 0.587 * rgb[3 * p + 1] + 0.114 * rgb[3 * p + 2];

// Mean luma of every block x block square.
function blockLuma(image, block) {
  const w = Math.floor(image.width / block), h = Math.floor(image.height / block);
  const means = new Float64Array(w * h);
  for (let y = 0; y < h * block; ++y)
    for (let x = 0; x < w * block; ++x)
      means[Math.floor(y / block) * w + Math.floor(x / block)] += luma(image.rgb, y * image.width + x);
  return means.map((v) => v / (block * block));
}

function correlation(a, b) {
  const n = a.length;
  let ma = 0, mb = 0;
  for (let i = 0; i < n; ++i) { ma += a[i]; mb += b[i]; }
  ma /= n; mb /= n;
  let ab = 0, aa = 0, bb = 0;
  for (let i = 0; i < n; ++i) {
    ab += (a[i] - ma) * (b[i] - mb);
    aa += (a[i] - ma) ** 2;
    bb += (b[i] - mb) ** 2;
  }
  return aa > 0 && bb > 0 ? ab / Math.sqrt(aa * bb) : (aa === bb ? 1 : 0);
}

// Share of lit pixels (luma of `litLuma` or more) in each of columns x rows regions.
function litShares(image, columns, rows, litLuma) {
  const shares = [];
  for (let r = 0; r < rows; ++r) {
    for (let c = 0; c < columns; ++c) {
      const x0 = Math.floor(c * image.width / columns), x1 = Math.floor((c + 1) * image.width / columns);
      const y0 = Math.floor(r * image.height / rows), y1 = Math.floor((r + 1) * image.height / rows);
      let lit = 0;
      for (let y = y0; y < y1; ++y)
        for (let x = x0; x < x1; ++x) if (luma(image.rgb, y * image.width + x) >= litLuma) ++lit;
      shares.push(lit / ((x1 - x0) * (y1 - y0)));
    }
  }
  return shares;
}

// The colour of the light: each channel's share of the summed red, green and blue.
function colourBalance(image) {
  const sum = [0, 0, 0];
  for (let i = 0; i < image.rgb.length; ++i) sum[i % 3] += image.rgb[i];
  const total = sum[0] + sum[1] + sum[2];
  return sum.map((v) => (total > 0 ? v / total : 1 / 3));
}

// The measures and their limits; a frame matches when all three hold. Matching frames
// measured r 0.9998 or more, lit 0.010 and colour 0.010 at most; the limits leave room
// for the rasterisers' differences and are still failed by a camera off by a tenth of
// its field of view, a missing layer or one colour wrong.
const limits = {
  block: 8,                    // pixels per side of the luma blocks
  minCorrelation: 0.98,        // of the block lumas
  regions: [4, 2],             // columns, rows
  litLuma: 24,                 // of 255
  maxLitDifference: 0.03,      // largest difference of the lit shares of one region
  maxColourDifference: 0.025,  // largest difference of one channel's share of the light
};

function compareFrames(a, b) {
  if (a.width !== b.width || a.height !== b.height)
    return { match: false, why: `sizes differ: ${a.width}x${a.height} and ${b.width}x${b.height}` };
  const r = correlation(blockLuma(a, limits.block), blockLuma(b, limits.block));
  const sa = litShares(a, ...limits.regions, limits.litLuma), sb = litShares(b, ...limits.regions, limits.litLuma);
  const lit = Math.max(...sa.map((v, i) => Math.abs(v - sb[i])));
  const ca = colourBalance(a), cb = colourBalance(b);
  const colour = Math.max(...ca.map((v, i) => Math.abs(v - cb[i])));
  const match = r >= limits.minCorrelation && lit <= limits.maxLitDifference && colour <= limits.maxColourDifference;
  return { match, correlation: r, litDifference: lit, colourDifference: colour, litShares: [sa, sb] };
}

module.exports = { readPng, compareFrames, litShares, limits };

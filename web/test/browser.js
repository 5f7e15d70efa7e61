// Headless Chromium driven over the DevTools protocol on a pipe (--remote-debugging-pipe):
// no package beyond Node itself. One browser, one page at a time.
'use strict';
const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

// What headless Chromium needs on a machine without a GPU: WebGL 2 on SwiftShader, no
// sandbox (root in a container), nothing that reaches the network by itself.
const chromiumFlags = [
  '--headless=new', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
  '--disable-gpu-sandbox', '--no-first-run', '--disable-background-networking', '--disable-component-update',
  '--disable-sync', '--disable-quic', '--autoplay-policy=no-user-gesture-required',
  '--disable-background-timer-throttling', '--disable-renderer-backgrounding',
];

class Browser {
  static launch(executable, extraFlags = []) {
    const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'pulse165-chromium-'));
    const child = spawn(executable, [...chromiumFlags, ...extraFlags, `--user-data-dir=${profile}`, '--remote-debugging-pipe',
      'about:blank'], { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'] });
    return new Browser(child, profile);
  }

  constructor(child, profile) {
    this.child = child;
    this.profile = profile;
    this.nextId = 1;
    this.waiting = new Map();
    this.listeners = [];
    this.stderr = '';
    this.exited = false;
    let pending = Buffer.alloc(0);
    child.stdio[4].on('data', (chunk) => {
      pending = Buffer.concat([pending, chunk]);
      for (let end = pending.indexOf(0); end >= 0; end = pending.indexOf(0)) {
        const message = JSON.parse(pending.subarray(0, end).toString('utf8'));
        pending = pending.subarray(end + 1);
        this.receive(message);
      }
    });
    child.stderr.on('data', (chunk) => { this.stderr = (this.stderr + chunk.toString()).slice(-4000); });
    child.on('exit', () => {
      this.exited = true;
      for (const { reject } of this.waiting.values()) reject(new Error(`chromium exited: ${this.stderr}`));
      this.waiting.clear();
    });
  }

  receive(message) {
    if (message.id !== undefined) {
      const call = this.waiting.get(message.id);
      if (!call) return;
      this.waiting.delete(message.id);
      if (message.error) call.reject(new Error(`${call.method}: ${message.error.message}`));
      else call.resolve(message.result);
      return;
    }
    for (const listener of this.listeners) listener(message);
  }

  send(method, params = {}, sessionId = undefined) {
    if (this.exited) return Promise.reject(new Error(`chromium exited: ${this.stderr}`));
    const id = this.nextId++;
    const message = { id, method, params };
    if (sessionId) message.sessionId = sessionId;
    return new Promise((resolve, reject) => {
      this.waiting.set(id, { resolve, reject, method });
      this.child.stdio[3].write(JSON.stringify(message) + '\0');
    });
  }

  // A fresh page of the given size (CSS pixels at device scale 1), its console and
  // errors collected into page.problems.
  async openPage(width, height) {
    const { targetId } = await this.send('Target.createTarget', { url: 'about:blank' });
    const { sessionId } = await this.send('Target.attachToTarget', { targetId, flatten: true });
    const page = new Page(this, targetId, sessionId);
    this.listeners.push((m) => { if (m.sessionId === sessionId) page.event(m); });
    await page.send('Runtime.enable');
    await page.send('Log.enable');
    await page.send('Page.enable');
    await page.send('Network.enable');
    await page.send('Emulation.setDeviceMetricsOverride', { width, height, deviceScaleFactor: 1, mobile: false });
    return page;
  }

  async close() {
    if (!this.exited) {
      const exited = new Promise((resolve) => this.child.once('exit', resolve));
      this.send('Browser.close').catch(() => {});
      await Promise.race([exited, sleep(5000)]);
      if (!this.exited) {
        this.child.kill('SIGKILL');
        await exited;
      }
    }
    fs.rmSync(this.profile, { recursive: true, force: true, maxRetries: 5 });
  }
}

class Page {
  constructor(browser, targetId, sessionId) {
    this.browser = browser;
    this.targetId = targetId;
    this.sessionId = sessionId;
    this.problems = [];  // console errors, uncaught exceptions, failed loads
    this.messages = [];  // every console line
    this.requests = [];  // every address the page asked for
  }

  send(method, params = {}) { return this.browser.send(method, params, this.sessionId); }

  event(m) {
    if (m.method === 'Runtime.consoleAPICalled') {
      const text = m.params.args.map((a) => (a.value !== undefined ? String(a.value) : a.description || '')).join(' ');
      this.messages.push(`${m.params.type}: ${text}`);
      if (m.params.type === 'error' || m.params.type === 'assert') this.problems.push(`console.${m.params.type}: ${text}`);
    } else if (m.method === 'Runtime.exceptionThrown') {
      const d = m.params.exceptionDetails;
      this.problems.push(`exception: ${d.exception ? d.exception.description : d.text}`);
    } else if (m.method === 'Network.requestWillBeSent') {
      this.requests.push(m.params.request.url);
    } else if (m.method === 'Log.entryAdded' && m.params.entry.level === 'error') {
      this.problems.push(`log: ${m.params.entry.text} ${m.params.entry.url || ''}`.trim());
    }
  }

  async goto(url) { await this.send('Page.navigate', { url }); }

  async evaluate(expression) {
    const r = await this.send('Runtime.evaluate', { expression, returnByValue: true, awaitPromise: true });
    if (r.exceptionDetails) throw new Error(`evaluate ${expression}: ${r.exceptionDetails.text}`);
    return r.result.value;
  }

  // Polls `expression` until it is truthy; its value, or an error after `seconds`.
  async waitFor(expression, seconds) {
    const until = Date.now() + 1000 * seconds;
    for (;;) {
      let value;
      try { value = await this.evaluate(expression); } catch (e) { value = undefined; }
      if (value) return value;
      if (Date.now() > until) throw new Error(`timed out after ${seconds} s waiting for ${expression}`);
      await sleep(200);
    }
  }

  async screenshot(width, height) {
    const r = await this.send('Page.captureScreenshot',
      { format: 'png', clip: { x: 0, y: 0, width, height, scale: 1 }, captureBeyondViewport: false });
    return Buffer.from(r.data, 'base64');
  }

  async click(x, y) {
    for (const type of ['mousePressed', 'mouseReleased'])
      await this.send('Input.dispatchMouseEvent', { type, x, y, button: 'left', clickCount: 1 });
  }

  async close() { await this.browser.send('Target.closeTarget', { targetId: this.targetId }); }
}

function sleep(ms) { return new Promise((resolve) => setTimeout(resolve, ms)); }

module.exports = { Browser, sleep };

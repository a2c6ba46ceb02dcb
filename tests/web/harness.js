// What the web page's tests share: a static file server for the page's folder,
// Debian's Chromium driven by Playwright (no browser of Playwright's own), and
// the native programs the page is compared with.
'use strict';

const http = require('node:http');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { chromium } = require('playwright-core');

const kTypes = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
  '.dat': 'text/plain; charset=utf-8',
  '.png': 'image/png',
};

// Serves the files under root on 127.0.0.1 at a free port, and those of other
// folders under the prefixes that mounts maps to them; resolves to the server,
// whose url() is its base URL.
function serve(root, mounts = {}) {
  const server = http.createServer((request, response) => {
    const url = new URL(request.url, 'http://localhost');
    let base = path.resolve(root);
    let rest = decodeURIComponent(url.pathname);
    for (const [prefix, folder] of Object.entries(mounts)) {
      if (rest.startsWith(prefix)) {
        base = path.resolve(folder);
        rest = rest.slice(prefix.length);
      }
    }
    let file = path.normalize(path.join(base, rest));
    if (!file.startsWith(base)) {
      response.writeHead(403).end();
      return;
    }
    if (fs.existsSync(file) && fs.statSync(file).isDirectory()) file = path.join(file, 'index.html');
    fs.readFile(file, (error, bytes) => {
      if (error) {
        response.writeHead(404).end();
        return;
      }
      response.writeHead(200, { 'Content-Type': kTypes[path.extname(file)] || 'application/octet-stream' });
      response.end(bytes);
    });
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () => {
      server.url = () => `http://127.0.0.1:${server.address().port}/`;
      resolve(server);
    });
  });
}

// Headless Chromium as root needs no sandbox; the other switches keep it from
// reaching for the network on its own.
async function launch() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'robosim-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    acceptDownloads: true,
    viewport: { width: 1000, height: 900 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const close = async () => {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  };
  return { context, close };
}

// Opens the page with the query and waits until its start-up is done. Console
// errors and uncaught exceptions are collected in page.problems.
async function openPage(context, baseUrl, query = '') {
  const page = await context.newPage();
  page.problems = [];
  page.on('console', (message) => {
    if (message.type() === 'error' || message.type() === 'warning') page.problems.push(message.text());
  });
  page.on('pageerror', (error) => page.problems.push(String(error)));
  await page.goto(baseUrl + query);
  await page.waitForFunction(() => window.robosim && window.robosim.ready === true);
  return page;
}

module.exports = { serve, launch, openPage };

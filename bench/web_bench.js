// The web page's figures, side by side with the native runner on this machine:
// the simulation's ticks per second in Chromium (default world and maze) and in
// robot-simulator-headless, the work of one frame at the default period with the
// field's lattice at 640 x 480 (tick, drawing, the canvas), and the page's size.
// Usage (from tests/web, where Playwright is installed):
//   node ../../bench/web_bench.js BUILD_DIR [REPETITIONS]
'use strict';

const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { serve, launch, openPage } = require(path.resolve(__dirname, '..', 'tests', 'web', 'harness.js'));

const buildDir = path.resolve(process.argv[2] || 'build');
const repetitions = Number(process.argv[3] || 5);
const webDir = path.join(buildDir, 'web');
const runner = path.join(buildDir, 'bin', 'robot-simulator-headless');
const sourceDir = path.resolve(__dirname, '..');
const kTicks = 200000;

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

function nativeTicksPerSecond(world) {
  const args = ['--seed', '1', '--ticks', String(kTicks), '--json'];
  if (world) args.push('--world', world);
  const summary = JSON.parse(execFileSync(runner, args, { cwd: sourceDir, encoding: 'utf8' }));
  return summary.ticks / summary.wall_seconds;
}

async function pageTicksPerSecond(context, base, world) {
  const page = await openPage(context, base, '?seed=1&ticks=0' + (world ? '&world=' + world : ''));
  const seconds = await page.evaluate((n) => {
    const start = performance.now();
    window.robosim.run(n);
    return (performance.now() - start) / 1000;
  }, kTicks);
  await page.close();
  return kTicks / seconds;
}

// Fast mode as a user runs it: the ticks per second it shows after a few seconds.
async function fastModeTicksPerSecond(context, base, world) {
  const page = await openPage(context, base, '?seed=1&ticks=0' + (world ? '&world=' + world : ''));
  await page.click('#run');
  await page.check('#fast');
  await page.waitForTimeout(4000);
  const shown = parseInt(await page.textContent('#rate'), 10);
  await page.close();
  return shown;
}

// One frame at the default period with the lattice on: a tick, the drawing into
// the image, the pixels onto the canvas.
async function frameMilliseconds(context, base) {
  const page = await openPage(context, base, '?seed=1&ticks=0&keys=G');
  const times = await page.evaluate(() => {
    const out = [];
    for (let i = 0; i < 300; i++) {
      const start = performance.now();
      window.robosim.run(1);
      out.push(performance.now() - start);
    }
    return out;
  });
  await page.close();
  return median(times);
}

function pageBytes() {
  let total = 0;
  const walk = (folder) => {
    for (const entry of fs.readdirSync(folder, { withFileTypes: true })) {
      const file = path.join(folder, entry.name);
      if (entry.isDirectory()) walk(file);
      else total += fs.statSync(file).size;
    }
  };
  walk(webDir);
  return total;
}

(async () => {
  const server = await serve(webDir);
  const browser = await launch();
  const base = server.url();
  const rows = [];
  for (const [name, world] of [['default world', null], ['maze', 'worlds/maze.dat']]) {
    const native = [];
    const wasm = [];
    const fast = [];
    for (let i = 0; i < repetitions; i++) {
      native.push(nativeTicksPerSecond(world));
      wasm.push(await pageTicksPerSecond(browser.context, base, world));
    }
    fast.push(await fastModeTicksPerSecond(browser.context, base, world));
    rows.push([name, median(native), median(wasm), fast[0]]);
  }
  const frames = [];
  for (let i = 0; i < repetitions; i++) frames.push(await frameMilliseconds(browser.context, base));
  await browser.close();
  server.close();

  console.log(`ticks per second, medians of ${repetitions} runs of ${kTicks} ticks (seed 1):`);
  console.log('| world | native runner | page (WebAssembly, Chromium) | page / native | fast mode shows |');
  console.log('|---|---:|---:|---:|---:|');
  for (const [name, native, wasm, fast] of rows) {
    console.log(`| ${name} | ${Math.round(native)} | ${Math.round(wasm)} | ${(100 * wasm / native).toFixed(0)} % | ${fast} |`);
  }
  console.log(`one frame (tick, drawing, canvas) with the lattice at 640 x 480: median ${median(frames).toFixed(2)} ms`);
  console.log(`the page's files: ${pageBytes()} bytes`);
})().catch((error) => {
  console.error(error);
  process.exit(1);
});

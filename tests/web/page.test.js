// The web page in headless Chromium, as a student or a teacher uses it, and
// against the native headless runner: the same pixels, the same traces, the
// same world files. Run with `node --test` from this folder (ctest does), with
// ROBOSIM_WEB_DIR the page's folder and ROBOSIM_HEADLESS the native runner.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { serve, launch, openPage } = require('./harness.js');

const webDir = process.env.ROBOSIM_WEB_DIR;
const headless = process.env.ROBOSIM_HEADLESS;
const sourceDir = path.resolve(__dirname, '..', '..');
const screenshotPath = process.env.ROBOSIM_WEB_SCREENSHOT;
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'robosim-web-test-'));

let server;
let browser;

test.before(async () => {
  assert.ok(webDir && fs.existsSync(path.join(webDir, 'index.html')), 'ROBOSIM_WEB_DIR must hold the built page');
  assert.ok(headless && fs.existsSync(headless), 'ROBOSIM_HEADLESS must be the native runner');
  server = await serve(webDir, { '/scratch/': scratch });
  browser = await launch();
});

test.after(async () => {
  if (browser) await browser.close();
  if (server) server.close();
  fs.rmSync(scratch, { recursive: true, force: true });
});

// The native runner with these arguments; returns its standard output.
function runNative(args) {
  return execFileSync(headless, args, { cwd: sourceDir, encoding: 'utf8' });
}

function scratchFile(name, text) {
  const file = path.join(scratch, name);
  if (text !== undefined) fs.writeFileSync(file, text);
  return file;
}

async function open(query) {
  return openPage(browser.context, server.url(), query);
}

async function state(page) {
  return page.evaluate(() => window.robosim.state());
}

// The pixels of the canvas that differ from those of a PNG served from scratch/.
async function differingPixels(page, pngName) {
  return page.evaluate(async (url) => {
    const blob = await (await fetch(url)).blob();
    const bitmap = await createImageBitmap(blob, { colorSpaceConversion: 'none', premultiplyAlpha: 'none' });
    const view = document.getElementById('view');
    if (bitmap.width !== view.width || bitmap.height !== view.height) {
      return `sizes differ: ${bitmap.width}x${bitmap.height} and ${view.width}x${view.height}`;
    }
    const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
    const drawn = canvas.getContext('2d');
    drawn.drawImage(bitmap, 0, 0);
    const expected = drawn.getImageData(0, 0, bitmap.width, bitmap.height).data;
    const shown = view.getContext('2d').getImageData(0, 0, view.width, view.height).data;
    let differ = 0;
    for (let i = 0; i < shown.length; i += 4) {
      if (shown[i] !== expected[i] || shown[i + 1] !== expected[i + 1] || shown[i + 2] !== expected[i + 2]) differ++;
    }
    return differ;
  }, server.url() + 'scratch/' + pngName);
}

// Clicks Save and returns the text it handed to the browser, as the page
// records it; fails with the page's message when Save handed nothing.
async function clickSave(page) {
  const before = await page.evaluate(() => window.robosim.saves());
  await page.click('#save');
  // The click's handler has run by the time the click returns.
  const after = await page.evaluate(() => window.robosim.saves());
  if (after !== before + 1) {
    throw new Error(`Save handed no file to the browser; the page says "${await page.textContent('#message')}"`);
  }
  return page.evaluate(() => window.robosim.lastSave());
}

// Clicks Save and returns the downloaded file's name and bytes, which must be
// the text the page records as saved. The click, the page's handling of it and
// the download are checked one after the other, so that a failure says which
// of them never came and what the page said then.
async function save(page) {
  const downloaded = page.waitForEvent('download');
  // Awaited below; a click that fails first must not leave it unhandled.
  downloaded.catch(() => {});
  const handed = await clickSave(page);
  let download;
  try {
    download = await downloaded;
  } catch (error) {
    throw new Error(`Save handed the file to the browser but no download came (${error.message}); ` +
      `console: ${JSON.stringify(page.problems)}`);
  }
  const file = await download.path();
  const text = fs.readFileSync(file, 'latin1');
  assert.ok(text === handed, 'the download holds what Save handed to the browser');
  return { name: download.suggestedFilename(), text };
}

// Where the canvas's pixel (0, 0) is: a pointer at box.x + X, box.y + Y is over
// pixel (X, Y).
async function canvasBox(page) {
  const box = await page.locator('#view').boundingBox();
  return { x: box.x + 0.5, y: box.y + 0.5 };
}

async function openFile(page, file) {
  await page.setInputFiles('#open-file', file);
}

test('the page loads with its title, a canvas of 640 x 480 and no console error', async () => {
  const page = await open('');
  assert.equal(await page.title(), 'Robot Simulator');
  const size = await page.evaluate(() => [document.getElementById('view').width, document.getElementById('view').height]);
  assert.deepEqual(size, [640, 480]);
  await page.waitForFunction(() => window.robosim.state().tick >= 20);
  assert.deepEqual(page.problems, []);
  const s = await state(page);
  assert.equal(s.timer_val, 10);
  assert.equal(s.manual_mode, false);
  assert.equal(s.walls, 4);
  await page.close();
});

test('after seed and ticks the canvas holds the runner\'s picture, pixel for pixel', async () => {
  const keyScript = scratchFile('grad.keys', '0 down G\n0 up G\n');
  const cases = [
    { world: null, seed: 7, ticks: 500 },
    { world: 'worlds/maze.dat', seed: 11, ticks: 3000 },
    { world: 'worlds/room-with-doorway.dat', seed: 3, ticks: 1500 },
  ];
  for (const c of cases) {
    for (const keys of [null, 'G']) {
      const name = `${path.basename(c.world || 'default')}-${keys || 'plain'}.png`;
      const args = ['--seed', String(c.seed), '--ticks', String(c.ticks), '--png', scratchFile(name)];
      if (c.world) args.push('--world', c.world);
      if (keys) args.push('--keys', keyScript);
      runNative(args);
      let query = `?seed=${c.seed}&ticks=${c.ticks}`;
      if (c.world) query += `&world=${c.world}`;
      if (keys) query += `&keys=${keys}`;
      const page = await open(query);
      const s = await state(page);
      assert.equal(s.tick, c.ticks, query);
      assert.equal(s.show_grad, keys === 'G', query);
      assert.equal(await differingPixels(page, name), 0, query);
      assert.deepEqual(page.problems, [], query);
      await page.close();
    }
  }
});

test('the simulation gives the native runner\'s traces, byte for byte, on the shipped worlds', async () => {
  const worlds = [null, ...fs.readdirSync(path.join(sourceDir, 'worlds')).filter((f) => f.endsWith('.dat')).sort()
    .map((f) => 'worlds/' + f)];
  const page = await open('?seed=5&ticks=0');
  for (const world of worlds) {
    const seed = 5;
    const ticks = 4000;
    const traceFile = scratchFile(`${path.basename(world || 'default')}.csv`);
    const args = ['--seed', String(seed), '--ticks', String(ticks), '--trace', traceFile];
    if (world) args.push('--world', world);
    runNative(args);
    const query = `?seed=${seed}&ticks=0` + (world ? `&world=${world}` : '');
    await page.goto(server.url() + query);
    await page.waitForFunction(() => window.robosim && window.robosim.ready === true);
    const trace = await page.evaluate((n) => window.robosim.trace(n), ticks);
    assert.ok(trace === fs.readFileSync(traceFile, 'utf8'), `the traces of ${world || 'the default world'} differ`);
  }
  await page.close();
});

// Each key of the table, pressed as a user presses it, changes what it changes
// in the window (the same driver runs both).
test('each key of the table changes what the window\'s key changes', async () => {
  const page = await open('?seed=9&ticks=200&world=worlds/maze.dat');
  const s0 = await state(page);
  assert.ok(s0.impacts > 0);
  const press = async (key) => {
    await page.keyboard.press(key);
    return state(page);
  };
  const toggles = [['KeyV', 'show_vision'], ['KeyT', 'show_walls'], ['KeyM', 'manual_mode'],
    ['KeyG', 'show_grad'], ['Space', 'show_stats']];
  for (const [key, flag] of toggles) {
    const before = await state(page);
    const after = await press(key);
    assert.equal(after[flag], !before[flag], key);
  }
  const gains = [['Digit1', 'scale1', -0.01], ['Digit2', 'scale1', 0.01], ['Digit3', 'scale2', -0.01],
    ['Digit4', 'scale2', 0.01], ['Digit5', 'scale3', -0.001], ['Digit6', 'scale3', 0.001]];
  for (const [key, gain, step] of gains) {
    const before = await state(page);
    const after = await press(key);
    assert.equal(after[gain], before[gain] + step, key);
  }
  assert.equal((await press('ArrowDown')).timer_val, 11);
  assert.equal((await press('ArrowUp')).timer_val, 10);
  const planned = (await state(page)).planning_runs;
  assert.ok((await press('KeyP')).planning_runs > planned, 'P plans again');
  assert.equal((await press('KeyN')).impacts, 0, 'N forgets the impacts');

  // The held-key rule: with 1 held, pressing 3 lowers scale2 and scale1 once more.
  const held = await state(page);
  await page.keyboard.down('Digit1');
  await page.keyboard.press('Digit3');
  await page.keyboard.up('Digit1');
  const after = await state(page);
  assert.equal(after.scale1, held.scale1 - 0.01 - 0.01);
  assert.equal(after.scale2, held.scale2 - 0.01);

  // W, S, A, D in manual mode (M was pressed above), one tick each.
  const drive = async (keys) => {
    for (const key of keys) await page.keyboard.down(key);
    const s = await page.evaluate(() => window.robosim.run(1));
    for (const key of keys) await page.keyboard.up(key);
    return [s.speed, s.turn];
  };
  assert.equal((await state(page)).manual_mode, true);
  assert.deepEqual(await drive(['KeyW']), [0.03, 0]);
  assert.deepEqual(await drive(['KeyW', 'KeyA']), [0.03, -0.03]);
  assert.deepEqual(await drive(['KeyS', 'KeyA']), [-0.015, 0.03]);
  assert.deepEqual(await drive(['KeyS', 'KeyD']), [-0.03, -0.03]);
  assert.deepEqual(await drive(['KeyD']), [0, 0.03]);
  assert.deepEqual(await drive([]), [0, 0]);

  // Keys typed into the page's text fields never reach the simulation.
  const typed = await state(page);
  await page.click('#controller');
  await page.keyboard.type('gv 12');
  const untouched = await state(page);
  for (const flag of ['show_grad', 'show_vision', 'show_stats', 'scale1']) assert.equal(untouched[flag], typed[flag], flag);

  // R builds the default world again, Esc ends the simulation.
  await page.focus('#view');
  const r = await press('KeyR');
  assert.equal(r.walls, 4, 'R builds the default world');
  assert.equal(r.manual_mode, true, 'R leaves the mode as it is');
  assert.equal((await press('Escape')).ended, true);
  assert.match(await page.textContent('#message'), /has ended/);
  assert.deepEqual(page.problems, []);
  await page.close();
});

test('a key sequence gives the runner\'s run with the same key script', async () => {
  const script = '0 down G\n0 up G\n40 down M\n40 up M\n40 down W\n90 down A\n130 up A\n160 up W\n' +
    '170 down 2\n170 up 2\n200 down M\n200 up M\n';
  const traceFile = scratchFile('keys.csv');
  runNative(['--seed', '21', '--ticks', '400', '--keys', scratchFile('drive.keys', script), '--trace', traceFile]);
  const page = await open('?seed=21&ticks=0');
  const events = script.trim().split('\n').map((line) => line.split(' '));
  const codes = { G: 'KeyG', M: 'KeyM', W: 'KeyW', A: 'KeyA', 2: 'Digit2' };
  let tick = 0;
  for (const [at, how, key] of events) {
    await page.evaluate((n) => window.robosim.run(n), Number(at) - tick);
    tick = Number(at);
    if (how === 'down') await page.keyboard.down(codes[key]);
    else await page.keyboard.up(codes[key]);
  }
  await page.evaluate((n) => window.robosim.run(n), 400 - tick);
  const row = (await page.evaluate(() => window.robosim.trace(0))).split('\n')[1];
  const native = fs.readFileSync(traceFile, 'utf8').trim().split('\n');
  assert.equal(row, native[native.length - 1]);
  await page.close();
});

test('a mouse drag adds the wall that Save then writes; the right button moves the target', async () => {
  const page = await open('?seed=4&ticks=0');
  const box = await canvasBox(page);
  // A drag from (64, 48) that leaves the canvas and comes back ends where it was released.
  await page.mouse.move(box.x + 64, box.y + 48);
  await page.mouse.down();
  await page.mouse.move(box.x + 192, box.y + 144, { steps: 4 });
  await page.mouse.move(box.x + 256, box.y + 600, { steps: 4 });
  await page.mouse.move(box.x + 256, box.y + 192, { steps: 4 });
  await page.mouse.up();
  await page.mouse.move(box.x + 400, box.y + 400, { steps: 2 });
  const saved = await save(page);
  assert.equal(saved.name, 'world.dat');
  const lines = saved.text.split('\n');
  assert.equal(lines[3], '5');
  assert.equal(lines[4], '1.000000 1.000000 3.000000 3.000000');
  // A release outside the canvas ends the drag too.
  await page.mouse.move(box.x + 320, box.y + 240);
  await page.mouse.down();
  await page.mouse.move(box.x + 384, box.y + 288, { steps: 2 });
  await page.mouse.move(box.x + 700, box.y + 600, { steps: 2 });
  await page.mouse.up();
  await page.mouse.move(box.x + 600, box.y + 400, { steps: 2 });
  assert.equal((await save(page)).text.split('\n')[4], '5.000000 5.000000 4.984375 4.979167');
  // No context menu; the target follows the right button.
  await page.mouse.move(box.x + 160, box.y + 120);
  await page.mouse.down({ button: 'right' });
  await page.mouse.move(box.x + 480, box.y + 360, { steps: 3 });
  await page.mouse.up({ button: 'right' });
  const s = await state(page);
  assert.equal(s.target_x, 7.5);
  assert.equal(s.target_y, 7.5);
  assert.deepEqual(page.problems, []);
  await page.close();
});

test('Open then Save of each shipped world gives the runner\'s bytes, and its own back', async () => {
  const page = await open('?seed=2&ticks=0');
  for (const world of fs.readdirSync(path.join(sourceDir, 'worlds')).filter((f) => f.endsWith('.dat'))) {
    const file = path.join(sourceDir, 'worlds', world);
    const nativeSave = scratchFile('saved-' + world);
    runNative(['--seed', '2', '--ticks', '0', '--world', file, '--save', nativeSave]);
    await openFile(page, file);
    await page.waitForFunction((name) => document.getElementById('message').textContent.includes(name), world);
    // The bytes of Save itself: the tests around this one check that the
    // browser downloads them.
    assert.ok((await clickSave(page)) === fs.readFileSync(nativeSave, 'latin1'), world);
    // A load turns the wall list around: a second round gives the file back.
    await openFile(page, nativeSave);
    await page.waitForFunction(() => document.getElementById('message').textContent.includes('saved-'));
    assert.ok((await clickSave(page)) === fs.readFileSync(file, 'latin1'), world);
  }
  await page.close();
});

test('a broken file gives a message and leaves the world as it was', async () => {
  const page = await open('?seed=2&ticks=100');
  const before = (await save(page)).text;
  const broken = { 'words.dat': '2.5\n7.25\nnorth\n', 'cut.dat': '1\n2\n3\n2\n1 2 3 4\n5 6\n', 'picture.dat': '\x89PNG\r\n\x1a\n' };
  for (const [name, text] of Object.entries(broken)) {
    await openFile(page, scratchFile(name, text));
    await page.waitForFunction((n) => document.getElementById('message').textContent.includes(n), name);
    assert.match(await page.textContent('#message'), new RegExp(`cannot load "${name}": `));
    assert.equal(await page.getAttribute('#message', 'class'), 'error');
    assert.ok((await save(page)).text === before, name);
  }
  await page.close();
});

test('a share link reopens the same world', async () => {
  const page = await open('?seed=8&ticks=150&world=worlds/maze.dat');
  const box = await canvasBox(page);
  await page.mouse.move(box.x + 300, box.y + 300);
  await page.mouse.down();
  await page.mouse.move(box.x + 380, box.y + 330, { steps: 3 });
  await page.mouse.up();
  await page.mouse.click(box.x + 500, box.y + 100, { button: 'right' });
  await page.click('#share');
  const link = await page.inputValue('#share-link');
  assert.match(link, /#world=/);
  const expected = (await save(page)).text;
  const target = await state(page);

  // Paused at once, so that the robot stands where the link put it.
  const other = await open(link.replace('#', '?ticks=0#').slice(server.url().length));
  assert.ok((await save(other)).text === expected);
  const s = await state(other);
  assert.ok(Math.abs(s.target_x - target.target_x) < 1e-6 && Math.abs(s.target_y - target.target_y) < 1e-6);
  assert.deepEqual(other.problems, []);
  await page.close();
  await other.close();
});

test('a student controller typed into the page reaches targets; one that throws is stopped', async () => {
  const page = await open('?seed=6');
  const code = 'function control(r) {\n  const turn = Math.max(-0.15, Math.min(0.15, 0.6 * r.field_bearing));\n' +
    '  return { speed: 0.03 * Math.max(0.1, Math.cos(r.field_bearing)), turn };\n}\n';
  await page.fill('#controller', code);
  await page.check('#use-controller');
  await page.check('#fast');
  const start = (await state(page)).targets_reached;
  await page.waitForFunction((n) => window.robosim.state().targets_reached >= n + 2, start);
  const driven = await state(page);
  assert.equal(driven.manual_mode, true);
  assert.match(await page.textContent('#controller-message'), /drives the robot/);
  assert.equal(await page.isChecked('#use-controller'), true);

  // It is kept across a reload.
  await page.reload();
  await page.waitForFunction(() => window.robosim && window.robosim.ready === true);
  assert.equal(await page.inputValue('#controller'), code);

  const failing = [
    ['function control(r) { throw new Error("boom at " + r.target_distance.toFixed(0)); }', /Error: boom at/],
    ['function control(r) { return { speed: NaN, turn: 0 }; }', /not \{ speed, turn \}/],
    ['function control(r) { return [1e999, 0]; }', /not \{ speed, turn \}/],
    ['function control(r) { return "fast"; }', /not \{ speed, turn \}/],
    ['const x = ;', /cannot run: SyntaxError/],
    ['function steer(r) { return [0, 0]; }', /define a function named control/],
  ];
  for (const [text, why] of failing) {
    await page.fill('#controller', text);
    await page.click('#use-controller');
    await page.waitForFunction(() => !document.getElementById('use-controller').checked);
    assert.match(await page.textContent('#controller-message'), why, text);
    // The page goes on.
    const tick = (await state(page)).tick;
    await page.waitForFunction((n) => window.robosim.state().tick > n, tick);
  }
  assert.deepEqual(page.problems, []);
  await page.close();
});

test('the statistics line, the class controls and a screenshot', async () => {
  const page = await open('?seed=12&world=worlds/maze.dat&ticks=1200&keys=V,space');
  assert.equal(await page.textContent('#run'), 'Run');
  await page.click('#step');
  assert.equal((await state(page)).tick, 1201);
  await page.click('#run');
  await page.waitForFunction(() => window.robosim.state().updates_per_second > 0);
  assert.match(await page.evaluate(() => window.robosim.statisticsLine()), /^Update rate: +\d+ scale1 0\.110000 scale2 0\.860000 scale3: 0\.193000$/);
  await page.check('#fast');
  // Fast mode runs a batch of ticks in every animation frame, however loaded the
  // machine is; the timer runs one per period.
  const ticksInTwoFrames = await page.evaluate(() => new Promise((resolve) => {
    const start = window.robosim.state().tick;
    requestAnimationFrame(() => requestAnimationFrame(() => resolve(window.robosim.state().tick - start)));
  }));
  assert.ok(ticksInTwoFrames >= 64, `${ticksInTwoFrames} ticks in two frames of fast mode`);
  await page.waitForFunction(() => /^[1-9]\d* ticks\/s$/.test(document.getElementById('rate').textContent));
  await page.uncheck('#fast');
  await page.click('#run');
  if (screenshotPath) await page.screenshot({ path: screenshotPath, clip: { x: 0, y: 0, width: 1000, height: 640 } });
  assert.deepEqual(page.problems, []);
  await page.close();
});

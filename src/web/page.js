// The page's script: it turns the browser's events into the simulation's calls
// (the module's Page: the driver, the key table, the mouse editing and the world
// files are the C++ of the desktop program) and puts the pixels on the canvas.
// The key table, the mouse rules, the file format and the drawing are not here.
'use strict';

(function () {
  const kMaxSeed = 4294967295;
  const kMaxTicks = 1e12;
  // The window's timers never fire more often than every 10 ms.
  const kMinimumTimerPeriodMs = 10;
  const kRatePeriodMs = 1000;
  // The largest client area the page draws into, a side.
  const kMaxCanvasSide = 4096;
  const kMaxWorldFileBytes = 16 * 1024 * 1024;
  // Fast mode runs ticks for this long in each animation frame.
  const kFastFrameBudgetMs = 12;
  const kStorageKey = 'robot-simulator.controller';

  const view = document.getElementById('view');
  const context = view.getContext('2d');
  const client = document.getElementById('client');
  const message = document.getElementById('message');
  const runButton = document.getElementById('run');
  const fastBox = document.getElementById('fast');
  const rateText = document.getElementById('rate');
  const shareLink = document.getElementById('share-link');
  const controllerText = document.getElementById('controller');
  const controllerBox = document.getElementById('use-controller');
  const controllerMessage = document.getElementById('controller-message');
  const exampleList = document.getElementById('example');

  let page = null;
  let running = true;
  let loading = true;
  let tickTimer = null;
  let rateTimer = null;
  let tickArms = -1;
  let controller = null;
  const mouseButtons = new Set();
  // World files handed to the browser by Save, and the text of the last one.
  let filesSaved = 0;
  let lastSavedText = null;
  // Ticks per real second, shown beside the fast-mode switch.
  let rateStart = 0;
  let rateTicks = 0;

  function say(text, isError) {
    message.textContent = text;
    message.className = isError ? 'error' : '';
  }

  function sayController(text, isError) {
    controllerMessage.textContent = text;
    controllerMessage.className = isError ? 'error' : '';
  }

  // ---- Painting -----------------------------------------------------------

  let image = null;

  function paint() {
    if (!page || view.width === 0 || view.height === 0) return;
    // A view of the module's memory, good until its next call.
    const pixels = page.draw();
    if (pixels.length === view.width * view.height * 4) {
      if (image === null || image.width !== view.width || image.height !== view.height) {
        image = context.createImageData(view.width, view.height);
      }
      image.data.set(pixels);
      context.putImageData(image, 0, 0);
    }
    if (page.state().show_stats && !page.ended()) paintStatistics(page.statisticsLine());
  }

  // The statistics line in the canvas's default colours: black on white, its
  // top-left corner at (1, 1).
  function paintStatistics(line) {
    context.font = '13px sans-serif';
    context.textBaseline = 'top';
    const metrics = context.measureText(line);
    const height = Math.ceil(metrics.fontBoundingBoxAscent + metrics.fontBoundingBoxDescent) || 16;
    context.fillStyle = '#fff';
    context.fillRect(1, 1, Math.ceil(metrics.width), height);
    context.fillStyle = '#000';
    context.fillText(line, 1, 1 + (metrics.fontBoundingBoxAscent ? 0 : 1));
  }

  // ---- Timers ---------------------------------------------------------------

  // Timer 101 runs at the driver's period (at least 10 ms); the driver re-arms it
  // from its keys, which the page sees as a new count of arms.
  function armTickTimer() {
    tickArms = page.tickTimerArms();
    if (tickTimer !== null) clearInterval(tickTimer);
    tickTimer = setInterval(onTickTimer, Math.max(page.tickPeriod(), kMinimumTimerPeriodMs));
  }

  function followTimerArms() {
    if (page && !page.ended() && page.tickTimerArms() !== tickArms) armTickTimer();
  }

  function onTickTimer() {
    if (!running || loading || fastBox.checked) return;
    runTicks(1);
    paint();
  }

  function onRateTimer() {
    page.rateTimer();
    const now = performance.now();
    const seconds = (now - rateStart) / 1000;
    if (seconds > 0) rateText.textContent = Math.round(rateTicks / seconds) + ' ticks/s';
    rateStart = now;
    rateTicks = 0;
    if (page.state().show_stats) paint();
  }

  function stopTimers() {
    if (tickTimer !== null) clearInterval(tickTimer);
    if (rateTimer !== null) clearInterval(rateTimer);
    tickTimer = rateTimer = null;
  }

  // ---- Running --------------------------------------------------------------

  // Runs up to n ticks, with the student's controller before each one while it
  // drives. Returns the ticks run.
  function runTicks(n) {
    let done = 0;
    if (controller === null) {
      done = page.run(n);
    } else {
      while (done < n && controller !== null) {
        if (!applyController()) break;
        if (page.run(1) === 0) break;
        done++;
      }
    }
    rateTicks += done;
    afterTicks();
    return done;
  }

  // The simulation may have ended (Esc) or its state stopped being finite.
  function afterTicks() {
    if (page.ended()) {
      endedByPage();
      return;
    }
    const broken = page.brokenValue();
    if (broken) {
      setRunning(false);
      say(broken + ' is no longer a finite number after tick ' + page.state().tick +
          '; the simulation is paused (R builds a new world).', true);
      if (controller !== null) stopController('The controller was stopped: ' + broken +
          ' is no longer a finite number.');
    }
  }

  function fastFrame() {
    if (!fastBox.checked || !running || loading || page.ended()) return;
    const start = performance.now();
    let batch = controller === null ? 64 : 1;
    while (performance.now() - start < kFastFrameBudgetMs) {
      if (runTicks(batch) < batch) break;
      if (controller === null && batch < 65536) batch *= 2;
    }
    paint();
    requestAnimationFrame(fastFrame);
  }

  function setRunning(on) {
    running = on;
    runButton.textContent = on ? 'Pause' : 'Run';
    if (on && fastBox.checked) requestAnimationFrame(fastFrame);
  }

  // Runs n ticks at load (the ticks parameter) a frame's worth at a time, so that
  // the page stays responsive, then pauses.
  function runAtLoad(n, done) {
    let left = n;
    function step() {
      if (page.ended()) {
        done();
        return;
      }
      const start = performance.now();
      while (left > 0 && performance.now() - start < kFastFrameBudgetMs) {
        const ran = runTicks(Math.min(left, 4096));
        left -= ran;
        if (ran === 0) left = 0;
      }
      if (left > 0) {
        say('Running ' + n + ' ticks… ' + Math.floor(100 * (n - left) / n) + '%');
        requestAnimationFrame(step);
      } else {
        done();
      }
    }
    step();
  }

  function endedByPage() {
    stopTimers();
    running = false;
    fastBox.checked = false;
    for (const id of ['run', 'step', 'fast', 'share', 'save', 'exit', 'open', 'use-controller']) {
      document.getElementById(id).disabled = true;
    }
    say('The simulation has ended. Reload the page to start it again.', false);
  }

  // ---- Keyboard ---------------------------------------------------------------

  function isTextField(target) {
    if (!target || !target.tagName) return false;
    if (target.isContentEditable) return true;
    const tag = target.tagName;
    if (tag === 'TEXTAREA' || tag === 'SELECT') return true;
    return tag === 'INPUT' && !['checkbox', 'radio', 'button', 'submit', 'reset', 'range',
      'file', 'color'].includes(target.type);
  }

  document.addEventListener('keydown', (event) => {
    if (!page || isTextField(event.target)) return;
    page.keyDown(event.code || '', event.key || '', event.altKey);
    // The page's own keys (Tab moves the focus) and the browser's shortcuts stay theirs.
    if (event.code !== 'Tab' && !event.ctrlKey && !event.metaKey && !event.altKey &&
        event.code !== 'F10') {
      event.preventDefault();
    }
    afterInput();
  });

  document.addEventListener('keyup', (event) => {
    if (!page || isTextField(event.target)) return;
    page.keyUp(event.code || '', event.key || '', event.altKey);
    afterInput();
  });

  // A key let go while the page does not have the keyboard never reaches it:
  // every held key goes up when the page, or the simulation, loses it.
  window.addEventListener('blur', () => page && page.releaseKeys());
  document.addEventListener('focusin', (event) => {
    if (page && isTextField(event.target)) page.releaseKeys();
  });

  function afterInput() {
    if (page.ended()) {
      endedByPage();
      return;
    }
    followTimerArms();
    paint();
  }

  // ---- Mouse --------------------------------------------------------------------

  // Canvas pixels of a pointer anywhere on the page (outside the canvas too).
  function canvasPoint(event) {
    const box = view.getBoundingClientRect();
    const scaleX = box.width > 0 ? view.width / box.width : 1;
    const scaleY = box.height > 0 ? view.height / box.height : 1;
    const clamp = (v) => Math.max(-1e9, Math.min(1e9, Math.floor(v)));
    return [clamp((event.clientX - box.left) * scaleX), clamp((event.clientY - box.top) * scaleY)];
  }

  view.addEventListener('contextmenu', (event) => event.preventDefault());

  view.addEventListener('mousedown', (event) => {
    if (!page || (event.button !== 0 && event.button !== 2)) return;
    event.preventDefault();
    view.focus();
    mouseButtons.add(event.button);
    const [x, y] = canvasPoint(event);
    page.mouseDown(event.button, x, y);
    afterInput();
  });

  // While a button pressed on the canvas is held, moves and its release reach the
  // simulation wherever the pointer is, as the window's capture of the mouse does.
  window.addEventListener('mousemove', (event) => {
    if (!page || (mouseButtons.size === 0 && event.target !== view)) return;
    const [x, y] = canvasPoint(event);
    page.mouseMove(x, y);
    afterInput();
  });

  window.addEventListener('mouseup', (event) => {
    if (!page || (event.button !== 0 && event.button !== 2)) return;
    if (!mouseButtons.has(event.button) && event.target !== view) return;
    mouseButtons.delete(event.button);
    const [x, y] = canvasPoint(event);
    page.mouseUp(event.button, x, y);
    afterInput();
  });

  // ---- The client area's size ----------------------------------------------------

  function followClientSize() {
    const width = Math.max(0, Math.min(kMaxCanvasSide, Math.floor(client.clientWidth)));
    const height = Math.max(0, Math.min(kMaxCanvasSide, Math.floor(client.clientHeight)));
    if (width === view.width && height === view.height) return;
    view.width = width;
    view.height = height;
    view.style.width = width + 'px';
    view.style.height = height + 'px';
    if (page) {
      page.resize(width, height);
      paint();
    }
  }

  // ---- File menu -------------------------------------------------------------------

  const fileInput = document.getElementById('open-file');
  document.getElementById('open').addEventListener('click', () => {
    fileInput.value = '';
    fileInput.click();
  });
  fileInput.addEventListener('change', async () => {
    const file = fileInput.files[0];
    if (!file || !page) return;
    // Never more than the largest world file and one byte: the module says why
    // a larger file is refused.
    const bytes = new Uint8Array(await file.slice(0, kMaxWorldFileBytes + 1).arrayBuffer());
    const error = page.openWorld(file.name, bytes);
    if (error) {
      say(error, true);
    } else {
      say('Opened ' + file.name + '.', false);
    }
    view.focus();
    afterInput();
  });

  document.getElementById('save').addEventListener('click', () => {
    if (!page) return;
    const saved = page.saveWorld();
    if (saved.error !== undefined) {
      say(saved.error, true);
      return;
    }
    const url = URL.createObjectURL(new Blob([saved.text], { type: 'application/octet-stream' }));
    const link = document.createElement('a');
    link.href = url;
    link.download = 'world.dat';
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(url), 60000);
    filesSaved++;
    lastSavedText = saved.text;
    say('Saved the world as world.dat.', false);
    view.focus();
  });

  document.getElementById('exit').addEventListener('click', () => {
    if (!page) return;
    page.exit();
    endedByPage();
  });

  // ---- Controls for a class ----------------------------------------------------------

  runButton.addEventListener('click', () => {
    setRunning(!running);
    if (running && message.className !== 'error') say('', false);
    view.focus();
  });

  document.getElementById('step').addEventListener('click', () => {
    setRunning(false);
    runTicks(1);
    paint();
    view.focus();
  });

  fastBox.addEventListener('change', () => {
    if (fastBox.checked && running) requestAnimationFrame(fastFrame);
    view.focus();
  });

  function shareURL() {
    return location.origin + location.pathname + '#' + page.shareFragment();
  }

  document.getElementById('share').addEventListener('click', () => {
    if (!page) return;
    shareLink.value = shareURL();
    shareLink.select();
    if (navigator.clipboard) navigator.clipboard.writeText(shareLink.value).catch(() => {});
    say('The link opens this world: its walls, the robot where it stands and the target.', false);
  });

  function openFragment(fragment) {
    let text = fragment;
    try {
      text = decodeURIComponent(fragment);
    } catch (error) {
      // Left as it is: the module says what is wrong with it.
    }
    const error = page.openShared(text);
    if (error) say(error, true);
    return !error;
  }

  window.addEventListener('hashchange', () => {
    if (!page || page.ended() || location.hash.length <= 1) return;
    if (openFragment(location.hash.slice(1))) say('Opened the shared world.', false);
    paint();
  });

  // ---- The student's controller ---------------------------------------------------------

  function readingsObject() {
    const values = page.readings();
    return {
      sensor: values.slice(0, 6),
      touch: values.slice(6, 12),
      target_distance: values[12],
      target_bearing: values[13],
      field_bearing: values[14],
      values: values,
    };
  }

  function compileController(code) {
    const make = new Function('"use strict";\n' + code +
        '\nreturn typeof control === "function" ? control : null;');
    const control = make();
    if (control === null) throw new Error('define a function named control(r)');
    return control;
  }

  // One command from the controller, applied to the next tick. False (and the
  // controller stopped) when it throws or returns no finite speed and turn, or a
  // turn beyond half a turn a tick (which the Python interface refuses too).
  function applyController() {
    let command;
    try {
      command = controller(readingsObject());
    } catch (error) {
      stopController('Your controller stopped with an error: ' + describeError(error));
      return false;
    }
    let speed;
    let turn;
    if (Array.isArray(command)) {
      [speed, turn] = command;
    } else if (command !== null && typeof command === 'object') {
      ({ speed, turn } = command);
    }
    if (typeof speed !== 'number' || typeof turn !== 'number' || !Number.isFinite(speed) ||
        !Number.isFinite(turn)) {
      stopController('Your controller was stopped: it returned ' + describeValue(command) +
          ', not { speed, turn } with two finite numbers.');
      return false;
    }
    if (!page.drive(speed, turn)) {
      stopController('Your controller was stopped: it returned a turn of ' + turn +
          ' radians, beyond half a turn (pi) a tick.');
      return false;
    }
    return true;
  }

  function describeError(error) {
    if (error instanceof Error) return error.name + ': ' + error.message;
    return String(error);
  }

  function describeValue(value) {
    try {
      const text = JSON.stringify(value, (key, v) => (typeof v === 'number' && !Number.isFinite(v) ? String(v) : v));
      return text === undefined ? String(value) : text.slice(0, 200);
    } catch (error) {
      return String(value);
    }
  }

  function startController() {
    try {
      controller = compileController(controllerText.value);
    } catch (error) {
      controllerBox.checked = false;
      controller = null;
      sayController('Your controller cannot run: ' + describeError(error), true);
      return;
    }
    page.setController(true);
    sayController('Your controller drives the robot (manual mode).', false);
  }

  function stopController(why) {
    controller = null;
    controllerBox.checked = false;
    if (page) page.setController(false);
    if (why) {
      sayController(why, true);
    } else {
      sayController('', false);
    }
  }

  controllerBox.addEventListener('change', () => {
    if (!page) return;
    if (controllerBox.checked) {
      startController();
    } else {
      stopController('');
    }
    view.focus();
  });

  function storeController() {
    try {
      localStorage.setItem(kStorageKey, controllerText.value);
    } catch (error) {
      // Storage switched off: the code lives as long as the page.
    }
  }

  function storedController() {
    try {
      return localStorage.getItem(kStorageKey);
    } catch (error) {
      return null;
    }
  }

  controllerText.addEventListener('input', () => {
    storeController();
    if (controller !== null) stopController('Your controller changed; switch it on again to use it.');
  });

  const examples = window.ROBOSIM_EXAMPLES || [];
  examples.forEach((example, index) => {
    const option = document.createElement('option');
    option.value = String(index);
    option.textContent = example.name;
    exampleList.appendChild(option);
  });
  document.getElementById('load-example').addEventListener('click', () => {
    const example = examples[Number(exampleList.value)];
    if (!example) return;
    if (controller !== null) stopController('');
    controllerText.value = example.code;
    storeController();
  });
  const stored = storedController();
  controllerText.value = stored !== null ? stored : (examples[0] ? examples[0].code : '');

  // ---- Start-up -----------------------------------------------------------------------

  // A whole number from 0 to max, or null.
  function wholeNumber(text, max) {
    if (!/^[0-9]{1,16}$/.test(text)) return null;
    const value = Number(text);
    return value <= max ? value : null;
  }

  // A world file under the page's folder: a relative path without "..".
  function worldPathProblem(path) {
    if (path === '') return 'the world path is empty';
    if (/^[a-z][a-z0-9+.-]*:/i.test(path) || path.startsWith('/') || path.includes('\\') ||
        path.split('/').some((part) => part === '..')) {
      return 'the world must be a file under the page\'s folder, such as worlds/maze.dat';
    }
    return null;
  }

  async function loadWorldParameter(path) {
    const problem = worldPathProblem(path);
    if (problem) return 'cannot load "' + path + '": ' + problem;
    let bytes;
    try {
      const response = await fetch(path, { cache: 'no-cache' });
      if (!response.ok) return 'cannot load "' + path + '": the server answered ' + response.status;
      bytes = new Uint8Array(await response.arrayBuffer());
    } catch (error) {
      return 'cannot load "' + path + '": ' + describeError(error);
    }
    return page.openWorld(path, bytes);
  }

  async function start() {
    const params = new URLSearchParams(location.search);
    const problems = [];
    let seed = Math.floor(Date.now() / 1000) % (kMaxSeed + 1);
    if (params.has('seed')) {
      const value = wholeNumber(params.get('seed'), kMaxSeed);
      if (value === null) {
        problems.push('seed: expected a whole number from 0 to ' + kMaxSeed + '; the calendar time is used');
      } else {
        seed = value;
      }
    }
    let ticks = null;
    if (params.has('ticks')) {
      ticks = wholeNumber(params.get('ticks'), kMaxTicks);
      if (ticks === null) problems.push('ticks: expected a whole number from 0 to ' + kMaxTicks);
    }

    followClientSize();
    const module = await createRobotSimulator();
    page = new module.Page(view.width, view.height, seed);
    window.robosim.metrics = module.runMetrics();

    if (location.hash.length > 1) {
      if (!openFragment(location.hash.slice(1))) problems.push(message.textContent);
    } else if (params.has('world')) {
      const error = await loadWorldParameter(params.get('world'));
      if (error) problems.push(error);
    }
    if (params.has('keys')) {
      const error = page.pressKeys(params.get('keys'));
      if (error) problems.push(error);
    }

    new ResizeObserver(followClientSize).observe(client);
    rateStart = performance.now();
    rateTimer = setInterval(onRateTimer, kRatePeriodMs);
    armTickTimer();
    paint();

    const finish = () => {
      loading = false;
      if (ticks !== null) setRunning(false);
      paint();
      if (!page.ended() && !page.brokenValue()) {
        say(problems.length ? problems.join('; ') : (ticks !== null ? 'Paused after ' + ticks + ' ticks.' : ''),
            problems.length > 0);
      }
      window.robosim.ready = true;
    };
    if (ticks !== null && ticks > 0 && !page.ended()) {
      runAtLoad(ticks, finish);
    } else {
      finish();
    }
  }

  // ---- For scripts and tests ------------------------------------------------------------

  window.robosim = {
    ready: false,
    // The robot, the target, the switches, the number of walls, the tick count, ...
    state: () => page.state(),
    // Runs ticks at once on the simulated clock (with the controller, if it
    // drives), paints, and returns the state.
    run: (ticks) => {
      runTicks(Math.max(0, Math.floor(Number(ticks) || 0)));
      paint();
      return page.state();
    },
    pause: () => setRunning(false),
    resume: () => setRunning(true),
    running: () => running,
    readings: () => readingsObject(),
    // The trace of the next ticks, as the headless runner's --trace writes it.
    trace: (ticks) => {
      const text = page.trace(Math.max(0, Math.floor(Number(ticks) || 0)));
      afterTicks();
      paint();
      return text;
    },
    statisticsLine: () => page.statisticsLine(),
    // How many world files Save has handed to the browser to download.
    saves: () => filesSaved,
    // The text of the last world file Save handed to the browser, or null.
    lastSave: () => lastSavedText,
    // Every run metric by its name, as the headless runner's JSON summary has
    // them (metrics: the list of them, with descriptions, units and decimals).
    stats: () => page.stats(),
    metrics: [],
    shareURL: () => shareURL(),
  };

  start().catch((error) => {
    say('The simulation could not start: ' + describeError(error), true);
  });
})();

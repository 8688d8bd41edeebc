// The game page's glue: loads the shared loader (pack.js), the game's program
// and the data pack from the board's bundle, keeps the player's folder in
// IndexedDB (the program's storage script does the work once the folder is
// named), and steps the game once per displayed frame. Sound waits for the
// player's first touch, click or key, as browsers require.
'use strict';

(function () {
  // The player's folder in the program's file system, kept in this browser.
  const PLAYER_FOLDER = '/player';
  const STATES = ['starting', 'running', 'ended', 'failed'];

  const canvas = document.getElementById('play-canvas');
  const status = document.getElementById('play-status');
  // The gaps between the last displayed frames (ms), for the page's figures.
  const KEPT_FRAMES = 3600;
  const frameGaps = [];
  let lastFrame = null;
  // The time of the oldest input event no step has taken yet, and the delays from such events
  // to the end of the step that drew them (ms).
  let inputAt = null;
  const inputDelays = [];
  let module = null;
  let audio = null;

  function say(text) {
    status.textContent = text;
    status.hidden = text === '';
  }

  // Returns the bundle's addresses (files.json); throws when the board has no game.
  async function bundleFiles() {
    const reply = await fetch('/viewer/files.json', {headers: {Accept: 'application/json'}});
    if (!reply.ok) throw new Error('this board has no game installed');
    const files = await reply.json();
    for (const name of ['pack.js', 'zarquill-play.js', 'zarquill-play.wasm',
                        'zarquill-viewer-data.bin']) {
      if (typeof files[name] !== 'string' || !files[name].startsWith('/viewer/')) {
        throw new Error('this board has no game installed');
      }
    }
    return files;
  }

  // Loads the bundle's shared loader (pack.js), which loads the rest.
  function loadPackScript(url) {
    return new Promise(function (resolve, reject) {
      const script = document.createElement('script');
      script.src = url;
      script.onload = function () { resolve(window.ZarquillPack); };
      script.onerror = function () { reject(new Error('cannot load ' + url)); };
      document.head.appendChild(script);
    });
  }

  // Lets sound play from the player's first gesture on (the context was made silent).
  function unlockSound() {
    if (audio && audio.state !== 'running') audio.resume().catch(function () {});
  }

  // Shows whether runs go to the board, on the bar's button.
  function showSharing() {
    const button = document.getElementById('play-sharing');
    const answer = module._zq_play_sharing();
    const on = answer === 1;
    button.hidden = answer < 0;
    button.setAttribute('aria-pressed', on ? 'true' : 'false');
    button.textContent = on ? 'Runs sent: yes' : 'Runs sent: no';
  }

  // Keeps the player's answer about sending runs to this board.
  function setSharing(on) {
    const kept = module._zq_play_set_sharing(on ? 1 : 0);
    if (!kept) say('Your answer could not be kept in this browser; the game asks again later.');
    showSharing();
  }

  // Asks, once, after the first run is stored, whether runs go to the board.
  function askAboutSharing() {
    const dialog = document.getElementById('play-ask-sharing');
    if (dialog.open) return;
    dialog.addEventListener('close', function () {
      setSharing(dialog.returnValue === 'send');
      canvas.focus();
    }, {once: true});
    dialog.showModal();
  }

  // Shows why the player's files cannot be kept, or nothing while they are.
  let shownProblem = '';
  function showStorageProblem() {
    const problem = module.UTF8ToString(module._zq_play_storage_problem());
    if (problem === shownProblem) return;
    shownProblem = problem;
    say(problem ? 'Your files cannot be kept in this browser (' + problem +
                  '): the game goes on, but what it saves is lost when the page closes.'
                : '');
  }

  // Steps the game once per displayed frame until it ends.
  function run() {
    let runs = module._zq_play_runs();
    let frames = 0;
    showSharing();
    // Without a graphics processor the picture gets fewer pixels while frames come late.
    const pacer = window.ZarquillPack.makePacer(module);
    function frame(now) {
      pacer.frame(now);
      if (lastFrame !== null) {
        frameGaps.push(now - lastFrame);
        if (frameGaps.length > KEPT_FRAMES) frameGaps.shift();
      }
      lastFrame = now;
      // Once a second: the answer about sending runs (the settings panel may change it too)
      // and whether the player's files are kept.
      if (++frames % 60 === 0) {
        showSharing();
        showStorageProblem();
      }
      const stored = module._zq_play_runs();
      if (stored > runs) {
        runs = stored;
        if (module._zq_play_sharing() < 0) askAboutSharing();
      }
      const state = STATES[module._zq_play_frame()] || 'failed';
      if (inputAt !== null) {
        // The step just run took the input in and drew the frame that shows it.
        inputDelays.push(performance.now() - inputAt);
        if (inputDelays.length > KEPT_FRAMES) inputDelays.shift();
        inputAt = null;
      }
      if (state === 'running') {
        requestAnimationFrame(frame);
      } else if (state === 'ended') {
        say('Thanks for playing. Reload the page to play again.');
      } else {
        say('The game stopped: ' + module.UTF8ToString(module._zq_play_message()));
      }
    }
    requestAnimationFrame(frame);
  }

  async function start() {
    const files = await bundleFiles();
    const Pack = await loadPackScript(files['pack.js']);
    const [, pack] = await Promise.all([
      Pack.loadScript(files['zarquill-play.js'], 'ZarquillPlayModule'),
      Pack.fetchBytes(files['zarquill-viewer-data.bin'], 'the game data'),
    ]);
    const Context = window.AudioContext || window.webkitAudioContext;
    if (Context) {
      audio = new Context();
      // Made before any gesture, the context stays silent until unlockSound.
      if (audio.state === 'running') audio.suspend().catch(function () {});
    }
    module = await window.ZarquillPlayModule({
      canvas: canvas,
      zqFilesFolder: PLAYER_FOLDER,
      zqAudioContext: audio,
      locateFile: function (name) {
        return name.endsWith('.wasm') ? files['zarquill-play.wasm'] : name;
      },
    });
    await Pack.putImages(module, pack, module._zq_play_add_image);
    const origin = new TextEncoder().encode(location.origin + '\0');
    const ok = Pack.withBytes(module, origin, function (o) {
      return Pack.withBytes(module, pack, function (p) {
        return module._zq_play_start(p, pack.length, o);
      });
    });
    if (!ok) throw new Error(module.UTF8ToString(module._zq_play_message()));
    say('');
    fit();  // the program sized the canvas to the game's screen
    canvas.focus();
    // What the page's own tools (and its tests) may ask the running game.
    window.ZarquillPlay = {
      state: function () { return STATES[module._zq_play_state()] || 'failed'; },
      // Where the player is: 'menus', 'game', 'paused' or 'name'.
      place: function () { return ['menus', 'game', 'paused', 'name'][module._zq_play_place()]; },
      runs: function () { return module._zq_play_runs(); },
      // Whether sound can be heard: only after the player's first gesture.
      soundOn: function () { return audio !== null && audio.state === 'running'; },
      // The program's WebAssembly memory and the page's script heap (where the browser tells), bytes.
      memory: function () {
        return {wasm: module.HEAP8.length,
                heap: performance.memory ? performance.memory.usedJSHeapSize : -1};
      },
      frameRate: function () { return module._zq_play_frame_rate(); },
      // Returns the gaps between the last displayed frames (ms) and forgets them.
      takeFrameGaps: function () { return frameGaps.splice(0, frameGaps.length); },
      // Returns the delays from input events to the frames that showed them (ms) and forgets them.
      takeInputDelays: function () { return inputDelays.splice(0, inputDelays.length); },
    };
    run();
  }

  // Sizes the canvas to the largest that fits its area at the canvas' own shape (the page's
  // size, a turned phone, full screen), so that nothing scrolls.
  function fit() {
    const area = canvas.parentElement.getBoundingClientRect();
    const scale = Math.min(area.width / canvas.width, area.height / canvas.height);
    if (!(scale > 0)) return;
    canvas.style.width = Math.floor(canvas.width * scale) + 'px';
    canvas.style.height = Math.floor(canvas.height * scale) + 'px';
  }
  window.addEventListener('resize', fit);
  document.addEventListener('fullscreenchange', fit);
  fit();

  for (const type of ['pointerdown', 'touchstart', 'keydown']) {
    window.addEventListener(type, unlockSound, {capture: true, passive: true});
  }
  // A page left (a closed tab) keeps the run waiting for its name, under the name typed so
  // far; the storage script then sends what changed to IndexedDB. (Only leaving: a page merely
  // hidden comes back to the name being typed.)
  window.addEventListener('pagehide', function () {
    if (module) module._zq_play_page_left();
  });

  for (const type of ['pointermove', 'pointerdown', 'keydown', 'touchmove']) {
    canvas.addEventListener(type, function (e) {
      if (inputAt === null) inputAt = e.timeStamp;
    }, {passive: true});
  }
  canvas.addEventListener('contextmenu', function (e) { e.preventDefault(); });
  document.getElementById('play-fullscreen').addEventListener('click', function () {
    const area = canvas.parentElement;
    if (document.fullscreenElement) {
      document.exitFullscreen().catch(function () {});
    } else if (area.requestFullscreen) {
      area.requestFullscreen().catch(function (e) { say('Full screen was refused: ' + e.message); });
    }
  });
  // "Your files": the download and the merging import, through the storage script.
  const filesReport = document.getElementById('play-files-report');
  function reportText(report) {
    if (!report.ok) return 'Nothing was changed: ' + report.problems.join('; ');
    const parts = [];
    if ('runsAdded' in report) {
      parts.push(report.runsAdded + ' runs added, ' + report.runsPresent + ' already here');
      parts.push(report.replaysAdded + report.replaysRenamed + ' replays added');
    }
    if (report.problems.length) parts.push('left out: ' + report.problems.join('; '));
    return parts.join('; ') + '.';
  }
  document.getElementById('play-files').addEventListener('click', function () {
    if (!module || !module.zqFiles) return;
    filesReport.textContent = '';
    document.getElementById('play-your-files').showModal();
  });
  document.getElementById('play-files-download').addEventListener('click', function () {
    const size = module.zqFiles.download('zarquill-files.zip');
    filesReport.textContent = size ? 'Downloaded ' + size + ' bytes.'
                                   : reportText(module.zqFiles.report());
  });
  document.getElementById('play-files-import').addEventListener('change', function (e) {
    const file = e.target.files[0];
    if (!file) return;
    module.zqFiles.importFile(file).then(function (report) {
      filesReport.textContent = reportText(report);
      e.target.value = '';
    });
  });
  document.getElementById('play-your-files').addEventListener('close', function () {
    canvas.focus();
  });
  document.getElementById('play-sharing').addEventListener('click', function () {
    if (module) setSharing(module._zq_play_sharing() !== 1);
  });
  document.getElementById('play-overlay').addEventListener('click', function () {
    if (module) module._zq_play_toggle_overlay();
    canvas.focus();
  });
  document.getElementById('play-screenshot').addEventListener('click', function () {
    canvas.toBlob(function (blob) {
      if (!blob) return;
      const link = document.createElement('a');
      link.href = URL.createObjectURL(blob);
      link.download = 'zarquill-' + new Date().toISOString().replace(/[:.]/g, '-') + '.png';
      link.click();
      setTimeout(function () { URL.revokeObjectURL(link.href); }, 10000);
    }, 'image/png');
  });

  start().catch(function (e) {
    say('The game cannot start: ' + e.message);
  });
})();

// The page's side of the browser viewer: loads the WebAssembly program and the
// game's data pack (through pack.js, loaded before), and offers
// window.ZarquillViewer.start(canvas, files), whose viewer loads a replay,
// plays it step by step into the canvas and switches sound on or off. files
// maps the bundle's names to their addresses (the board's files.json).
(function () {
  'use strict';

  const STATES = ['finished', 'playing', 'finished', 'desync'];
  const KINDS = ['ok', 'rules', 'unreadable'];
  const Pack = window.ZarquillPack;
  // Makes the viewer object over a set-up program.
  function makeViewer(module) {
    let audio = null;
    const pacer = Pack.makePacer(module);
    return {
      // Loads a replay's bytes and sets its game up.
      load: function (bytes) {
        const kind = Pack.withBytes(module, bytes, function (p) {
          return module._zq_viewer_open(p, bytes.length);
        });
        pacer.reset();
        if (kind !== 0) {
          return {ok: false, kind: KINDS[kind] || 'unreadable',
                  message: module.UTF8ToString(module._zq_viewer_message())};
        }
        return {ok: true, steps: module._zq_viewer_steps(), width: module._zq_viewer_width(),
                height: module._zq_viewer_height()};
      },
      // Plays up to n more steps (at most 3600 a call) and draws the last one; now is the
      // frame's time in milliseconds (the animation frame's timestamp; the clock's by default).
      advance: function (n, now) {
        pacer.frame(typeof now === 'number' ? now : performance.now());
        const state = module._zq_viewer_advance(Math.max(0, Math.floor(n)));
        return {step: module._zq_viewer_step(), steps: module._zq_viewer_steps(),
                score: module._zq_viewer_score(), state: STATES[state] || 'finished',
                desyncStep: module._zq_viewer_desync_step(), detail: pacer.detail()};
      },
      // Switches sound on (making the audio context on first use) or off; returns whether it is on.
      setSound: function (on) {
        if (on) {
          const Context = window.AudioContext || window.webkitAudioContext;
          if (!Context) return false;
          if (!audio) audio = new Context();
          audio.resume();
          module.zqAudioContext = audio;
          return module._zq_viewer_set_sound(1) === 1;
        }
        module._zq_viewer_set_sound(0);
        if (audio) audio.suspend();
        return false;
      },
    };
  }

  // Loads the program and the data pack and returns a viewer drawing into canvas.
  async function start(canvas, files) {
    const [, pack] = await Promise.all([
      Pack.loadScript(files['zarquill-viewer.js'], 'ZarquillViewerModule'),
      Pack.fetchBytes(files['zarquill-viewer-data.bin'], 'the viewer data'),
    ]);
    const module = await window.ZarquillViewerModule({
      canvas: canvas,
      locateFile: function (name) {
        return name.endsWith('.wasm') ? files['zarquill-viewer.wasm'] : name;
      },
    });
    await Pack.putImages(module, pack, module._zq_viewer_add_image);
    const ok = Pack.withBytes(module, pack, function (p) {
      return module._zq_viewer_init(p, pack.length);
    });
    if (!ok) throw new Error(module.UTF8ToString(module._zq_viewer_message()));
    return makeViewer(module);
  }

  window.ZarquillViewer = {start: start};
})();

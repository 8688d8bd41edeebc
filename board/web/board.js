// The board page's script: reads the address (#easy, #medium, #hard,
// #player/NAME or #watch/ID), asks the server's API and fills the tables or
// plays a run back. Every text that comes from the server goes in through
// textContent, never as markup: names are whatever players typed.
'use strict';

const BOARDS = ['easy', 'medium', 'hard'];
const TITLES = {easy: 'Easy', medium: 'Medium', hard: 'Hard'};
const PAGE_SIZE = 50;
const STEPS_PER_SECOND = 60;
const VERIFIED_SENTENCE = 'the server re-played this run and got the same score';
const SPEEDS = [1, 4, 16];
// The most play one animation frame catches up on, in seconds: a tab left in
// the background resumes where it was instead of racing through the backlog.
const MAX_CATCH_UP_SECONDS = 0.25;
const OLD_RULES_TEXT = 'This run was recorded under older rules of the game and does not play ' +
    'here; download it and watch it with zarquill --replay FILE.';

// The view on screen; a new view makes answers for an older one go unused.
let viewNumber = 0;
let lastBoard = 'easy';
// The viewer bundle's addresses (null when the server has no viewer), the
// viewer once started, and the run being played back.
let viewerFiles = null;
let viewerPromise = null;
let viewerStarted = null;
let playback = null;

// Returns a run's length as "m:ss" or "h:mm:ss" from its game steps.
function lengthText(frames) {
  const seconds = Math.floor(Number(frames) / STEPS_PER_SECOND);
  const h = Math.floor(seconds / 3600);
  const m = Math.floor(seconds / 60) % 60;
  const s = String(seconds % 60).padStart(2, '0');
  return h > 0 ? `${h}:${String(m).padStart(2, '0')}:${s}` : `${m}:${s}`;
}

// Returns "2026-12-08 14:03" from the API's date (the player's own clock, no zone).
function dateText(iso) {
  return typeof iso === 'string' && iso.length >= 16 ? iso.slice(0, 10) + ' ' + iso.slice(11, 16)
                                                      : '';
}

// Returns a score with thousands separated ("12,345").
function scoreText(score) {
  return typeof score === 'number' ? score.toLocaleString('en-US') : '';
}

// Appends a cell with a class and a text to a row; returns the cell.
function addCell(row, className, text) {
  const cell = document.createElement('td');
  cell.className = className;
  cell.textContent = text;
  row.appendChild(cell);
  return cell;
}

// Returns a link to a player's page showing the name as text.
function playerLink(name) {
  const link = document.createElement('a');
  link.href = '#player/' + encodeURIComponent(name);
  link.textContent = name;
  return link;
}

// Returns the download link of a run's replay.
function replayLink(id) {
  const link = document.createElement('a');
  link.href = `/api/v1/runs/${encodeURIComponent(id)}/replay`;
  link.className = 'download';
  link.setAttribute('download', '');
  link.textContent = 'Download';
  link.title = 'Download the replay; play it with zarquill --replay FILE';
  return link;
}

// Returns the link that plays a run back in the page.
function watchLink(id) {
  const link = document.createElement('a');
  link.href = '#watch/' + encodeURIComponent(id);
  link.className = 'watch';
  link.textContent = 'Watch';
  link.title = 'Play the run back here';
  return link;
}

// Fills a row's replay cell: Watch when the server has the viewer, and Download.
function addReplayCell(row, id) {
  const cell = addCell(row, 'replay', '');
  if (viewerFiles) {
    cell.appendChild(watchLink(id));
    cell.appendChild(document.createTextNode(' '));
  }
  cell.appendChild(replayLink(id));
}

// Fetches JSON from the API; throws an Error with the server's one-line reason.
async function getJson(url) {
  let reply;
  try {
    reply = await fetch(url, {headers: {Accept: 'application/json'}});
  } catch (e) {
    throw new Error('the server cannot be reached');
  }
  let body = null;
  try {
    body = await reply.json();
  } catch (e) {
    body = null;
  }
  if (!reply.ok) {
    const reason = body && typeof body.error === 'string' ? body.error : `error ${reply.status}`;
    throw new Error(reason);
  }
  if (!body || typeof body !== 'object') throw new Error('the server sent no answer');
  return body;
}

// Shows one view (board or player) and hides the other.
function showSection(id) {
  for (const section of document.querySelectorAll('main > section')) {
    section.hidden = section.id !== id;
  }
}

// Marks the tab of a board as selected (none for a player's page).
function selectTab(board) {
  for (const name of BOARDS) {
    const tab = document.getElementById('tab-' + name);
    tab.setAttribute('aria-selected', String(name === board));
  }
}

// Loads pages of runs into a table: fill(row, run) adds the cells, url(offset)
// names a page; the "Show more" button asks for the next one.
function pagedTable(section, url, fill, emptyText) {
  const view = ++viewNumber;
  const body = section.querySelector('tbody');
  const status = section.querySelector('.status');
  const more = section.querySelector('button');
  body.replaceChildren();
  more.hidden = true;
  let offset = 0;

  async function load() {
    status.textContent = 'Loading…';
    more.disabled = true;
    let page;
    try {
      page = await getJson(url(offset));
    } catch (e) {
      if (view !== viewNumber) return;
      status.textContent = `The runs could not be loaded: ${e.message}.`;
      more.disabled = false;
      return;
    }
    if (view !== viewNumber) return;
    if (!Array.isArray(page.runs)) {
      status.textContent = 'The runs could not be loaded: the server sent no list of runs.';
      more.disabled = false;
      return;
    }
    for (const run of page.runs) {
      const row = document.createElement('tr');
      fill(row, run);
      body.appendChild(row);
    }
    offset += page.runs.length;
    status.textContent = offset === 0 ? emptyText : '';
    more.hidden = page.runs.length < PAGE_SIZE;
    more.disabled = false;
    return page;
  }
  more.onclick = load;
  return load();
}

// Shows the board of a difficulty.
function showBoard(board) {
  lastBoard = board;
  selectTab(board);
  showSection('board-view');
  document.getElementById('board-title').textContent = TITLES[board];
  document.title = `${TITLES[board]} · Zarquill board`;
  pagedTable(
      document.getElementById('board-view'),
      (offset) => `/api/v1/boards/${board}?limit=${PAGE_SIZE}&offset=${offset}`,
      (row, run) => {
        addCell(row, 'rank', String(run.rank));
        addCell(row, 'name', '').appendChild(playerLink(run.name));
        const score = addCell(row, 'score', scoreText(run.score));
        score.title = `verified: ${VERIFIED_SENTENCE}`;
        addCell(row, 'date', dateText(run.date));
        addCell(row, 'length', lengthText(run.frames));
        addReplayCell(row, run.id);
      },
      `No verified runs on ${TITLES[board]} yet.`);
}

// Shows a player's verified runs.
function showPlayer(name) {
  selectTab(null);
  showSection('player-view');
  document.getElementById('player-back').href = '#' + lastBoard;
  const title = document.getElementById('player-title');
  title.textContent = name;
  document.title = `${name} · Zarquill board`;
  pagedTable(
      document.getElementById('player-view'),
      (offset) => `/api/v1/players/${encodeURIComponent(name)}?limit=${PAGE_SIZE}` +
          `&offset=${offset}`,
      (row, run) => {
        // The stored spelling of the name, which may differ in letter case from the address.
        if (typeof run.name === 'string') title.textContent = run.name;
        addCell(row, 'board', TITLES[run.difficulty] || String(run.difficulty));
        addCell(row, 'score', scoreText(run.score ?? run.claimed_score));
        const state = addCell(row, 'state', '');
        const label = document.createElement('span');
        label.className = run.state === 'verified' ? 'verified' : 'unverified';
        label.textContent = String(run.state);
        if (run.state === 'verified') label.title = VERIFIED_SENTENCE;
        state.appendChild(label);
        // A place only for the name's best run on its board.
        addCell(row, 'rank', typeof run.rank === 'number' ? `#${run.rank}` : '');
        addCell(row, 'date', dateText(run.date));
        addCell(row, 'length', lengthText(run.frames));
        addReplayCell(row, run.id);
      },
      'No verified runs under this name.');
}

// Returns the addresses of the viewer's files (files.json), or null when the
// server has no viewer or they cannot be read.
async function loadViewerFiles() {
  try {
    const reply = await fetch('/viewer/files.json', {headers: {Accept: 'application/json'}});
    if (!reply.ok) return null;
    const files = await reply.json();
    for (const name of ['pack.js', 'viewer.js', 'zarquill-viewer.js', 'zarquill-viewer.wasm',
                        'zarquill-viewer-data.bin']) {
      if (typeof files[name] !== 'string' || !files[name].startsWith('/viewer/')) return null;
    }
    return files;
  } catch (e) {
    return null;
  }
}

// Returns the viewer on the page's canvas, loading its script and program the first time.
function startViewer() {
  if (!viewerPromise) {
    // The shared loader first, then the viewer's glue that uses it.
    const loadScript = (name) => new Promise((resolve, reject) => {
      const script = document.createElement('script');
      script.src = viewerFiles[name];
      script.onload = resolve;
      script.onerror = () => reject(new Error('the viewer could not be loaded'));
      document.head.appendChild(script);
    });
    viewerPromise = loadScript('pack.js').then(() => loadScript('viewer.js')).then(() => window.ZarquillViewer.start(document.getElementById('watch-canvas'),
                                               viewerFiles)).then((viewer) => {
      viewerStarted = viewer;
      // Sound switched on while the viewer was loading.
      if (document.getElementById('watch-sound').getAttribute('aria-pressed') === 'true') {
        viewer.setSound(true);
      }
      return viewer;
    });
    // A failed start may be tried again on the next Watch.
    viewerPromise.catch(() => {
      viewerPromise = null;
    });
  }
  return viewerPromise;
}

// Fetches a run's replay as bytes; throws an Error with the reason.
async function getReplay(id) {
  let reply;
  try {
    reply = await fetch(`/api/v1/runs/${encodeURIComponent(id)}/replay`);
  } catch (e) {
    throw new Error('the server cannot be reached');
  }
  if (!reply.ok) throw new Error(reply.status === 404 ? 'no such run' : `error ${reply.status}`);
  return new Uint8Array(await reply.arrayBuffer());
}

// Shows the playback state on the controls and the status line.
function showPlayback(p) {
  const status = document.getElementById('watch-status');
  const pause = document.getElementById('watch-pause');
  const r = p.last;
  pause.disabled = r.state !== 'playing';
  pause.textContent = p.paused ? 'Resume' : 'Pause';
  for (const button of document.querySelectorAll('#watch-view .speeds button')) {
    button.setAttribute('aria-pressed', String(Number(button.dataset.speed) === p.speed));
  }
  if (r.state === 'finished') {
    status.textContent = `Finished · score ${scoreText(r.score)}`;
  } else if (r.state === 'desync') {
    status.textContent = `This run does not play the same here (step ${r.desyncStep})`;
  } else {
    status.textContent = `Step ${r.step} of ${r.steps} · score ${scoreText(r.score)}`;
  }
}

// Plays the steps the time since the last frame is worth at the chosen speed
// (1x = 60 steps a second), then asks for the next frame while the run goes on.
function playFrame(p, now) {
  if (playback !== p) return;
  if (!p.paused) {
    const seconds = p.lastTime === null ? 0 : Math.min((now - p.lastTime) / 1000,
                                                       MAX_CATCH_UP_SECONDS);
    p.owed += seconds * STEPS_PER_SECOND * p.speed;
    const n = Math.floor(p.owed);
    if (n > 0) {
      p.owed -= n;
      try {
        p.last = p.viewer.advance(n, now);
      } catch (e) {
        // The program stopped (out of memory, a fault): say so instead of freezing.
        document.getElementById('watch-status').textContent =
            `The run could not be played on: ${e.message}.`;
        document.getElementById('watch-pause').disabled = true;
        return;
      }
      showPlayback(p);
    }
  }
  p.lastTime = now;
  if (p.last.state === 'playing') p.frame = requestAnimationFrame((t) => playFrame(p, t));
}

// Stops the run being played back, if any.
function stopPlayback() {
  if (playback && playback.frame) cancelAnimationFrame(playback.frame);
  playback = null;
}

// Shows a run played back by the viewer.
async function showWatch(id) {
  const view = ++viewNumber;
  selectTab(null);
  showSection('watch-view');
  document.getElementById('watch-back').href = '#' + lastBoard;
  document.getElementById('watch-download').href = `/api/v1/runs/${encodeURIComponent(id)}/replay`;
  const title = document.getElementById('watch-title');
  const status = document.getElementById('watch-status');
  const pause = document.getElementById('watch-pause');
  title.textContent = `Run ${id}`;
  document.title = `Run ${id} · Zarquill board`;
  pause.disabled = true;
  if (!viewerFiles) {
    status.textContent = 'This server cannot play runs in the page; download the replay and ' +
        'watch it with zarquill --replay FILE.';
    return;
  }
  status.textContent = 'Loading…';
  let viewer, bytes;
  try {
    let run;
    [viewer, bytes, run] = await Promise.all([
      startViewer(), getReplay(id), getJson(`/api/v1/runs/${encodeURIComponent(id)}`)]);
    if (view !== viewNumber) return;
    const board = TITLES[run.difficulty] || String(run.difficulty);
    title.textContent = `${run.name} · ${board}`;
    document.title = `${run.name} · ${board} · Zarquill board`;
  } catch (e) {
    if (view === viewNumber) status.textContent = `The run could not be played: ${e.message}.`;
    return;
  }
  let loaded, first;
  try {
    loaded = viewer.load(bytes);
    // The viewer gives the canvas the replay's logical size; the style sheet scales it.
    if (loaded.ok) first = viewer.advance(1);
  } catch (e) {
    status.textContent = `The run could not be played: ${e.message}.`;
    return;
  }
  if (!loaded.ok) {
    status.textContent = loaded.kind === 'rules' ? OLD_RULES_TEXT
                                                 : `The replay cannot be read: ${loaded.message}.`;
    return;
  }
  const p = {viewer, speed: 1, paused: false, owed: 0, lastTime: null, frame: 0, last: first};
  playback = p;
  showPlayback(p);
  if (p.last.state === 'playing') p.frame = requestAnimationFrame((t) => playFrame(p, t));
}

// Shows the view the address names; an unknown address shows the Easy board.
function route() {
  const hash = location.hash.slice(1);
  stopPlayback();
  if (/^watch\/[1-9][0-9]{0,17}$/.test(hash)) {
    showWatch(hash.slice('watch/'.length));
    return;
  }
  if (hash.startsWith('player/')) {
    let name = '';
    try {
      name = decodeURIComponent(hash.slice('player/'.length));
    } catch (e) {
      name = '';
    }
    if (name) {
      showPlayer(name);
      return;
    }
  }
  showBoard(BOARDS.includes(hash) ? hash : 'easy');
}

// Connects the playback controls: pause, speeds and sound.
function setUpControls() {
  document.getElementById('watch-pause').onclick = () => {
    if (!playback) return;
    playback.paused = !playback.paused;
    playback.lastTime = null;
    showPlayback(playback);
  };
  for (const button of document.querySelectorAll('#watch-view .speeds button')) {
    button.onclick = () => {
      if (!playback) return;
      playback.speed = SPEEDS.includes(Number(button.dataset.speed)) ? Number(button.dataset.speed)
                                                                     : 1;
      showPlayback(playback);
    };
  }
  // Sound starts only from the viewer's own press (browsers allow audio only then).
  const sound = document.getElementById('watch-sound');
  sound.onclick = () => {
    const on = sound.getAttribute('aria-pressed') !== 'true';
    sound.setAttribute('aria-pressed', String(on));
    sound.textContent = on ? 'Sound: on' : 'Sound: off';
    if (viewerStarted) viewerStarted.setSound(on);
  };
}

setUpControls();
window.addEventListener('hashchange', route);
loadViewerFiles().then((files) => {
  viewerFiles = files;
  route();
});

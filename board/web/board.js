// The board page's script: reads the address (#easy, #medium, #hard or
// #player/NAME), asks the server's API and fills the tables. Every text that
// comes from the server goes in through textContent, never as markup: names
// are whatever players typed.
'use strict';

const BOARDS = ['easy', 'medium', 'hard'];
const TITLES = {easy: 'Easy', medium: 'Medium', hard: 'Hard'};
const PAGE_SIZE = 50;
const STEPS_PER_SECOND = 60;
const VERIFIED_SENTENCE = 'the server re-played this run and got the same score';

// The view on screen; a new view makes answers for an older one go unused.
let viewNumber = 0;
let lastBoard = 'easy';

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
  if (!body || !Array.isArray(body.runs)) throw new Error('the server sent no list of runs');
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
        addCell(row, 'replay', '').appendChild(replayLink(run.id));
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
        addCell(row, 'replay', '').appendChild(replayLink(run.id));
      },
      'No verified runs under this name.');
}

// Shows the view the address names; an unknown address shows the Easy board.
function route() {
  const hash = location.hash.slice(1);
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

window.addEventListener('hashchange', route);
route();

// The script side of the browser build's file mirror (file_mirror.cpp) and
// console. The program's file system lives in memory (MEMFS), so the game's
// folder is kept in IndexedDB too: one database per origin, one object store
// whose keys are the paths under the folder and whose values are the files'
// bytes. Before main runs, every stored file is put back into the folder under
// the same name. Every durable save and removal is sent to the store at once;
// a write not yet confirmed is sent again when the page is hidden or left, as
// a last chance, never as the only one. A store that fails (quota, private
// browsing, no IndexedDB) is reported to the program (zqfs_problem) and on the
// console, and the game goes on with its files in memory.
//
// The page turns this on by naming the folder: Module.zqFilesFolder (for
// example "/zarquill"). A program whose page names none (the replay viewer, the
// replay checker under node) keeps no copies and reads no store.
//
// "Your files", for a program that links the page's side of it (the
// zq_your_files_* functions, exported): Module.zqFiles.exportArchive() gives
// the zip of the score file and replays, download(name) offers it as a file,
// importArchive(bytes) and importFile(file) merge one in and give the report.
mergeInto(LibraryManager.library, {
  $ZQFS__deps: ['$FS'],
  $ZQFS__postset: 'addOnPreRun(function () { ZQFS.preload(); });',
  $ZQFS: {
    dbName: 'zarquill-files',
    storeName: 'files',
    // The longest the program's start waits for the store before it goes on without it.
    openTimeoutMs: 10000,
    folder: '',         // the game's folder, ending in "/"; "" when nothing is mirrored
    db: null,
    problem: '',
    pending: null,      // Map: key -> bytes (or null for a removal) not yet confirmed
    started: 0,         // transactions started
    confirmed: 0,       // transactions that completed
    lastMs: 0,          // how long the last confirmed one took, start to completion

    // Records why copies are not being kept, once on the console.
    fail: function (why) {
      if (ZQFS.problem !== why) {
        console.warn('Zarquill: ' + why + '; the game goes on with its files in memory');
      }
      ZQFS.problem = why;
    },

    // Returns the store's key for an absolute or relative path, or null when
    // the path lies outside the game's folder.
    key: function (path) {
      if (!ZQFS.folder) return null;
      var abs = path.charAt(0) === '/' ? path : FS.cwd().replace(/\/?$/, '/') + path;
      var parts = [];
      abs.split('/').forEach(function (p) {
        if (p === '..') parts.pop(); else if (p !== '' && p !== '.') parts.push(p);
      });
      abs = '/' + parts.join('/');
      if (abs.indexOf(ZQFS.folder) !== 0 || abs.length === ZQFS.folder.length) return null;
      return abs.substring(ZQFS.folder.length);
    },

    // Tells whether a stored key may name a file in the folder.
    safeKey: function (key) {
      if (typeof key !== 'string' || key === '' || key.charAt(0) === '/') return false;
      return key.split('/').every(function (p) { return p !== '' && p !== '.' && p !== '..'; });
    },

    // Puts a stored file into the folder under its name.
    place: function (key, bytes) {
      if (!ZQFS.safeKey(key) || !(bytes instanceof Uint8Array)) {
        console.warn('Zarquill: a stored entry that names no file was left out: ' + key);
        return;
      }
      var path = ZQFS.folder + key;
      try {
        FS.mkdirTree(path.substring(0, path.lastIndexOf('/')));
        FS.writeFile(path, bytes);
      } catch (e) {
        console.warn('Zarquill: ' + key + ' could not be restored: ' + e);
      }
    },

    // Fills the folder from the store before main runs.
    preload: function () {
      var folder = Module['zqFilesFolder'];
      if (!folder) return;
      ZQFS.folder = String(folder).replace(/\/?$/, '/');
      // Made here: the library's objects are copied into the program as text.
      ZQFS.pending = new Map();
      Module['zqFiles'] = ZQFS;  // for the page: pending, problem, flush()
      try { FS.mkdirTree(ZQFS.folder.replace(/\/$/, '')); } catch (e) {}
      if (typeof addEventListener === 'function' && typeof document !== 'undefined') {
        addEventListener('pagehide', ZQFS.flush);
        document.addEventListener('visibilitychange', function () {
          if (document.visibilityState === 'hidden') ZQFS.flush();
        });
      }
      if (typeof navigator !== 'undefined' && navigator.storage && navigator.storage.persist) {
        navigator.storage.persist().catch(function () {});
      }
      var idb = typeof indexedDB !== 'undefined' ? indexedDB : null;
      if (!idb) {
        ZQFS.fail('IndexedDB unavailable');
        return;
      }
      addRunDependency('zq-files');
      var finished = false;
      var finish = function () {
        if (finished) return;
        finished = true;
        clearTimeout(timer);
        removeRunDependency('zq-files');
      };
      var timer = setTimeout(function () {
        ZQFS.fail('IndexedDB did not answer in ' + ZQFS.openTimeoutMs / 1000 + ' s');
        finish();
      }, ZQFS.openTimeoutMs);
      var request;
      try {
        request = idb.open(ZQFS.dbName, 1);
      } catch (e) {
        ZQFS.fail('IndexedDB cannot be opened: ' + e);
        finish();
        return;
      }
      request.onupgradeneeded = function () {
        request.result.createObjectStore(ZQFS.storeName);
      };
      request.onerror = function () {
        ZQFS.fail('IndexedDB cannot be opened: ' + (request.error ? request.error.name : 'error'));
        finish();
      };
      request.onsuccess = function () {
        var db = request.result;
        if (finished) { db.close(); return; }  // too late: this run goes on without it
        // Another tab upgrading the database asks this one to let go.
        db.onversionchange = function () { db.close(); ZQFS.db = null; };
        try {
          var tx = db.transaction(ZQFS.storeName, 'readonly');
          var cursor = tx.objectStore(ZQFS.storeName).openCursor();
          cursor.onsuccess = function () {
            var c = cursor.result;
            if (!c) return;
            ZQFS.place(String(c.key), c.value);
            c.continue();
          };
          tx.oncomplete = function () { ZQFS.db = db; finish(); };
          tx.onabort = function () {
            ZQFS.fail('the stored files cannot be read: ' + (tx.error ? tx.error.name : 'aborted'));
            finish();
          };
        } catch (e) {
          ZQFS.fail('the stored files cannot be read: ' + e);
          finish();
        }
      };
    },

    // Sends writes (key -> bytes) and removals (key -> null) in one transaction.
    send: function (entries) {
      if (!ZQFS.db) {
        ZQFS.fail(ZQFS.problem || 'IndexedDB unavailable');
        return;
      }
      var t0 = performance.now();
      ZQFS.started++;
      var tx = null;
      try {
        tx = ZQFS.db.transaction(ZQFS.storeName, 'readwrite');
        var store = tx.objectStore(ZQFS.storeName);
        entries.forEach(function (e) {
          if (e[1] === null) store.delete(e[0]); else store.put(e[1], e[0]);
        });
        tx.oncomplete = function () {
          ZQFS.confirmed++;
          ZQFS.lastMs = performance.now() - t0;
          entries.forEach(function (e) {
            if (ZQFS.pending.get(e[0]) === e[1]) ZQFS.pending.delete(e[0]);
          });
          if (ZQFS.pending.size === 0) ZQFS.problem = '';
        };
        tx.onabort = function () {
          ZQFS.fail('a copy of ' + entries.map(function (e) { return e[0]; }).join(', ') +
                    ' was not kept (' + (tx.error ? tx.error.name : 'aborted') + ')');
        };
      } catch (e) {
        // Nothing of a transaction that failed half-way is committed.
        try { if (tx) tx.abort(); } catch (ignored) {}
        ZQFS.fail('a copy of ' + entries.map(function (e) { return e[0]; }).join(', ') +
                  ' was not kept (' + (e && e.name ? e.name : e) + ')');
      }
    },

    // Sends every write and removal not confirmed yet, as one transaction.
    flush: function () {
      if (ZQFS.pending.size === 0 || !ZQFS.db) return;
      ZQFS.send(Array.from(ZQFS.pending.entries()));
    },

    // Returns the program's "Your files" entry point name, or throws when it has none.
    yourFiles: function (name) {
      var f = Module['_zq_your_files_' + name];
      if (typeof f !== 'function') throw new Error('this program keeps no archive of the files');
      return f;
    },

    // Returns the last "Your files" call's report.
    report: function () {
      return JSON.parse(UTF8ToString(ZQFS.yourFiles('report')()));
    },

    // Returns the archive of the player's files as bytes; throws with the reason when there is none.
    exportArchive: function () {
      var ok = ZQFS.yourFiles('export')();
      var report = ZQFS.report();
      if (!ok) throw new Error(report.problems.join('; '));
      var at = ZQFS.yourFiles('archive')();
      return HEAPU8.slice(at, at + ZQFS.yourFiles('archive_size')());
    },

    // Offers the archive as a download called name; returns its size.
    download: function (name) {
      var bytes = ZQFS.exportArchive();
      var url = URL.createObjectURL(new Blob([bytes], { type: 'application/zip' }));
      var a = document.createElement('a');
      a.href = url;
      a.download = name || 'zarquill-files.zip';
      document.body.appendChild(a);
      a.click();
      a.remove();
      // Let go of the bytes once the browser has surely taken them.
      setTimeout(function () { URL.revokeObjectURL(url); }, 60000);
      return bytes.length;
    },

    // Merges an archive's bytes into the stored files; returns the report.
    importArchive: function (bytes) {
      var at = ZQFS.yourFiles('buffer')(bytes.length);
      if (!at) return { ok: false, problems: ['the archive is larger than 256 MiB'] };
      HEAPU8.set(bytes, at);
      ZQFS.yourFiles('import')();
      return ZQFS.report();
    },

    // Merges an archive the player picked (a File of an <input type="file">); a promise of the report.
    importFile: function (file) {
      // The archive reader's own cap: nothing larger is copied into the program.
      if (file.size > 256 * 1024 * 1024) {
        return Promise.resolve({ ok: false, problems: ['the archive is larger than 256 MiB'] });
      }
      return file.arrayBuffer().then(function (buffer) {
        return ZQFS.importArchive(new Uint8Array(buffer));
      });
    },

    // Keeps a copy of the file at path, as its bytes are now.
    written: function (path) {
      var key = ZQFS.key(path);
      if (key === null) return;
      var bytes;
      try { bytes = FS.readFile(ZQFS.folder + key); } catch (e) { return; }
      ZQFS.pending.set(key, bytes);
      ZQFS.send([[key, bytes]]);
    },

    // Drops the copy of the file at path.
    removed: function (path) {
      var key = ZQFS.key(path);
      if (key === null) return;
      ZQFS.pending.set(key, null);
      ZQFS.send([[key, null]]);
    },
  },

  zqfs_written__deps: ['$ZQFS'],
  zqfs_written: function (path) { ZQFS.written(UTF8ToString(path)); },
  zqfs_removed__deps: ['$ZQFS'],
  zqfs_removed: function (path) { ZQFS.removed(UTF8ToString(path)); },
  zqfs_problem__deps: ['$ZQFS'],
  zqfs_problem: function (out, size) { return stringToUTF8(ZQFS.problem, out, size); },
  // Log lines are one byte per character (Latin-1), as Debug.txt holds them.
  // Programs under node keep their standard output to themselves.
  zqfs_console__deps: ['$ZQFS'],
  zqfs_console: function (text, length, warning) {
    if (typeof process !== 'undefined' && process.versions && process.versions.node) return;
    var s = '';
    for (var i = 0; i < length; i++) s += String.fromCharCode(HEAPU8[text + i]);
    if (warning) console.warn(s); else console.log(s);
  },
});

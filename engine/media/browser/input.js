// The script side of the browser build's input (input.cpp): the canvas's keys, mouse and
// touches, pointer lock, the hidden text field that brings up a phone's on-screen keyboard, and
// the Gamepad API. Events wait in one queue, in the order they came, until the program's next
// input query takes them (zqin_take): a handler never calls into the program, so nothing here
// runs in the middle of a frame's work. Positions go over as fractions of the canvas as shown;
// the program turns them into its window's pixels, whatever size the page scaled the canvas to.
mergeInto(LibraryManager.library, {
  $ZQIN: {
    // Event kinds, as input.cpp reads them.
    KEY: 1, CHAR: 2, BUTTON: 3, AT: 4, MOVE: 5, RELEASE: 6,
    // Events beyond this many while the program takes none (a page in the background) are
    // dropped; everything held is let go instead, so that no key stays down.
    MOST_EVENTS: 4096,
    // The field's text when idle: one character, so that Backspace on a phone's keyboard
    // has something to delete and so reaches the page.
    FIELD_REST: ' ',
    canvas: null, field: null, queue: [],
    lockWanted: false, hadLock: false, lockLost: false, touchRelative: false, textWanted: false,
    // Held fingers by touch identifier: {button, mover, x, y}.
    fingers: {},
    // Mouse buttons held, by the program's number (1 left, 2 right, 3 middle).
    mouseHeld: [false, false, false, false],
    fieldText: ' ',
    padAt: -1e9, padList: [],

    push: function (kind, a, b, c) {
      var q = ZQIN.queue, last = q.length ? q[q.length - 1] : null;
      // A run of moves is one move: a busy mouse cannot fill the queue.
      if (last && kind === ZQIN.AT && last[0] === ZQIN.AT) { last[1] = a; last[2] = b; return; }
      if (last && kind === ZQIN.MOVE && last[0] === ZQIN.MOVE) {
        last[1] += a;
        last[2] += b;
        return;
      }
      if (q.length >= ZQIN.MOST_EVENTS) {
        ZQIN.queue = q = [[ZQIN.RELEASE, 0, 0, 0]];
        ZQIN.forgetHeld();
      }
      q.push([kind, a, b || 0, c || 0]);
    },
    forgetHeld: function () {
      ZQIN.fingers = {};
      ZQIN.mouseHeld = [false, false, false, false];
    },
    releaseAll: function () {
      ZQIN.forgetHeld();
      ZQIN.push(ZQIN.RELEASE, 0, 0, 0);
    },
    locked: function () {
      return !!ZQIN.canvas && document.pointerLockElement === ZQIN.canvas;
    },
    // Queues the pointer at a page position, as a fraction of the canvas (kept inside it).
    pushAt: function (clientX, clientY) {
      var r = ZQIN.canvas.getBoundingClientRect();
      if (!(r.width > 0 && r.height > 0)) return;
      var fx = Math.min(1, Math.max(0, (clientX - r.left) / r.width));
      var fy = Math.min(1, Math.max(0, (clientY - r.top) / r.height));
      ZQIN.push(ZQIN.AT, fx, fy, 0);
    },
    // Queues a relative move of dx, dy page pixels, as a fraction of the canvas.
    pushMove: function (dx, dy) {
      var r = ZQIN.canvas.getBoundingClientRect();
      if (!(r.width > 0 && r.height > 0) || !(isFinite(dx) && isFinite(dy))) return;
      if (dx || dy) ZQIN.push(ZQIN.MOVE, dx / r.width, dy / r.height, 0);
    },

    // --- Keys ------------------------------------------------------------------------
    // Keys told apart by place (left and right modifiers, the numeric pad, media keys).
    BY_CODE: {
      ShiftLeft: 160, ShiftRight: 161, ControlLeft: 162, ControlRight: 163, AltLeft: 164,
      AltRight: 165, MetaLeft: 91, MetaRight: 92, OSLeft: 91, OSRight: 92,
      NumpadMultiply: 106, NumpadAdd: 107, NumpadComma: 108, NumpadSubtract: 109,
      NumpadDecimal: 110, NumpadDivide: 111, NumpadEnter: 13,
      AudioVolumeMute: 173, AudioVolumeDown: 174, AudioVolumeUp: 175,
    },
    // Returns the code of punctuation by the character its key types unshifted, as the
    // desktop names it, or 0. (A function: the library's object keys must be plain names.)
    punctuationByKey: function (key) {
      var at = typeof key === 'string' && key.length === 1 ? ";=,-./'[\\]#`<".indexOf(key) : -1;
      return at < 0 ? 0 : [186, 187, 188, 189, 190, 191, 192, 219, 220, 221, 222, 223, 226][at];
    },
    // ... or, shifted or on other layouts, by its place on a US keyboard. keyCode differs
    // between browsers for these (Firefox's minus is 173, the mute key elsewhere).
    PUNCTUATION_BY_PLACE: {
      Semicolon: 186, Equal: 187, Comma: 188, Minus: 189, Period: 190, Slash: 191, Quote: 192,
      BracketLeft: 219, Backslash: 220, BracketRight: 221, Backquote: 223, IntlBackslash: 226,
    },
    // Returns the program's key code of a key event, 0 for a key it has no code for.
    keyCodeOf: function (e) {
      var code = e.code || '';
      if (ZQIN.BY_CODE[code]) return ZQIN.BY_CODE[code];
      var pad = /^Numpad([0-9])$/.exec(code);
      if (pad) return 96 + Number(pad[1]);
      var punctuation = e.shiftKey ? 0 : ZQIN.punctuationByKey(e.key);
      if (punctuation) return punctuation;
      if (ZQIN.PUNCTUATION_BY_PLACE[code]) return ZQIN.PUNCTUATION_BY_PLACE[code];
      var k = e.keyCode | 0;
      if (k === 8 || k === 9 || k === 12 || k === 13 || k === 19 || k === 20 || k === 27 ||
          (k >= 32 && k <= 46) || (k >= 48 && k <= 57) || (k >= 65 && k <= 90) ||
          (k >= 112 && k <= 123) || k === 144 || k === 145) {
        return k;
      }
      return 0;
    },
    // Returns the code point a key press types (control characters as the desktop types
    // them), 0 for none.
    typedOf: function (e) {
      var named = {Backspace: 8, Tab: 9, Enter: 13, Escape: 27, Delete: 127};
      if (named[e.key]) return named[e.key];
      if ((e.ctrlKey && !e.altKey) || e.metaKey || typeof e.key !== 'string') return 0;
      var cp = e.key.codePointAt(0);
      if (!(cp >= 32) || String.fromCodePoint(cp) !== e.key) return 0;
      return cp;
    },
    // Returns whether the browser keeps a key: its shortcuts with Ctrl or Meta, reload,
    // full screen and the developer tools.
    browserKeeps: function (e, code) {
      return e.ctrlKey || e.metaKey || code === 116 || code === 122 || code === 123;
    },
    onKey: function (e, pressed) {
      if (e.isComposing || e.keyCode === 229) return;  // the field's input event has it
      var code = ZQIN.keyCodeOf(e);
      var typed = pressed ? ZQIN.typedOf(e) : 0;
      if (code) ZQIN.push(ZQIN.KEY, code, pressed ? 1 : 0, pressed && e.repeat ? 1 : 0);
      if (typed) ZQIN.push(ZQIN.CHAR, typed, 0, 0);
      if ((code || typed) && !ZQIN.browserKeeps(e, code)) e.preventDefault();
    },

    // --- Mouse -----------------------------------------------------------------------
    // Returns the program's button of a DOM button (0 left, 1 middle, 2 right), or 0.
    buttonOf: function (domButton) {
      return domButton === 0 ? 1 : domButton === 2 ? 2 : domButton === 1 ? 3 : 0;
    },
    // Asks for the pointer lock; the browser grants it only inside a click's handler.
    askLock: function () {
      var c = ZQIN.canvas;
      if (!ZQIN.lockWanted || ZQIN.locked() || !c.requestPointerLock) return;
      // A refusal (a rejected promise, or pointerlockerror) leaves the plain pointer.
      try {
        var promise = c.requestPointerLock();
        if (promise && promise.catch) promise.catch(function () {});
      } catch (err) {}
    },
    onMouseDown: function (e) {
      // A touch screen's compatibility mouse events: the touch handlers had the touch.
      if (e.sourceCapabilities && e.sourceCapabilities.firesTouchEvents) return;
      var b = ZQIN.buttonOf(e.button);
      if (e.currentTarget === ZQIN.canvas) {
        ZQIN.canvas.focus({preventScroll: true});
        e.preventDefault();  // no text selection, no dragging; focus is given above
      }
      ZQIN.askLock();
      if (!b) return;
      if (!ZQIN.locked()) ZQIN.pushAt(e.clientX, e.clientY);
      ZQIN.mouseHeld[b] = true;
      ZQIN.push(ZQIN.BUTTON, b, 1, 0);
    },
    onMouseUp: function (e) {
      var b = ZQIN.buttonOf(e.button);
      // Only the buttons pressed over the canvas are released (anywhere, as a drag ends).
      if (!b || !ZQIN.mouseHeld[b]) return;
      if (!ZQIN.locked()) ZQIN.pushAt(e.clientX, e.clientY);
      ZQIN.mouseHeld[b] = false;
      ZQIN.push(ZQIN.BUTTON, b, 0, 0);
    },
    onMouseMove: function (e) {
      if (ZQIN.locked()) {
        ZQIN.pushMove(e.movementX, e.movementY);
        return;
      }
      var over = e.target === ZQIN.canvas || e.target === ZQIN.field;
      if (over || ZQIN.mouseHeld[1] || ZQIN.mouseHeld[2] || ZQIN.mouseHeld[3]) {
        ZQIN.pushAt(e.clientX, e.clientY);
      }
    },

    // --- Touch -----------------------------------------------------------------------
    heldFingers: function () {
      var n = 0;
      for (var id in ZQIN.fingers) if (ZQIN.fingers.hasOwnProperty(id)) n++;
      return n;
    },
    onTouchStart: function (e) {
      e.preventDefault();  // no scrolling, zooming or mouse events made up from the touch
      ZQIN.canvas.focus({preventScroll: true});
      for (var i = 0; i < e.changedTouches.length; i++) {
        var t = e.changedTouches[i], n = ZQIN.heldFingers();
        // Relative: the first finger steers (holding right), a second fires in place
        // (holding left). Not relative: the first finger clicks where it is.
        var f = {button: 0, mover: false, relative: ZQIN.touchRelative,
                 x: t.clientX, y: t.clientY};
        if (ZQIN.touchRelative) {
          if (n === 0) { f.button = 2; f.mover = true; } else if (n === 1) f.button = 1;
        } else if (n === 0) {
          f.button = 1;
          f.mover = true;
          ZQIN.pushAt(t.clientX, t.clientY);
        }
        ZQIN.fingers[t.identifier] = f;
        if (f.button) ZQIN.push(ZQIN.BUTTON, f.button, 1, 0);
      }
    },
    onTouchMove: function (e) {
      e.preventDefault();
      for (var i = 0; i < e.changedTouches.length; i++) {
        var t = e.changedTouches[i], f = ZQIN.fingers[t.identifier];
        if (!f || !f.mover) continue;
        if (f.relative) ZQIN.pushMove(t.clientX - f.x, t.clientY - f.y);
        else ZQIN.pushAt(t.clientX, t.clientY);
        f.x = t.clientX;
        f.y = t.clientY;
      }
    },
    onTouchEnd: function (e) {
      e.preventDefault();
      for (var i = 0; i < e.changedTouches.length; i++) {
        var t = e.changedTouches[i], f = ZQIN.fingers[t.identifier];
        if (!f) continue;
        delete ZQIN.fingers[t.identifier];
        if (f.mover && !f.relative) ZQIN.pushAt(t.clientX, t.clientY);
        if (f.button) ZQIN.push(ZQIN.BUTTON, f.button, 0, 0);
      }
    },

    // --- The text field --------------------------------------------------------------
    // Lays the field over the canvas, so that a tap on it opens the keyboard instead of
    // clicking the game.
    placeField: function () {
      var f = ZQIN.field, r = ZQIN.canvas.getBoundingClientRect();
      f.style.left = r.left + 'px';
      f.style.top = r.top + 'px';
      f.style.width = r.width + 'px';
      f.style.height = r.height + 'px';
    },
    restField: function () {
      ZQIN.field.value = ZQIN.FIELD_REST;
      ZQIN.fieldText = ZQIN.FIELD_REST;
      try { ZQIN.field.setSelectionRange(1, 1); } catch (err) {}
    },
    // Turns what the field's text became into typed characters and Backspace presses: a
    // phone's keyboard sends no usable key events, only the text it changed.
    onFieldInput: function (e) {
      var before = Array.from(ZQIN.fieldText), after = Array.from(ZQIN.field.value);
      var same = 0;
      while (same < before.length && same < after.length && before[same] === after[same]) same++;
      for (var i = same; i < before.length; i++) {
        ZQIN.push(ZQIN.KEY, 8, 1, 0);
        ZQIN.push(ZQIN.CHAR, 8, 0, 0);
        ZQIN.push(ZQIN.KEY, 8, 0, 0);
      }
      for (var j = same; j < after.length; j++) {
        var cp = after[j].codePointAt(0);
        if (cp === 10 || cp === 13) {
          ZQIN.push(ZQIN.KEY, 13, 1, 0);
          ZQIN.push(ZQIN.CHAR, 13, 0, 0);
          ZQIN.push(ZQIN.KEY, 13, 0, 0);
        } else if (cp >= 32) {
          ZQIN.push(ZQIN.CHAR, cp, 0, 0);
        }
      }
      ZQIN.fieldText = ZQIN.field.value;
      if (!(e && e.isComposing)) ZQIN.restField();
    },
    makeField: function () {
      var f = document.createElement('input');
      f.type = 'text';
      f.autocomplete = 'off';
      f.spellcheck = false;
      f.setAttribute('autocapitalize', 'off');
      f.setAttribute('autocorrect', 'off');
      f.setAttribute('enterkeyhint', 'done');
      f.setAttribute('aria-label', 'Text for the game');
      // Invisible but focusable; 16px text so that no phone zooms in on it.
      f.style.cssText = 'position:fixed;display:none;opacity:0;border:0;margin:0;padding:0;' +
          'font-size:16px;background:transparent;color:transparent;caret-color:transparent;' +
          'z-index:2147483647;touch-action:manipulation;';
      f.addEventListener('keydown', function (e) { ZQIN.onKey(e, true); });
      f.addEventListener('keyup', function (e) { ZQIN.onKey(e, false); });
      f.addEventListener('input', ZQIN.onFieldInput);
      f.addEventListener('compositionend', function () { ZQIN.onFieldInput(null); });
      // A mouse click on it is the game's click (the name entry takes one as done); a tap
      // only opens the keyboard.
      f.addEventListener('mousedown', ZQIN.onMouseDown);
      f.addEventListener('contextmenu', function (e) { e.preventDefault(); });
      f.addEventListener('blur', function (e) {
        if (e.relatedTarget !== ZQIN.canvas) ZQIN.releaseAll();
      });
      document.body.appendChild(f);
      return f;
    },
  },

  zqin_install__deps: ['$ZQIN'],
  zqin_install: function () {
    var c = Module['canvas'];
    if (!c) return 0;
    if (ZQIN.canvas === c) return 1;
    ZQIN.canvas = c;
    if (c.tabIndex < 0) c.tabIndex = 0;
    c.style.touchAction = 'none';
    c.style.outline = 'none';
    c.style.userSelect = 'none';
    c.style.webkitTapHighlightColor = 'transparent';
    var active = {passive: false};
    c.addEventListener('keydown', function (e) { ZQIN.onKey(e, true); });
    c.addEventListener('keyup', function (e) { ZQIN.onKey(e, false); });
    c.addEventListener('mousedown', ZQIN.onMouseDown);
    window.addEventListener('mouseup', ZQIN.onMouseUp);
    window.addEventListener('mousemove', ZQIN.onMouseMove);
    c.addEventListener('contextmenu', function (e) { e.preventDefault(); });
    c.addEventListener('touchstart', ZQIN.onTouchStart, active);
    c.addEventListener('touchmove', ZQIN.onTouchMove, active);
    c.addEventListener('touchend', ZQIN.onTouchEnd, active);
    c.addEventListener('touchcancel', ZQIN.onTouchEnd, active);
    c.addEventListener('blur', function (e) {
      if (!ZQIN.field || e.relatedTarget !== ZQIN.field) ZQIN.releaseAll();
    });
    window.addEventListener('blur', ZQIN.releaseAll);
    document.addEventListener('visibilitychange', function () {
      if (document.visibilityState === 'hidden') ZQIN.releaseAll();
    });
    // A lock that ends while still wanted was ended by the player (Escape) or the browser.
    document.addEventListener('pointerlockchange', function () {
      if (!ZQIN.locked() && ZQIN.lockWanted && ZQIN.hadLock) ZQIN.lockLost = true;
      ZQIN.hadLock = ZQIN.locked();
    });
    window.addEventListener('resize', function () {
      if (ZQIN.textWanted) ZQIN.placeField();
    });
    ZQIN.field = ZQIN.makeField();
    c.focus({preventScroll: true});
    return 1;
  },

  zqin_take__deps: ['$ZQIN'],
  zqin_take: function (out, most) {
    var q = ZQIN.queue, n = Math.min(most, q.length), at = out >> 3;
    for (var i = 0; i < n; i++) {
      var e = q[i];
      HEAPF64[at++] = e[0];
      HEAPF64[at++] = e[1];
      HEAPF64[at++] = e[2];
      HEAPF64[at++] = e[3];
    }
    q.splice(0, n);
    return n;
  },

  zqin_lock_wanted__deps: ['$ZQIN'],
  zqin_lock_wanted: function (wanted) {
    // Asked every frame: only a change forgets a loss not yet taken.
    wanted = !!wanted;
    if (wanted === ZQIN.lockWanted) return;
    ZQIN.lockWanted = wanted;
    ZQIN.lockLost = false;
    if (!wanted && ZQIN.locked() && document.exitPointerLock) document.exitPointerLock();
  },

  zqin_lock_lost__deps: ['$ZQIN'],
  zqin_lock_lost: function () {
    var lost = ZQIN.lockLost;
    ZQIN.lockLost = false;
    return lost ? 1 : 0;
  },

  zqin_locked__deps: ['$ZQIN'],
  zqin_locked: function () { return ZQIN.locked() ? 1 : 0; },

  zqin_touch_relative__deps: ['$ZQIN'],
  zqin_touch_relative: function (relative) { ZQIN.touchRelative = !!relative; },

  zqin_text_wanted__deps: ['$ZQIN'],
  zqin_text_wanted: function (wanted) {
    wanted = !!wanted;
    var f = ZQIN.field;
    if (!f || wanted === ZQIN.textWanted) return;
    ZQIN.textWanted = wanted;
    if (wanted) {
      ZQIN.placeField();
      f.style.display = 'block';
      ZQIN.restField();
      f.focus({preventScroll: true});
    } else {
      var had = document.activeElement === f;
      f.style.display = 'none';
      if (had) ZQIN.canvas.focus({preventScroll: true});
    }
  },

  zqin_canvas_size__deps: ['$ZQIN'],
  zqin_canvas_size: function (size) {
    var c = ZQIN.canvas || Module['canvas'];
    HEAP32[size >> 2] = c ? c.width : 0;
    HEAP32[(size >> 2) + 1] = c ? c.height : 0;
  },

  // Gamepads: 0 when the browser has no Gamepad API, 2 when it hides it from this page (not a
  // secure one), else 1.
  zqin_pad_api: function () {
    if (typeof navigator !== 'undefined' && typeof navigator.getGamepads === 'function') return 1;
    return typeof window !== 'undefined' && window.isSecureContext === false ? 2 : 0;
  },

  // Reads the pads' state anew: returns how many ports there are (1 + the last one with a
  // connected pad, at most ports).
  zqin_pad_poll__deps: ['$ZQIN'],
  zqin_pad_poll: function (ports) {
    var list = [];
    try {
      list = navigator.getGamepads ? navigator.getGamepads() || [] : [];
    } catch (err) {
      list = [];  // a page the browser does not allow gamepads
    }
    ZQIN.padList = [];
    var count = 0;
    for (var i = 0; i < ports && i < list.length; i++) {
      var p = list[i];
      ZQIN.padList.push(p && p.connected ? p : null);
      if (p && p.connected) count = i + 1;
    }
    return count;
  },

  // Writes a port's buttons held (a bit each, 0..31), its analog sticks (axes, -1..1; up to
  // six) and name into the program's memory; returns the number of buttons, -1 when no pad
  // is there, and adds 1000 when it has the standard layout (d-pad on buttons 12..15).
  zqin_pad_read__deps: ['$ZQIN'],
  zqin_pad_read: function (port, held, axes, name, nameSize) {
    var p = ZQIN.padList[port];
    if (!p) return -1;
    var bits = 0, buttons = Math.min(p.buttons.length, 32);
    for (var b = 0; b < buttons; b++) {
      var button = p.buttons[b];
      if (button && (button.pressed || button.value > 0.5)) bits |= (1 << b);
    }
    HEAP32[held >> 2] = bits;
    for (var a = 0; a < 6; a++) {
      var v = a < p.axes.length ? Number(p.axes[a]) : 0;
      HEAPF64[(axes >> 3) + a] = isFinite(v) ? Math.max(-1, Math.min(1, v)) : 0;
    }
    // "Name (STANDARD GAMEPAD Vendor: 045e Product: 028e)" or "045e-028e-Name": the name.
    var text = String(p.id || '').replace(/\s*\([^()]*Vendor:[^()]*\)\s*$/, '')
        .replace(/^[0-9a-f]{1,4}-[0-9a-f]{1,4}-/i, '').replace(/[^\x20-\x7e]/g, '').trim();
    stringToUTF8(text.slice(0, 48), name, nameSize);
    return buttons + (p.mapping === 'standard' ? 1000 : 0);
  },
});

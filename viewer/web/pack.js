// The browser programs' shared loading (the viewer's and the game's): the
// bundle's files fetched as bytes, the emscripten loader, the data pack's
// pictures decoded with the browser's own decoder and handed to the program,
// and the pacer that lowers the picture's detail while frames come late.
// Offers window.ZarquillPack.
(function () {
  'use strict';

  const PACK_MAGIC = 'ZQVPACK1';
  // Caps matching the program's own pack reader.
  const MAX_ENTRIES = 4096;
  const MAX_NAME_BYTES = 255;
  // A frame that comes more than this long after the last one missed a 60 Hz refresh.
  const LATE_MS = 25;
  // The pacer judges frames in windows of this many: with LATE_FRAMES late ones the detail
  // goes down; with at most CALM_FRAMES late the window counts as calm.
  const WINDOW_FRAMES = 30;
  const LATE_FRAMES = 3;
  const CALM_FRAMES = 1;
  // Each change of detail scales the picture's sides by this much, never below MIN_DETAIL.
  const DETAIL_STEP = 0.85;
  const MIN_DETAIL = 0.5;
  // Calm windows in a row before the detail goes up again: 5 s, doubled (up to a minute)
  // each time a raise is undone within that time.
  const FIRST_WAIT = 10;
  const LONGEST_WAIT = 120;

  // Fetches one file of the bundle as bytes; throws with its name when it cannot.
  async function fetchBytes(url, name) {
    const response = await fetch(url, {credentials: 'same-origin'});
    if (!response.ok) throw new Error('cannot load ' + name + ' (' + response.status + ')');
    return new Uint8Array(await response.arrayBuffer());
  }

  // Loads an emscripten script once, unless window[global] is already there (the page's CSP
  // allows scripts of this server only).
  function loadScript(url, global) {
    if (window[global]) return Promise.resolve();
    return new Promise(function (resolve, reject) {
      const script = document.createElement('script');
      script.src = url;
      script.onload = function () { resolve(); };
      script.onerror = function () { reject(new Error('cannot load ' + url)); };
      document.head.appendChild(script);
    });
  }

  // Returns the pack's image entries {name, width, height, bytes}; the program checks the rest.
  function packImages(pack) {
    const view = new DataView(pack.buffer, pack.byteOffset, pack.byteLength);
    const text = new TextDecoder();
    if (pack.length < 16 || text.decode(pack.subarray(0, 8)) !== PACK_MAGIC) {
      throw new Error('the game data is not a data pack');
    }
    const end = pack.length - 4;
    const count = view.getUint32(8, true);
    if (count > MAX_ENTRIES) throw new Error('the data pack holds too many entries');
    const images = [];
    let at = 12;
    for (let i = 0; i < count; ++i) {
      if (at + 2 > end) throw new Error('the data pack is cut short');
      const nameBytes = view.getUint16(at, true);
      if (nameBytes === 0 || nameBytes > MAX_NAME_BYTES || at + 2 + nameBytes + 12 > end) {
        throw new Error('the data pack is damaged');
      }
      const name = text.decode(pack.subarray(at + 2, at + 2 + nameBytes));
      at += 2 + nameBytes;
      const a = view.getUint32(at, true), b = view.getUint32(at + 4, true);
      const size = view.getUint32(at + 8, true);
      at += 12;
      if (size > end - at) throw new Error('the data pack is cut short');
      if (name.endsWith('.png')) {
        images.push({name: name, width: a, height: b, bytes: pack.subarray(at, at + size)});
      }
      at += size;
    }
    return images;
  }

  // Decodes one PNG with the browser into straight (not premultiplied) RGBA bytes.
  async function decodeImage(image) {
    const blob = new Blob([image.bytes], {type: 'image/png'});
    const bitmap = await createImageBitmap(blob, {premultiplyAlpha: 'none',
                                                  colorSpaceConversion: 'none'});
    if (bitmap.width !== image.width || bitmap.height !== image.height) {
      throw new Error(image.name + ' is not the size the data pack names');
    }
    const canvas = typeof OffscreenCanvas === 'function'
      ? new OffscreenCanvas(bitmap.width, bitmap.height)
      : Object.assign(document.createElement('canvas'), {width: bitmap.width,
                                                         height: bitmap.height});
    const context = canvas.getContext('2d');
    context.drawImage(bitmap, 0, 0);
    bitmap.close();
    return context.getImageData(0, 0, image.width, image.height).data;
  }

  // Copies bytes into the program's memory, runs use(pointer) and frees them again.
  function withBytes(module, bytes, use) {
    const pointer = module._malloc(Math.max(bytes.length, 1));
    if (!pointer) throw new Error('out of memory');
    try {
      module.HEAPU8.set(bytes, pointer);
      return use(pointer);
    } finally {
      module._free(pointer);
    }
  }

  // Keeps frames coming on time where the browser draws without a graphics processor: while
  // frames come late it draws the picture with fewer pixels (which the page scales up), and
  // once they have come on time for a while it tries more again. Call frame(now) once a frame
  // with the frame's time in milliseconds (an animation frame's timestamp).
  function makePacer(module) {
    let detail = 1, last = null, frames = 0, late = 0, calm = 0, wait = FIRST_WAIT;
    let sinceRaise = Infinity;  // windows since the detail last went up
    function set(d) {
      detail = Math.min(1, Math.max(MIN_DETAIL, d));
      if (module.zqglDetail) module.zqglDetail(detail);
    }
    return {
      reset: function () {
        last = null;
        frames = late = calm = 0;
        wait = FIRST_WAIT;
        sinceRaise = Infinity;
        set(1);
      },
      frame: function (now) {
        const ms = last === null ? 0 : now - last;
        last = now;
        if (ms <= 0 || ms > 250) return;  // the first frame, or one after a pause
        frames += 1;
        if (ms > LATE_MS) late += 1;
        if (frames < WINDOW_FRAMES) return;
        sinceRaise += 1;
        if (late >= LATE_FRAMES && detail > MIN_DETAIL) {
          if (sinceRaise <= wait) wait = Math.min(2 * wait, LONGEST_WAIT);
          set(detail * DETAIL_STEP);
          calm = 0;
        } else if (late <= CALM_FRAMES) {
          calm += 1;
          if (calm >= wait && detail < 1) {
            set(detail / DETAIL_STEP);
            calm = 0;
            sinceRaise = 0;
          }
        } else {
          calm = 0;
        }
        frames = late = 0;
      },
      detail: function () { return detail; },
    };
  }

  // Decodes the pack's pictures and hands each to the program through add(namePointer, width,
  // height, pixelsPointer), which answers 1 when it kept it; throws naming one it did not.
  async function putImages(module, pack, add) {
    const images = packImages(pack);
    const pixels = await Promise.all(images.map(decodeImage));
    images.forEach(function (image, i) {
      const name = new TextEncoder().encode(image.name + '\0');
      withBytes(module, name, function (namePointer) {
        withBytes(module, pixels[i], function (p) {
          if (!add(namePointer, image.width, image.height, p)) {
            throw new Error('the program cannot keep ' + image.name);
          }
        });
      });
    });
  }

  window.ZarquillPack = {fetchBytes: fetchBytes, loadScript: loadScript, withBytes: withBytes,
                         putImages: putImages, makePacer: makePacer};
})();

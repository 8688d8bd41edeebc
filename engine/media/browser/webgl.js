// The script side of the browser build's WebGL drawing driver (webgl_driver.cpp):
// a WebGL 1 context on Module.canvas, textures by number, and one draw call per
// batch of quads (20-byte corners: x, y, u, v as floats, then r, g, b, a bytes).
// The drawing buffer is kept between frames: the game draws each frame over the last.
mergeInto(LibraryManager.library, {
  $ZQGL: {
    gl: null, programs: [], current: null, buffer: null, indices: null, textures: [null],
    width: 1, height: 1,
    // Where in the program's memory to count the contexts the browser gave back after taking
    // one away (zqgl_open's `restored`).
    restored: 0, canvas: null, onLost: null, onRestored: null,
    maxQuads: 16384,
    // One small program per kind of batch rather than one that branches on uniforms:
    // without a graphics processor every fragment runs on the processor, and a branch or
    // a discard a batch does not need costs on each of the million fragments of a frame.
    // Kinds: 0 colour only, 1 colour times an image, 2 colour with a font atlas's alpha;
    // plus 3 for the masked blend, which drops fragments below half alpha.
    build: function (gl, kind, masked) {
      var vs = 'attribute vec2 aPos; attribute vec2 aUV; attribute vec4 aColour;' +
        'uniform vec2 uProjection; varying vec2 vUV; varying vec4 vColour;' +
        'void main() { vUV = aUV; vColour = aColour;' +
        ' gl_Position = vec4(aPos.x * uProjection.x - 1.0, 1.0 - aPos.y * uProjection.y, 0.0, 1.0); }';
      var colour = ['vColour', 'vColour * texture2D(uTex, vUV)',
                    'vec4(vColour.rgb, vColour.a * texture2D(uTex, vUV).a)'][kind];
      var fs = 'precision mediump float; uniform sampler2D uTex; varying vec2 vUV;' +
        ' varying vec4 vColour; void main() { vec4 c = ' + colour + ';' +
        (masked ? ' if (c.a < 0.5) discard;' : '') + ' gl_FragColor = c; }';
      function shader(type, text) {
        var s = gl.createShader(type);
        gl.shaderSource(s, text);
        gl.compileShader(s);
        if (!gl.getShaderParameter(s, gl.COMPILE_STATUS)) throw new Error(gl.getShaderInfoLog(s));
        return s;
      }
      var p = gl.createProgram();
      gl.attachShader(p, shader(gl.VERTEX_SHADER, vs));
      gl.attachShader(p, shader(gl.FRAGMENT_SHADER, fs));
      gl.bindAttribLocation(p, 0, 'aPos');
      gl.bindAttribLocation(p, 1, 'aUV');
      gl.bindAttribLocation(p, 2, 'aColour');
      gl.linkProgram(p);
      if (!gl.getProgramParameter(p, gl.LINK_STATUS)) throw new Error(gl.getProgramInfoLog(p));
      gl.useProgram(p);
      gl.uniform1i(gl.getUniformLocation(p, 'uTex'), 0);
      return {program: p, uProjection: gl.getUniformLocation(p, 'uProjection'), width: 0, height: 0};
    },
    // Makes the programs, buffers and state of a new context; false when it cannot.
    setUp: function (gl) {
      try {
        ZQGL.programs = [];
        for (var kind = 0; kind < 3; ++kind) {
          ZQGL.programs.push(ZQGL.build(gl, kind, false), ZQGL.build(gl, kind, true));
        }
      } catch (e) {
        err('WebGL: ' + e.message);
        return false;
      }
      ZQGL.gl = gl;
      ZQGL.current = null;
      ZQGL.buffer = gl.createBuffer();
      gl.bindBuffer(gl.ARRAY_BUFFER, ZQGL.buffer);
      gl.enableVertexAttribArray(0);
      gl.enableVertexAttribArray(1);
      gl.enableVertexAttribArray(2);
      gl.vertexAttribPointer(0, 2, gl.FLOAT, false, 20, 0);
      gl.vertexAttribPointer(1, 2, gl.FLOAT, false, 20, 8);
      gl.vertexAttribPointer(2, 4, gl.UNSIGNED_BYTE, true, 20, 16);
      // Quads as two triangles each: corners 0 1 2 and 0 2 3.
      var idx = new Uint16Array(ZQGL.maxQuads * 6);
      for (var q = 0; q < ZQGL.maxQuads; ++q) {
        idx.set([4 * q, 4 * q + 1, 4 * q + 2, 4 * q, 4 * q + 2, 4 * q + 3], 6 * q);
      }
      ZQGL.indices = gl.createBuffer();
      gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, ZQGL.indices);
      gl.bufferData(gl.ELEMENT_ARRAY_BUFFER, idx, gl.STATIC_DRAW);
      gl.pixelStorei(gl.UNPACK_ALIGNMENT, 1);
      gl.disable(gl.DEPTH_TEST);
      gl.disable(gl.CULL_FACE);
      gl.viewport(0, 0, gl.canvas.width, gl.canvas.height);
      return true;
    },
    // Follows the canvas's context being taken away (a driver reset, too many pages with
    // contexts) and given back: the new context gets its programs and buffers here, and
    // the count in the program's memory tells the driver to upload its textures again.
    listen: function (canvas) {
      if (ZQGL.canvas === canvas) return;
      if (ZQGL.canvas) {
        ZQGL.canvas.removeEventListener('webglcontextlost', ZQGL.onLost);
        ZQGL.canvas.removeEventListener('webglcontextrestored', ZQGL.onRestored);
      }
      ZQGL.canvas = canvas;
      ZQGL.onLost = function (e) { e.preventDefault(); };  // asks for the context back
      ZQGL.onRestored = function () {
        ZQGL.programs = [];
        ZQGL.current = null;
        ZQGL.textures = [null];
        if (ZQGL.restored) HEAP32[ZQGL.restored >> 2] += 1;
        if (ZQGL.gl && !ZQGL.setUp(ZQGL.gl)) ZQGL.gl = null;
      };
      canvas.addEventListener('webglcontextlost', ZQGL.onLost);
      canvas.addEventListener('webglcontextrestored', ZQGL.onRestored);
    },
    // Returns the canvas's size at full detail for a logical width x height picture: the
    // logical size's shape, in the pixels the page shows it at, never more than the logical size.
    fullSize: function (canvas, width, height) {
      var shown = canvas.clientWidth * (window.devicePixelRatio || 1);
      if (!(shown > 0 && shown < width)) return [width, height];
      var w = Math.max(1, Math.round(shown));
      return [w, Math.max(1, Math.round(height * shown / width))];
    },
    // Makes program (kind, masked) current with the logical size's projection.
    use: function (kind, masked) {
      var gl = ZQGL.gl, p = ZQGL.programs[kind * 2 + (masked ? 1 : 0)];
      if (p !== ZQGL.current) {
        gl.useProgram(p.program);
        ZQGL.current = p;
      }
      if (p.width !== ZQGL.width || p.height !== ZQGL.height) {
        gl.uniform2f(p.uProjection, 2 / ZQGL.width, 2 / ZQGL.height);
        p.width = ZQGL.width;
        p.height = ZQGL.height;
      }
    },
  },

  zqgl_open__deps: ['$ZQGL'],
  zqgl_open: function (width, height, restored) {
    var canvas = Module['canvas'];
    if (!canvas) return 0;
    // The picture keeps the logical size's shape; its pixels are those the page shows it at
    // (never more than the logical size): a canvas shrunk to a phone's width, or to a part of
    // the window, costs the browser only the pixels seen, which matters without a graphics
    // processor. Coordinates stay logical (zqgl_resolution).
    canvas.width = width;
    canvas.height = height;
    var full = ZQGL.fullSize(canvas, width, height);
    canvas.width = full[0];
    canvas.height = full[1];
    canvas.style.imageRendering = '';
    ZQGL.restored = restored;
    var gl = canvas.getContext('webgl', {alpha: false, antialias: false, depth: false,
                                         stencil: false, preserveDrawingBuffer: true});
    if (!gl) return 0;
    ZQGL.listen(canvas);
    // Draws the picture with fewer pixels (scale of each side, at most 1), which the page
    // scales up smoothly: the page lowers the detail while frames come late (drawing without
    // a graphics processor) and raises it again, and asks for full detail with each new run.
    // The next frame starts from black.
    Module['zqglDetail'] = function (scale) {
      // Full detail is what the page shows now (the window may have changed since).
      var full = ZQGL.fullSize(canvas, width, height);
      scale = Math.min(1, Math.max(0.25, scale));
      var w = Math.max(1, Math.round(full[0] * scale));
      var h = Math.max(1, Math.round(full[1] * scale));
      if (w === canvas.width && h === canvas.height) return;
      canvas.width = w;
      canvas.height = h;
      canvas.style.imageRendering = scale < 1 ? 'auto' : '';
      if (ZQGL.gl) ZQGL.gl.viewport(0, 0, w, h);
    };
    ZQGL.width = width;
    ZQGL.height = height;
    if (!ZQGL.setUp(gl)) return 0;
    ZQGL.textures = [null];
    gl.clearColor(0, 0, 0, 1);
    gl.clear(gl.COLOR_BUFFER_BIT);
    return 1;
  },

  zqgl_pointer_visible: function (visible) {
    var canvas = Module['canvas'];
    if (canvas) canvas.style.cursor = visible ? '' : 'none';
  },

  zqgl_close__deps: ['$ZQGL'],
  zqgl_close: function () {
    var gl = ZQGL.gl;
    if (!gl) return;
    ZQGL.textures.forEach(function (t) { if (t) gl.deleteTexture(t); });
    ZQGL.textures = [null];
    gl.deleteBuffer(ZQGL.buffer);
    gl.deleteBuffer(ZQGL.indices);
    ZQGL.programs.forEach(function (p) { gl.deleteProgram(p.program); });
    ZQGL.programs = [];
    ZQGL.current = null;
    ZQGL.gl = null;
  },

  zqgl_resolution__deps: ['$ZQGL'],
  zqgl_resolution: function (width, height) {
    if (width > 0 && height > 0) {
      ZQGL.width = width;
      ZQGL.height = height;
    }
  },

  zqgl_clear__deps: ['$ZQGL'],
  zqgl_clear: function (r, g, b) {
    if (!ZQGL.gl) return;
    ZQGL.gl.clearColor(r, g, b, 1);
    ZQGL.gl.clear(ZQGL.gl.COLOR_BUFFER_BIT);
  },

  zqgl_texture_new__deps: ['$ZQGL'],
  zqgl_texture_new: function () {
    if (!ZQGL.gl) return 0;
    var t = ZQGL.gl.createTexture();
    if (!t) return 0;
    ZQGL.textures.push(t);
    return ZQGL.textures.length - 1;
  },

  zqgl_texture_upload__deps: ['$ZQGL'],
  zqgl_texture_upload: function (id, width, height, alphaOnly, filtered, pixels) {
    var gl = ZQGL.gl, t = ZQGL.textures[id];
    if (!gl || !t) return;
    gl.bindTexture(gl.TEXTURE_2D, t);
    var f = filtered ? gl.LINEAR : gl.NEAREST;
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, f);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, f);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_S, gl.CLAMP_TO_EDGE);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_T, gl.CLAMP_TO_EDGE);
    var format = alphaOnly ? gl.ALPHA : gl.RGBA;
    var bytes = HEAPU8.subarray(pixels, pixels + width * height * (alphaOnly ? 1 : 4));
    gl.texImage2D(gl.TEXTURE_2D, 0, format, width, height, 0, format, gl.UNSIGNED_BYTE, bytes);
  },

  zqgl_texture_delete__deps: ['$ZQGL'],
  zqgl_texture_delete: function (id) {
    var t = ZQGL.textures[id];
    if (!ZQGL.gl || !t) return;
    ZQGL.gl.deleteTexture(t);
    ZQGL.textures[id] = null;
  },

  // Blend modes as the game names them: 1 masked, 2 solid, 3 alpha, 4 light, 5 shade.
  zqgl_draw__deps: ['$ZQGL'],
  zqgl_draw: function (vertices, count, texture, alphaTexture, blend) {
    var gl = ZQGL.gl;
    if (!gl || count <= 0) return;
    var t = texture ? ZQGL.textures[texture] : null;
    if (texture && !t) return;
    if (t) gl.bindTexture(gl.TEXTURE_2D, t);
    ZQGL.use(t ? (alphaTexture ? 2 : 1) : 0, blend === 1);
    if (blend === 3) {
      gl.enable(gl.BLEND);
      gl.blendFunc(gl.SRC_ALPHA, gl.ONE_MINUS_SRC_ALPHA);
    } else if (blend === 4) {
      gl.enable(gl.BLEND);
      gl.blendFunc(gl.SRC_ALPHA, gl.ONE);
    } else if (blend === 5) {
      gl.enable(gl.BLEND);
      gl.blendFunc(gl.DST_COLOR, gl.ZERO);
    } else {
      gl.disable(gl.BLEND);
    }
    gl.bufferData(gl.ARRAY_BUFFER, HEAPU8.subarray(vertices, vertices + count * 20), gl.STREAM_DRAW);
    gl.drawElements(gl.TRIANGLES, (count / 4) * 6, gl.UNSIGNED_SHORT, 0);
  },
});

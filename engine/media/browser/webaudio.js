// The script side of the browser build's Web Audio driver (browser.cpp): voices
// and sounds by number on the page's AudioContext (Module.zqAudioContext, made
// by the page when the viewer switches sound on). Sounds with samples arrive as
// 16-bit PCM; compressed ones (Ogg Vorbis) are decoded with decodeAudioData, and
// a voice cued before its sound is ready starts once it is.
mergeInto(LibraryManager.library, {
  $ZQAU: {
    ctx: null, sounds: {}, voices: [null],
    // Starts a voice's sound from its offset when it is wanted, unpaused and decoded.
    begin: function (v) {
      var buffer = ZQAU.sounds[v.sound];
      if (!v.playing || v.paused || v.source || !(buffer instanceof AudioBuffer)) return;
      var src = ZQAU.ctx.createBufferSource();
      src.buffer = buffer;
      src.loop = v.loop;
      src.playbackRate.value = v.rate;
      src.connect(v.gain);
      src.onended = function () {
        if (v.source === src) { v.source = null; v.playing = false; }
      };
      v.startedAt = ZQAU.ctx.currentTime;
      src.start(0, v.offset % buffer.duration);
      v.source = src;
    },
    // Stops a voice's source, keeping where it got to.
    halt: function (v) {
      if (!v.source) return;
      var src = v.source;
      v.source = null;
      v.offset += (ZQAU.ctx.currentTime - v.startedAt) * v.rate;
      src.onended = null;
      try { src.stop(); } catch (e) {}
    },
    settings: function (v, volume, pan, rate) {
      v.gain.gain.value = volume;
      if (v.pan) v.pan.pan.value = pan;
      v.rate = rate;
      if (v.source) v.source.playbackRate.value = rate;
    },
  },

  zqau_start__deps: ['$ZQAU'],
  zqau_start: function () {
    var ctx = Module['zqAudioContext'];
    if (!ctx) return 0;
    ZQAU.ctx = ctx;
    ZQAU.sounds = {};
    ZQAU.voices = [null];
    return 1;
  },

  zqau_shutdown__deps: ['$ZQAU'],
  zqau_shutdown: function () {
    ZQAU.voices.forEach(function (v) { if (v) ZQAU.halt(v); });
    ZQAU.voices = [null];
    ZQAU.sounds = {};
    ZQAU.ctx = null;
  },

  zqau_voice_new__deps: ['$ZQAU'],
  zqau_voice_new: function () {
    var ctx = ZQAU.ctx;
    if (!ctx) return 0;
    var v = {sound: -1, loop: false, playing: false, paused: true, source: null, offset: 0,
             startedAt: 0, rate: 1, gain: ctx.createGain(),
             pan: ctx.createStereoPanner ? ctx.createStereoPanner() : null};
    if (v.pan) { v.gain.connect(v.pan); v.pan.connect(ctx.destination); }
    else v.gain.connect(ctx.destination);
    ZQAU.voices.push(v);
    return ZQAU.voices.length - 1;
  },

  zqau_sound_samples__deps: ['$ZQAU'],
  zqau_sound_samples: function (sound, samples, frames, channels, rate) {
    if (!ZQAU.ctx || frames <= 0 || channels < 1) return;
    var buffer;
    try {
      buffer = ZQAU.ctx.createBuffer(channels, frames, rate);
    } catch (e) {
      return;  // a rate Web Audio does not take: the sound stays silent
    }
    var pcm = HEAP16.subarray(samples >> 1, (samples >> 1) + frames * channels);
    for (var c = 0; c < channels; ++c) {
      var out = buffer.getChannelData(c);
      for (var i = 0; i < frames; ++i) out[i] = pcm[i * channels + c] / 32768;
    }
    ZQAU.sounds[sound] = buffer;
  },

  zqau_sound_compressed__deps: ['$ZQAU'],
  zqau_sound_compressed: function (sound, bytes, size) {
    var ctx = ZQAU.ctx;
    if (!ctx) return;
    var copy = HEAPU8.slice(bytes, bytes + size).buffer;
    ZQAU.sounds[sound] = 'decoding';
    ctx.decodeAudioData(copy).then(function (buffer) {
      if (ZQAU.ctx !== ctx) return;
      ZQAU.sounds[sound] = buffer;
      ZQAU.voices.forEach(function (v) { if (v && v.sound === sound) ZQAU.begin(v); });
    }, function () {
      if (ZQAU.ctx === ctx) ZQAU.sounds[sound] = 'unplayable';
    });
  },

  zqau_cue__deps: ['$ZQAU'],
  zqau_cue: function (voice, sound, loop, volume, pan, rate) {
    var v = ZQAU.voices[voice];
    if (!v) return;
    ZQAU.halt(v);
    v.sound = sound;
    v.loop = !!loop;
    v.offset = 0;
    v.paused = true;
    v.playing = ZQAU.sounds[sound] !== 'unplayable';
    ZQAU.settings(v, volume, pan, rate);
  },

  zqau_stop__deps: ['$ZQAU'],
  zqau_stop: function (voice) {
    var v = ZQAU.voices[voice];
    if (!v) return;
    ZQAU.halt(v);
    v.playing = false;
  },

  zqau_pause__deps: ['$ZQAU'],
  zqau_pause: function (voice, paused) {
    var v = ZQAU.voices[voice];
    if (!v) return;
    v.paused = !!paused;
    if (v.paused) ZQAU.halt(v); else ZQAU.begin(v);
  },

  zqau_apply__deps: ['$ZQAU'],
  zqau_apply: function (voice, volume, pan, rate) {
    var v = ZQAU.voices[voice];
    if (v) ZQAU.settings(v, volume, pan, rate);
  },

  zqau_playing__deps: ['$ZQAU'],
  zqau_playing: function (voice) {
    var v = ZQAU.voices[voice];
    return v && v.playing ? 1 : 0;
  },
});

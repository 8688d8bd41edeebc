// The game's numbered sound effects (001.wav ..) and the start-up jingle "open.ogg".
// Every effect is synthesised, mono 16-bit at 44.1 kHz, and normalised below full scale
// so nothing clips.
#include <cmath>
#include <cstdio>
#include <functional>

#include "tools/assetgen/assetgen.h"
#include "tools/assetgen/synth.h"

namespace assetgen {

using Samples = std::vector<float>;

// Returns n samples of silence for a duration in seconds.
static Samples Buffer(float seconds) {
    return Samples(static_cast<size_t>(seconds * kRate), 0.0f);
}

static float T(size_t i) {
    return static_cast<float>(i) / kRate;
}

// A laser: a pulse wave whose pitch falls fast, through a closing low-pass.
static Samples Laser(float from, float to, float len, float width) {
    Samples s = Buffer(len);
    Phase ph;
    Svf f;
    for (size_t i = 0; i < s.size(); ++i) {
        float t = T(i), k = t / len;
        float hz = to + (from - to) * std::exp(-k * 5);
        float v = SquareBlep(ph.Step(hz), hz / kRate, width);
        s[i] = f.Run(v, 6000 * (1 - k) + 800, 0.5f) * Env(t, 0.002f, len * 0.35f);
    }
    return s;
}

// An explosion: filtered noise with a falling cutoff, a pitch-dropping thump, optional crackle
// and an optional metallic ring.
static Samples Explosion(uint64_t seed, float len, float cutoff, float thump_hz, float crackle,
                         float ring) {
    Samples s = Buffer(len);
    Noise n(seed);
    Rng rng(seed + 1);
    Svf f, f2;
    Phase thump, r1, r2, r3;
    float crack = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        float t = T(i), k = t / len;
        float body = f.Run(n.Next(), cutoff * std::exp(-k * 3) + 120, 0.7f);
        body = f2.Run(body, cutoff * 1.5f * std::exp(-k * 2) + 200, 1.0f);
        float env = Env(t, 0.004f, len * 0.28f);
        float th_hz = thump_hz * (0.35f + 0.65f * std::exp(-t * 9));
        float th = std::sin(2 * kPi * thump.Step(th_hz)) * Env(t, 0.002f, 0.12f);
        if (crackle > 0 && rng.Real(0, 1) < crackle * (1 - k) * 0.004f) crack = rng.Real(0.5f, 1);
        crack *= 0.97f;
        float cr = crack * n.Next();
        float rg = 0;
        if (ring > 0) {
            rg = (std::sin(2 * kPi * r1.Step(371)) + 0.7f * std::sin(2 * kPi * r2.Step(563)) +
                  0.5f * std::sin(2 * kPi * r3.Step(947))) *
                 Env(t, 0.001f, 0.25f) * ring;
        }
        s[i] = body * env * 1.6f + th * 0.9f + cr * 0.5f + rg * 0.3f;
    }
    return s;
}

// A short hit: a burst of partials (frequencies and decay) over a noise transient.
static Samples Hit(uint64_t seed, float len, std::vector<float> partials, float decay, float noise,
                   float noise_hz) {
    Samples s = Buffer(len);
    Noise n(seed);
    Svf f;
    std::vector<Phase> ph(partials.size());
    for (size_t i = 0; i < s.size(); ++i) {
        float t = T(i);
        float v = 0;
        for (size_t p = 0; p < partials.size(); ++p)
            v += std::sin(2 * kPi * ph[p].Step(partials[p])) / (1 + p * 0.6f);
        f.Run(n.Next(), noise_hz, 0.8f);
        s[i] = v * Env(t, 0.001f, decay) + f.band * noise * Env(t, 0.0005f, decay * 0.4f);
    }
    return s;
}

// A sweep: a waveform gliding from one pitch to another, with vibrato.
static Samples Sweep(float from, float to, float len, float vib, int wave, float decay) {
    Samples s = Buffer(len);
    Phase ph, lfo;
    Svf f;
    for (size_t i = 0; i < s.size(); ++i) {
        float t = T(i), k = t / len;
        float hz = from * std::pow(to / from, k) * (1 + vib * std::sin(2 * kPi * lfo.Step(18)));
        float p = ph.Step(hz), dt = hz / kRate, v;
        switch (wave) {
            case 0:
                v = std::sin(2 * kPi * p);
                break;
            case 1:
                v = SawBlep(p, dt);
                break;
            default:
                v = SquareBlep(p, dt);
                break;
        }
        s[i] = f.Run(v, 4000, 0.6f) * Env(t, 0.004f, decay);
    }
    return s;
}

// Mixes b into a (extending a when b is longer), b scaled by gain.
static void MixIn(Samples& a, const Samples& b, float gain, size_t offset = 0) {
    if (a.size() < b.size() + offset) a.resize(b.size() + offset, 0.0f);
    for (size_t i = 0; i < b.size(); ++i) a[i + offset] += b[i] * gain;
}

// Soft saturation that keeps the peak below 1.
static void Drive(Samples& s, float amount) {
    for (float& v : s) v = std::tanh(v * amount) / std::tanh(amount);
}

// Returns the effect for a number, or an empty buffer for numbers not made.
static Samples MakeEffect(int n) {
    switch (n) {
        case 1:
            return Sweep(880, 1320, 0.12f, 0, 0, 0.05f);  // a soft blip
        case 2: {  // the player's shot: a bright, short zap with a click on top
            Samples s = Laser(2400, 380, 0.16f, 0.3f);
            MixIn(s, Hit(21, 0.02f, {3200}, 0.006f, 0.6f, 5000), 0.4f);
            return s;
        }
        case 3:
            return Explosion(31, 0.55f, 2600, 110, 0.2f, 0);  // short and crunchy
        case 4:
            return Explosion(41, 1.3f, 1200, 70, 0, 0);  // deep boom
        case 5:
            return Explosion(51, 0.9f, 3000, 90, 1.0f, 0);  // crackling
        case 6:
            return Explosion(61, 0.8f, 2000, 100, 0.3f, 1.0f);  // with a metal ring
        case 7: {                                               // long rumble with a second blast
            Samples s = Explosion(71, 1.5f, 900, 60, 0.4f, 0);
            MixIn(s, Explosion(72, 0.6f, 2500, 120, 0.5f, 0), 0.6f, kRate / 7);
            return s;
        }
        case 8:
            return Hit(81, 0.06f, {2900, 4100}, 0.015f, 1.0f, 6000);  // tick
        case 9:
            return Hit(91, 0.14f, {523, 817, 1367, 2011}, 0.05f, 0.5f, 3000);  // clank
        case 10: {  // zap: a fast upward sweep
            Samples s = Sweep(400, 2400, 0.09f, 0, 2, 0.05f);
            MixIn(s, Hit(101, 0.03f, {}, 0.01f, 1.0f, 4000), 0.5f);
            return s;
        }
        case 11:
            return Hit(111, 0.16f, {140, 210}, 0.06f, 0.8f, 900);  // thud
        case 12:
            return Hit(121, 0.25f, {1760, 2650, 4410}, 0.07f, 0.3f, 7000);  // ping
        case 13: {  // crunch: coarse, bit-reduced noise
            Samples s = Hit(131, 0.1f, {260}, 0.03f, 1.2f, 1800);
            for (float& v : s) v = std::round(v * 6) / 6;
            return s;
        }
        case 14: {  // a rising three-note chime
            Samples s;
            const float notes[] = {76, 81, 88};
            for (int i = 0; i < 3; ++i)
                MixIn(s,
                      Hit(141 + i, 0.35f, {NoteHz(notes[i]), NoteHz(notes[i]) * 2.01f}, 0.12f, 0,
                          1000),
                      0.7f, static_cast<size_t>(i * 0.07f * kRate));
            return s;
        }
        case 15: {  // an enemy's shot: a hollow rising "bwoop"
            Samples s = Sweep(260, 720, 0.2f, 0.03f, 0, 0.09f);
            MixIn(s, Sweep(520, 1440, 0.2f, 0.03f, 1, 0.05f), 0.25f);
            return s;
        }
        case 16: {  // hurt: a harsh falling buzz
            Samples s = Sweep(720, 90, 0.55f, 0.05f, 1, 0.25f);
            MixIn(s, Explosion(161, 0.4f, 1500, 80, 0.3f, 0), 0.6f);
            Drive(s, 2.5f);
            return s;
        }
        case 17: {  // hurt: a two-tone warning blip
            Samples s = Sweep(988, 980, 0.12f, 0, 2, 0.08f);
            MixIn(s, Sweep(659, 650, 0.16f, 0, 2, 0.1f), 1.0f, static_cast<size_t>(0.12f * kRate));
            MixIn(s, Hit(171, 0.1f, {}, 0.03f, 0.8f, 2500), 0.5f);
            return s;
        }
        case 98: {  // menu click: a crisp tick with a short tone
            Samples s = Hit(981, 0.06f, {1250, 2500}, 0.012f, 0.7f, 5000);
            MixIn(s, Sweep(1600, 1700, 0.04f, 0, 0, 0.015f), 0.4f);
            return s;
        }
        default:
            return {};
    }
}

// Peak level per effect: loud for explosions, quieter for the frequent ones.
static float PeakFor(int n) {
    if (n == 2) return 0.6f;
    if (n >= 3 && n <= 7) return 0.9f;
    if (n == 15) return 0.6f;
    return 0.75f;
}

// The jingle: a rising arpeggio of bell tones over a soft chord, with reverb (stereo).
static Samples MakeJingle() {
    const float len = 2.8f;
    size_t frames = static_cast<size_t>(len * kRate);
    Samples st(frames * 2, 0.0f);
    const float notes[] = {57, 64, 69, 71, 73, 76, 81};
    for (int k = 0; k < 7; ++k) {
        size_t start = static_cast<size_t>(k * 0.11f * kRate);
        float hz = NoteHz(notes[k]), pan = -0.6f + k * 0.2f;
        Phase car, mod;
        for (size_t i = start; i < frames; ++i) {
            float t = T(i - start);
            float m = std::sin(2 * kPi * mod.Step(hz * 3.5f)) * 2.2f * std::exp(-t * 6);
            float v =
                std::sin(2 * kPi * car.Step(hz) + m) * Env(t, 0.003f, 0.5f + k * 0.08f) * 0.3f;
            st[i * 2] += v * (1 - pan) * 0.5f;
            st[i * 2 + 1] += v * (1 + pan) * 0.5f;
        }
    }
    const float chord[] = {45, 57, 61, 64};
    for (float note : chord) {
        Phase a, b;
        Svf f;
        float hz = NoteHz(note);
        for (size_t i = 0; i < frames; ++i) {
            float t = T(i);
            float v = SawBlep(a.Step(hz), hz / kRate) + SawBlep(b.Step(hz * 1.006f), hz / kRate);
            v = f.Run(v, 600 + 1800 * Env(t, 0.6f, 0.8f), 0.8f) * 0.09f * Env(t, 0.5f, 1.0f);
            st[i * 2] += v;
            st[i * 2 + 1] += v;
        }
    }
    Reverb rv;
    for (size_t i = 0; i < frames; ++i) rv.Run(st[i * 2], st[i * 2 + 1], 0.8f);
    Normalise(st, 0.8f);
    Declick(st, 2, 30);
    return st;
}

bool WriteSounds(const std::string& common_dir, const std::string& game_dir) {
    bool ok = true;
    for (int n = 1; n <= 200; ++n) {
        Samples s = MakeEffect(n);
        if (s.empty()) continue;
        Normalise(s, PeakFor(n));
        Declick(s, 1, 2);
        char name[16];
        std::snprintf(name, sizeof name, "/%03d.wav", n);
        ok = WriteWav(game_dir + name, s, 1, kRate) && ok;
    }
    ok = WriteOgg(common_dir + "/open.ogg", MakeJingle(), 2, kRate, 0.4f) && ok;
    return ok;
}

}  // namespace assetgen

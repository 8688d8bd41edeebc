// The game's music track "MicrobesLight.ogg": 64 bars at 120 beats per minute in A minor
// (about 2:08) with drums, bass, pad chords, an arpeggio and a lead, synthesised here and
// encoded to Ogg Vorbis. The reverb tail of the last bar is folded onto the start, so the
// track loops without a gap.
#include <cmath>
#include <string>
#include <vector>

#include "tools/assetgen/assetgen.h"
#include "tools/assetgen/synth.h"

namespace assetgen {

static constexpr float kBpm = 120;
static constexpr int kBars = 64;
static constexpr float kBeat = 60.0f / kBpm;
static constexpr float kBar = 4 * kBeat;
static constexpr float kTail = 3.0f;  // seconds rendered past the end and folded back

// One note of the lead: start and length in beats within its bar, MIDI note.
struct LeadNote {
    float beat, len;
    int note;
};

// A chord: the bass root and three pad notes.
struct Chord {
    int root;
    int pad[3];
};

static const Chord kAm{45, {57, 60, 64}}, kF{41, {53, 57, 60}}, kC{48, {55, 60, 64}},
    kG{43, {55, 59, 62}}, kDm{38, {53, 57, 62}}, kE{40, {56, 59, 64}};

// The lead's two eight-bar phrases, bar by bar.
static const std::vector<std::vector<LeadNote>> kPhraseA = {
    {{0, 1.5f, 76}, {1.5f, 0.5f, 74}, {2, 1, 72}, {3, 1, 69}},
    {{0, 1, 72}, {1, 0.5f, 74}, {1.5f, 0.5f, 72}, {2, 2, 69}},
    {{0, 1, 67}, {1, 1, 72}, {2, 1.5f, 76}, {3.5f, 0.5f, 79}},
    {{0, 2, 74}, {2, 1, 71}, {3, 1, 67}},
    {{0, 1, 76}, {1, 1, 81}, {2, 0.5f, 79}, {2.5f, 0.5f, 76}, {3, 1, 74}},
    {{0, 1.5f, 72}, {1.5f, 0.5f, 74}, {2, 1, 77}, {3, 1, 76}},
    {{0, 1, 76}, {1, 1, 79}, {2, 1, 84}, {3, 0.5f, 83}, {3.5f, 0.5f, 79}},
    {{0, 3, 74}},
};
static const std::vector<std::vector<LeadNote>> kPhraseB = {
    {{0, 1, 77}, {1, 0.5f, 76}, {1.5f, 0.5f, 74}, {2, 2, 69}},
    {{0, 1, 71}, {1, 1, 74}, {2, 2, 79}},
    {{0, 1.5f, 76}, {1.5f, 0.5f, 72}, {2, 1, 67}, {3, 1, 72}},
    {{0, 1, 69}, {1, 1, 72}, {2, 1, 76}, {3, 1, 81}},
    {{0, 1.5f, 81}, {1.5f, 0.5f, 79}, {2, 1, 77}, {3, 1, 72}},
    {{0, 1, 74}, {1, 1, 79}, {2, 1, 83}, {3, 1, 86}},
    {{0, 2, 80}, {2, 1, 83}, {3, 1, 76}},
    {{0, 2, 76}, {2, 1, 74}, {3, 1, 71}},
};

// What plays in one bar.
struct Bar {
    Chord chord;
    const std::vector<LeadNote>* lead;  // null: no lead
    bool kick, snare, hats, bass, arp;
    float lead_octave;  // semitones added to the lead
};

// Builds the arrangement: intro, A, B, breakdown, A again (the last bar turns back to A minor).
static std::vector<Bar> Arrangement() {
    const Chord prog_a[8] = {kAm, kF, kC, kG, kAm, kF, kC, kG};
    const Chord prog_b[8] = {kDm, kG, kC, kAm, kF, kG, kE, kE};
    const Chord intro[8] = {kAm, kF, kC, kG, kAm, kF, kC, kE};
    std::vector<Bar> bars;
    for (int i = 0; i < 8; ++i)
        bars.push_back({intro[i], nullptr, i >= 4, false, i >= 4, i >= 2, true, 0});
    for (int r = 0; r < 2; ++r)
        for (int i = 0; i < 8; ++i)
            bars.push_back({prog_a[i], &kPhraseA[i], true, true, true, true, r == 1, 0});
    for (int r = 0; r < 2; ++r)
        for (int i = 0; i < 8; ++i)
            bars.push_back({prog_b[i], &kPhraseB[i], true, true, true, true, true, 0});
    for (int i = 0; i < 8; ++i)
        bars.push_back({prog_a[i], nullptr, i % 2 == 0, false, i >= 4, true, true, 0});
    for (int r = 0; r < 2; ++r)
        for (int i = 0; i < 8; ++i)
            bars.push_back(
                {prog_a[i], &kPhraseA[i], true, true, true, true, true, r == 1 ? 12.0f : 0});
    bars.back().chord = kE;
    return bars;
}

// The stereo mix being rendered.
struct StereoBus {
    std::vector<float> l, r;
    explicit StereoBus(size_t frames) : l(frames, 0.0f), r(frames, 0.0f) {}
    void Put(size_t i, float v, float pan) {
        if (i >= l.size()) return;
        l[i] += v * (1 - pan) * 0.5f;
        r[i] += v * (1 + pan) * 0.5f;
    }
};

static size_t At(float seconds) {
    return static_cast<size_t>(seconds * kRate);
}

static void Kick(StereoBus& m, float when) {
    Phase ph;
    for (size_t i = 0; i < At(0.4f); ++i) {
        float t = static_cast<float>(i) / kRate;
        float hz = 45 + 120 * std::exp(-t * 30);
        float v = std::sin(2 * kPi * ph.Step(hz)) * Env(t, 0.001f, 0.16f);
        v += (t < 0.004f ? 0.5f * (1 - t / 0.004f) : 0);
        m.Put(At(when) + i, v * 0.9f, 0);
    }
}

static void Snare(StereoBus& m, float when, Noise& n) {
    Phase ph;
    Svf f;
    for (size_t i = 0; i < At(0.3f); ++i) {
        float t = static_cast<float>(i) / kRate;
        f.Run(n.Next(), 3200, 0.9f);
        float v = f.band * Env(t, 0.001f, 0.09f) * 1.2f +
                  std::sin(2 * kPi * ph.Step(185 - 30 * t)) * Env(t, 0.001f, 0.05f) * 0.5f;
        m.Put(At(when) + i, v * 0.45f, 0.1f);
    }
}

static void Hat(StereoBus& m, float when, Noise& n, bool open) {
    Svf f;
    float decay = open ? 0.12f : 0.025f;
    for (size_t i = 0; i < At(decay * 5); ++i) {
        float t = static_cast<float>(i) / kRate;
        f.Run(n.Next(), 7000, 0.5f);
        m.Put(At(when) + i, f.high * Env(t, 0.0005f, decay) * 0.16f, open ? -0.3f : 0.3f);
    }
}

// A resonant saw bass note with a plucked filter.
static void Bass(StereoBus& m, float when, float len, int note) {
    Phase a, b;
    Svf f;
    float hz = NoteHz(static_cast<float>(note));
    size_t n = At(len + 0.05f);
    for (size_t i = 0; i < n; ++i) {
        float t = static_cast<float>(i) / kRate;
        float v = SawBlep(a.Step(hz), hz / kRate) +
                  0.5f * SquareBlep(b.Step(hz * 0.5f), hz * 0.5f / kRate);
        float cut = 180 + 1400 * std::exp(-t * 14);
        float gate = t < len ? 1 : std::max(0.0f, 1 - (t - len) / 0.05f);
        m.Put(At(when) + i, f.Run(v, cut, 0.35f) * gate * 0.32f, 0);
    }
}

// A pad chord: three detuned saws per note, slow swell, spread left and right.
static void Pad(StereoBus& m, float when, float len, const Chord& c, float level) {
    for (int k = 0; k < 3; ++k) {
        float hz = NoteHz(static_cast<float>(c.pad[k]));
        Phase ph[3];
        for (int d = 0; d < 3; ++d) ph[d].p = 0.31f * d + 0.17f * k;
        Svf f;
        size_t n = At(len + 0.4f);
        for (size_t i = 0; i < n; ++i) {
            float t = static_cast<float>(i) / kRate;
            float v = 0;
            const float detune[3] = {1.0f, 1.004f, 0.9965f};
            for (int d = 0; d < 3; ++d) v += SawBlep(ph[d].Step(hz * detune[d]), hz / kRate);
            float env = std::min(1.0f, t / 0.35f) * (t < len ? 1 : std::exp(-(t - len) / 0.12f));
            v = f.Run(v, 900 + 500 * std::sin(t * 1.3f), 0.9f);
            m.Put(At(when) + i, v * env * level, -0.5f + 0.5f * k);
        }
    }
}

// A short plucked square note of the arpeggio.
static void Pluck(StereoBus& m, float when, int note, float pan) {
    Phase ph;
    Svf f;
    float hz = NoteHz(static_cast<float>(note));
    for (size_t i = 0; i < At(0.25f); ++i) {
        float t = static_cast<float>(i) / kRate;
        float v = SquareBlep(ph.Step(hz), hz / kRate, 0.25f);
        v = f.Run(v, 600 + 3500 * std::exp(-t * 18), 0.6f);
        m.Put(At(when) + i, v * Env(t, 0.002f, 0.07f) * 0.11f, pan);
    }
}

// The lead: two slightly detuned saws with delayed vibrato through a soft low-pass.
static void Lead(StereoBus& m, float when, float len, int note) {
    Phase a, b, lfo;
    Svf f;
    float hz = NoteHz(static_cast<float>(note));
    size_t n = At(len + 0.12f);
    for (size_t i = 0; i < n; ++i) {
        float t = static_cast<float>(i) / kRate;
        float vib = 1 + 0.006f * std::min(1.0f, t / 0.4f) * std::sin(2 * kPi * lfo.Step(5.5f));
        float h = hz * vib;
        float v = SawBlep(a.Step(h), h / kRate) + 0.6f * SawBlep(b.Step(h * 1.007f), h / kRate);
        float env = std::min(1.0f, t / 0.012f) * (0.75f + 0.25f * std::exp(-t * 6));
        if (t > len) env *= std::exp(-(t - len) / 0.04f);
        v = f.Run(v, 2200 + 1200 * std::exp(-t * 8), 0.7f);
        m.Put(At(when) + i, v * env * 0.14f, 0.05f);
    }
}

static std::vector<float> RenderTrack() {
    std::vector<Bar> bars = Arrangement();
    float total = kBars * kBar;
    StereoBus dry(At(total + kTail));
    StereoBus send(At(total + kTail));  // what feeds the echo and the reverb
    Noise noise(274100);
    for (int b = 0; b < kBars; ++b) {
        const Bar& bar = bars[static_cast<size_t>(b)];
        float t0 = b * kBar;
        Pad(send, t0, kBar, bar.chord, bar.lead ? 0.05f : 0.07f);
        for (int beat = 0; beat < 4; ++beat) {
            float tb = t0 + beat * kBeat;
            if (bar.kick) Kick(dry, tb);
            if (bar.snare && (beat == 1 || beat == 3)) Snare(dry, tb, noise);
            if (bar.hats) {
                Hat(dry, tb, noise, false);
                Hat(dry, tb + kBeat / 2, noise, beat == 3);
            }
        }
        if (bar.bass) {
            const int pattern[8] = {0, 0, 12, 0, 0, 12, 7, 0};
            for (int e = 0; e < 8; ++e)
                Bass(dry, t0 + e * kBeat / 2, kBeat / 2 * 0.8f, bar.chord.root + pattern[e]);
        }
        if (bar.arp) {
            const int order[8] = {0, 1, 2, 3, 2, 1, 0, 2};
            for (int s = 0; s < 16; ++s) {
                int k = order[s % 8];
                int note = k == 3 ? bar.chord.pad[0] + 12 : bar.chord.pad[k] + 12;
                Pluck(send, t0 + s * kBeat / 4, note, (s % 2) ? 0.4f : -0.4f);
            }
        }
        if (bar.lead) {
            for (const LeadNote& n : *bar.lead)
                Lead(send, t0 + n.beat * kBeat, n.len * kBeat * 0.95f,
                     n.note + static_cast<int>(bar.lead_octave));
        }
    }
    // Echo (dotted eighth) and reverb on the send, then everything together.
    size_t frames = dry.l.size();
    size_t delay = At(kBeat * 0.75f);
    Reverb rv;
    std::vector<float> out(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        if (i >= delay) {
            send.l[i] += send.r[i - delay] * 0.35f;
            send.r[i] += send.l[i - delay] * 0.35f;
        }
        float l = send.l[i], r = send.r[i];
        rv.Run(l, r, 0.7f);
        out[i * 2] = dry.l[i] + l;
        out[i * 2 + 1] = dry.r[i] + r;
    }
    // Fold the tail past the last bar onto the first bars so the loop carries on seamlessly.
    size_t loop = At(total);
    for (size_t i = loop; i < frames; ++i) {
        out[(i - loop) * 2] += out[i * 2];
        out[(i - loop) * 2 + 1] += out[i * 2 + 1];
    }
    out.resize(loop * 2);
    // Gentle bus compression by soft clipping, then a safe peak.
    for (float& v : out) v = std::tanh(v * 1.2f);
    Normalise(out, 0.89f);
    return out;
}

bool WriteMusic(const std::string& game_dir) {
    return WriteOgg(game_dir + "/MicrobesLight.ogg", RenderTrack(), 2, kRate, 0.3f);
}

}  // namespace assetgen

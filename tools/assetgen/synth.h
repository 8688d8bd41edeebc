// Small synthesis kit of the asset generator: oscillators, envelopes, filters and a reverb,
// shared by the sound effects and the music. Header only; no dependencies beyond the C++ library.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "tools/assetgen/gen_util.h"

namespace assetgen {

inline constexpr int kRate = 44100;

// Returns the frequency of a MIDI note number.
inline float NoteHz(float midi) {
    return 440.0f * std::pow(2.0f, (midi - 69) / 12.0f);
}

// Band-limited-ish sawtooth from a phase 0..1 (polyBLEP smooths the jump).
inline float SawBlep(float phase, float dt) {
    float v = 2 * phase - 1;
    if (phase < dt) {
        float t = phase / dt;
        v -= t + t - t * t - 1;
    } else if (phase > 1 - dt) {
        float t = (phase - 1) / dt;
        v -= t * t + t + t + 1;
    }
    return v;
}

// Square wave from two polyBLEP saws.
inline float SquareBlep(float phase, float dt, float width = 0.5f) {
    float p2 = phase + width;
    if (p2 >= 1) p2 -= 1;
    return 0.5f * (SawBlep(phase, dt) - SawBlep(p2, dt));
}

// A phase accumulator.
struct Phase {
    float p = 0;
    // Advances by hz and returns the phase before the step.
    float Step(float hz) {
        float old = p;
        p += hz / kRate;
        p -= std::floor(p);
        return old;
    }
};

// Chamberlin state-variable filter; after Run the low, band and high outputs are current.
struct Svf {
    float low = 0, band = 0, high = 0;
    // Filters one sample with cutoff hz and damping q (0.1 sharp .. 1.4 soft); returns low-pass.
    float Run(float in, float hz, float q) {
        float f = 2 * std::sin(kPi * std::min(hz, kRate / 6.0f) / kRate);
        low += f * band;
        high = in - low - q * band;
        band += f * high;
        return low;
    }
};

// One-pole low-pass.
struct OnePole {
    float z = 0;
    float Run(float in, float hz) {
        float a = 1 - std::exp(-2 * kPi * hz / kRate);
        z += a * (in - z);
        return z;
    }
};

// White noise from the generator's own PCG stream.
struct Noise {
    Rng rng;
    explicit Noise(uint64_t seed) : rng(seed) {}
    float Next() { return rng.Real(-1, 1); }
};

// Exponential decay envelope with a short linear attack.
inline float Env(float t, float attack, float decay) {
    if (t < 0) return 0;
    if (t < attack) return t / attack;
    return std::exp(-(t - attack) / decay);
}

// A small stereo reverb: four combs and two all-passes per side.
class Reverb {
  public:
    Reverb() {
        const int combs[4] = {1557, 1617, 1491, 1422};
        const int alls[2] = {556, 441};
        for (int s = 0; s < 2; ++s) {
            for (int i = 0; i < 4; ++i)
                comb_[s][i].assign(static_cast<size_t>(combs[i] + 23 * s), 0.0f);
            for (int i = 0; i < 2; ++i)
                all_[s][i].assign(static_cast<size_t>(alls[i] + 23 * s), 0.0f);
        }
    }
    // Processes one stereo frame in place, adding wet signal of level wet.
    void Run(float& l, float& r, float wet, float feedback = 0.82f) {
        float in = (l + r) * 0.5f;
        float out[2];
        for (int s = 0; s < 2; ++s) {
            float acc = 0;
            for (int i = 0; i < 4; ++i) {
                std::vector<float>& b = comb_[s][i];
                size_t& k = comb_pos_[s][i];
                float y = b[k];
                damp_[s][i] = y * 0.7f + damp_[s][i] * 0.3f;
                b[k] = in + damp_[s][i] * feedback;
                k = (k + 1) % b.size();
                acc += y;
            }
            for (int i = 0; i < 2; ++i) {
                std::vector<float>& b = all_[s][i];
                size_t& k = all_pos_[s][i];
                float y = b[k];
                b[k] = acc + y * 0.5f;
                k = (k + 1) % b.size();
                acc = y - acc;
            }
            out[s] = acc;
        }
        l += out[0] * wet * 0.25f;
        r += out[1] * wet * 0.25f;
    }

  private:
    std::vector<float> comb_[2][4];
    std::vector<float> all_[2][2];
    size_t comb_pos_[2][4] = {};
    size_t all_pos_[2][2] = {};
    float damp_[2][4] = {};
};

// Scales samples so the largest magnitude is peak; returns the factor used.
inline float Normalise(std::vector<float>& s, float peak) {
    float m = 0;
    for (float v : s) m = std::max(m, std::fabs(v));
    if (m <= 0) return 1;
    float k = peak / m;
    for (float& v : s) v *= k;
    return k;
}

// Fades the first and last few milliseconds so nothing clicks.
inline void Declick(std::vector<float>& s, int channels, float ms = 3) {
    size_t frames = s.size() / channels;
    size_t n = std::min(frames / 2, static_cast<size_t>(ms * kRate / 1000));
    for (size_t i = 0; i < n; ++i) {
        float g = static_cast<float>(i) / n;
        for (int c = 0; c < channels; ++c) {
            s[i * channels + c] *= g;
            s[(frames - 1 - i) * channels + c] *= g;
        }
    }
}

}  // namespace assetgen

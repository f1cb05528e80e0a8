// tools/assetgen/sounds.cpp — synthesised sounds: weapon reports (noise bursts whose body and
// decay differ per weapon), footsteps, heartbeat, hit, death, reload clicks and the chat and
// join blips. All 16-bit PCM mono at 22050 Hz.
#include "tools/assetgen/assetgen_local.h"

#include <cmath>

namespace assetgen {

namespace {

constexpr int kRate = 22050;
constexpr float kPi = 3.14159265f;

Wave Silence(float seconds) {
    Wave w;
    w.s.assign(size_t(seconds * kRate), 0.f);
    return w;
}

// One-pole low-pass over white noise: `cutoff` 0..1 (1 = unfiltered).
void AddNoiseBurst(Wave& w, float at, float seconds, float gain, float decay, float cutoff,
                   Rng& rng) {
    float lp = 0;
    const size_t start = size_t(at * kRate), n = size_t(seconds * kRate);
    for (size_t i = 0; i < n && start + i < w.s.size(); ++i) {
        const float t = float(i) / kRate;
        lp += cutoff * (float(rng.Range(-1, 1)) - lp);
        w.s[start + i] += gain * lp * std::exp(-t / decay);
    }
}

// A sine whose frequency glides from f0 to f1, with a fast attack and exponential decay.
void AddTone(Wave& w, float at, float seconds, float f0, float f1, float gain, float decay) {
    const size_t start = size_t(at * kRate), n = size_t(seconds * kRate);
    float phase = 0;
    for (size_t i = 0; i < n && start + i < w.s.size(); ++i) {
        const float t = float(i) / kRate;
        const float f = f0 + (f1 - f0) * t / seconds;
        phase += 2 * kPi * f / kRate;
        const float attack = std::min(1.f, t / 0.004f);
        w.s[start + i] += gain * attack * std::exp(-t / decay) * std::sin(phase);
    }
}

struct Report {
    const char* name;
    float length, crack, decay, body, bodyHz, tail; // seconds, gains, Hz
    float cutoff;
};
// clang-format off
constexpr Report kReports[] = {
    {"mac10", 0.30f, 1.0f, 0.035f, 0.5f, 140.f, 0.10f, 0.55f},
    {"ump45", 0.40f, 1.0f, 0.050f, 0.6f, 110.f, 0.14f, 0.45f},
    {"aug",   0.50f, 1.0f, 0.060f, 0.6f, 100.f, 0.20f, 0.50f},
    {"p90",   0.32f, 1.0f, 0.040f, 0.5f, 130.f, 0.10f, 0.60f},
    {"mp5",   0.36f, 1.0f, 0.045f, 0.5f, 120.f, 0.12f, 0.45f},
    {"ak47",  0.60f, 1.0f, 0.080f, 0.8f,  80.f, 0.25f, 0.40f},
    {"m4a1",  0.55f, 1.0f, 0.070f, 0.7f,  90.f, 0.22f, 0.45f},
    {"sg550", 0.60f, 1.0f, 0.075f, 0.7f,  88.f, 0.24f, 0.45f},
    {"sg552", 0.55f, 1.0f, 0.070f, 0.7f,  92.f, 0.22f, 0.48f},
    {"m249",  0.50f, 1.0f, 0.065f, 0.9f,  75.f, 0.20f, 0.38f},
    {"m3",    0.90f, 1.0f, 0.120f, 1.0f,  60.f, 0.35f, 0.30f},
    {"awp",   1.20f, 1.0f, 0.140f, 1.0f,  55.f, 0.45f, 0.35f},
};
// clang-format on

Wave Gunshot(const Report& r, uint32_t seed) {
    Rng rng(seed);
    Wave w = Silence(r.length);
    AddNoiseBurst(w, 0, 0.012f, 2.0f * r.crack, 0.004f, 1.0f, rng); // muzzle crack
    AddNoiseBurst(w, 0, r.length, 1.0f, r.decay, r.cutoff, rng);    // blast
    AddTone(w, 0, r.length * 0.6f, r.bodyHz * 1.6f, r.bodyHz, r.body, r.decay * 1.2f); // thump
    AddNoiseBurst(w, 0.02f, r.length - 0.02f, r.tail, r.length * 0.3f, 0.08f, rng);    // echo
    return w;
}

Wave Footsteps() {
    // Two steps per loop: a soft thud and a gritty scuff, left and right slightly different.
    Rng rng(11);
    Wave w = Silence(0.60f);
    for (int k = 0; k < 2; ++k) {
        const float at = 0.30f * float(k);
        AddTone(w, at, 0.08f, 90.f - 10.f * float(k), 60.f, 0.9f, 0.02f);
        AddNoiseBurst(w, at, 0.09f, 0.6f, 0.025f, 0.25f, rng);
    }
    return w;
}

Wave Heartbeat() {
    Wave w = Silence(0.85f);
    AddTone(w, 0.0f, 0.14f, 70.f, 45.f, 1.0f, 0.045f);
    AddTone(w, 0.22f, 0.14f, 62.f, 40.f, 0.75f, 0.045f);
    return w;
}

Wave Hit() {
    Rng rng(12);
    Wave w = Silence(0.25f);
    AddNoiseBurst(w, 0, 0.25f, 1.0f, 0.03f, 0.35f, rng);
    AddTone(w, 0, 0.2f, 180.f, 70.f, 0.8f, 0.05f);
    return w;
}

Wave Death() {
    // A falling groan: a buzzy falling tone, then the body hitting the floor.
    Rng rng(13);
    Wave w = Silence(1.1f);
    const size_t n = size_t(0.6f * kRate);
    float phase = 0;
    for (size_t i = 0; i < n; ++i) {
        const float t = float(i) / kRate;
        const float f = 190.f - 110.f * t / 0.6f;
        phase += 2 * kPi * f / kRate;
        const float saw = 2.f * (phase / (2 * kPi) - std::floor(phase / (2 * kPi) + 0.5f));
        w.s[i] += 0.5f * saw * std::min(1.f, t / 0.05f) * std::exp(-t / 0.35f);
    }
    AddTone(w, 0.75f, 0.2f, 80.f, 40.f, 1.0f, 0.05f);
    AddNoiseBurst(w, 0.75f, 0.2f, 0.7f, 0.04f, 0.2f, rng);
    return w;
}

Wave Reload() {
    // Magazine out, magazine in, bolt back and forward: four metallic clicks.
    Rng rng(14);
    Wave w = Silence(1.0f);
    const float at[] = {0.05f, 0.45f, 0.70f, 0.80f};
    const float hz[] = {1800.f, 1400.f, 2400.f, 2000.f};
    for (int k = 0; k < 4; ++k) {
        AddNoiseBurst(w, at[k], 0.03f, 0.8f, 0.006f, 0.9f, rng);
        AddTone(w, at[k], 0.06f, hz[k], hz[k] * 0.97f, 0.5f, 0.012f);
    }
    return w;
}

Wave Blip(float f0, float f1, float f2) {
    Wave w = Silence(0.32f);
    AddTone(w, 0.0f, 0.10f, f0, f0, 0.8f, 0.05f);
    AddTone(w, 0.09f, 0.10f, f1, f1, 0.8f, 0.05f);
    if (f2 > 0) AddTone(w, 0.18f, 0.12f, f2, f2, 0.8f, 0.06f);
    return w;
}

} // namespace

void GenerateSounds(Output& out) {
    uint32_t seed = 1000;
    for (const Report& r : kReports)
        out.WriteBytes("weapons/" + std::string(r.name) + "-1.wav", Gunshot(r, ++seed).EncodeWav());
    out.WriteBytes("models/enter.wav", Blip(660.f, 880.f, 1320.f).EncodeWav(0.6f));
    out.WriteBytes("models/chat.wav", Blip(990.f, 1320.f, 0.f).EncodeWav(0.5f));
    out.WriteBytes("models/pas.wav", Footsteps().EncodeWav(0.7f));
    out.WriteBytes("models/coeur.wav", Heartbeat().EncodeWav(0.8f));
    out.WriteBytes("models/touche.wav", Hit().EncodeWav());
    out.WriteBytes("models/mort.wav", Death().EncodeWav());
    out.WriteBytes("models/reload.wav", Reload().EncodeWav(0.7f));
}

} // namespace assetgen

#pragma once

// Test signals generated in code: sines, noise, speech-like bursts.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace audiotest {

inline double dbToLinear(double db) { return std::pow(10.0, db / 20.0); }

// Interleaved frames; every channel carries the same signal unless a
// generator says otherwise.
struct Signal {
    double sampleRate = 48000;
    int channels = 2;
    std::vector<float> samples;
    std::size_t frames() const { return samples.size() / static_cast<std::size_t>(channels); }
    void append(const Signal& other) { samples.insert(samples.end(), other.samples.begin(), other.samples.end()); }
};

// A sine of `frequency` Hz, peak amplitude `amplitude`, starting phase in
// radians, for `seconds`, in every channel.
inline Signal sine(double rate, int channels, double frequency, double amplitude, double seconds,
                   double phase = 0) {
    Signal s{rate, channels, {}};
    const auto n = static_cast<std::size_t>(std::llround(seconds * rate));
    s.samples.reserve(n * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < n; ++i) {
        const double v = amplitude * std::sin(2 * std::numbers::pi * frequency * static_cast<double>(i) / rate + phase);
        for (int c = 0; c < channels; ++c) s.samples.push_back(static_cast<float>(v));
    }
    return s;
}

// Independent white noise per channel, uniform in [−amplitude, amplitude].
inline Signal noise(double rate, int channels, double amplitude, double seconds, std::uint32_t seed = 1) {
    Signal s{rate, channels, {}};
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(static_cast<float>(-amplitude), static_cast<float>(amplitude));
    const auto n = static_cast<std::size_t>(std::llround(seconds * rate)) * static_cast<std::size_t>(channels);
    s.samples.resize(n);
    for (auto& v : s.samples) v = dist(gen);
    return s;
}

// Syllable-like bursts: noise through a resonance, with a 4 Hz envelope,
// pauses of random length and phrases at different levels.
inline Signal speechLike(double rate, int channels, double seconds, std::uint32_t seed = 7) {
    Signal s{rate, channels, {}};
    std::mt19937 gen(seed);
    std::normal_distribution<double> white(0.0, 1.0);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    const auto n = static_cast<std::size_t>(std::llround(seconds * rate));
    s.samples.resize(n * static_cast<std::size_t>(channels));
    double y1 = 0, y2 = 0;
    const double f0 = 700, r = 0.97;
    const double a1 = -2 * r * std::cos(2 * std::numbers::pi * f0 / rate), a2 = r * r;
    double phraseGain = 0.3;
    std::size_t phraseLeft = 0;
    bool pause = false;
    for (std::size_t i = 0; i < n; ++i) {
        if (phraseLeft == 0) {
            pause = uni(gen) < 0.3;
            phraseLeft = static_cast<std::size_t>((0.3 + 1.7 * uni(gen)) * rate);
            phraseGain = 0.05 + 0.4 * uni(gen);
        }
        --phraseLeft;
        const double env = 0.5 * (1 - std::cos(2 * std::numbers::pi * 4.0 * static_cast<double>(i) / rate));
        const double y = white(gen) * 0.05 - a1 * y1 - a2 * y2;
        y2 = y1;
        y1 = y;
        const double v = pause ? 0.0005 * white(gen) : phraseGain * env * y;
        for (int c = 0; c < channels; ++c)
            s.samples[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                static_cast<float>(c == 0 ? v : 0.8 * v);
    }
    return s;
}

} // namespace audiotest

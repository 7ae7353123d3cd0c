// Integrated loudness and true peak of one hour of 48 kHz stereo, measured
// by our meter and by libebur128 on the same frames, one thread.
// Prints: COMPARE meter ours=<s>s peer=<s>s speedup=<peer/ours>

#include <ebur128.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <vector>

#include <fmt/format.h>

#include "audio/LoudnessMeter.h"
#include "core/Numbers.h"

namespace {

using Clock = std::chrono::steady_clock;

// Speech-like programme: noise bursts through a resonance, a 4 Hz syllable
// envelope and a slowly wandering phrase level. Deterministic chunk by chunk.
class Programme {
public:
    explicit Programme(double rate) : rate_(rate) {}
    void next(std::vector<float>& out, std::size_t frames) {
        out.resize(frames * 2);
        const double a1 = -2 * 0.97 * std::cos(2 * std::numbers::pi * 700 / rate_), a2 = 0.97 * 0.97;
        for (std::size_t i = 0; i < frames; ++i, ++n_) {
            if (n_ % 48000 == 0) level_ = 0.05 + 0.4 * uni_(gen_);
            const double env = 0.5 * (1 - std::cos(2 * std::numbers::pi * 4.0 * static_cast<double>(n_) / rate_));
            const double y = white_(gen_) * 0.05 - a1 * y1_ - a2 * y2_;
            y2_ = y1_;
            y1_ = y;
            const double v = level_ * env * y;
            out[2 * i] = static_cast<float>(0.3 * v);
            out[2 * i + 1] = static_cast<float>(0.3 * (0.8 * v + 0.01 * white_(gen_)));
        }
    }

private:
    double rate_;
    std::mt19937 gen_{42};
    std::normal_distribution<double> white_{0.0, 1.0};
    std::uniform_real_distribution<double> uni_{0.0, 1.0};
    double y1_ = 0, y2_ = 0, level_ = 0.2;
    std::size_t n_ = 0;
};

// One hour unless QUORVEL_BENCH_SECONDS says otherwise (for quick runs).
double benchSeconds() {
    const char* env = std::getenv("QUORVEL_BENCH_SECONDS");
    if (!env) return 3600;
    const auto v = core::parseDouble(env);
    return v && *v > 0 ? *v : 3600;
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

} // namespace

int main() {
    constexpr double rate = 48000;
    const std::size_t totalFrames = static_cast<std::size_t>(benchSeconds() * rate);
    constexpr std::size_t chunk = 48000 * 10;

    audio::LoudnessMeter ours(rate, 2);
    ebur128_state* peer = ebur128_init(2, 48000, EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    Programme programme(rate);
    std::vector<float> buffer;
    Clock::duration oursTime{}, peerTime{};
    for (std::size_t done = 0; done < totalFrames; done += chunk) {
        const std::size_t n = std::min(chunk, totalFrames - done);
        programme.next(buffer, n);
        auto t0 = Clock::now();
        ours.process(buffer.data(), n);
        auto t1 = Clock::now();
        ebur128_add_frames_float(peer, buffer.data(), n);
        auto t2 = Clock::now();
        oursTime += t1 - t0;
        peerTime += t2 - t1;
    }
    auto t0 = Clock::now();
    const auto lufs = ours.integratedLUFS();
    const double tp = ours.truePeakDBTP();
    auto t1 = Clock::now();
    double peerLufs = 0, peerPeak0 = 0, peerPeak1 = 0;
    ebur128_loudness_global(peer, &peerLufs);
    ebur128_true_peak(peer, 0, &peerPeak0);
    ebur128_true_peak(peer, 1, &peerPeak1);
    auto t2 = Clock::now();
    oursTime += t1 - t0;
    peerTime += t2 - t1;
    ebur128_destroy(&peer);

    const double peerTP = 20 * std::log10(std::max(peerPeak0, peerPeak1));
    std::fputs(fmt::format("meter integrated ours={:.3f} LUFS peer={:.3f} LUFS; true peak ours={:.3f} dBTP peer={:.3f} dBTP\n",
                           lufs.value_or(-999.0), peerLufs, tp, peerTP)
                   .c_str(),
               stderr);
    const double o = seconds(oursTime), p = seconds(peerTime);
    std::fputs(fmt::format("COMPARE meter ours={:.3f}s peer={:.3f}s speedup={:.2f}\n", o, p, p / o).c_str(), stdout);
    return 0;
}

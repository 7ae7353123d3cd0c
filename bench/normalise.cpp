// Clean-up and loudness normalisation of a one-hour 48 kHz stereo episode,
// against ffmpeg's two-pass loudnorm (measuring pass, then a linear pass with
// the measured values) on the same file.

#include <sys/resource.h>

#include <ebur128.h>
#include <fmt/format.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "audio/CleanupRender.h"
#include "audio/LoudnessNormalizer.h"
#include "audio/PCMStream.h"
#include "core/ChildProcess.h"
#include "core/Files.h"
#include "core/Json.h"
#include "core/Numbers.h"

namespace fs = std::filesystem;

namespace {

constexpr double kTargetLUFS = -16;
constexpr double kTargetTP = -1.5;
constexpr double kTargetLRA = 11;

double seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

core::ChildResult run(const std::vector<std::string>& argv)
{
    auto r = core::runChildProcess(argv, true);
    if (!r.succeeded()) throw std::runtime_error(argv[0] + " failed:\n" + r.output);
    return r;
}

// One hour of "speech": pink noise in syllable-like bursts, a 5 s pause every
// 40 s, 50 Hz hum with two harmonics and a little background noise, at about
// −29 LUFS.
void makeEpisode(const fs::path& out, int durationSeconds)
{
    const std::string d = fmt::format("{}", durationSeconds);
    const std::string graph =
        "anoisesrc=color=pink:amplitude=0.35:sample_rate=48000:seed=3:d=" + d +
        ",volume='(0.15+0.85*gt(sin(2*PI*2.7*t)+0.6*sin(2*PI*0.9*t),0))*lt(mod(t,40),35)*(0.6+0.4*sin(2*PI*0.013*t))'"
        ":eval=frame[s];"
        "sine=f=50:sample_rate=48000:d=" + d + ",volume=0.025[h1];"
        "sine=f=100:sample_rate=48000:d=" + d + ",volume=0.01[h2];"
        "anoisesrc=color=white:amplitude=0.0004:sample_rate=48000:seed=9:d=" + d + "[n];"
        "[s][h1][h2][n]amix=inputs=4:normalize=0:duration=first,"
        "aformat=channel_layouts=stereo";
    run({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-filter_complex", graph, "-c:a",
         "pcm_s16le", out.string()});
}

struct Levels {
    double lufs = 0;
    double truePeakDB = 0;
};

Levels measure(const fs::path& file)
{
    const auto format = audio::PCMStream::format(file);
    ebur128_state* st = ebur128_init(static_cast<unsigned>(format.channels),
                                     static_cast<unsigned long>(core::toInt64(format.sampleRate).value_or(48000)),
                                     EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    audio::PCMStream::read(file, std::nullopt, std::nullopt, std::nullopt,
                           [&](std::span<const float> s, std::size_t n) { ebur128_add_frames_float(st, s.data(), n); });
    Levels l;
    ebur128_loudness_global(st, &l.lufs);
    double peak = 0;
    for (unsigned c = 0; c < static_cast<unsigned>(format.channels); ++c) {
        double p = 0;
        ebur128_true_peak(st, c, &p);
        peak = std::max(peak, p);
    }
    ebur128_destroy(&st);
    l.truePeakDB = 20 * std::log10(std::max(1e-9, peak));
    return l;
}

// The JSON block loudnorm prints at the end of its measuring pass.
core::Json loudnormJson(const std::string& output)
{
    const auto open = output.rfind('{');
    const auto close = output.rfind('}');
    if (open == std::string::npos || close == std::string::npos || close < open)
        throw std::runtime_error("loudnorm printed no measurement:\n" + output);
    return core::parseJson(std::string_view(output).substr(open, close - open + 1));
}

double peerTwoPass(const fs::path& source, const fs::path& out)
{
    const std::string base = fmt::format("loudnorm=I={}:TP={}:LRA={}", kTargetLUFS, kTargetTP, kTargetLRA);
    const auto t0 = std::chrono::steady_clock::now();
    const auto first = run({"ffmpeg", "-nostdin", "-hide_banner", "-y", "-i", source.string(), "-af",
                            base + ":print_format=json", "-f", "null", "-"});
    const core::Json m = loudnormJson(first.output);
    const std::string second = fmt::format(
        "{}:measured_I={}:measured_TP={}:measured_LRA={}:measured_thresh={}:offset={}:linear=true:print_format=summary",
        base, core::requireString(m, "input_i"), core::requireString(m, "input_tp"),
        core::requireString(m, "input_lra"), core::requireString(m, "input_thresh"),
        core::requireString(m, "target_offset"));
    run({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-i", source.string(), "-af", second,
         "-ar", "48000", "-c:a", "pcm_s24le", out.string()});
    return seconds(std::chrono::steady_clock::now() - t0);
}

double peakRssMB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;   // kilobytes on Linux
}

} // namespace

int main(int argc, char** argv)
{
    try {
        int duration = 3600;
        if (argc > 1) duration = static_cast<int>(core::parseInt(argv[1]).value_or(3600));
        core::WorkFolder work("quorvel-bench-normalise");
        const auto source = work.path() / "episode.wav";
        const auto t0 = std::chrono::steady_clock::now();
        makeEpisode(source, duration);
        fmt::print("STEP generate {:.2f}s\n", seconds(std::chrono::steady_clock::now() - t0));

        const audio::CleanupOptions cleanup(true, audio::HumMode::autoDetect, true, true, true, 1.5);
        const audio::LoudnessTarget target{kTargetLUFS, kTargetTP, kTargetLRA, false};
        const auto oursStart = std::chrono::steady_clock::now();
        const auto result = audio::LoudnessNormalizer().process(source, work.path() / "ours.wav", target, cleanup);
        const double ours = seconds(std::chrono::steady_clock::now() - oursStart);
        const double oursRss = peakRssMB();

        {
            // Where our time goes: one analysis and one render pass on their own.
            auto t = std::chrono::steady_clock::now();
            const auto analysis = audio::AudioAnalysis::analyze(source, true);
            fmt::print("STEP analyse {:.2f}s\n", seconds(std::chrono::steady_clock::now() - t));
            const auto plan = audio::CleanupPlan::make(analysis, cleanup);
            t = std::chrono::steady_clock::now();
            audio::CleanupRender::render(source, work.path() / "pass.wav", analysis, plan, cleanup, result.gainDB, target);
            fmt::print("STEP render {:.2f}s\n", seconds(std::chrono::steady_clock::now() - t));
            fs::remove(work.path() / "pass.wav");
        }
        if (argc > 2 && std::string_view(argv[2]) == "--ours-only") {
            fmt::print("SPEED normalise x_realtime={:.1f}\n", duration / ours);
            return 0;
        }
        const double peer = peerTwoPass(source, work.path() / "peer.wav");
        fmt::print("COMPARE normalise ours={:.2f}s peer={:.2f}s speedup={:.2f}\n", ours, peer, peer / ours);

        const Levels oursLevels = measure(work.path() / "ours.wav");
        const Levels peerLevels = measure(work.path() / "peer.wav");
        fmt::print("LOUDNESS ours integrated={:.2f}LUFS true_peak={:.2f}dBTP error={:.2f}LU\n", oursLevels.lufs,
                   oursLevels.truePeakDB, std::abs(oursLevels.lufs - kTargetLUFS));
        fmt::print("LOUDNESS peer integrated={:.2f}LUFS true_peak={:.2f}dBTP error={:.2f}LU\n", peerLevels.lufs,
                   peerLevels.truePeakDB, std::abs(peerLevels.lufs - kTargetLUFS));
        fmt::print("INFO ours input={:.2f}LUFS gain={:.2f}dB limiter={:.2f}dB hum={} removed={:.1f}s\n",
                   result.input.integratedLUFS, result.gainDB, result.limiterReductionDB,
                   result.humRemovedHz ? fmt::format("{}Hz", *result.humRemovedHz) : std::string("none"),
                   result.secondsRemoved);
        fmt::print("TOTAL {:.2f}s peak_rss={:.1f}MB\n", seconds(std::chrono::steady_clock::now() - t0), oursRss);
        return 0;
    } catch (const std::exception& e) {
        fmt::print(stderr, "bench_normalise: {}\n", e.what());
        return 1;
    }
}

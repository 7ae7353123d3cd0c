// Quitting mid-run with long episodes, through the real view model, queue
// actor, podcast preset and pipeline: the time from the quit to the end of
// the run (what the window shows as "Stopping…") when the quit comes during
// the clean-up, the transcription or the audiogram of a two-episode batch,
// and how long an episode whose intro is a FIFO takes to be refused.
//
//   bench_quit [seconds] [phase]   (default 3600 and cleanup; the phases
//                                   are cleanup, transcription, audiogram
//                                   and fifo)
//
// One phase per run: the stop a quit raises is process-wide and stays
// raised. Prints "STEP <phase> <seconds>s", and each item's end state on
// standard error.

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "core/Files.h"
#include "core/Numbers.h"
#include "core/Uuid.h"
#include "presets/QuorvelPreset.h"
#include "ui/StandaloneViewModel.h"
#include "Mailbox.h"
#include "SpokenEpisode.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The spoken episode as a FLAC file (the second episode is a hard link to
// it) and a short outro.
void makeInputs(const fs::path& dir, int length) {
    bench::makeSpokenEpisode(dir, length, dir / "a.flac", "flac");
    fs::create_hard_link(dir / "a.flac", dir / "b.flac");
    bench::runTool({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    "sine=frequency=660:sample_rate=48000:duration=4", "-ac", "2", (dir / "outro.wav").string()});
}

struct NoScheduler : ui::Scheduler {
    Token schedule(double, std::function<void()>) override { return 0; }
    void cancel(Token) override {}
};

using Model = ui::StandaloneViewModel<presets::QuorvelPreset>;

std::size_t workFolders(const fs::path& tmp) {
    std::size_t n = 0;
    for (const auto& e : fs::directory_iterator(tmp)) n += e.is_directory();
    return n;
}

// Runs the batch and quits `delay` seconds after every item has reached
// `fraction`; returns the seconds from the quit to the end of the run. With
// a fraction above 1 there is no quit: the seconds of the whole run.
double quitDuring(const fs::path& dir, const fs::path& tmp, const std::vector<fs::path>& episodes,
                  double fraction, double delay, const std::function<void(presets::QuorvelPreset&)>& setUp) {
    Mailbox mailbox;
    NoScheduler scheduler;
    ui::MemorySettingsStore store;
    Model::Ports ports;
    ports.post = mailbox.poster();
    ports.scheduler = &scheduler;
    ports.settings = &store;
    presets::QuorvelPreset preset;
    setUp(preset);
    Model model(preset, presets::Vertical::quorvel, nullptr, ports);
    const fs::path out = dir / fmt::format("out-{}", core::Uuid::random().text());
    model.setOutputDirectory(out);
    model.ingest(episodes);
    const auto started = Clock::now();
    model.start();
    std::optional<Clock::time_point> reached, quitAt;
    while (model.isRunInFlight()) {
        for (auto& fn : mailbox.take()) fn();
        if (!reached && fraction <= 1) {
            bool all = true;
            for (const auto& item : model.queueItems())
                all = all && (batch::isTerminal(item.status) || item.progress >= fraction - 1e-9);
            if (all) {
                reached = Clock::now();
                std::cerr << fmt::format("reached {:.2f} after {:.1f}s\n", fraction, seconds(*reached - started));
            }
        }
        if (reached && !quitAt && seconds(Clock::now() - *reached) >= delay) {
            quitAt = Clock::now();
            model.stopForQuit();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const auto ended = Clock::now();
    for (int i = 0; i < 40; ++i) {
        for (auto& fn : mailbox.take()) fn();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (const auto& item : model.queueItems())
        std::cerr << fmt::format("  {} {} {}\n", item.sourceURL.filename().string(), batch::rawValue(item.status),
                                 item.errorMessage.value_or(""));
    std::cerr << fmt::format("  work folders left: {}\n", workFolders(tmp));
    return quitAt ? seconds(ended - *quitAt) : seconds(ended - started);
}

} // namespace

int main(int argc, char** argv) {
    try {
        int length = 3600;
        if (argc > 1) length = static_cast<int>(core::parseInt(argv[1]).value_or(3600));
        const std::string phase = argc > 2 ? argv[2] : "cleanup";

        const core::WorkFolder dir("quorvel-bench-quit");
        const fs::path tmp = dir.path() / "tmp";
        fs::create_directory(tmp);
        ::setenv("TMPDIR", tmp.c_str(), 1);
        makeInputs(dir.path(), length);
        const std::vector<fs::path> both{dir.path() / "a.flac", dir.path() / "b.flac"};
        const auto full = [](presets::QuorvelPreset&) {};

        double s = 0;
        if (phase == "cleanup") {
            s = quitDuring(dir.path(), tmp, both, 0.05, 5, full);
        } else if (phase == "transcription") {
            // The recognition starts at 0.25; the steps after it wait for its
            // words (the RSS file's encoding runs beside it).
            s = quitDuring(dir.path(), tmp, both, 0.25, 20, full);
        } else if (phase == "audiogram") {
            // Past the clip's choice and cut, into the drawing of the frames.
            s = quitDuring(dir.path(), tmp, both, 0.85, 1, full);
        } else if (phase == "fifo") {
            const fs::path fifo = dir.path() / "intro.wav";
            if (::mkfifo(fifo.c_str(), 0600) != 0) throw std::runtime_error("no FIFO");
            s = quitDuring(dir.path(), tmp, {dir.path() / "a.flac"}, 2.0, 0, [&](presets::QuorvelPreset& p) {
                p.introURL = fifo;
                p.outroURL = dir.path() / "outro.wav";
            });
        } else {
            throw std::runtime_error("unknown phase " + phase);
        }
        std::cout << fmt::format("STEP {} {:.2f}s\n", phase, s);
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "bench_quit: " << e.what() << '\n';
        return 1;
    }
}

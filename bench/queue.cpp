// The window's queue under a large batch: 1000 items, each reporting
// 8 status events (start, six progress steps, done), fed through the real
// queue actor, view model and main window on the offscreen platform. The
// GUI time is the time the GUI thread spends applying the events and
// painting. The peer is a bare QListWidget whose row text is rewritten for
// each event: the least a widget list can do per event.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <QApplication>
#include <QListWidget>

#include <fmt/format.h>

#include "batch/BatchPreset.h"
#include "core/Uuid.h"
#include "ui/MainWindow.h"
#include "ui/QuorvelApp.h"
#include "ui/StandaloneViewModel.h"
#include "ui/Workspace.h"
#include "Mailbox.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kItems = 1000;
constexpr int kProgressSteps = 6; // + start + done = 8 events per item

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

class ReportingPreset : public batch::BatchPreset {
public:
    std::string id() const override { return "com.bench.reporting"; }
    std::string displayName() const override { return "Reporting"; }
    std::string verticalName() const override { return "Bench"; }
    std::string description() const override { return "Reports progress and writes nothing"; }
    std::string systemIconName() const override { return "gear"; }
    std::set<std::string> supportedExtensions() const override { return {"wav"}; }
    std::string defaultNamingPattern() const override { return "{name}"; }
    std::vector<fs::path> process(const batch::BatchItem&, const batch::ProcessingContext& context) const override {
        for (int i = 1; i <= kProgressSteps; ++i) context.onProgressUpdate(i / double(kProgressSteps + 1), std::nullopt);
        return {};
    }
    bool operator==(const ReportingPreset&) const = default;
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto started = Clock::now();

    const fs::path dir = fs::temp_directory_path() / ("bench-queue-" + core::Uuid::random().text());
    fs::create_directories(dir);
    std::vector<fs::path> files;
    for (int i = 0; i < kItems; ++i) {
        files.push_back(dir / fmt::format("episode {:04}.wav", i));
        std::ofstream(files.back()) << "x";
    }

    Mailbox mailbox;
    using Model = ui::StandaloneViewModel<ReportingPreset>;
    Model::Ports ports;
    ports.post = mailbox.poster();
    Model model(ReportingPreset(), presets::Vertical::quorvel, nullptr, ports);
    model.setOutputDirectory(dir / "out");
    ui::WorkspaceAdapter<ReportingPreset> workspace(model, ReportingPreset());
    ui::MainWindow window(workspace, ui::QuorvelApp::branding(), nullptr, nullptr);
    window.resize(1040, 720);
    window.show();
    QApplication::processEvents();

    std::atomic<int> events{0};
    model.queueManager().addStatusListener(
        [&events](const core::Uuid&, const core::Uuid&, batch::ProcessingStatus, double,
                  const std::optional<std::string>&) { ++events; }).wait();

    auto t0 = Clock::now();
    model.ingest(files);
    QApplication::processEvents();
    const double ingest = seconds(Clock::now() - t0);

    Clock::duration gui{};
    t0 = Clock::now();
    model.start();
    gui += Clock::now() - t0;
    const auto deadline = Clock::now() + std::chrono::minutes(30);
    while (model.isRunInFlight() && Clock::now() < deadline) {
        auto batch = mailbox.take();
        if (batch.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        const auto t = Clock::now();
        for (auto& fn : batch) fn();
        QApplication::processEvents(); // paint what changed
        gui += Clock::now() - t;
    }
    const double ours = seconds(gui);
    const int seen = events.load();
    const bool allDone = std::all_of(model.queueItems().begin(), model.queueItems().end(), [](const auto& i) {
        return i.status == batch::ProcessingStatus::completed;
    });

    // The peer: one text item per file, rewritten per event.
    QListWidget peerList;
    peerList.resize(700, 500);
    peerList.show();
    for (const auto& f : files) peerList.addItem(QString::fromStdString(f.filename().string() + "  Pending"));
    QApplication::processEvents();
    t0 = Clock::now();
    for (int step = 0; step < kProgressSteps + 2; ++step) {
        for (int i = 0; i < kItems; ++i) {
            peerList.item(i)->setText(QString::fromStdString(
                fmt::format("{}  {} {}%", files[static_cast<size_t>(i)].filename().string(),
                            step == kProgressSteps + 1 ? "Completed" : "Processing", step * 100 / (kProgressSteps + 1))));
            if (i % 64 == 0) QApplication::processEvents();
        }
    }
    QApplication::processEvents();
    const double peer = seconds(Clock::now() - t0);

    fs::remove_all(dir);
    fmt::print("STEP queue_ingest_{} {:.3f}s\n", kItems, ingest);
    fmt::print("STEP queue_gui_{}x{} {:.3f}s events={} all_completed={}\n", kItems, kProgressSteps + 2, ours, seen,
               allDone ? "yes" : "no");
    fmt::print("COMPARE queue_events ours={:.3f}s peer={:.3f}s speedup={:.2f}\n", ours, peer, peer / ours);
    fmt::print("TOTAL {:.3f}s\n", seconds(Clock::now() - started));
    return allDone ? 0 : 1;
}

#pragma once

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>
#include <QTest>

#include "support/TestSupport.h"
#include "ui/MainWindow.h"
#include "ui/QuorvelApp.h"
#include "ui/StandaloneViewModel.h"
#include "ui/Workspace.h"
#include "WorkspaceFakes.h"

namespace uitest {

using ScriptedModel = ui::StandaloneViewModel<ScriptedPreset>;

// The real adapter, counting the calls the window makes. A set
// `shownProgress` puts the batch into a run at that progress, for the
// tray's status text.
class CountingWorkspace : public ui::WorkspaceAdapter<ScriptedPreset> {
public:
    using WorkspaceAdapter::WorkspaceAdapter;
    void ingest(const std::vector<std::filesystem::path>& urls) override {
        ingested.push_back(urls);
        WorkspaceAdapter::ingest(urls);
    }
    void start() override {
        ++starts;
        WorkspaceAdapter::start();
    }
    bool isProcessing() const override { return shownProgress ? true : WorkspaceAdapter::isProcessing(); }
    double overallProgress() const override {
        return shownProgress ? *shownProgress : WorkspaceAdapter::overallProgress();
    }

    std::vector<std::vector<std::filesystem::path>> ingested;
    int starts = 0;
    std::optional<double> shownProgress;
};

// A window over a real view model whose preset the test scripts.
struct WindowRig {
    testsupport::TempDir dir;
    FakePoster poster;
    FakeScheduler scheduler;
    ui::MemorySettingsStore store;
    std::shared_ptr<Script> script = std::make_shared<Script>();
    std::unique_ptr<ScriptedModel> model;
    std::unique_ptr<CountingWorkspace> workspace;
    std::unique_ptr<ui::MainWindow> window;

    explicit WindowRig(const ui::StandaloneBranding& branding = ui::QuorvelApp::branding()) {
        ScriptedModel::Ports ports;
        ports.post = poster.poster();
        ports.scheduler = &scheduler;
        ports.settings = &store;
        model = std::make_unique<ScriptedModel>(ScriptedPreset(script), presets::Vertical::quorvel, nullptr, ports);
        model->setOutputDirectory(dir / "out");
        workspace = std::make_unique<CountingWorkspace>(*model, ScriptedPreset(script));
        window = std::make_unique<ui::MainWindow>(*workspace, branding, nullptr, nullptr);
    }
    ~WindowRig() {
        script->release();
        if (model) poster.pumpUntil([this] { return !model->isRunInFlight(); });
    }
    std::filesystem::path file(const std::string& name) {
        std::filesystem::path p = dir / name;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p) << "x";
        return p;
    }
    void add(const std::vector<std::string>& names) {
        std::vector<std::filesystem::path> paths;
        for (const auto& n : names) paths.push_back(file(n));
        model->ingest(paths);
    }
    bool waitIdle() {
        return poster.pumpUntil([this] { return !model->isRunInFlight(); });
    }
    // The preset's threads change `running` without posting, so this polls.
    bool waitRunning(int items) {
        auto running = [this, items] {
            std::lock_guard lock(script->mutex);
            return script->running == items && model->isProcessing();
        };
        for (int i = 0; i < 1000 && !running(); ++i) poster.pumpFor(10);
        return running();
    }
    void show() {
        window->show();
        window->activateWindow();
        (void)QTest::qWaitForWindowActive(window.get());
    }
    bool shown(QWidget* w) const { return w->isVisibleTo(window.get()); }
};

} // namespace uitest

#include "ui/QuorvelApp.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QSettings>
#include <QUrl>

#include "episode/EpisodePipeline.h"
#include "episode/Transcriber.h"
#include "presets/Vertical.h"
#include "ui/MainWindow.h"
#include "ui/OptionControls.h"
#include "ui/QtPorts.h"
#include "ui/QuorvelOptionsPanel.h"
#include "ui/WindowSnapshot.h"

namespace ui {

presets::QuorvelPreset QuorvelApp::defaultPreset() {
    return presets::QuorvelPreset("Brindlemoor Podcast", "Velmora Master", 1, -16.0, true, false, true, std::nullopt);
}

StandaloneBranding QuorvelApp::branding() {
    return {"Quorvel",
            "Clean up, level and package podcast episodes",
            "waveform.badge.mic",
            "Drop Episode Audio or Video Here",
            "Cleans up and loudness-matches each episode, then exports the master, RSS file, transcript and audiogram.",
            "Process All",
            "episode",
            QuorvelOptionsPanel::kTokens};
}

namespace {

void revealInFileManager(const std::vector<std::filesystem::path>& files) {
    if (files.empty()) return;
    std::filesystem::path target = files.front();
    std::error_code ec;
    if (!std::filesystem::is_directory(target, ec)) target = target.parent_path();
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(target.string())));
}

AlertPorts qtAlerts(QWidget* parent) {
    AlertPorts a;
    a.inform = [parent](const std::string& message, const std::string& informative) {
        QMessageBox box(parent);
        box.setTextFormat(Qt::PlainText);
        box.setText(QString::fromStdString(message));
        setPlainInformativeText(box, informative);
        box.exec();
    };
    a.offerDownload = [parent](const std::string& message, const std::string& informative) {
        QMessageBox box(parent);
        box.setTextFormat(Qt::PlainText);
        box.setText(QString::fromStdString(message));
        setPlainInformativeText(box, informative);
        QPushButton* download = box.addButton(QStringLiteral("Download"), QMessageBox::AcceptRole);
        box.addButton(QStringLiteral("Later"), QMessageBox::RejectRole);
        box.setDefaultButton(download);
        box.exec();
        return box.clickedButton() == download;
    };
    a.openURL = [](const std::string& url) { QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); };
    return a;
}

} // namespace

int QuorvelApp::run(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvel"));
    QApplication::setOrganizationName(QStringLiteral("Tembrook"));
    QApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
    std::vector<std::string> args(argv, argv + argc);

    QSettingsStore store(std::make_unique<QSettings>());
    QtScheduler scheduler;

    UpdateChecker::Ports updatePorts;
    updatePorts.fetcher = std::make_shared<QtUpdateFetcher>();
    updatePorts.settings = &store;
    updatePorts.alerts = qtAlerts(nullptr);
#ifdef QUORVEL_INSTALLED_BUILD
    updatePorts.installedBuild = true;
#endif
    updatePorts.currentVersion = QUORVEL_VERSION;
    updatePorts.currentBuildText = QUORVEL_BUILD;
    auto updates = std::make_shared<UpdateChecker>(batch::Edition::quorvel, updatePorts);

    using Model = StandaloneViewModel<presets::QuorvelPreset>;
    Model::Ports ports;
    ports.post = makeQtPoster();
    ports.scheduler = &scheduler;
    ports.settings = &store;
    ports.desktop.reveal = revealInFileManager;
    Model model(defaultPreset(), presets::Vertical::quorvel, updates, ports);
    WorkspaceAdapter<presets::QuorvelPreset> workspace(model, defaultPreset());

    QuorvelOptionsPanel::Capabilities caps;
    caps.transcriptionAvailable = [] { return episode::Transcriber::isSupported(); };
    caps.producesMP3 = [] { return episode::sharedEpisodePipeline().producesMP3(); };
    auto* panel = new QuorvelOptionsPanel(model, caps);
    MainWindow window(workspace, branding(), panel, [panel] { panel->refresh(); });

    // Panels need the window as their parent, so they are wired after it exists.
    DesktopPorts desktop;
    desktop.reveal = revealInFileManager;
    desktop.chooseInputs = [&window] {
        std::vector<std::filesystem::path> out;
        QFileDialog dialog(&window);
        dialog.setFileMode(QFileDialog::ExistingFiles);
        dialog.setOption(QFileDialog::DontUseNativeDialog, false);
        if (dialog.exec())
            for (const QString& f : dialog.selectedFiles()) out.emplace_back(f.toStdString());
        return out;
    };
    desktop.chooseFolder = [&window](const std::filesystem::path& start) -> std::optional<std::filesystem::path> {
        QString dir = QFileDialog::getExistingDirectory(&window, QString(), QString::fromStdString(start.string()));
        if (dir.isEmpty()) return std::nullopt;
        return std::filesystem::path(dir.toStdString());
    };
    model.setDesktop(desktop);

    QObject::connect(&app, &QApplication::aboutToQuit, [&] {
        model.flushPendingSave();
        store.sync();
        model.queueManager().cancel();
    });
    window.show();
    WindowSnapshot::captureIfRequested(args);
    return app.exec();
}

} // namespace ui

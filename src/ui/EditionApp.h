#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QSettings>

#include "batch/SecurityScopedBookmarkManager.h"
#include "batch/UpdateInfo.h"
#include "presets/Vertical.h"
#include "ui/DesktopDialogs.h"
#include "ui/MainWindow.h"
#include "ui/QSettingsBookmarkStore.h"
#include "ui/QtPorts.h"
#include "ui/SingleInstance.h"
#include "ui/StandaloneBranding.h"
#include "ui/StandaloneViewModel.h"
#include "ui/UpdateChecker.h"
#include "ui/WindowSnapshot.h"
#include "ui/Workspace.h"

namespace ui {

// What one edition's application is made of; everything else about the
// window is the same for every edition.
template <typename P> struct EditionSetup {
    QString applicationName;  // the program's display name
    QString settingsName;     // its own settings file: Tembrook/<settingsName>.conf
    QString desktopId;        // launcher and icon name
    batch::Edition edition;   // its update feed
    presets::Vertical vertical;
    P defaultPreset;
    StandaloneBranding branding;
    QString fileFilterName;   // the open panel's filter, e.g. "Photos"
    // Makes the edition's option panel over the model.
    std::function<QWidget*(StandaloneViewModel<P>&)> makePanel;
    // Shows the preset again in that panel.
    std::function<void(QWidget*)> refreshPanel;
    // The libraries the About box names after Qt.
    std::string aboutLibraries;
};

namespace edition_app {

// How long an end of the session mid-run waits for the running items.
inline constexpr int kStopWaitMs = 30000;

// Names, version, launcher and icon of the application.
void setIdentity(const QString& applicationName, const QString& desktopId);
// The edition's update checker; alerts open over the window `parent` points
// to once it exists.
std::shared_ptr<UpdateChecker> makeUpdateChecker(batch::Edition edition, SettingsStore& store,
                                                 std::shared_ptr<QPointer<QWidget>> parent, bool installedBuild);
// What a running window does with the files a later start hands over: it
// comes forward and queues them, one ingest call each, as the command
// line's files are.
SingleInstance::Receiver handOverTo(QWidget& window, Workspace& workspace);
// The window's size and place, kept in the edition's settings file.
bool restoreWindowGeometry(QWidget& window, QSettings& settings);
void saveWindowGeometry(const QWidget& window, QSettings& settings);

} // namespace edition_app

// Builds an edition's window over its one view model and runs the event
// loop; returns the exit code. An installed build checks for updates by itself.
template <typename P> int runEditionApp(int argc, char** argv, bool installedBuild, const EditionSetup<P>& setup) {
    QApplication app(argc, argv);
    edition_app::setIdentity(setup.applicationName, setup.desktopId);
    std::vector<std::string> args(argv, argv + argc);
    const std::vector<std::filesystem::path> files = filesFromCommandLine(args);
    // A second start gives its files to the window already open and ends.
    // A scripted snapshot always gets a window of its own.
    SingleInstance instance(SingleInstance::serverName(setup.desktopId));
    if (!WindowSnapshot::parse(args) && instance.start(files) == SingleInstance::Role::handedOver) return 0;

    QSettingsStore store(std::make_unique<QSettings>(QStringLiteral("Tembrook"), setup.settingsName));
    // Remembered folders live in the same settings file.
    batch::SecurityScopedBookmarkManager::shared().setStore(std::make_shared<QSettingsBookmarkStore>(
        std::make_shared<QSettings>(QStringLiteral("Tembrook"), setup.settingsName)));
    QtScheduler scheduler;
    auto alertParent = std::make_shared<QPointer<QWidget>>();
    auto updates = edition_app::makeUpdateChecker(setup.edition, store, alertParent, installedBuild);

    using Model = StandaloneViewModel<P>;
    typename Model::Ports ports;
    ports.post = makeQtPoster();
    ports.scheduler = &scheduler;
    ports.settings = &store;
    Model model(setup.defaultPreset, setup.vertical, updates, ports);
    WorkspaceAdapter<P> workspace(model, setup.defaultPreset);

    QWidget* panel = setup.makePanel(model);
    auto refresh = setup.refreshPanel;
    MainWindow window(workspace, setup.branding, panel, [panel, refresh] { refresh(panel); });
    *alertParent = &window;
    window.setAboutLibraries(setup.aboutLibraries);
    model.setDesktop(qtDesktopPorts(&window, setup.fileFilterName, model.preset().supportedExtensions()));
    QSettings windowSettings(QStringLiteral("Tembrook"), setup.settingsName);
    edition_app::restoreWindowGeometry(window, windowSettings);

    QObject::connect(&app, &QApplication::aboutToQuit, [&] {
        model.flushPendingSave();
        edition_app::saveWindowGeometry(window, windowSettings);
        store.sync();
        windowSettings.sync();
    });
    window.show();
    // Files handed over by the launcher or the file manager, queued as if dropped.
    for (const auto& file : files) model.ingest({file});
    instance.setReceiver(edition_app::handOverTo(window, workspace));
    WindowSnapshot::captureIfRequested(args);
    const int code = app.exec();
    // Ended some other way mid-run (the session ends): stop the run as Quit does.
    if (model.isRunInFlight() && !window.isQuitting()) {
        model.stopForQuit();
        QElapsedTimer waited;
        waited.start();
        while (model.isRunInFlight() && waited.elapsed() < edition_app::kStopWaitMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        model.flushPendingSave();
        store.sync();
    }
    return code;
}

} // namespace ui

#include "ui/EditionApp.h"

namespace ui::edition_app {

namespace {

constexpr const char* kGeometryKey = "windowGeometry";

} // namespace

void setIdentity(const QString& applicationName, const QString& desktopId) {
    QApplication::setApplicationName(applicationName);
    QApplication::setOrganizationName(QStringLiteral("Tembrook"));
    QApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
    QApplication::setDesktopFileName(desktopId);
    QApplication::setWindowIcon(applicationIcon(desktopId));
}

std::shared_ptr<UpdateChecker> makeUpdateChecker(batch::Edition edition, SettingsStore& store,
                                                 std::shared_ptr<QPointer<QWidget>> parent, bool installedBuild) {
    UpdateChecker::Ports ports;
    ports.fetcher = std::make_shared<QtUpdateFetcher>();
    ports.settings = &store;
    ports.alerts = qtAlertPorts([parent]() -> QWidget* { return parent->data(); });
    ports.installedBuild = installedBuild;
    ports.currentVersion = QUORVEL_VERSION;
    ports.currentBuildText = QUORVEL_BUILD;
    return std::make_shared<UpdateChecker>(edition, ports);
}

SingleInstance::Receiver handOverTo(QWidget& window, Workspace& workspace) {
    QPointer<QWidget> shown(&window);
    return [shown, &workspace](std::vector<std::filesystem::path> files) {
        if (shown) {
            if (shown->isMinimized()) shown->showNormal();
            else shown->show();
            shown->raise();
            shown->activateWindow();
        }
        for (const auto& file : files) workspace.ingest({file});
    };
}

bool restoreWindowGeometry(QWidget& window, QSettings& settings) {
    const QByteArray saved = settings.value(QLatin1String(kGeometryKey)).toByteArray();
    return !saved.isEmpty() && window.restoreGeometry(saved);
}

void saveWindowGeometry(const QWidget& window, QSettings& settings) {
    settings.setValue(QLatin1String(kGeometryKey), window.saveGeometry());
}

} // namespace ui::edition_app

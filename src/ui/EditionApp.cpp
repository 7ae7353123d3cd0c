#include "ui/EditionApp.h"

namespace ui::edition_app {

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

} // namespace ui::edition_app

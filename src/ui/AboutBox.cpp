#include "ui/AboutBox.h"

#include <QApplication>
#include <QMenu>
#include <fmt/format.h>

#include "ui/OptionControls.h"

namespace ui {

std::unique_ptr<QMessageBox> makeAboutBox(QWidget* parent, const StandaloneBranding& branding,
                                          const std::string& libraries) {
    auto box = std::make_unique<QMessageBox>(parent);
    box->setWindowTitle(QString::fromStdString("About " + branding.title));
    box->setIconPixmap(QApplication::windowIcon().pixmap(64, 64));
    box->setTextFormat(Qt::PlainText);
    box->setText(QString::fromStdString(branding.title));
    std::string info = fmt::format("Version {}\n\n{}", QUORVEL_VERSION,
                                   branding.subtitle);
    const std::string qt = fmt::format("Qt {}", qVersion());
    info += "\n\nBuilt with " + (libraries.empty() ? qt : qt + ", " + libraries) + ".";
    setPlainInformativeText(*box, info);
    box->setStandardButtons(QMessageBox::Ok);
    return box;
}

QAction* addAboutActions(QMenu* menu, QWidget* parent, const StandaloneBranding& branding,
                         std::function<std::string()> libraries) {
    QAction* about = menu->addAction(literalCaption(QString::fromStdString("About " + branding.title)), parent,
                                     [parent, branding, libraries] {
                                         makeAboutBox(parent, branding, libraries ? libraries() : std::string())->exec();
                                     });
    about->setMenuRole(QAction::AboutRole);
    QAction* aboutQt = menu->addAction(QStringLiteral("About Qt"), qApp, &QApplication::aboutQt);
    aboutQt->setMenuRole(QAction::AboutQtRole);
    return about;
}

} // namespace ui

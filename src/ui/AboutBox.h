#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QMessageBox>

#include "ui/StandaloneBranding.h"

class QMenu;

namespace ui {

// The "About <title>" box: the program's name, version and subtitle, and a
// line naming the libraries it is built on (`libraries`, after Qt's own
// version; left out when empty).
std::unique_ptr<QMessageBox> makeAboutBox(QWidget* parent, const StandaloneBranding& branding,
                                          const std::string& libraries);

// Appends "About <title>" (showing the box above, with the libraries that
// `libraries` returns when chosen) and "About Qt" to `menu`; returns the
// first.
QAction* addAboutActions(QMenu* menu, QWidget* parent, const StandaloneBranding& branding,
                         std::function<std::string()> libraries);

} // namespace ui

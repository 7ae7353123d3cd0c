#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <QFileDialog>
#include <QIcon>
#include <QString>

#include "ui/UpdateChecker.h"
#include "ui/WorkspacePorts.h"

namespace ui {

// The open panels, alerts and the desktop identity of an edition's
// application, shared by every edition.

// Every panel opens at its `start` folder, or at the nearest folder above it
// that exists (an output folder is made only when a run starts), or at the
// home folder when there is none; never in the program's working folder.

// The panel behind "Add Files…" and "Browse…": several existing files, with
// the filter "<filterName> (*.ext …)" from the preset's extensions (lower
// and upper case) and "All files (*)".
std::unique_ptr<QFileDialog> makeInputFilesDialog(QWidget* parent, const QString& filterName,
                                                  const std::set<std::string>& extensions,
                                                  const std::filesystem::path& start);
// The panel behind "Add Folder…", titled "Add Folder": one existing folder.
std::unique_ptr<QFileDialog> makeInputFolderDialog(QWidget* parent, const std::filesystem::path& start);
// The output folder panel, titled "Choose Output Folder": folders only,
// folder creation on, its button reading "Use Folder".
std::unique_ptr<QFileDialog> makeOutputFolderDialog(QWidget* parent, const std::filesystem::path& start);

// The desktop ports over the panels above, with `parent` as their parent.
// The output folder panel opens at the folder it is given; the file and
// input folder panels at the folder files were last added from through
// them in this session (the home folder at first).
// `reveal` opens the folder of the first file in the file manager; when no
// file manager takes it, an alert over `parent` names the folder.
DesktopPorts qtDesktopPorts(QWidget* parent, const QString& filterName, std::set<std::string> extensions);

// Update alerts as message boxes over the window that `parent` returns at
// the time of the alert (the window may not exist yet when the checker is
// made).
AlertPorts qtAlertPorts(std::function<QWidget*()> parent);

// The application's icon: the installed theme icon `name` when the desktop
// finds one, else the edition's same picture drawn here (build-tree runs,
// tests; see EditionIcon.h).
QIcon applicationIcon(const QString& name);

// The files and folders named on the command line (a desktop launcher's %F),
// in order: every argument after the program's path that is neither an
// option ("-…") nor an option's value; "file://" URLs become paths.
std::vector<std::filesystem::path> filesFromCommandLine(const std::vector<std::string>& arguments);

} // namespace ui

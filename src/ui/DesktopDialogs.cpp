#include "ui/DesktopDialogs.h"

#include <QDesktopServices>
#include <QDir>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QUrl>

#include "ui/EditionIcon.h"
#include "ui/OptionControls.h"
#include "ui/UiTexts.h"

namespace ui {

namespace fs = std::filesystem;

namespace {

// `wanted`, or the nearest folder above it that exists; the home folder
// when none does (or `wanted` is not an absolute path).
QString existingFolder(const fs::path& wanted) {
    std::error_code ec;
    for (fs::path p = wanted; p.is_absolute(); p = p.parent_path()) {
        if (fs::is_directory(p, ec)) return QString::fromStdString(p.string());
        if (p == p.parent_path()) break;
    }
    return QDir::homePath();
}

} // namespace

std::unique_ptr<QFileDialog> makeInputFilesDialog(QWidget* parent, const QString& filterName,
                                                  const std::set<std::string>& extensions, const fs::path& start) {
    auto dialog = std::make_unique<QFileDialog>(parent, QString(), existingFolder(start));
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    QStringList patterns;
    for (const auto& ext : extensions) {
        const QString e = QString::fromStdString(ext);
        patterns << QStringLiteral("*.") + e;
        if (e.toUpper() != e) patterns << QStringLiteral("*.") + e.toUpper();
    }
    QStringList filters;
    if (!patterns.isEmpty()) filters << filterName + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + ')';
    filters << QStringLiteral("All files (*)");
    dialog->setNameFilters(filters);
    return dialog;
}

std::unique_ptr<QFileDialog> makeInputFolderDialog(QWidget* parent, const fs::path& start) {
    auto dialog = std::make_unique<QFileDialog>(parent, QStringLiteral("Add Folder"), existingFolder(start));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    return dialog;
}

std::unique_ptr<QFileDialog> makeOutputFolderDialog(QWidget* parent, const fs::path& start) {
    auto dialog = std::make_unique<QFileDialog>(parent, QStringLiteral("Choose Output Folder"), existingFolder(start));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setOption(QFileDialog::ReadOnly, false); // folder creation stays on
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Use Folder"));
    return dialog;
}

namespace {

// A plain-text message box with one button.
void showMessage(QWidget* parent, QMessageBox::Icon icon, const std::string& message, const std::string& informative) {
    QMessageBox box(parent);
    box.setIcon(icon);
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(message));
    setPlainInformativeText(box, informative);
    box.exec();
}

} // namespace

DesktopPorts qtDesktopPorts(QWidget* parent, const QString& filterName, std::set<std::string> extensions) {
    QPointer<QWidget> owner(parent);
    DesktopPorts desktop;
    desktop.reveal = [owner](const std::vector<fs::path>& files) {
        if (files.empty()) return;
        fs::path target = files.front();
        std::error_code ec;
        if (!fs::is_directory(target, ec)) target = target.parent_path();
        if (QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(target.string())))) return;
        // Nothing took the folder: say where it is instead.
        QMessageBox box(owner.data());
        box.setIcon(QMessageBox::Information);
        box.setTextFormat(Qt::PlainText);
        box.setText(QString::fromUtf8(texts::kNoFileManagerMessage));
        setPlainInformativeText(box, texts::noFileManagerInformative(target.string()));
        box.setTextInteractionFlags(Qt::TextSelectableByMouse); // the path can be copied
        box.exec();
    };
    // Where the file and input folder panels open next: the folder of the
    // files last chosen, or the folder last chosen, in this session.
    auto inputFolder = std::make_shared<fs::path>(QDir::homePath().toStdString());
    desktop.chooseInputs = [owner, filterName, extensions, inputFolder] {
        std::vector<fs::path> out;
        auto dialog = makeInputFilesDialog(owner.data(), filterName, extensions, *inputFolder);
        if (dialog->exec())
            for (const QString& f : dialog->selectedFiles()) out.emplace_back(f.toStdString());
        if (!out.empty()) *inputFolder = out.front().parent_path();
        return out;
    };
    desktop.chooseInputFolder = [owner, inputFolder]() -> std::optional<fs::path> {
        auto dialog = makeInputFolderDialog(owner.data(), *inputFolder);
        if (!dialog->exec() || dialog->selectedFiles().isEmpty()) return std::nullopt;
        *inputFolder = dialog->selectedFiles().front().toStdString();
        return *inputFolder;
    };
    desktop.chooseFolder = [owner](const fs::path& start) -> std::optional<fs::path> {
        auto dialog = makeOutputFolderDialog(owner.data(), start);
        if (!dialog->exec() || dialog->selectedFiles().isEmpty()) return std::nullopt;
        return fs::path(dialog->selectedFiles().front().toStdString());
    };
    desktop.alert = [owner](const std::string& message, const std::string& informative) {
        showMessage(owner.data(), QMessageBox::Warning, message, informative);
    };
    return desktop;
}

AlertPorts qtAlertPorts(std::function<QWidget*()> parent) {
    AlertPorts a;
    a.inform = [parent](const std::string& message, const std::string& informative) {
        showMessage(parent ? parent() : nullptr, QMessageBox::NoIcon, message, informative);
    };
    a.offerDownload = [parent](const std::string& message, const std::string& informative) {
        QMessageBox box(parent ? parent() : nullptr);
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

QIcon applicationIcon(const QString& name) {
    QIcon themed = QIcon::fromTheme(name);
    if (!themed.isNull() && !themed.pixmap(32, 32).isNull()) return themed;
    QIcon drawn;
    const std::string id = name.toStdString();
    for (int size : {16, 24, 32, 48, 64, 128, 256}) drawn.addPixmap(drawEditionIcon(id, size));
    return drawn;
}

std::vector<fs::path> filesFromCommandLine(const std::vector<std::string>& arguments) {
    // Options of the program that take a value.
    static const std::set<std::string> withValue{"--snapshot", "--snapshot-size"};
    std::vector<fs::path> files;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        if (withValue.count(arg)) {
            ++i;
            continue;
        }
        if (arg.empty() || arg.front() == '-') continue;
        if (arg.rfind("file://", 0) == 0) {
            const QUrl url(QString::fromStdString(arg));
            if (url.isLocalFile()) files.emplace_back(url.toLocalFile().toStdString());
            continue;
        }
        files.emplace_back(arg);
    }
    return files;
}

} // namespace ui

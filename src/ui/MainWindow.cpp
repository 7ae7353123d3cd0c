#include "ui/MainWindow.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QCloseEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "core/Numbers.h"
#include "ui/AboutBox.h"
#include "ui/UiTexts.h"

namespace ui {

QIcon MainWindow::symbolIcon(const std::string& name, const QStyle* style) {
    if (name == "folder") return style->standardIcon(QStyle::SP_DirIcon);
    if (name == "terminal") return style->standardIcon(QStyle::SP_FileDialogDetailedView);
    if (name.rfind("waveform", 0) == 0) return style->standardIcon(QStyle::SP_MediaVolume);
    if (name.rfind("photo", 0) == 0 || name.rfind("house", 0) == 0) return style->standardIcon(QStyle::SP_DesktopIcon);
    if (name.rfind("building", 0) == 0) return style->standardIcon(QStyle::SP_DirHomeIcon);
    if (name.rfind("cube", 0) == 0) return style->standardIcon(QStyle::SP_FileDialogContentsView);
    return style->standardIcon(QStyle::SP_ComputerIcon);
}

DropZone::DropZone(Workspace& workspace, const StandaloneBranding& branding, QWidget* parent)
    : QFrame(parent), workspace_(workspace) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(6);
    auto* title = new QLabel(this);
    setPlainText(title, QString::fromStdString(branding.dropTitle));
    title->setFont(scaledFont(font(), 14, QFont::DemiBold));
    title->setAlignment(Qt::AlignCenter);
    auto* hint = new QLabel(this);
    setPlainText(hint, QString::fromStdString(branding.dropHint));
    hint->setFont(scaledFont(font(), 11));
    hint->setForegroundRole(QPalette::PlaceholderText);
    hint->setAlignment(Qt::AlignCenter);
    hint->setWordWrap(true);
    browse_ = new QPushButton(QStringLiteral("Browse…"), this);
    makeSmall(browse_);
    // The file panel cannot take a folder, so folders have their own button.
    addFolder_ = new QPushButton(QStringLiteral("Add Folder…"), this);
    makeSmall(addFolder_);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    buttons->addWidget(browse_);
    buttons->addWidget(addFolder_);
    buttons->addStretch(1);
    column->addStretch(1);
    column->addWidget(title);
    column->addWidget(hint);
    column->addLayout(buttons);
    column->addStretch(1);
    connect(browse_, &QPushButton::clicked, this, [this] { workspace_.browse(); });
    connect(addFolder_, &QPushButton::clicked, this, [this] { workspace_.browseFolder(); });
    refresh();
}

void DropZone::refresh() {
    const bool compact = !workspace_.queueItems().empty();
    setFixedHeight(compact ? 96 : 150);
    // The compact zone keeps its texts readable with a narrower top and bottom padding.
    layout()->setContentsMargins(16, compact ? 6 : 16, 16, compact ? 6 : 16);
    static_cast<QVBoxLayout*>(layout())->setSpacing(compact ? 2 : 6);
}

void DropZone::setTargeted(bool targeted) {
    if (targeted_ == targeted) return;
    targeted_ = targeted;
    update();
}

void DropZone::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
    p.setBrush(palette().color(QPalette::Base));
    QColor stroke = targeted_ ? palette().color(QPalette::Highlight) : palette().color(QPalette::PlaceholderText);
    if (!targeted_) stroke.setAlphaF(0.3f);
    QPen pen(stroke, 2, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setDashPattern({3, 3}); // 6 px dashes at width 2
    p.setPen(pen);
    p.drawRoundedRect(r, 12, 12);
    QFrame::paintEvent(event);
}

MainWindow::MainWindow(Workspace& workspace, StandaloneBranding branding, QWidget* optionsPanel,
                       std::function<void()> refreshOptions, QWidget* parent)
    : QMainWindow(parent), workspace_(workspace), branding_(std::move(branding)),
      refreshOptions_(std::move(refreshOptions)) {
    setWindowTitle(QString::fromStdString(branding_.title));
    setAcceptDrops(true);
    auto* central = new QWidget(this);
    auto* row = new QHBoxLayout(central);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    QWidget* work = buildWorkspaceColumn();
    work->setMinimumWidth(460);
    row->addWidget(work, 1);
    auto* divider = new QFrame(central);
    divider->setFrameShape(QFrame::VLine);
    row->addWidget(divider);
    row->addWidget(buildOptionsColumn(optionsPanel));
    setCentralWidget(central);
    central->setMinimumSize(860, 600);
    resize(1040, 720);
    buildMenus();
    buildTray();
    workspace_.setObserver([this](WorkspaceField f) { refresh(f); });
    refresh(WorkspaceField::queueItems);
    refresh(WorkspaceField::outputDirectory);
    refresh(WorkspaceField::namingPattern);
}

QWidget* MainWindow::buildWorkspaceColumn() {
    auto* column = new QWidget(this);
    auto* v = new QVBoxLayout(column);
    v->setContentsMargins(16, 16, 16, 16);
    v->setSpacing(12);

    auto* header = new QHBoxLayout();
    auto* icon = new QLabel(column);
    icon->setPixmap(symbolIcon(branding_.icon, style()).pixmap(24, 24));
    header->addWidget(icon);
    auto* titles = new QVBoxLayout();
    titles->setSpacing(2);
    auto* title = new QLabel(column);
    setPlainText(title, QString::fromStdString(branding_.title));
    title->setFont(scaledFont(font(), 16, QFont::Bold));
    auto* subtitle = new QLabel(column);
    setPlainText(subtitle, QString::fromStdString(branding_.subtitle));
    subtitle->setFont(scaledFont(font(), 11));
    subtitle->setForegroundRole(QPalette::PlaceholderText);
    subtitle->setWordWrap(true); // a long description takes more lines, never gets cut
    titles->addWidget(title);
    titles->addWidget(subtitle);
    // The texts take the width the log toggle leaves; the toggle stays at the trailing edge.
    header->addLayout(titles, 1);
    logToggle_ = new QPushButton(symbolIcon("terminal", style()), QStringLiteral("Show Log"), column);
    logToggle_->setFont(scaledFont(font(), 11));
    header->addWidget(logToggle_);
    v->addLayout(header);

    drop_ = new DropZone(workspace_, branding_, column);
    v->addWidget(drop_);
    queue_ = new QueueList(workspace_, branding_, column);
    v->addWidget(queue_, 1);

    log_ = new QPlainTextEdit(column);
    log_->setReadOnly(true);
    log_->setFont(scaledFont(font(), 10, QFont::Normal, true));
    log_->setFixedHeight(120);
    log_->setVisible(false);
    v->addWidget(log_);
    connect(logToggle_, &QPushButton::clicked, this, [this] {
        showLog_ = !showLog_;
        log_->setVisible(showLog_);
        logToggle_->setText(showLog_ ? QStringLiteral("Hide Log") : QStringLiteral("Show Log"));
        if (showLog_) {
            refreshLog();
            log_->verticalScrollBar()->setValue(0); // opens at the top until the next line
        }
    });

    auto* out = new QHBoxLayout();
    out->setSpacing(8);
    auto* folder = new QLabel(column);
    folder->setPixmap(symbolIcon("folder", style()).pixmap(16, 16));
    out->addWidget(folder);
    outputPath_ = new ElidedLabel(column);
    outputPath_->setFont(scaledFont(font(), 11, QFont::Normal, true));
    // The path takes the width it needs and gives way (elided in the middle)
    // when the row is too narrow; the row sits at the leading edge.
    outputPath_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    out->addWidget(outputPath_);
    auto* change = new QPushButton(QStringLiteral("Change…"), column);
    auto* show = new QPushButton(QStringLiteral("Show"), column);
    makeSmall(change);
    makeSmall(show);
    out->addWidget(change);
    out->addWidget(show);
    out->addStretch(1);
    v->addLayout(out);
    connect(change, &QPushButton::clicked, this, [this] { workspace_.chooseOutputDirectory(); });
    connect(show, &QPushButton::clicked, this, [this] { workspace_.revealOutput(); });
    return column;
}

QWidget* MainWindow::buildOptionsColumn(QWidget* panel) {
    optionsScroll_ = new QScrollArea(this);
    optionsScroll_->setFixedWidth(340);
    optionsScroll_->setWidgetResizable(true);
    optionsScroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A panel wider than the column (a long picker entry) scrolls sideways.
    optionsScroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto* content = new QWidget(optionsScroll_);
    auto* v = new QVBoxLayout(content);
    if (panel) v->addWidget(panel);
    naming_ = new NamingPatternSection(QString::fromStdString(branding_.tokens),
                                       [this](const std::string& p) { workspace_.setNamingPattern(p); }, content);
    v->addWidget(naming_);
    v->addStretch(1);
    optionsScroll_->setWidget(content);
    return optionsScroll_;
}

void MainWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction* add = file->addAction(QStringLiteral("Add Files…"), this, [this] { workspace_.browse(); });
    add->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    file->addAction(QStringLiteral("Add Folder…"), this, [this] { workspace_.browseFolder(); });
    file->addSeparator();
    quitAction_ = file->addAction(QStringLiteral("Quit"), this, [this] { requestQuit(); });
    quitAction_->setShortcut(QKeySequence::Quit);

    QMenu* batchMenu = menuBar()->addMenu(QStringLiteral("&Batch"));
    runAction_ = batchMenu->addAction(literalCaption(QString::fromStdString(branding_.runLabel)), this,
                                      [this] { workspace_.start(); });
    cancelAction_ = batchMenu->addAction(QStringLiteral("Cancel"), this, [this] { workspace_.cancel(); });
    cancelAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Period));
    batchMenu->addSeparator();
    batchMenu->addAction(QStringLiteral("Clear Finished"), this, [this] { workspace_.clearFinished(); });
    QAction* showOut = batchMenu->addAction(QStringLiteral("Show Output Folder"), this, [this] { workspace_.revealOutput(); });
    showOut->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    batchMenu->addSeparator();
    batchMenu->addAction(QStringLiteral("Reset All Settings"), this, [this] {
        workspace_.resetToDefaults();
        if (refreshOptions_) refreshOptions_();
    });

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("Check for Updates…"), this, [this] {
        if (workspace_.updates()) workspace_.updates()->checkNow();
    });
    help->addSeparator();
    aboutAction_ = addAboutActions(help, this, branding_, [this] { return aboutLibraries_; });
}

void MainWindow::buildTray() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    // The application's own icon (the installed one) where it has one.
    QIcon icon = QApplication::windowIcon();
    if (icon.availableSizes().isEmpty()) icon = symbolIcon(branding_.icon, style());
    tray_ = new QSystemTrayIcon(icon, this);
    tray_->setToolTip(QString::fromStdString(branding_.title));
    auto* menu = new QMenu(this);
    trayStatus_ = menu->addAction(QString());
    trayStatus_->setEnabled(false);
    menu->addSeparator();
    menu->addAction(literalCaption(QString::fromStdString("Open " + branding_.title)), this, [this] {
        showNormal();
        raise();
        activateWindow();
    });
    trayRun_ = menu->addAction(literalCaption(QString::fromStdString(branding_.runLabel)), this,
                               [this] { workspace_.start(); });
    menu->addAction(QStringLiteral("Show Output Folder"), this, [this] { workspace_.revealOutput(); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("Quit"), this, [this] { requestQuit(); });
    tray_->setContextMenu(menu);
    tray_->show();
}

QString MainWindow::trayStatusText() const {
    if (workspace_.isProcessing()) {
        double p = std::clamp(workspace_.overallProgress(), 0.0, 1.0);
        return QString::fromStdString(fmt::format("{}: {}%", branding_.title, core::clampToInt64(p * 100)));
    }
    return QString::fromStdString(fmt::format("{}: {} waiting", branding_.title, workspace_.runnableCount()));
}

void MainWindow::refreshCommands() {
    const bool canRun = !workspace_.isProcessing() && !workspace_.isStopping() && workspace_.runnableCount() > 0;
    runAction_->setEnabled(canRun);
    cancelAction_->setEnabled(workspace_.isProcessing());
    if (trayRun_) trayRun_->setEnabled(canRun);
    if (trayStatus_) trayStatus_->setText(literalCaption(trayStatusText()));
}

void MainWindow::refreshLog() {
    const auto& lines = workspace_.logLines();
    QStringList all;
    all.reserve(static_cast<int>(lines.size()));
    for (const auto& l : lines) all << QString::fromStdString(l);
    log_->setPlainText(all.join(QLatin1Char('\n')));
}

void MainWindow::refreshOutputRow() {
    outputPath_->setFullText(QString::fromStdString(workspace_.outputDirectory().string()));
}

void MainWindow::refresh(WorkspaceField field) {
    switch (field) {
    case WorkspaceField::queueItems:
        queue_->refreshItems();
        drop_->refresh();
        break;
    case WorkspaceField::selection:
        queue_->refreshSelection();
        break;
    case WorkspaceField::isProcessing:
    case WorkspaceField::overallProgress:
        queue_->refreshHeader();
        break;
    case WorkspaceField::logLines:
        if (showLog_) {
            // A new count scrolls to the last line; otherwise the pane stays where it was.
            const bool grew = workspace_.logLines().size() != shownLogCount_;
            const int kept = log_->verticalScrollBar()->value();
            refreshLog();
            QScrollBar* bar = log_->verticalScrollBar();
            bar->setValue(grew ? bar->maximum() : kept);
        }
        shownLogCount_ = workspace_.logLines().size();
        break;
    case WorkspaceField::outputDirectory:
        refreshOutputRow();
        break;
    case WorkspaceField::namingPattern:
        naming_->setPattern(workspace_.namingPattern());
        break;
    case WorkspaceField::preset:
        if (refreshOptions_) refreshOptions_();
        break;
    case WorkspaceField::itemOutputs:
        break;
    }
    refreshCommands();
    if (!workspace_.isRunInFlight()) {
        // The run ended while the quit question was open: nothing is left
        // to stop, so the question goes and the quit goes ahead.
        if (quitQuestion_) quitQuestion_->done(QDialog::Accepted);
        if (quitting_) finishQuit();
    }
}

bool MainWindow::askToQuitMidRun() {
    if (confirmQuit_) return confirmQuit_();
    QMessageBox box(this);
    box.setIcon(QMessageBox::Question);
    box.setTextFormat(Qt::PlainText);
    box.setText(QStringLiteral("Stop processing and quit?"));
    box.setInformativeText(QString::fromStdString(
        fmt::format(texts::kQuitMidRunInformative, branding_.itemNoun)));
    QPushButton* quit = box.addButton(QStringLiteral("Quit"), QMessageBox::DestructiveRole);
    QPushButton* keep = box.addButton(QStringLiteral("Keep Processing"), QMessageBox::RejectRole);
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    quitQuestion_ = &box;
    box.exec();
    quitQuestion_ = nullptr;
    // No button: refresh() closed the question because the run ended.
    return box.clickedButton() == quit || (!box.clickedButton() && !workspace_.isRunInFlight());
}

void MainWindow::requestQuit() {
    if (quitting_ || quitQuestion_) return;
    if (workspace_.isRunInFlight()) {
        if (!askToQuitMidRun()) return;
        // The run may have ended while the question was open.
        if (workspace_.isRunInFlight()) {
            quitting_ = true;
            workspace_.stopForQuit();
            queue_->refreshHeader();
            refreshCommands();
            QTimer::singleShot(quitStopTimeoutMs_, this, [this] { finishQuit(); });
            return; // refresh() finishes once the run's report is back
        }
    }
    quitting_ = true;
    finishQuit();
}

void MainWindow::finishQuit() {
    if (quitDone_) return;
    quitDone_ = true;
    workspace_.flushPendingSave();
    if (quitHandler_)
        quitHandler_();
    else
        QApplication::quit();
}

namespace {

// Files are always copied in, whatever the modifier keys propose: the
// source must never be moved away by a drop on the window.
bool offersFiles(const QDropEvent* event) {
    return event->mimeData()->hasUrls() && (event->possibleActions() & Qt::CopyAction);
}

} // namespace

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!offersFiles(event)) return event->ignore();
    drop_->setTargeted(true);
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
    if (!offersFiles(event)) return event->ignore();
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void MainWindow::dragLeaveEvent(QDragLeaveEvent* event) {
    drop_->setTargeted(false);
    QMainWindow::dragLeaveEvent(event);
}

void MainWindow::dropEvent(QDropEvent* event) {
    drop_->setTargeted(false);
    // One ingest call per URL that is a local file; anything else is ignored.
    for (const QUrl& url : event->mimeData()->urls()) {
        if (!url.isLocalFile()) continue;
        workspace_.ingest({std::filesystem::path(url.toLocalFile().toStdString())});
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Closing the window quits; mid-run it goes the way of Quit and the
    // window stays until the run has stopped.
    if (quitDone_ || !workspace_.isRunInFlight()) {
        if (!quitDone_) workspace_.flushPendingSave();
        return QMainWindow::closeEvent(event);
    }
    event->ignore();
    requestQuit();
}

} // namespace ui

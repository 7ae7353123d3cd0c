#pragma once

#include <functional>

#include <QFrame>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSystemTrayIcon>

#include "ui/OptionControls.h"
#include "ui/QueueList.h"
#include "ui/StandaloneBranding.h"
#include "ui/Workspace.h"

namespace ui {

// The dashed drop zone. Files are dropped on the whole window (see
// MainWindow); the zone shows the highlight while a drag of files hovers
// over any part of it.
class DropZone : public QFrame {
public:
    DropZone(Workspace& workspace, const StandaloneBranding& branding, QWidget* parent = nullptr);
    void refresh();
    QPushButton* browseButton() const { return browse_; }
    QPushButton* addFolderButton() const { return addFolder_; }
    bool isTargeted() const { return targeted_; }
    void setTargeted(bool targeted);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Workspace& workspace_;
    QPushButton* browse_;
    QPushButton* addFolder_;
    bool targeted_ = false;
};

// The application's one window: the workspace column (header, drop zone,
// queue, log, output folder) and the options column (the edition's panel
// and the naming section). `optionsPanel` is taken over by the window.
class MainWindow : public QMainWindow {
public:
    MainWindow(Workspace& workspace, StandaloneBranding branding, QWidget* optionsPanel,
               std::function<void()> refreshOptions, QWidget* parent = nullptr);

    void refresh(WorkspaceField field);

    QueueList* queue() const { return queue_; }
    DropZone* dropZone() const { return drop_; }
    QPushButton* logToggle() const { return logToggle_; }
    QPlainTextEdit* logPane() const { return log_; }
    ElidedLabel* outputPath() const { return outputPath_; }
    NamingPatternSection* namingSection() const { return naming_; }
    QScrollArea* optionsScroll() const { return optionsScroll_; }
    QAction* runAction() const { return runAction_; }
    QAction* cancelAction() const { return cancelAction_; }
    QString trayStatusText() const;
    QAction* quitAction() const { return quitAction_; }
    QAction* aboutAction() const { return aboutAction_; }
    // The libraries the About box names after Qt.
    void setAboutLibraries(std::string libraries) { aboutLibraries_ = std::move(libraries); }

    // Quit (menu, tray, closing the window). Mid-run it asks first; then it
    // cancels, raises the stop (which ends the programs the run started and
    // the in-process steps), waits for the running items to stop (they
    // remove their work folders), writes pending settings and calls the
    // quit handler.
    void requestQuit();
    bool isQuitting() const { return quitting_; }
    // Asks whether to quit mid-run (default: a message box over the window).
    void setQuitConfirmation(std::function<bool()> confirm) { confirmQuit_ = std::move(confirm); }
    // What ends the application (default: QApplication::quit).
    void setQuitHandler(std::function<void()> handler) { quitHandler_ = std::move(handler); }
    // How long a quit waits for running items that do not stop (a step
    // that doesn't look at the stop); then it quits all the same and the
    // next start sweeps what they left.
    void setQuitStopTimeout(int milliseconds) { quitStopTimeoutMs_ = milliseconds; }
    // Icon for one of the design's symbol names.
    static QIcon symbolIcon(const std::string& name, const QStyle* style);

protected:
    void closeEvent(QCloseEvent* event) override;
    // The whole window takes dropped local files and folders, one ingest
    // call per URL.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool askToQuitMidRun();
    void finishQuit();
    QWidget* buildWorkspaceColumn();
    QWidget* buildOptionsColumn(QWidget* panel);
    void buildMenus();
    void buildTray();
    void refreshLog();
    void refreshOutputRow();
    void refreshCommands();

    Workspace& workspace_;
    StandaloneBranding branding_;
    std::function<void()> refreshOptions_;
    QueueList* queue_ = nullptr;
    DropZone* drop_ = nullptr;
    QPushButton* logToggle_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
    ElidedLabel* outputPath_ = nullptr;
    NamingPatternSection* naming_ = nullptr;
    QScrollArea* optionsScroll_ = nullptr;
    QAction* runAction_ = nullptr;
    QAction* cancelAction_ = nullptr;
    QAction* quitAction_ = nullptr;
    QAction* aboutAction_ = nullptr;
    std::string aboutLibraries_;
    std::function<bool()> confirmQuit_;
    QPointer<QMessageBox> quitQuestion_; // while the mid-run quit question is open
    std::function<void()> quitHandler_;
    bool quitting_ = false;
    bool quitDone_ = false;
    int quitStopTimeoutMs_ = 30000;
    QSystemTrayIcon* tray_ = nullptr;
    QAction* trayStatus_ = nullptr;
    QAction* trayRun_ = nullptr;
    std::size_t shownLogCount_ = 0;
    bool showLog_ = false; // the log pane is hidden at launch
};

} // namespace ui

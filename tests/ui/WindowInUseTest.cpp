// The window in real use: keys on the queue, cancel and quit mid-run,
// folders from the panels, drops, the selection highlight, alerts.
#include <csignal>
#include <fstream>

#include <QDesktopServices>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QTextBrowser>
#include <QTimer>

#include <gtest/gtest.h>

#include "core/ChildProcess.h"
#include "core/Files.h"
#include "core/StopSignal.h"
#include "ui/DesktopDialogs.h"
#include "ui/UiTexts.h"
#include "WindowTestSupport.h"

using uitest::WindowRig;
namespace fs = std::filesystem;

namespace {

QColor shownColour(QLabel* label) { return label->palette().color(label->foregroundRole()); }

std::vector<std::string> queuedNames(const std::vector<batch::BatchItem>& items) {
    std::vector<std::string> out;
    for (const auto& i : items) out.push_back(i.sourceURL.filename().string());
    return out;
}

void touch(const fs::path& p) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "x";
}

bool isAlive(int pid) { return ::kill(pid, 0) == 0; }

// The item of any of the window's menus with that caption.
QAction* menuItem(QMainWindow* window, const QString& text) {
    for (QAction* a : window->menuBar()->actions())
        if (a->menu())
            for (QAction* item : a->menu()->actions())
                if (item->text() == text) return item;
    return nullptr;
}

} // namespace

// --- Delete and Backspace -------------------------------------------------

class QueueKeys : public ::testing::TestWithParam<Qt::Key> {};

TEST_P(QueueKeys, RemoveTheSelectedRowsWhenIdleAndNothingDuringARun) {
    WindowRig rig;
    rig.add({"a.wav", "b.wav", "c.wav", "d.wav"});
    rig.show();
    auto* list = rig.window->queue()->list();
    list->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->hasFocus(); }, 1000));
    list->item(1)->setSelected(true);
    list->item(2)->setSelected(true);
    ASSERT_EQ(rig.model->selection().size(), 2u);
    QTest::keyClick(rig.window->windowHandle(), GetParam());
    EXPECT_EQ(queuedNames(rig.model->queueItems()), (std::vector<std::string>{"a.wav", "d.wav"}));
    EXPECT_TRUE(rig.model->selection().empty());
    EXPECT_EQ(list->count(), 2);

    list->item(0)->setSelected(true);
    rig.script->holdItems = true;
    rig.workspace->start();
    ASSERT_TRUE(rig.waitRunning(2));
    QTest::keyClick(rig.window->windowHandle(), GetParam());
    EXPECT_EQ(rig.model->queueItems().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(WindowInUse, QueueKeys, ::testing::Values(Qt::Key_Delete, Qt::Key_Backspace));

TEST(WindowInUse, RemovingTheWholeSelectionThroughTheWorkspaceIsSafe) {
    WindowRig rig;
    rig.add({"a.wav", "b.wav", "c.wav"});
    std::set<core::Uuid> all;
    for (const auto& i : rig.model->queueItems()) all.insert(i.id);
    rig.model->setSelection(all);
    rig.workspace->remove(rig.workspace->selection()); // the set remove() edits
    EXPECT_TRUE(rig.model->queueItems().empty());
    EXPECT_TRUE(rig.model->selection().empty());
}

// --- Rows kept by id ------------------------------------------------------

TEST(WindowInUse, StatusEventsUpdateRowsInPlace) {
    WindowRig rig;
    rig.add({"a.wav", "b.wav", "c.wav"});
    auto* list = rig.window->queue()->list();
    std::vector<QWidget*> before;
    for (int i = 0; i < 3; ++i) before.push_back(list->itemWidget(list->item(i)));
    rig.script->reportProgress = 0.5;
    rig.script->holdItems = true;
    rig.workspace->start();
    ASSERT_TRUE(rig.waitRunning(3));
    rig.poster.pumpFor(50);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(list->itemWidget(list->item(i)), before[static_cast<size_t>(i)]);
    EXPECT_EQ(rig.window->queue()->statusLabel(1)->text(), "Processing");
    auto* bar = before[1]->findChild<QProgressBar*>(QStringLiteral("progress"));
    ASSERT_TRUE(bar);
    EXPECT_TRUE(bar->isVisibleTo(before[1]));
    EXPECT_EQ(bar->value(), 500);
    rig.script->release();
    ASSERT_TRUE(rig.waitIdle());
    EXPECT_FALSE(bar->isVisibleTo(before[1]));
    EXPECT_EQ(rig.window->queue()->statusLabel(1)->text(), "Completed");
    // Adding appends rows; removing one keeps the others' widgets.
    rig.add({"d.wav"});
    EXPECT_EQ(list->itemWidget(list->item(0)), before[0]);
    rig.model->remove({rig.model->queueItems()[1].id});
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->itemWidget(list->item(0)), before[0]);
    EXPECT_EQ(list->itemWidget(list->item(1)), before[2]);
    EXPECT_EQ(rig.window->queue()->statusLabel(2)->text(), "Pending");
}

TEST(WindowInUse, ASelectedRowsGreyTextsTakeTheHighlightTextColour) {
    WindowRig rig;
    rig.add({"a.wav", "b.wav"});
    auto* q = rig.window->queue();
    const QPalette palette = q->palette();
    EXPECT_EQ(shownColour(q->statusLabel(0)), palette.color(QPalette::PlaceholderText));
    q->list()->item(0)->setSelected(true);
    EXPECT_EQ(shownColour(q->statusLabel(0)), palette.color(QPalette::HighlightedText));
    EXPECT_EQ(shownColour(q->statusLabel(1)), palette.color(QPalette::PlaceholderText));
    q->list()->item(0)->setSelected(false);
    EXPECT_EQ(shownColour(q->statusLabel(0)), palette.color(QPalette::PlaceholderText));
}

// --- Cancel ----------------------------------------------------------------

TEST(WindowInUse, RunControlsStayDisabledFromCancelUntilTheReport) {
    WindowRig rig;
    rig.show();
    auto* q = rig.window->queue();
    rig.add({"a.wav", "b.wav"});
    rig.script->holdItems = true;
    q->runButton()->click();
    ASSERT_TRUE(rig.waitRunning(2));
    q->cancelButton()->click();
    ASSERT_TRUE(rig.poster.pumpUntil([&] { return !rig.model->isProcessing(); }));
    ASSERT_TRUE(rig.model->isRunInFlight());
    rig.add({"c.wav"}); // runnable, yet no run may start while the old one stops
    EXPECT_TRUE(rig.shown(q->stoppingLabel()));
    EXPECT_EQ(q->stoppingLabel()->text(), "Stopping…");
    EXPECT_TRUE(rig.shown(q->runButton()));
    EXPECT_FALSE(q->runButton()->isEnabled());
    EXPECT_FALSE(rig.window->runAction()->isEnabled());
    EXPECT_FALSE(rig.window->cancelAction()->isEnabled());
    QTest::keyClick(rig.window->windowHandle(), Qt::Key_R, Qt::ControlModifier);
    QTest::qWait(300);
    EXPECT_EQ(rig.workspace->starts, 1);

    rig.script->release();
    ASSERT_TRUE(rig.waitIdle());
    EXPECT_FALSE(rig.shown(q->stoppingLabel()));
    EXPECT_TRUE(q->runButton()->isEnabled());
    EXPECT_TRUE(rig.window->runAction()->isEnabled());
    EXPECT_EQ(rig.model->queueItems()[2].status, batch::ProcessingStatus::pending);
}

// --- Quit mid-run ----------------------------------------------------------

namespace {

// Each item works in a work folder of its own and runs a long child program
// there, as an FFmpeg step does.
struct ChildScript {
    std::mutex mutex;
    std::vector<fs::path> workFolders;
};

class ChildPreset : public uitest::ScriptedPreset {
public:
    ChildPreset(std::shared_ptr<uitest::Script> script, std::shared_ptr<ChildScript> children)
        : ScriptedPreset(std::move(script)), children_(std::move(children)) {}
    std::vector<fs::path> process(const batch::BatchItem&, const batch::ProcessingContext&) const override {
        core::WorkFolder work("quorvel-quit-test");
        {
            std::lock_guard lock(children_->mutex);
            children_->workFolders.push_back(work.path());
        }
        touch(work.path() / "partial.wav");
        auto result = core::runChildProcess({"/bin/sleep", "120"});
        if (!result.succeeded()) throw core::Error("stopped");
        return {};
    }
    bool operator==(const ChildPreset&) const = default;

private:
    std::shared_ptr<ChildScript> children_;
};

struct QuitRig {
    testsupport::TempDir dir;
    uitest::FakePoster poster;
    uitest::FakeScheduler scheduler;
    ui::MemorySettingsStore store;
    std::shared_ptr<ChildScript> children = std::make_shared<ChildScript>();
    std::unique_ptr<ui::StandaloneViewModel<ChildPreset>> model;
    std::unique_ptr<ui::WorkspaceAdapter<ChildPreset>> workspace;
    std::unique_ptr<ui::MainWindow> window;
    int asked = 0;
    bool answer = true;
    bool quit = false;

    QuitRig() {
        ui::StandaloneViewModel<ChildPreset>::Ports ports;
        ports.post = poster.poster();
        ports.scheduler = &scheduler;
        ports.settings = &store;
        ChildPreset preset(std::make_shared<uitest::Script>(), children);
        model = std::make_unique<ui::StandaloneViewModel<ChildPreset>>(preset, presets::Vertical::quorvel, nullptr, ports);
        model->setOutputDirectory(dir / "out");
        workspace = std::make_unique<ui::WorkspaceAdapter<ChildPreset>>(*model, preset);
        window = std::make_unique<ui::MainWindow>(*workspace, ui::QuorvelApp::branding(), nullptr, nullptr);
        window->setQuitConfirmation([this] {
            ++asked;
            return answer;
        });
        window->setQuitHandler([this] { quit = true; });
    }
    ~QuitRig() {
        core::clearStopRequest();
        core::terminateRunningChildProcesses();
        poster.pumpUntil([this] { return !model->isRunInFlight(); });
        poster.pumpFor(200); // the cancel's own answer, posted from its waiting thread
    }
};

} // namespace

class QuitMidRun : public ::testing::TestWithParam<std::string> {};

TEST_P(QuitMidRun, AsksThenEndsTheChildrenRemovesTheWorkFoldersSavesAndQuits) {
    QuitRig rig;
    touch(rig.dir / "a.wav");
    touch(rig.dir / "b.wav");
    rig.model->ingest({rig.dir / "a.wav", rig.dir / "b.wav"});
    rig.model->start();
    for (int i = 0; i < 1000 && core::runningChildProcessIds().size() != 2; ++i) rig.poster.pumpFor(10);
    ASSERT_EQ(core::runningChildProcessIds().size(), 2u);
    const std::vector<int> pids = core::runningChildProcessIds();
    std::vector<fs::path> folders;
    {
        std::lock_guard lock(rig.children->mutex);
        folders = rig.children->workFolders;
    }
    ASSERT_EQ(folders.size(), 2u);
    for (const auto& f : folders) EXPECT_TRUE(fs::exists(f / "partial.wav"));
    rig.model->setNamingPattern("{name}_pending_save"); // saved 0.4 s later, unless flushed

    auto quit = [&] {
        if (GetParam() == "menu")
            rig.window->quitAction()->trigger();
        else
            EXPECT_FALSE(rig.window->close()); // the window stays until the run has stopped
    };
    // Declining keeps the run going.
    rig.answer = false;
    quit();
    EXPECT_EQ(rig.asked, 1);
    rig.poster.pumpFor(200);
    EXPECT_FALSE(rig.quit);
    for (int pid : pids) EXPECT_TRUE(isAlive(pid));

    rig.answer = true;
    quit();
    EXPECT_EQ(rig.asked, 2);
    ASSERT_TRUE(rig.poster.pumpUntil([&] { return rig.quit; }));
    EXPECT_FALSE(rig.model->isRunInFlight());
    EXPECT_TRUE(core::runningChildProcessIds().empty());
    for (int pid : pids) EXPECT_FALSE(isAlive(pid)) << pid;
    for (const auto& f : folders) EXPECT_FALSE(fs::exists(f)) << f;
    // Stopped, not failed: ending the programs was the user's doing.
    for (const auto& item : rig.model->queueItems()) EXPECT_EQ(item.status, batch::ProcessingStatus::cancelled);
    EXPECT_EQ(rig.store.texts["namingPattern"], "{name}_pending_save");
    // Once stopped, closing goes through.
    EXPECT_TRUE(rig.window->close());
}

INSTANTIATE_TEST_SUITE_P(WindowInUse, QuitMidRun, ::testing::Values("menu", "close"));

TEST(WindowInUse, QuitWhenIdleAsksNothing) {
    QuitRig rig;
    rig.model->setNamingPattern("{name}_idle");
    rig.window->quitAction()->trigger();
    EXPECT_EQ(rig.asked, 0);
    EXPECT_TRUE(rig.quit);
    EXPECT_EQ(rig.store.texts["namingPattern"], "{name}_idle");
}

TEST(WindowInUse, TheQuitQuestionGoesAndTheQuitGoesAheadWhenTheRunEndsMeanwhile) {
    WindowRig rig;
    rig.show();
    rig.add({"a.wav"});
    rig.script->holdItems = true;
    rig.workspace->start();
    ASSERT_TRUE(rig.waitRunning(1));
    bool quit = false;
    rig.window->setQuitHandler([&] { quit = true; });
    QString asked;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) asked = box->text();
        rig.script->release(); // the batch finishes while the question is open
        rig.waitIdle();
    });
    // A question still open long after the run ended is answered "Keep Processing".
    bool stillOpen = false;
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            stillOpen = true;
            box->close();
        }
    });
    bound.start(10000);
    rig.window->quitAction()->trigger();
    EXPECT_EQ(asked, "Stop processing and quit?");
    EXPECT_FALSE(rig.model->isRunInFlight());
    EXPECT_FALSE(stillOpen);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(quit);
}

// --- Folders and files from the panels -------------------------------------

TEST(WindowInUse, AFolderChosenInBrowseIsExpandedLikeADrop) {
    WindowRig rig;
    const fs::path folder = rig.dir / "Season 2";
    for (const char* name : {"ep 10.wav", "ep 2.mp3", "notes.txt", "cover.JPG", ".hidden.wav", "extra/ep 3.wav"})
        touch(folder / name);
    int asked = 0;
    ui::DesktopPorts desktop;
    desktop.chooseInputFolder = [&]() -> std::optional<fs::path> {
        ++asked;
        return folder;
    };
    rig.model->setDesktop(desktop);
    rig.window->dropZone()->addFolderButton()->click();
    EXPECT_EQ(asked, 1);
    const auto viaPanel = queuedNames(rig.model->queueItems());
    EXPECT_EQ(viaPanel, (std::vector<std::string>{"ep 2.mp3", "ep 10.wav", "ep 3.wav"}));
    EXPECT_EQ(rig.window->queue()->list()->count(), 3);
    ASSERT_FALSE(rig.model->logLines().empty());
    EXPECT_EQ(uitest::untimed(rig.model->logLines().back()), "Left out 2 unsupported files: cover.JPG, notes.txt.");

    // The File menu's item asks for a folder the same way; the same folder adds nothing new.
    QAction* addFolder = menuItem(rig.window.get(), QStringLiteral("Add Folder…"));
    ASSERT_TRUE(addFolder);
    addFolder->trigger();
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(rig.model->queueItems().size(), 3u);

    // A drop of the same folder into a fresh window queues the same files.
    WindowRig dropped;
    dropped.model->ingest({folder});
    EXPECT_EQ(queuedNames(dropped.model->queueItems()), viaPanel);
}

TEST(WindowInUse, ChosenFilesLogHowManyWereLeftOut) {
    WindowRig rig;
    ui::DesktopPorts desktop;
    desktop.chooseInputs = [&] {
        return std::vector<fs::path>{rig.file("a.wav"), rig.file("b.txt"), rig.file("c.mov")};
    };
    rig.model->setDesktop(desktop);
    rig.window->dropZone()->browseButton()->click();
    EXPECT_EQ(queuedNames(rig.model->queueItems()), (std::vector<std::string>{"a.wav"}));
    ASSERT_FALSE(rig.model->logLines().empty());
    EXPECT_EQ(uitest::untimed(rig.model->logLines().back()), "Left out 2 unsupported files: b.txt, c.mov.");
    rig.model->ingest({rig.file("d.doc")});
    EXPECT_EQ(uitest::untimed(rig.model->logLines().back()), "Left out 1 unsupported file: d.doc.");
    const auto count = rig.model->logLines().size();
    rig.model->ingest({rig.file("e.mp3")});
    EXPECT_EQ(rig.model->logLines().size(), count); // nothing left out, nothing logged
}

TEST(WindowInUse, PanelsCarryTheFiltersAndTheUseFolderButton) {
    QWidget parent;
    testsupport::TempDir dir;
    auto files = ui::makeInputFilesDialog(&parent, QStringLiteral("Audio and video"), {"mp3", "wav"}, dir.path());
    EXPECT_EQ(files->nameFilters(),
              QStringList({QStringLiteral("Audio and video (*.mp3 *.MP3 *.wav *.WAV)"), QStringLiteral("All files (*)")}));
    EXPECT_EQ(files->fileMode(), QFileDialog::ExistingFiles);
    EXPECT_EQ(files->parentWidget(), &parent);
    EXPECT_EQ(fs::path(files->directory().absolutePath().toStdString()), dir.path());
    auto inputFolder = ui::makeInputFolderDialog(&parent, dir.path());
    EXPECT_EQ(inputFolder->windowTitle(), QStringLiteral("Add Folder")); // not Qt's "Find Directory"
    EXPECT_EQ(inputFolder->fileMode(), QFileDialog::Directory);
    EXPECT_EQ(fs::path(inputFolder->directory().absolutePath().toStdString()), dir.path());
    auto output = ui::makeOutputFolderDialog(&parent, dir.path());
    EXPECT_EQ(output->windowTitle(), QStringLiteral("Choose Output Folder"));
    EXPECT_EQ(output->labelText(QFileDialog::Accept), QStringLiteral("Use Folder"));
    EXPECT_EQ(output->fileMode(), QFileDialog::Directory);
    EXPECT_TRUE(output->testOption(QFileDialog::ShowDirsOnly));
    EXPECT_FALSE(output->testOption(QFileDialog::ReadOnly));
    EXPECT_EQ(fs::path(output->directory().absolutePath().toStdString()), dir.path());
    // An output folder not made yet (the default one at first launch): the
    // panel opens at the nearest folder that exists, not where the last
    // panel was nor in the working folder.
    QFileDialog().setDirectory(QDir::rootPath());
    auto later = ui::makeOutputFolderDialog(&parent, dir / "Downloads" / "BatchOutput");
    EXPECT_EQ(fs::path(later->directory().absolutePath().toStdString()), dir.path());
}

// "Add Files…" and "Add Folder…" open where files were last added from (the
// home folder at first), never in the program's working folder.
TEST(WindowInUse, FilePanelsOpenWhereFilesWereLastAddedFrom) {
    WindowRig rig;
    rig.show();
    const fs::path season = rig.dir / "Season 1";
    touch(season / "ep 1.wav");
    touch(rig.dir / "Season 2" / "ep 2.wav");
    const fs::path home = rig.dir / "home";
    fs::create_directory(home);
    const std::optional<QByteArray> previousHome =
        qEnvironmentVariableIsSet("HOME") ? std::optional(qgetenv("HOME")) : std::nullopt;
    qputenv("HOME", QByteArray::fromStdString(home.string()));
    rig.model->setDesktop(ui::qtDesktopPorts(rig.window.get(), QStringLiteral("Audio"), {"wav"}));
    if (previousHome)
        qputenv("HOME", *previousHome);
    else
        qunsetenv("HOME");
    // Opens the panel through `action`, notes where it opened and picks
    // `pick` in it (cancels it without one).
    auto openedAt = [](const std::function<void()>& action, const fs::path& pick) {
        fs::path seen;
        QTimer::singleShot(0, [&] {
            auto* panel = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!panel) return;
            seen = panel->directory().absolutePath().toStdString();
            if (!pick.empty()) {
                panel->selectFile(QString::fromStdString(pick.string()));
                static_cast<QDialog*>(panel)->accept(); // as the Open button does
            }
            if (panel->isVisible()) panel->reject();
        });
        action();
        return seen;
    };
    QFileDialog().setDirectory(QString::fromStdString(rig.dir.path().string())); // a panel was open elsewhere before
    QAction* addFiles = menuItem(rig.window.get(), QStringLiteral("Add Files…"));
    QAction* addFolder = menuItem(rig.window.get(), QStringLiteral("Add Folder…"));
    ASSERT_TRUE(addFiles && addFolder);
    EXPECT_EQ(openedAt([&] { addFiles->trigger(); }, season / "ep 1.wav"), home);
    EXPECT_EQ(queuedNames(rig.model->queueItems()), (std::vector<std::string>{"ep 1.wav"}));
    EXPECT_EQ(openedAt([&] { rig.window->dropZone()->browseButton()->click(); }, season / "ep 1.wav"), season);
    EXPECT_EQ(openedAt([&] { addFolder->trigger(); }, rig.dir / "Season 2"), season);
    EXPECT_EQ(queuedNames(rig.model->queueItems()), (std::vector<std::string>{"ep 1.wav", "ep 2.wav"}));
    EXPECT_EQ(openedAt([&] { addFiles->trigger(); }, {}), rig.dir / "Season 2");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// --- Drops, alerts, command line -------------------------------------------

TEST(WindowInUse, ADropWithShiftHeldIsStillACopy) {
    WindowRig rig;
    const fs::path file = rig.file("a.wav");
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(file.string()))});
    const Qt::DropActions both = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(QPoint(20, 20), both, &mime, Qt::LeftButton, Qt::ShiftModifier);
    QCoreApplication::sendEvent(rig.window->dropZone(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
    QDragMoveEvent move(QPoint(24, 24), both, &mime, Qt::LeftButton, Qt::ShiftModifier);
    QCoreApplication::sendEvent(rig.window->dropZone(), &move);
    EXPECT_TRUE(move.isAccepted());
    EXPECT_EQ(move.dropAction(), Qt::CopyAction);
    QDropEvent drop(QPointF(24, 24), both, &mime, Qt::LeftButton, Qt::ShiftModifier);
    QCoreApplication::sendEvent(rig.window->dropZone(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
    EXPECT_EQ(rig.model->queueItems().size(), 1u);
    EXPECT_TRUE(fs::exists(file));
}

TEST(WindowInUse, AlertsOpenOverTheWindow) {
    WindowRig rig;
    rig.show();
    QWidget* window = rig.window.get();
    auto alerts = ui::qtAlertPorts([window] { return window; });
    auto desktop = ui::qtDesktopPorts(window, QStringLiteral("Audio"), {"wav"});
    for (int kind = 0; kind < 3; ++kind) {
        QWidget* parentSeen = nullptr;
        QString text;
        QTimer::singleShot(0, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal) return;
            parentSeen = modal->parentWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) text = box->text();
            modal->close();
        });
        if (kind == 0)
            alerts.inform("You're up to date", "Quorvel 1.0.0 is the newest version.");
        else if (kind == 1)
            EXPECT_FALSE(alerts.offerDownload("Quorvel 2.0 is available", "Notes"));
        else
            desktop.alert("The batch can't start", "Could not write in the folder /proc/self: No such file or directory");
        EXPECT_EQ(parentSeen, window) << kind;
        EXPECT_FALSE(text.isEmpty());
    }
}

TEST(WindowInUse, ShowOutputFolderWithoutAFileManagerNamesTheFolder) {
    WindowRig rig;
    rig.show();
    QWidget* window = rig.window.get();
    rig.model->setDesktop(ui::qtDesktopPorts(window, QStringLiteral("Audio"), {"wav"}));
    QAction* showFolder = menuItem(rig.window.get(), QStringLiteral("Show Output Folder"));
    ASSERT_TRUE(showFolder);
    const QString folder = QString::fromStdString((rig.dir / "out").string());
    struct Seen {
        bool alert = false;
        QWidget* parent = nullptr;
        QString text, informative;
    };
    auto closeTheAlert = [](Seen& seen) {
        QTimer::singleShot(0, [&seen] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal) return;
            seen.alert = true;
            seen.parent = modal->parentWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                seen.text = box->text();
                seen.informative = box->informativeText();
            }
            modal->close();
        });
    };
    // The offscreen platform opens no folder, as a desktop without a file manager.
    Seen seen;
    closeTheAlert(seen);
    showFolder->trigger();
    EXPECT_TRUE(seen.alert);
    EXPECT_EQ(seen.parent, window);
    EXPECT_EQ(seen.text, ui::texts::kNoFileManagerMessage);
    EXPECT_EQ(seen.informative.toStdString(), ui::texts::noFileManagerInformative(folder.toStdString()));
    EXPECT_TRUE(fs::is_directory(rig.dir / "out"));

    // Where something takes folders, the folder goes there and nothing is shown.
    QTextBrowser opener;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &opener, "setSource");
    Seen none;
    closeTheAlert(none);
    showFolder->trigger();
    QCoreApplication::processEvents();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    EXPECT_FALSE(none.alert);
    EXPECT_EQ(opener.source(), QUrl::fromLocalFile(folder));
}

TEST(WindowInUse, FilesNamedOnTheCommandLineAreQueued) {
    EXPECT_EQ(ui::filesFromCommandLine({"quorvel", "a.wav", "--snapshot", "out.png", "--snapshot-size", "800x600",
                                        "file:///tmp/b%20c.mp3", "-v", "/media/Season 2"}),
              (std::vector<fs::path>{"a.wav", "/tmp/b c.mp3", "/media/Season 2"}));
    EXPECT_TRUE(ui::filesFromCommandLine({"quorvel"}).empty());
    EXPECT_TRUE(ui::filesFromCommandLine({"quorvel", "--snapshot"}).empty());
}

TEST(WindowInUse, TheApplicationIconHasPixels) {
    QIcon icon = ui::applicationIcon(QStringLiteral("quorvel-icon-that-no-theme-has"));
    ASSERT_FALSE(icon.isNull());
    QImage image = icon.pixmap(64, 64).toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);      // transparent corner
    EXPECT_GT(qAlpha(image.pixel(32, 32)), 200);  // the tile
    // Each edition's window and tray show a picture of their own.
    const QImage quorvel = ui::applicationIcon(QStringLiteral("quorvel")).pixmap(64, 64).toImage();
    const QImage halvane = ui::applicationIcon(QStringLiteral("halvane")).pixmap(64, 64).toImage();
    const QImage zentrix = ui::applicationIcon(QStringLiteral("zentrix")).pixmap(64, 64).toImage();
    EXPECT_NE(quorvel, halvane);
    EXPECT_NE(quorvel, zentrix);
    EXPECT_NE(halvane, zentrix);
}

TEST(WindowInUse, QuitGivesUpWaitingForAnItemThatDoesNotStop) {
    WindowRig rig;
    const testsupport::StopLoweredAtExit lower; // lowered before the rig lets its held item go
    rig.add({"a.wav"});
    rig.script->holdItems = true; // an in-process step: no program to end
    rig.workspace->start();
    ASSERT_TRUE(rig.waitRunning(1));
    bool quit = false;
    rig.window->setQuitConfirmation([] { return true; });
    rig.window->setQuitHandler([&] { quit = true; });
    rig.window->setQuitStopTimeout(200);
    rig.window->requestQuit();
    EXPECT_TRUE(rig.window->isQuitting());
    EXPECT_FALSE(quit);
    EXPECT_TRUE(QTest::qWaitFor([&] { return quit; }, 3000));
    EXPECT_TRUE(rig.model->isRunInFlight());
}

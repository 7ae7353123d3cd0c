#include <QDropEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QRegularExpression>
#include <QScrollBar>

#include <gtest/gtest.h>

#include "TextFit.h"
#include "ui/HalvaneApp.h"
#include "ui/ZentrixApp.h"
#include "WindowTestSupport.h"
#include "ui/AboutBox.h"

using uitest::WindowRig;

namespace {

bool dropUrls(QWidget* target, const QList<QUrl>& urls) {
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent event(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
    return event.isAccepted();
}

QUrl local(const std::filesystem::path& p) { return QUrl::fromLocalFile(QString::fromStdString(p.string())); }

QMenu* menuTitled(QMenuBar* bar, const QString& title) {
    for (QAction* a : bar->actions())
        if (a->menu() && a->text().remove(QLatin1Char('&')) == title) return a->menu();
    return nullptr;
}

// The colour a label's text is drawn in.
QColor shownColour(QLabel* label) { return label->palette().color(label->foregroundRole()); }

QStringList itemTexts(QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

} // namespace

TEST(MainWindow, DropOfThreeFilesMakesThreeIngestCallsAndAWebUrlNone) {
    WindowRig rig;
    auto a = rig.file("a.wav"), b = rig.file("b.wav"), c = rig.file("c.mp3");
    EXPECT_TRUE(dropUrls(rig.window->dropZone(),
                         {local(a), QUrl(QStringLiteral("https://example.com/d.wav")), local(b), local(c)}));
    ASSERT_EQ(rig.workspace->ingested.size(), 3u);
    for (const auto& call : rig.workspace->ingested) EXPECT_EQ(call.size(), 1u);
    EXPECT_EQ(rig.workspace->ingested[0][0], a);
    EXPECT_EQ(rig.workspace->ingested[2][0], c);
    EXPECT_EQ(rig.model->queueItems().size(), 3u);
    EXPECT_EQ(rig.window->queue()->list()->count(), 3);
}

TEST(MainWindow, DropWithNothingUsableIsStillAccepted) {
    WindowRig rig;
    EXPECT_TRUE(dropUrls(rig.window->dropZone(), {}));
    EXPECT_TRUE(dropUrls(rig.window->dropZone(), {QUrl(QStringLiteral("https://example.com/a.wav"))}));
    EXPECT_TRUE(rig.workspace->ingested.empty());
    EXPECT_TRUE(rig.model->queueItems().empty());
}

TEST(MainWindow, DropZoneIsTargetedWhileAFileDragHovers) {
    WindowRig rig;
    auto* zone = rig.window->dropZone();
    QMimeData mime;
    mime.setUrls({local(rig.file("a.wav"))});
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(zone, &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_TRUE(zone->isTargeted());
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(zone, &leave);
    EXPECT_FALSE(zone->isTargeted());
    EXPECT_TRUE(rig.workspace->ingested.empty());

    QMimeData text;
    text.setText(QStringLiteral("just words"));
    QDragEnterEvent words(QPoint(20, 20), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(zone, &words);
    EXPECT_FALSE(words.isAccepted());
    EXPECT_FALSE(zone->isTargeted());
}

TEST(MainWindow, FilesDroppedAnywhereOnTheWindowAreQueuedUnderTheZonesHighlight) {
    WindowRig rig;
    rig.show();
    auto* zone = rig.window->dropZone();
    QWidget* targets[] = {rig.window->queue()->list()->viewport(), rig.window->optionsScroll()->viewport(),
                          rig.window->logToggle()};
    const char* names[] = {"on the list.wav", "on the options.wav", "on a button.wav"};
    std::size_t queued = 0;
    for (QWidget* target : targets) {
        const auto file = rig.file(names[queued]);
        QMimeData mime;
        mime.setUrls({local(file)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        EXPECT_TRUE(enter.isAccepted()) << queued;
        EXPECT_TRUE(zone->isTargeted()) << queued;
        QDragMoveEvent move(QPoint(12, 12), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &move);
        EXPECT_TRUE(move.isAccepted()) << queued;
        QDropEvent drop(QPointF(12, 12), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &drop);
        EXPECT_TRUE(drop.isAccepted()) << queued;
        EXPECT_FALSE(zone->isTargeted()) << queued;
        ASSERT_EQ(rig.model->queueItems().size(), ++queued);
        EXPECT_EQ(rig.model->queueItems().back().sourceURL, file);
    }
    EXPECT_EQ(rig.window->queue()->list()->count(), 3);
}

TEST(MainWindow, DropZoneShrinksWhileTheQueueHoldsItems) {
    WindowRig rig;
    EXPECT_EQ(rig.window->dropZone()->height(), 150);
    rig.add({"a.wav"});
    EXPECT_EQ(rig.window->dropZone()->height(), 96);
    rig.model->remove({rig.model->queueItems()[0].id});
    EXPECT_EQ(rig.window->dropZone()->height(), 150);
}

TEST(MainWindow, RunAndCancelControlsFollowTheBatch) {
    WindowRig rig;
    auto* q = rig.window->queue();
    // Idle and empty.
    EXPECT_TRUE(rig.shown(q->runButton()));
    EXPECT_FALSE(q->runButton()->isEnabled());
    EXPECT_TRUE(rig.shown(q->clearButton()));
    EXPECT_FALSE(q->clearButton()->isEnabled());
    EXPECT_FALSE(rig.shown(q->cancelButton()));
    EXPECT_FALSE(rig.shown(q->progressBar()));
    EXPECT_FALSE(rig.window->runAction()->isEnabled());
    EXPECT_FALSE(rig.window->cancelAction()->isEnabled());

    rig.add({"a.wav", "b.wav"});
    EXPECT_TRUE(q->runButton()->isEnabled());
    EXPECT_TRUE(rig.window->runAction()->isEnabled());

    rig.script->holdItems = true;
    q->runButton()->click();
    ASSERT_TRUE(rig.waitRunning(2));
    EXPECT_FALSE(rig.shown(q->runButton()));
    EXPECT_FALSE(rig.shown(q->clearButton()));
    EXPECT_TRUE(rig.shown(q->cancelButton()));
    EXPECT_TRUE(rig.shown(q->progressBar()));
    EXPECT_EQ(q->progressBar()->maximumWidth(), 120);
    EXPECT_FALSE(rig.window->runAction()->isEnabled());
    EXPECT_TRUE(rig.window->cancelAction()->isEnabled());

    rig.script->release();
    ASSERT_TRUE(rig.waitIdle());
    EXPECT_TRUE(rig.shown(q->runButton()));
    EXPECT_FALSE(rig.shown(q->cancelButton()));
    EXPECT_FALSE(q->runButton()->isEnabled()); // nothing pending or failed is left
    EXPECT_TRUE(q->clearButton()->isEnabled());
    EXPECT_FALSE(rig.window->cancelAction()->isEnabled());
}

TEST(MainWindow, CtrlRStartsWhenIdleAndDoesNothingWhileProcessing) {
    WindowRig rig;
    rig.show();
    rig.add({"a.wav"});
    rig.script->holdItems = true;
    ASSERT_EQ(QApplication::activeWindow(), rig.window.get());
    QTest::keyClick(rig.window->windowHandle(), Qt::Key_R, Qt::ControlModifier);
    // A button's shortcut clicks it after its short press animation.
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.workspace->starts == 1; }, 2000));
    ASSERT_TRUE(rig.waitRunning(1));
    rig.add({"b.wav"});
    QTest::keyClick(rig.window->windowHandle(), Qt::Key_R, Qt::ControlModifier);
    QTest::qWait(300);
    EXPECT_EQ(rig.workspace->starts, 1);
}

TEST(MainWindow, RowsShowNameStatusAndMessageInTheirColours) {
    WindowRig rig;
    rig.script->failNames = {"bad.wav"};
    rig.add({"bad.wav", "good.wav"}); // queued in this order
    auto* q = rig.window->queue();
    EXPECT_EQ(q->statusLabel(0)->text(), "Pending");
    EXPECT_FALSE(q->messageLabel(0)->isVisibleTo(q));
    rig.workspace->start();
    ASSERT_TRUE(rig.waitIdle());
    ASSERT_EQ(q->list()->count(), 2);
    auto* name = q->list()->itemWidget(q->list()->item(0))->findChild<ui::ElidedLabel*>(QStringLiteral("name"));
    ASSERT_TRUE(name);
    EXPECT_EQ(name->fullText(), "bad.wav");
    EXPECT_EQ(name->textFormat(), Qt::PlainText);
    EXPECT_EQ(q->statusLabel(0)->text(), "Failed");
    EXPECT_EQ(q->statusLabel(1)->text(), "Completed");
    const QColor green = shownColour(q->statusLabel(1));
    EXPECT_GT(green.green(), 2 * green.red());
    EXPECT_EQ(shownColour(q->statusLabel(0)), QColor(Qt::red));
    EXPECT_FALSE(q->messageLabel(1)->isVisibleTo(q));
    ASSERT_TRUE(q->messageLabel(0)->isVisibleTo(q));
    EXPECT_EQ(q->messageLabel(0)->text(), "scripted failure");
    EXPECT_EQ(shownColour(q->messageLabel(0)), QColor(Qt::red));
}

TEST(MainWindow, RemoveFromQueueIsDisabledDuringARun) {
    WindowRig rig;
    rig.add({"a.wav", "b.wav"});
    rig.script->holdItems = true;
    rig.workspace->start();
    ASSERT_TRUE(rig.waitRunning(2));
    auto menu = rig.window->queue()->contextMenuFor(0);
    ASSERT_TRUE(menu);
    EXPECT_FALSE(menu->actions()[1]->isEnabled());
    EXPECT_TRUE(menu->actions()[0]->isEnabled());
    EXPECT_FALSE(rig.window->queue()->contextMenuFor(2));
}

TEST(MainWindow, OnlyFailedItemsEnableRunButNotClearFinished) {
    WindowRig rig;
    rig.script->failNames = {"bad.wav"};
    rig.add({"bad.wav"});
    rig.workspace->start();
    ASSERT_TRUE(rig.waitIdle());
    EXPECT_EQ(rig.window->queue()->statusLabel(0)->text(), "Failed");
    EXPECT_TRUE(rig.window->queue()->runButton()->isEnabled());
    EXPECT_FALSE(rig.window->queue()->clearButton()->isEnabled());
}

TEST(MainWindow, CountTextAndEmptyState) {
    EXPECT_EQ(ui::QueueList::countText(0, "episode"), "0 episodes");
    EXPECT_EQ(ui::QueueList::countText(1, "episode"), "1 episode");
    EXPECT_EQ(ui::QueueList::countText(2, "episode"), "2 episodes");
    WindowRig rig;
    auto* q = rig.window->queue();
    EXPECT_EQ(q->countLabel()->text(), "0 episodes");
    EXPECT_TRUE(rig.shown(q->emptyLabel()));
    EXPECT_EQ(q->emptyLabel()->text(), "Nothing queued yet");
    rig.add({"a.wav"});
    EXPECT_EQ(q->countLabel()->text(), "1 episode");
    EXPECT_FALSE(rig.shown(q->emptyLabel()));
}

TEST(MainWindow, RightClickOnAnUnselectedRowLeavesTheSelectionAlone) {
    WindowRig rig;
    rig.add({"a.wav", "b.wav", "c.wav"});
    auto* q = rig.window->queue();
    q->list()->item(0)->setSelected(true);
    q->list()->item(1)->setSelected(true);
    const auto& items = rig.model->queueItems();
    const std::set<core::Uuid> both{items[0].id, items[1].id};
    ASSERT_EQ(rig.model->selection(), both);
    EXPECT_EQ(q->removalFor(0), both);
    const std::set<core::Uuid> third{items[2].id};
    EXPECT_EQ(q->removalFor(2), third);
    auto menu = q->contextMenuFor(2);
    ASSERT_TRUE(menu);
    EXPECT_EQ(itemTexts(menu.get()), QStringList({"Show in File Manager", "Remove from Queue"}));
    menu->actions()[1]->trigger();
    EXPECT_EQ(rig.model->queueItems().size(), 2u);
    EXPECT_EQ(rig.model->selection(), both);
    EXPECT_TRUE(q->list()->item(0)->isSelected());
    EXPECT_TRUE(q->list()->item(1)->isSelected());
}

TEST(MainWindow, TrayStatusText) {
    WindowRig rig;
    EXPECT_EQ(rig.window->trayStatusText(), "Quorvel: 0 waiting");
    rig.add({"a.wav", "b.wav", "c.wav"});
    EXPECT_EQ(rig.window->trayStatusText(), "Quorvel: 3 waiting");
    for (auto [progress, text] : {std::pair{0.456, "Quorvel: 45%"}, std::pair{0.999, "Quorvel: 99%"},
                                  std::pair{1.0, "Quorvel: 100%"}, std::pair{0.0, "Quorvel: 0%"}}) {
        rig.workspace->shownProgress = progress;
        EXPECT_EQ(rig.window->trayStatusText(), text);
    }
}

TEST(MainWindow, MenusCarryTheCommands) {
    WindowRig rig;
    QMenuBar* bar = rig.window->menuBar();
    QMenu* file = menuTitled(bar, "File");
    QMenu* batch = menuTitled(bar, "Batch");
    QMenu* help = menuTitled(bar, "Help");
    ASSERT_TRUE(file && batch && help);
    EXPECT_EQ(itemTexts(file), QStringList({"Add Files…", "Add Folder…", "-", "Quit"}));
    EXPECT_EQ(file->actions()[0]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    EXPECT_EQ(itemTexts(batch), QStringList({"Process All", "Cancel", "-", "Clear Finished", "Show Output Folder", "-",
                                             "Reset All Settings"}));
    EXPECT_TRUE(batch->actions()[0]->shortcut().isEmpty());
    EXPECT_EQ(batch->actions()[1]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Period));
    EXPECT_EQ(batch->actions()[4]->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    EXPECT_EQ(itemTexts(help), QStringList({"Check for Updates…", "-", "About Quorvel", "About Qt"}));
    EXPECT_EQ(rig.window->aboutAction(), help->actions()[2]);
    // The About box: name, version, subtitle and the libraries after Qt's version.
    auto about = ui::makeAboutBox(rig.window.get(), ui::QuorvelApp::branding(), "FFmpeg and ICU");
    EXPECT_EQ(about->windowTitle(), "About Quorvel");
    EXPECT_EQ(about->text(), "Quorvel");
    EXPECT_TRUE(about->informativeText().contains(QRegularExpression(QStringLiteral("^Version [0-9]+\\.[0-9]+"))));
    EXPECT_TRUE(about->informativeText().contains("Clean up, level and package podcast episodes"));
    EXPECT_TRUE(about->informativeText().endsWith(QStringLiteral("Built with Qt %1, FFmpeg and ICU.").arg(qVersion())));

    rig.model->setNamingPattern("{name}_changed");
    batch->actions()[6]->trigger(); // "Reset All Settings" restores the edition's defaults
    EXPECT_EQ(rig.model->namingPattern(), "{name}_scripted");
    EXPECT_EQ(rig.window->namingSection()->field()->text(), "{name}_scripted");
}

TEST(MainWindow, LogToggleWorksBeforeTheWindowIsShown) {
    WindowRig rig;
    rig.window->logToggle()->click();
    EXPECT_EQ(rig.window->logToggle()->text(), "Hide Log");
    EXPECT_TRUE(rig.shown(rig.window->logPane()));
    rig.window->logToggle()->click();
    EXPECT_EQ(rig.window->logToggle()->text(), "Show Log");
    EXPECT_FALSE(rig.shown(rig.window->logPane()));
}

TEST(MainWindow, LogToggleAndScrollingToTheNewLine) {
    WindowRig rig;
    rig.show();
    for (int i = 0; i < 40; ++i) rig.model->log(fmt::format("line {}", i));
    EXPECT_FALSE(rig.shown(rig.window->logPane()));
    EXPECT_EQ(rig.window->logToggle()->text(), "Show Log");
    rig.window->logToggle()->click();
    EXPECT_TRUE(rig.shown(rig.window->logPane()));
    EXPECT_EQ(rig.window->logToggle()->text(), "Hide Log");
    EXPECT_EQ(rig.window->logPane()->height(), 120);
    QScrollBar* bar = rig.window->logPane()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), 0);
    rig.model->log("the newest line");
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_TRUE(rig.window->logPane()->toPlainText().endsWith("the newest line"));
    rig.window->logToggle()->click();
    EXPECT_FALSE(rig.shown(rig.window->logPane()));
}

TEST(MainWindow, SizesAndTheElidedOutputPath) {
    WindowRig rig;
    std::string longPath = "/home/someone/" + std::string(200, 'p') + "/episodes";
    rig.model->setOutputDirectory(longPath);
    rig.show();
    rig.window->resize(400, 300);
    EXPECT_GE(rig.window->width(), 860);
    EXPECT_GE(rig.window->height(), 600);
    rig.window->resize(1400, 900);
    QApplication::processEvents();
    EXPECT_EQ(rig.window->optionsScroll()->width(), 340);
    auto* path = rig.window->outputPath();
    EXPECT_EQ(path->toolTip().toStdString(), longPath);
    EXPECT_TRUE(path->text().contains(QStringLiteral("…")));
    EXPECT_TRUE(path->text().startsWith(QStringLiteral("/home")));
    EXPECT_TRUE(path->text().endsWith(QStringLiteral("episodes")));
}

TEST(MainWindow, NamingFieldWritesThePatternWithEveryKeystroke) {
    WindowRig rig;
    auto* naming = rig.window->namingSection();
    EXPECT_EQ(naming->note()->text(), "Available: {show}, {ep:02}, {title}, {date}");
    naming->field()->clear();
    QTest::keyClicks(naming->field(), "{ep}");
    EXPECT_EQ(rig.model->namingPattern(), "{ep}");
    rig.model->setNamingPattern("{show}_x");
    EXPECT_EQ(naming->field()->text(), "{show}_x");
}

TEST(MainWindow, LongNamesAreElidedAndRowsFollowTheListWidth) {
    WindowRig rig;
    rig.add({std::string(150, 'n') + ".wav"});
    rig.show();
    rig.window->resize(860, 600);
    QApplication::processEvents();
    auto* list = rig.window->queue()->list();
    QWidget* row = list->itemWidget(list->item(0));
    EXPECT_LE(row->width(), list->viewport()->width());
    auto* name = row->findChild<ui::ElidedLabel*>(QStringLiteral("name"));
    EXPECT_TRUE(name->text().contains(QStringLiteral("…")));
    EXPECT_TRUE(name->text().endsWith(QStringLiteral(".wav")));
    QLabel* status = rig.window->queue()->statusLabel(0);
    EXPECT_LE(status->geometry().right(), row->width());
}

class HeaderTexts : public ::testing::TestWithParam<int> {};

TEST_P(HeaderTexts, FitAtTheDefaultAndTheSmallestSize) {
    const ui::StandaloneBranding brandings[] = {ui::QuorvelApp::branding(), ui::HalvaneApp::branding(),
                                                ui::ZentrixApp::branding()};
    WindowRig rig(brandings[GetParam()]);
    rig.show();
    for (QSize size : {rig.window->size(), rig.window->minimumSizeHint()}) {
        rig.window->resize(size);
        QCoreApplication::processEvents();
        const QStringList clipped = uitest::clippedTexts(rig.window.get());
        EXPECT_TRUE(clipped.isEmpty()) << size.width() << "x" << size.height() << ": "
                                       << clipped.join(QStringLiteral("; ")).toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(MainWindow, HeaderTexts, ::testing::Values(0, 1, 2));

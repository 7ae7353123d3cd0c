#pragma once

#include <memory>
#include <vector>

#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include "ui/StandaloneBranding.h"
#include "ui/Workspace.h"

namespace ui {

// The queue: a header with the count, the run and cancel controls and the
// overall progress, over a list with one row per queued item.
class QueueList : public QWidget {
public:
    QueueList(Workspace& workspace, const StandaloneBranding& branding, QWidget* parent = nullptr);
    void refreshItems();
    void refreshHeader();
    void refreshSelection();

    QLabel* countLabel() const { return count_; }
    QPushButton* runButton() const { return run_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* clearButton() const { return clear_; }
    QProgressBar* progressBar() const { return progress_; }
    QListWidget* list() const { return list_; }
    QLabel* emptyLabel() const { return empty_; }
    // The row's status label and message line (tests).
    QLabel* statusLabel(int row) const;
    QLabel* messageLabel(int row) const;
    // What the row's context menu "Remove from Queue" removes.
    std::set<core::Uuid> removalFor(int row) const;
    // The row's context menu: "Show in File Manager", "Remove from Queue".
    std::unique_ptr<QMenu> contextMenuFor(int row);
    static QString countText(std::size_t count, const std::string& noun);

private:
    void showContextMenu(const QPoint& pos);
    QWidget* makeRow(const batch::BatchItem& item);

    Workspace& workspace_;
    StandaloneBranding branding_;
    QLabel* count_;
    QProgressBar* progress_;
    QPushButton* cancel_;
    QPushButton* clear_;
    QPushButton* run_;
    QListWidget* list_;
    QLabel* empty_;
    std::vector<core::Uuid> shownIds_;
    bool syncing_ = false;
};

} // namespace ui

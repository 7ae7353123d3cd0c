#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
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
    // "Stopping…", shown while a cancelled run winds down.
    QLabel* stoppingLabel() const { return stopping_; }
    // The row's status label and message line (tests).
    QLabel* statusLabel(int row) const;
    QLabel* messageLabel(int row) const;
    // What the row's context menu "Remove from Queue" removes.
    std::set<core::Uuid> removalFor(int row) const;
    // The row's context menu: "Show in File Manager", "Remove from Queue".
    std::unique_ptr<QMenu> contextMenuFor(int row);
    static QString countText(std::size_t count, const std::string& noun);

private:
    // What a row shows; a row is redrawn only when this changes.
    struct Shown {
        batch::ProcessingStatus status;
        int progress; // per mille
        std::optional<std::string> message;
        bool selected;
        bool operator==(const Shown&) const = default;
    };
    // One row's widgets, kept for as long as its item is queued.
    struct Row {
        QWidget* widget = nullptr;
        QLabel* message = nullptr;
        QProgressBar* bar = nullptr;
        QLabel* status = nullptr;
        std::optional<Shown> shown;
    };

    void showContextMenu(const QPoint& pos);
    Row makeRow(const batch::BatchItem& item);
    void appendRows(std::size_t from);
    void removeRowsNotIn(const std::vector<core::Uuid>& ids);
    void updateRow(std::size_t index, const batch::BatchItem& item, bool selected);

    Workspace& workspace_;
    StandaloneBranding branding_;
    QLabel* count_;
    QProgressBar* progress_;
    QPushButton* cancel_;
    QPushButton* clear_;
    QPushButton* run_;
    QListWidget* list_;
    QLabel* empty_;
    QLabel* stopping_;
    std::vector<core::Uuid> shownIds_;
    std::vector<Row> rows_; // parallel to shownIds_
    bool syncing_ = false;
};

} // namespace ui

#include "ui/QueueList.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QMenu>
#include <QShortcut>
#include <QVBoxLayout>

#include "ui/OptionControls.h"
#include "ui/UiTexts.h"

namespace ui {

using batch::ProcessingStatus;

namespace {

QColor statusColour(ProcessingStatus s, const QPalette& palette) {
    if (s == ProcessingStatus::completed) return QColor(0x1e, 0x9e, 0x3a);
    if (s == ProcessingStatus::failed) return QColor(Qt::red);
    return palette.color(QPalette::PlaceholderText);
}

} // namespace

QString QueueList::countText(std::size_t count, const std::string& noun) {
    return QString::fromStdString(fmt::format("{} {}{}", count, noun, count == 1 ? "" : "s"));
}

QueueList::QueueList(Workspace& workspace, const StandaloneBranding& branding, QWidget* parent)
    : QWidget(parent), workspace_(workspace), branding_(branding) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    auto* header = new QHBoxLayout();
    auto* title = new QLabel(QStringLiteral("Queue"), this);
    title->setFont(scaledFont(font(), 12, QFont::Bold));
    count_ = new QLabel(this);
    count_->setTextFormat(Qt::PlainText);
    count_->setFont(scaledFont(font(), 11));
    count_->setForegroundRole(QPalette::PlaceholderText);
    stopping_ = new QLabel(QStringLiteral("Stopping…"), this);
    stopping_->setFont(scaledFont(font(), 11, QFont::DemiBold));
    stopping_->setForegroundRole(QPalette::PlaceholderText);
    stopping_->setVisible(false);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setFixedWidth(120);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    clear_ = new QPushButton(QStringLiteral("Clear Finished"), this);
    run_ = new QPushButton(literalCaption(QString::fromStdString(branding_.runLabel)), this);
    for (QPushButton* b : {cancel_, clear_, run_}) makeSmall(b);
    run_->setDefault(true); // the prominent button of the header
    run_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    header->addWidget(title);
    header->addWidget(count_);
    header->addStretch(1);
    header->addWidget(stopping_);
    header->addWidget(progress_);
    header->addWidget(cancel_);
    header->addWidget(clear_);
    header->addWidget(run_);
    column->addLayout(header);

    list_ = new QListWidget(this);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setResizeMode(QListView::Adjust); // rows follow the list's width
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    column->addWidget(list_, 1);
    empty_ = new QLabel(QStringLiteral("Nothing queued yet"), list_);
    empty_->setForegroundRole(QPalette::PlaceholderText);
    empty_->setFont(scaledFont(font(), 11));
    empty_->setAttribute(Qt::WA_TransparentForMouseEvents);
    empty_->setAlignment(Qt::AlignCenter);
    auto* overlay = new QVBoxLayout(list_);
    overlay->addWidget(empty_);

    connect(run_, &QPushButton::clicked, this, [this] { workspace_.start(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { workspace_.cancel(); });
    connect(clear_, &QPushButton::clicked, this, [this] { workspace_.clearFinished(); });
    connect(list_, &QListWidget::itemSelectionChanged, this, [this] {
        if (syncing_) return;
        std::set<core::Uuid> ids;
        for (QListWidgetItem* item : list_->selectedItems()) {
            int row = list_->row(item);
            if (row >= 0 && row < static_cast<int>(workspace_.queueItems().size()))
                ids.insert(workspace_.queueItems()[static_cast<size_t>(row)].id);
        }
        workspace_.setSelection(ids);
    });
    connect(list_, &QListWidget::customContextMenuRequested, this, &QueueList::showContextMenu);
    // remove() takes a copy of the selection, which it then edits.
    auto* del = new QShortcut(QKeySequence::Delete, list_, nullptr, nullptr, Qt::WidgetShortcut);
    connect(del, &QShortcut::activated, this, [this] { workspace_.remove(workspace_.selection()); });
    auto* backspace = new QShortcut(QKeySequence(Qt::Key_Backspace), list_, nullptr, nullptr, Qt::WidgetShortcut);
    connect(backspace, &QShortcut::activated, this, [this] { workspace_.remove(workspace_.selection()); });
    refreshItems();
    refreshHeader();
}

void QueueList::refreshHeader() {
    const auto& items = workspace_.queueItems();
    count_->setText(countText(items.size(), branding_.itemNoun));
    const bool processing = workspace_.isProcessing();
    // After a cancel the run winds down until its report is back: the run
    // controls stay disabled meanwhile and the header says so.
    const bool stopping = !processing && workspace_.isStopping();
    progress_->setVisible(processing || stopping);
    stopping_->setVisible(stopping);
    cancel_->setVisible(processing);
    clear_->setVisible(!processing);
    run_->setVisible(!processing);
    run_->setEnabled(!processing && !stopping && workspace_.runnableCount() > 0);
    bool finished = std::any_of(items.begin(), items.end(), [](const auto& i) {
        return i.status == ProcessingStatus::completed || i.status == ProcessingStatus::skipped;
    });
    clear_->setEnabled(finished);
    progress_->setValue(static_cast<int>(std::clamp(workspace_.overallProgress(), 0.0, 1.0) * 1000));
}

QueueList::Row QueueList::makeRow(const batch::BatchItem& item) {
    Row r;
    r.widget = new QWidget(list_);
    auto* h = new QHBoxLayout(r.widget);
    h->setContentsMargins(6, 3, 6, 3);
    auto* text = new QVBoxLayout();
    text->setSpacing(2);
    auto* name = new ElidedLabel(r.widget);
    name->setFont(scaledFont(font(), 11, QFont::Normal, true));
    name->setFullText(QString::fromStdString(item.originalFileName + "." + item.fileExtension));
    name->setObjectName(QStringLiteral("name"));
    text->addWidget(name);
    r.message = new QLabel(r.widget);
    r.message->setObjectName(QStringLiteral("message"));
    r.message->setTextFormat(Qt::PlainText);
    r.message->setWordWrap(true);
    r.message->setFont(scaledFont(font(), 10));
    r.message->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    // At most two lines.
    r.message->setMaximumHeight(2 * QFontMetrics(r.message->font()).lineSpacing() + 2);
    r.message->setVisible(false);
    text->addWidget(r.message);
    h->addLayout(text, 1);
    r.bar = new QProgressBar(r.widget);
    r.bar->setObjectName(QStringLiteral("progress"));
    r.bar->setRange(0, 1000);
    r.bar->setTextVisible(false);
    r.bar->setFixedWidth(60);
    r.bar->setVisible(false);
    h->addWidget(r.bar);
    r.status = new QLabel(r.widget);
    r.status->setTextFormat(Qt::PlainText);
    r.status->setObjectName(QStringLiteral("status"));
    r.status->setFont(scaledFont(font(), 10, QFont::DemiBold));
    h->addWidget(r.status);
    return r;
}

void QueueList::updateRow(std::size_t index, const batch::BatchItem& item, bool selected) {
    Row& r = rows_[index];
    const Shown now{item.status, static_cast<int>(std::clamp(item.progress, 0.0, 1.0) * 1000), item.errorMessage,
                    selected};
    if (r.shown == now) return;
    const bool showMessage = item.errorMessage && (item.status == ProcessingStatus::processing ||
                                                   item.status == ProcessingStatus::failed ||
                                                   item.status == ProcessingStatus::skipped);
    const bool messageWasShown = r.message->isVisibleTo(r.widget);
    // On the selection highlight the secondary grey is unreadable, so a
    // selected row's texts take the highlight's own text colour.
    const QColor highlighted = palette().color(QPalette::HighlightedText);
    if (showMessage) {
        QString m = QString::fromStdString(*item.errorMessage);
        if (r.message->text() != m) {
            r.message->setText(m);
            r.message->setToolTip(m);
        }
        setTextColour(r.message, selected ? highlighted
                                          : item.status == ProcessingStatus::failed
                                                ? QColor(Qt::red)
                                                : palette().color(QPalette::PlaceholderText));
    }
    r.message->setVisible(showMessage);
    r.bar->setVisible(item.status == ProcessingStatus::processing);
    r.bar->setValue(now.progress);
    if (!r.shown || r.shown->status != item.status)
        r.status->setText(QString::fromUtf8(batch::rawValue(item.status).data()));
    const QColor colour = statusColour(item.status, palette());
    const bool grey = item.status != ProcessingStatus::completed && item.status != ProcessingStatus::failed;
    setTextColour(r.status, selected && grey ? highlighted : colour);
    if (!r.shown || messageWasShown != showMessage) {
        // Rows take the list's width; a long name is elided, not scrolled.
        list_->item(static_cast<int>(index))->setSizeHint(QSize(1, r.widget->sizeHint().height()));
    }
    r.shown = now;
}

void QueueList::appendRows(std::size_t from) {
    const auto& items = workspace_.queueItems();
    for (std::size_t i = from; i < items.size(); ++i) {
        auto* entry = new QListWidgetItem(list_);
        rows_.push_back(makeRow(items[i]));
        list_->setItemWidget(entry, rows_.back().widget);
        shownIds_.push_back(items[i].id);
    }
}

void QueueList::removeRowsNotIn(const std::vector<core::Uuid>& ids) {
    const std::set<core::Uuid> kept(ids.begin(), ids.end());
    for (std::size_t i = shownIds_.size(); i-- > 0;) {
        if (kept.count(shownIds_[i])) continue;
        QListWidgetItem* entry = list_->item(static_cast<int>(i));
        list_->removeItemWidget(entry);
        delete list_->takeItem(static_cast<int>(i));
        shownIds_.erase(shownIds_.begin() + static_cast<long>(i));
        rows_.erase(rows_.begin() + static_cast<long>(i));
    }
}

void QueueList::refreshItems() {
    syncing_ = true;
    const auto& items = workspace_.queueItems();
    std::vector<core::Uuid> ids;
    ids.reserve(items.size());
    for (const auto& item : items) ids.push_back(item.id);
    // Rows are kept by item id: a status event redraws only the row whose
    // item changed, and the list keeps its scroll position and selection.
    if (ids != shownIds_) {
        list_->setUpdatesEnabled(false);
        if (ids.size() >= shownIds_.size() && std::equal(shownIds_.begin(), shownIds_.end(), ids.begin())) {
            appendRows(shownIds_.size());
        } else {
            removeRowsNotIn(ids);
            if (!(ids.size() >= shownIds_.size() && std::equal(shownIds_.begin(), shownIds_.end(), ids.begin()))) {
                // Reordered: start over.
                list_->clear();
                rows_.clear();
                shownIds_.clear();
            }
            appendRows(shownIds_.size());
        }
        list_->setUpdatesEnabled(true);
    }
    const auto& selected = workspace_.selection();
    for (std::size_t i = 0; i < items.size(); ++i) updateRow(i, items[i], selected.count(items[i].id) > 0);
    empty_->setVisible(items.empty());
    syncing_ = false;
    refreshSelection();
    refreshHeader();
}

void QueueList::refreshSelection() {
    syncing_ = true;
    const auto& items = workspace_.queueItems();
    const auto& selected = workspace_.selection();
    for (int i = 0; i < list_->count() && i < static_cast<int>(items.size()); ++i) {
        const auto& item = items[static_cast<size_t>(i)];
        const bool isSelected = selected.count(item.id) > 0;
        if (list_->item(i)->isSelected() != isSelected) list_->item(i)->setSelected(isSelected);
        if (static_cast<std::size_t>(i) < rows_.size()) updateRow(static_cast<std::size_t>(i), item, isSelected);
    }
    syncing_ = false;
}

QLabel* QueueList::statusLabel(int row) const {
    QWidget* w = list_->itemWidget(list_->item(row));
    return w ? w->findChild<QLabel*>(QStringLiteral("status")) : nullptr;
}

QLabel* QueueList::messageLabel(int row) const {
    QWidget* w = list_->itemWidget(list_->item(row));
    return w ? w->findChild<QLabel*>(QStringLiteral("message")) : nullptr;
}

std::set<core::Uuid> QueueList::removalFor(int row) const {
    const auto& items = workspace_.queueItems();
    if (row < 0 || row >= static_cast<int>(items.size())) return {};
    const auto& id = items[static_cast<size_t>(row)].id;
    if (workspace_.selection().count(id)) return workspace_.selection();
    return {id};
}

std::unique_ptr<QMenu> QueueList::contextMenuFor(int row) {
    if (row < 0 || row >= static_cast<int>(workspace_.queueItems().size())) return nullptr;
    auto menu = std::make_unique<QMenu>(this);
    // The actions work on a copy of the item and the ids chosen now, so a
    // queue that changes while the menu is open does not shift them.
    batch::BatchItem copy = workspace_.queueItems()[static_cast<size_t>(row)];
    menu->addAction(texts::kShowInFileManager, this, [this, copy] { workspace_.reveal(copy); });
    QAction* remove = menu->addAction(QStringLiteral("Remove from Queue"), this,
                                      [this, ids = removalFor(row)] { workspace_.remove(ids); });
    remove->setEnabled(!workspace_.isProcessing());
    return menu;
}

void QueueList::showContextMenu(const QPoint& pos) {
    QListWidgetItem* item = list_->itemAt(pos);
    if (!item) return;
    if (auto menu = contextMenuFor(list_->row(item))) menu->exec(list_->viewport()->mapToGlobal(pos));
}

} // namespace ui

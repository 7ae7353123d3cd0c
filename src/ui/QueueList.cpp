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
    progress_->setVisible(processing);
    cancel_->setVisible(processing);
    clear_->setVisible(!processing);
    run_->setVisible(!processing);
    run_->setEnabled(!processing && workspace_.runnableCount() > 0);
    bool finished = std::any_of(items.begin(), items.end(), [](const auto& i) {
        return i.status == ProcessingStatus::completed || i.status == ProcessingStatus::skipped;
    });
    clear_->setEnabled(finished);
    progress_->setValue(static_cast<int>(std::clamp(workspace_.overallProgress(), 0.0, 1.0) * 1000));
}

QWidget* QueueList::makeRow(const batch::BatchItem& item) {
    auto* row = new QWidget(list_);
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(6, 3, 6, 3);
    auto* text = new QVBoxLayout();
    text->setSpacing(2);
    auto* name = new ElidedLabel(row);
    name->setFont(scaledFont(font(), 11, QFont::Normal, true));
    name->setFullText(QString::fromStdString(item.originalFileName + "." + item.fileExtension));
    name->setObjectName(QStringLiteral("name"));
    text->addWidget(name);
    auto* message = new QLabel(row);
    message->setObjectName(QStringLiteral("message"));
    message->setTextFormat(Qt::PlainText);
    message->setWordWrap(true);
    message->setFont(scaledFont(font(), 10));
    message->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    // At most two lines.
    message->setMaximumHeight(2 * QFontMetrics(message->font()).lineSpacing() + 2);
    const bool showMessage = item.errorMessage && (item.status == ProcessingStatus::processing ||
                                                   item.status == ProcessingStatus::failed ||
                                                   item.status == ProcessingStatus::skipped);
    if (showMessage) {
        QString m = QString::fromStdString(*item.errorMessage);
        message->setText(m);
        setTextColour(message, item.status == ProcessingStatus::failed ? QColor(Qt::red)
                                                                       : palette().color(QPalette::PlaceholderText));
        message->setToolTip(m);
    }
    message->setVisible(showMessage);
    text->addWidget(message);
    h->addLayout(text, 1);
    if (item.status == ProcessingStatus::processing) {
        auto* bar = new QProgressBar(row);
        bar->setObjectName(QStringLiteral("progress"));
        bar->setRange(0, 1000);
        bar->setTextVisible(false);
        bar->setFixedWidth(60);
        bar->setValue(static_cast<int>(std::clamp(item.progress, 0.0, 1.0) * 1000));
        h->addWidget(bar);
    }
    auto* status = new QLabel(row);
    setPlainText(status, QString::fromUtf8(batch::rawValue(item.status).data()));
    status->setObjectName(QStringLiteral("status"));
    status->setFont(scaledFont(font(), 10, QFont::DemiBold));
    setTextColour(status, statusColour(item.status, palette()));
    h->addWidget(status);
    return row;
}

void QueueList::refreshItems() {
    syncing_ = true;
    const auto& items = workspace_.queueItems();
    std::vector<core::Uuid> ids;
    ids.reserve(items.size());
    for (const auto& item : items) ids.push_back(item.id);
    // The same items in the same order are updated in place, so the list
    // keeps its scroll position while a run reports progress.
    if (ids != shownIds_) {
        list_->clear();
        for (std::size_t i = 0; i < items.size(); ++i) new QListWidgetItem(list_);
        shownIds_ = ids;
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        QListWidgetItem* entry = list_->item(static_cast<int>(i));
        QWidget* row = makeRow(items[i]);
        // Rows take the list's width; a long name is elided, not scrolled.
        entry->setSizeHint(QSize(1, row->sizeHint().height()));
        list_->setItemWidget(entry, row);
    }
    empty_->setVisible(items.empty());
    syncing_ = false;
    refreshSelection();
    refreshHeader();
}

void QueueList::refreshSelection() {
    syncing_ = true;
    const auto& items = workspace_.queueItems();
    const auto& selected = workspace_.selection();
    for (int i = 0; i < list_->count() && i < static_cast<int>(items.size()); ++i)
        list_->item(i)->setSelected(selected.count(items[static_cast<size_t>(i)].id) > 0);
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

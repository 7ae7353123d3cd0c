#include "ui/OptionControls.h"

#include <algorithm>

#include <QComboBox>

#include <QFileDialog>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QStyle>
#include <QVBoxLayout>

namespace ui {

void setPlainText(QLabel* label, const QString& text) {
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
}

void makeSmall(QWidget* control) { control->setFont(scaledFont(control->font(), 11)); }

void setTextColour(QWidget* widget, const QColor& colour) {
    QPalette pal = widget->palette();
    pal.setColor(QPalette::WindowText, colour);
    pal.setColor(QPalette::Text, colour);
    widget->setPalette(pal);
    widget->setForegroundRole(QPalette::WindowText);
}

void setPlainInformativeText(QMessageBox& box, const std::string& text) {
    box.setInformativeText(QString::fromStdString(text));
    for (QLabel* label : box.findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);
}

QString literalCaption(const QString& text) {
    QString out = text;
    out.replace(QLatin1Char('&'), QLatin1String("&&"));
    return out;
}

QFont scaledFont(const QFont& base, double points, QFont::Weight weight, bool monospaced) {
    QFont f = monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : base;
    double size = base.pointSizeF() > 0 ? base.pointSizeF() : 10.0;
    f.setPointSizeF(size * points / 13.0);
    f.setWeight(weight);
    return f;
}

void fitPanelToItsTexts(QWidget* panel) {
    for (QComboBox* box : panel->findChildren<QComboBox*>()) {
        box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        box->setMinimumContentsLength(0); // the minimum is then the longest entry
    }
    for (QFormLayout* form : panel->findChildren<QFormLayout*>()) form->setRowWrapPolicy(QFormLayout::WrapLongRows);
}

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setFullText(const QString& text) {
    full_ = text;
    setToolTip(text);
    elide();
}

QSize ElidedLabel::sizeHint() const {
    return {fontMetrics().horizontalAdvance(full_) + 2, QLabel::sizeHint().height()};
}

QSize ElidedLabel::minimumSizeHint() const {
    return {fontMetrics().horizontalAdvance(QStringLiteral("W…W")), QLabel::minimumSizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::elide() { setText(fontMetrics().elidedText(full_, Qt::ElideMiddle, std::max(1, width()))); }

OptionNote::OptionNote(const QString& text, QWidget* parent) : QLabel(parent) {
    setPlainText(this, text);
    setWordWrap(true);
    setFont(scaledFont(font(), 10));
    setForegroundRole(QPalette::PlaceholderText);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
}

FilePickerRow::FilePickerRow(const QString& label, QString filters, Setter set, QWidget* parent)
    : QWidget(parent), filters_(std::move(filters)), set_(std::move(set)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    auto* caption = new QLabel(this);
    setPlainText(caption, label);
    row->addWidget(caption);
    name_ = new ElidedLabel(this);
    name_->setFont(scaledFont(font(), 11, QFont::Normal, true));
    name_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    name_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row->addWidget(name_, 1);
    remove_ = new QToolButton(this);
    remove_->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
    remove_->setToolTip(QStringLiteral("Remove"));
    remove_->setAutoRaise(true);
    row->addWidget(remove_);
    choose_ = new QPushButton(QStringLiteral("Choose…"), this);
    makeSmall(choose_);
    spacer_ = new QWidget(this);
    spacer_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    row->addWidget(spacer_, 1);
    row->addWidget(choose_);
    connect(remove_, &QToolButton::clicked, this, [this] { set_(std::nullopt); });
    connect(choose_, &QPushButton::clicked, this, [this] {
        std::optional<std::filesystem::path> picked;
        if (chooser) {
            picked = chooser();
        } else {
            QString file = QFileDialog::getOpenFileName(this, QString(), QString(), filters_);
            if (!file.isEmpty()) picked = std::filesystem::path(file.toStdString());
        }
        if (picked) set_(picked);
    });
    setFile(std::nullopt);
}

void FilePickerRow::setFile(const std::optional<std::filesystem::path>& file) {
    name_->setVisible(file.has_value());
    remove_->setVisible(file.has_value());
    choose_->setVisible(!file.has_value());
    spacer_->setVisible(!file.has_value());
    if (!file) return;
    name_->setFullText(QString::fromStdString(file->filename().string()));
    name_->setToolTip(QString::fromStdString(file->string()));
    std::error_code ec;
    bool exists = std::filesystem::exists(*file, ec);
    setTextColour(name_, exists ? palette().color(QPalette::WindowText) : QColor(Qt::red));
}

NamingPatternSection::NamingPatternSection(const QString& tokens, std::function<void(const std::string&)> onEdit,
                                           QWidget* parent)
    : QGroupBox(QStringLiteral("File Naming"), parent) {
    auto* box = new QVBoxLayout(this);
    auto* row = new QHBoxLayout();
    auto* caption = new QLabel(QStringLiteral("Pattern"), this);
    row->addWidget(caption);
    field_ = new QLineEdit(this);
    field_->setFont(scaledFont(font(), 11, QFont::Normal, true));
    row->addWidget(field_, 1);
    box->addLayout(row);
    note_ = new OptionNote(QStringLiteral("Available: ") + tokens, this);
    box->addWidget(note_);
    connect(field_, &QLineEdit::textEdited, this,
            [onEdit = std::move(onEdit)](const QString& text) { onEdit(text.toStdString()); });
}

void NamingPatternSection::setPattern(const std::string& pattern) {
    QString text = QString::fromStdString(pattern);
    if (field_->text() != text) field_->setText(text);
}

} // namespace ui

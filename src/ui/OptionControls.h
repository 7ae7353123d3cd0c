#pragma once

#include <filesystem>
#include <functional>
#include <optional>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QToolButton>
#include <QWidget>

namespace ui {

// Shows data as plain text: never interpreted as rich text.
void setPlainText(QLabel* label, const QString& text);
// The small control size: a button with the 11-point caption font.
void makeSmall(QWidget* control);
// Draws a label's text in `colour`, whatever the background it sits on
// (inside a list the inherited role would be Text, not WindowText).
void setTextColour(QWidget* widget, const QColor& colour);
// Sets a message box's informative text as plain text: feed texts (release
// notes, versions) come from the network, and the box's label would otherwise
// guess rich text from the content.
void setPlainInformativeText(QMessageBox& box, const std::string& text);
// A fixed caption for a button or menu item: "&" shows as "&", never as a mnemonic.
QString literalCaption(const QString& text);

// The window's type sizes are given for a 13-point system font; this scales
// them to the desktop's own default size.
QFont scaledFont(const QFont& base, double points, QFont::Weight weight = QFont::Normal, bool monospaced = false);

// Nothing in an option panel is cut: every combo box under `panel` is at
// least as wide as its longest entry (now and whenever its entries change),
// and a form row too long for the panel's width puts its field under its
// caption. A panel still wider than the room it gets scrolls sideways.
void fitPanelToItsTexts(QWidget* panel);

// One line of plain text, elided in the middle to the width it gets; the
// tooltip carries the whole text.
class ElidedLabel : public QLabel {
public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    void setFullText(const QString& text);
    const QString& fullText() const { return full_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();
    QString full_;
};

// A small grey explanatory caption that wraps.
class OptionNote : public QLabel {
public:
    explicit OptionNote(const QString& text, QWidget* parent = nullptr);
};

// A labelled row that picks one file, shows its name and clears it.
class FilePickerRow : public QWidget {
public:
    using Setter = std::function<void(std::optional<std::filesystem::path>)>;
    // `filters` is an open-dialog name filter such as "Audio (*.wav *.mp3)".
    FilePickerRow(const QString& label, QString filters, Setter set, QWidget* parent = nullptr);
    void setFile(const std::optional<std::filesystem::path>& file);

    ElidedLabel* nameLabel() const { return name_; }
    QPushButton* chooseButton() const { return choose_; }
    QToolButton* removeButton() const { return remove_; }
    // Replaces the open dialog (tests).
    std::function<std::optional<std::filesystem::path>()> chooser;

private:
    QString filters_;
    Setter set_;
    ElidedLabel* name_;
    QPushButton* choose_;
    QWidget* spacer_;
    QToolButton* remove_;
};

// The "File Naming" section: the pattern field and the token help.
class NamingPatternSection : public QGroupBox {
public:
    NamingPatternSection(const QString& tokens, std::function<void(const std::string&)> onEdit,
                         QWidget* parent = nullptr);
    void setPattern(const std::string& pattern);
    QLineEdit* field() const { return field_; }
    QLabel* note() const { return note_; }

private:
    QLineEdit* field_;
    QLabel* note_;
};

} // namespace ui

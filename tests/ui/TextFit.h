#pragma once

#include <algorithm>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>

namespace uitest {

// A caption as drawn: "&x" shows as "x" and "&&" as "&".
inline QString withoutMnemonic(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size()) ++i;
        out += text[i];
    }
    return out;
}

// The width the widest line of `text` takes.
inline int textWidth(const QFontMetrics& fm, const QString& text) {
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n'))) widest = std::max(widest, fm.horizontalAdvance(line));
    return widest;
}

// The texts of the labels, buttons and combo boxes shown under `root` that
// the room they are drawn in would cut: one line each, naming the text and
// both widths. A word-wrapped label fits when its lines fit its height.
inline QStringList clippedTexts(const QWidget* root) {
    QStringList out;
    auto check = [&out](const QString& text, int needed, int room) {
        if (needed > room) out << QStringLiteral("\"%1\" needs %2, has %3").arg(text).arg(needed).arg(room);
    };
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(root)) continue;
        const QFontMetrics fm = w->fontMetrics();
        QStyle* style = w->style();
        if (auto* label = qobject_cast<QLabel*>(w)) {
            if (label->text().isEmpty()) continue;
            if (label->wordWrap()) {
                check(label->text(), label->heightForWidth(label->width()), label->height());
                continue;
            }
            // A form row's caption has its field as buddy and shows mnemonics.
            const QString shown = label->buddy() ? withoutMnemonic(label->text()) : label->text();
            check(shown, textWidth(fm, shown), label->contentsRect().width() - 2 * label->margin());
        } else if (auto* box = qobject_cast<QComboBox*>(w)) {
            QStyleOptionComboBox opt;
            opt.initFrom(box);
            opt.editable = box->isEditable();
            opt.frame = box->hasFrame();
            const QRect field = style->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, box);
            for (int i = 0; i < box->count(); ++i) {
                const int icon = box->itemIcon(i).isNull() ? 0 : box->iconSize().width() + 4;
                check(box->itemText(i), fm.horizontalAdvance(box->itemText(i)) + icon, field.width() - 2);
            }
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            if (button->text().isEmpty()) continue;
            QStyleOptionButton opt;
            opt.initFrom(button);
            opt.text = button->text();
            opt.icon = button->icon();
            opt.iconSize = button->iconSize();
            QStyle::SubElement contents;
            if (qobject_cast<QPushButton*>(button))
                contents = QStyle::SE_PushButtonContents;
            else if (qobject_cast<QCheckBox*>(button))
                contents = QStyle::SE_CheckBoxContents;
            else if (qobject_cast<QRadioButton*>(button))
                contents = QStyle::SE_RadioButtonContents;
            else
                continue;
            const int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
            const QString shown = withoutMnemonic(button->text());
            check(shown, textWidth(fm, shown) + icon, style->subElementRect(contents, &opt, button).width());
        }
    }
    return out;
}

} // namespace uitest

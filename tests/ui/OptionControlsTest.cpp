#include <fstream>

#include <QTest>

#include <QMessageBox>

#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "ui/OptionControls.h"

namespace fs = std::filesystem;

TEST(OptionControls, LiteralCaptionKeepsTheAmpersand) {
    EXPECT_EQ(ui::literalCaption("Intro & Outro Music"), "Intro && Outro Music");
    EXPECT_EQ(ui::literalCaption("Process All"), "Process All");
    QPushButton button(ui::literalCaption("Save & Quit"));
    EXPECT_TRUE(QKeySequence::mnemonic(button.text()).isEmpty());
}

TEST(OptionControls, FilePickerChoosesShowsAndRemoves) {
    testsupport::TempDir dir;
    fs::path file = dir / "intro-music.wav";
    std::ofstream(file) << "x";
    std::vector<std::optional<fs::path>> received;
    QWidget parent;
    ui::FilePickerRow row("Intro", "Audio (*.wav)", [&](auto f) { received.push_back(f); }, &parent);
    EXPECT_TRUE(row.chooseButton()->isVisibleTo(&parent));
    EXPECT_EQ(row.chooseButton()->text(), "Choose…");
    EXPECT_FALSE(row.removeButton()->isVisibleTo(&parent));

    row.chooser = [&] { return std::optional<fs::path>(file); };
    row.chooseButton()->click();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], file);
    row.setFile(file);
    EXPECT_FALSE(row.chooseButton()->isVisibleTo(&parent));
    EXPECT_TRUE(row.removeButton()->isVisibleTo(&parent));
    EXPECT_EQ(row.removeButton()->toolTip(), "Remove");
    EXPECT_EQ(row.nameLabel()->fullText(), "intro-music.wav");
    EXPECT_NE(row.nameLabel()->palette().color(row.nameLabel()->foregroundRole()), QColor(Qt::red));

    fs::remove(file);
    row.setFile(file);
    EXPECT_EQ(row.nameLabel()->palette().color(row.nameLabel()->foregroundRole()), QColor(Qt::red));

    row.removeButton()->click();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_FALSE(received[1].has_value());

    row.chooser = [] { return std::optional<fs::path>(); }; // a cancelled dialog
    row.chooseButton()->click();
    EXPECT_EQ(received.size(), 2u);
}

TEST(OptionControls, ElidedLabelKeepsBothEndsOnOneLine) {
    ui::ElidedLabel label;
    label.resize(120, 20);
    QString full = QStringLiteral("start-") + QString(300, QLatin1Char('m')) + QStringLiteral("-end.wav");
    label.setFullText(full);
    EXPECT_TRUE(label.text().startsWith("start"));
    EXPECT_TRUE(label.text().endsWith("end.wav"));
    EXPECT_TRUE(label.text().contains(QStringLiteral("…")));
    EXPECT_EQ(label.toolTip(), full);
    EXPECT_EQ(label.textFormat(), Qt::PlainText);
}

TEST(OptionControls, NamingSectionWithEmptyTokensStillSaysAvailable) {
    std::vector<std::string> edits;
    ui::NamingPatternSection section("", [&](const std::string& p) { edits.push_back(p); });
    EXPECT_EQ(section.title(), "File Naming");
    EXPECT_EQ(section.note()->text(), "Available: ");
    QTest::keyClicks(section.field(), "ab");
    EXPECT_EQ(edits, (std::vector<std::string>{"a", "ab"}));
    section.setPattern("{name}");
    EXPECT_EQ(edits.size(), 2u); // showing the model's value is not an edit
}

TEST(PlainText, MessageBoxInformativeTextIsNeverRichText) {
    QMessageBox box;
    ui::setPlainInformativeText(box, "<b>2.0</b> & <a href=\"x\">notes</a>");
    bool found = false;
    for (QLabel* label : box.findChildren<QLabel*>()) {
        if (label->text().contains(QStringLiteral("<b>2.0</b>"))) {
            found = true;
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
        }
    }
    EXPECT_TRUE(found);
}

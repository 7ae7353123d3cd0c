#include <QGroupBox>
#include <QKeySequence>
#include <QTest>

#include <gtest/gtest.h>

#include "presets/QuorvelPreset.h"
#include "ui/QuorvelApp.h"
#include "ui/QuorvelOptionsPanel.h"
#include "ui/UiTexts.h"
#include "EditionPanelRig.h"
#include "support/TestSupport.h"
#include "WorkspaceFakes.h"

using presets::ChapterMode;
using presets::LoudnessStandard;
using presets::QuorvelPreset;
using Panel = ui::QuorvelOptionsPanel;

namespace {

struct PanelRig {
    uitest::FakePoster poster;
    uitest::FakeScheduler scheduler;
    ui::MemorySettingsStore store;
    std::unique_ptr<Panel::Model> model;
    std::unique_ptr<Panel> panel;

    explicit PanelRig(bool speech = false, bool mp3 = true) {
        Panel::Model::Ports ports;
        ports.post = poster.poster();
        ports.scheduler = &scheduler;
        ports.settings = &store;
        model = std::make_unique<Panel::Model>(ui::QuorvelApp::defaultPreset(), presets::Vertical::quorvel, nullptr,
                                               ports);
        panel = std::make_unique<Panel>(*model, Panel::Capabilities{[speech] { return speech; }, [mp3] { return mp3; }});
        model->setObserver([this](ui::WorkspaceField f) {
            if (f == ui::WorkspaceField::preset) panel->refresh();
        });
    }
    const QuorvelPreset& preset() const { return model->preset(); }
    void choose(LoudnessStandard s) {
        auto all = presets::allLoudnessStandards();
        panel->loudnessPicker()->setCurrentIndex(
            static_cast<int>(std::find(all.begin(), all.end(), s) - all.begin()));
    }
    bool shown(QWidget* w) const { return panel->rowShown(w); }
};

void activate(QComboBox* box, int index) {
    box->setCurrentIndex(index);
    emit box->activated(index);
}

QStringList rows(QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
    return out;
}

} // namespace

TEST(QuorvelOptionsPanel, CustomLoudnessShowsTheSliderAndKeepsTheTarget) {
    PanelRig rig;
    EXPECT_EQ(rig.preset().loudnessStandard(), LoudnessStandard::applePodcasts);
    EXPECT_FALSE(rig.shown(rig.panel->customSlider()));
    rig.choose(LoudnessStandard::custom);
    EXPECT_DOUBLE_EQ(rig.preset().targetLUFS, -16.0);
    EXPECT_TRUE(rig.shown(rig.panel->customSlider()));
    EXPECT_EQ(rig.panel->customValue()->text(), "-16.0 LUFS");
    EXPECT_EQ(rig.panel->loudnessNote()->text(), "Try -19 LUFS for mono spoken word.");
    rig.panel->customSlider()->setValue(rig.panel->customSlider()->value() + 1);
    EXPECT_DOUBLE_EQ(rig.preset().targetLUFS, -15.5);
    EXPECT_EQ(rig.panel->customValue()->text(), "-15.5 LUFS");
    rig.choose(LoudnessStandard::spotify);
    EXPECT_DOUBLE_EQ(rig.preset().targetLUFS, -14.0);
    EXPECT_FALSE(rig.shown(rig.panel->customSlider()));
    EXPECT_EQ(rig.panel->loudnessNote()->text(), "Matches the platform's playback level, so it isn't turned down.");
}

TEST(QuorvelOptionsPanel, LoudnessNotesAndTheAcxMasterCaption) {
    PanelRig rig;
    EXPECT_EQ(rig.panel->loudnessNote()->text(),
              "Apple's recommended level for spoken word. Peaks stay under -1 dBTP.");
    EXPECT_EQ(rig.panel->masterToggle()->text(), "24-bit WAV Loudness Master");
    rig.choose(LoudnessStandard::ebuR128);
    EXPECT_EQ(rig.panel->loudnessNote()->text(), "True peak ceiling -1 dBTP for broadcast delivery.");
    rig.choose(LoudnessStandard::atsc);
    EXPECT_EQ(rig.panel->loudnessNote()->text(), "True peak ceiling -2 dBTP for broadcast delivery.");
    EXPECT_DOUBLE_EQ(rig.preset().targetLUFS, -24.0);
    rig.choose(LoudnessStandard::acx);
    EXPECT_DOUBLE_EQ(rig.preset().targetLUFS, -24.0);
    EXPECT_EQ(rig.panel->masterToggle()->text(), "24-bit WAV Master + ACX Check Report");
    EXPECT_EQ(rig.panel->loudnessNote()->text(),
              "RMS -23 to -18 dB, peaks under -3 dB, noise floor under -60 dB. A pass/fail report is written "
              "next to the master.");
}

TEST(QuorvelOptionsPanel, StoredValuesOutsideTheChoicesGetTheirOwnRow) {
    PanelRig rig;
    EXPECT_EQ(rows(rig.panel->pausePicker()),
              QStringList({"Off", "Longer than 1.5 s", "Longer than 2 s", "Longer than 3 s"}));
    rig.model->editPreset([](QuorvelPreset& p) { p.cleanup.maxPauseSeconds = 5; });
    ASSERT_EQ(rig.panel->pausePicker()->count(), 5);
    EXPECT_EQ(rig.panel->pausePicker()->itemText(4), "Longer than 5.0 s");
    EXPECT_EQ(rig.panel->pausePicker()->currentIndex(), 4);
    activate(rig.panel->pausePicker(), 0);
    EXPECT_EQ(rig.preset().cleanup.maxPauseSeconds, 0);
    EXPECT_EQ(rig.panel->pausePicker()->count(), 4);

    EXPECT_EQ(rows(rig.panel->lengthPicker()),
              QStringList({"15 seconds", "30 seconds", "45 seconds", "60 seconds", "90 seconds"}));
    rig.model->editPreset([](QuorvelPreset& p) { p.audiogramSeconds = 20; });
    EXPECT_EQ(rig.panel->lengthPicker()->itemText(5), "20 seconds");
    EXPECT_EQ(rig.panel->lengthPicker()->currentIndex(), 5);
    rig.model->editPreset([](QuorvelPreset& p) { p.audiogramSeconds = 12.5; });
    EXPECT_EQ(rig.panel->lengthPicker()->itemText(5), "12 seconds");
    activate(rig.panel->lengthPicker(), 1);
    EXPECT_EQ(rig.preset().audiogramSeconds, 30);
}

TEST(QuorvelOptionsPanel, StartTimeFieldReadsClockTextAndIgnoresTheRest) {
    PanelRig rig;
    EXPECT_FALSE(rig.shown(rig.panel->startField()));
    activate(rig.panel->clipPicker(), 2);
    ASSERT_EQ(rig.preset().audiogramClip, episode::ClipChoice::at(60));
    EXPECT_TRUE(rig.shown(rig.panel->startField()));
    EXPECT_EQ(rig.panel->startField()->text(), "01:00");
    EXPECT_EQ(rig.panel->startField()->placeholderText(), "m:ss");

    rig.panel->startField()->clear();
    QTest::keyClicks(rig.panel->startField(), "1:02:03");
    EXPECT_EQ(rig.preset().audiogramClip, episode::ClipChoice::at(3723));
    emit rig.panel->startField()->editingFinished();
    EXPECT_EQ(rig.panel->startField()->text(), "1:02:03");

    for (const char* junk : {"inf", "abc", "-5"}) {
        rig.panel->startField()->clear();
        QTest::keyClicks(rig.panel->startField(), junk);
        EXPECT_EQ(rig.preset().audiogramClip, episode::ClipChoice::at(3723)) << junk;
    }
    emit rig.panel->startField()->editingFinished();
    EXPECT_EQ(rig.panel->startField()->text(), "1:02:03");
    activate(rig.panel->clipPicker(), 2); // choosing it again keeps the typed time
    EXPECT_EQ(rig.preset().audiogramClip, episode::ClipChoice::at(3723));
    activate(rig.panel->clipPicker(), 1);
    EXPECT_EQ(rig.preset().audiogramClip, episode::ClipChoice::start());
    EXPECT_FALSE(rig.shown(rig.panel->startField()));
}

TEST(QuorvelOptionsPanel, AudiogramRowsFollowTheToggleButCoverArtStays) {
    PanelRig rig;
    activate(rig.panel->clipPicker(), 2);
    ASSERT_TRUE(rig.preset().generateAudiogram);
    for (QWidget* w : std::initializer_list<QWidget*>{rig.panel->clipPicker(), rig.panel->lengthPicker(),
                                                      rig.panel->captionToggle(), rig.panel->startField()})
        EXPECT_TRUE(rig.shown(w));
    rig.panel->audiogramToggle()->setChecked(false);
    EXPECT_FALSE(rig.preset().generateAudiogram);
    for (QWidget* w : std::initializer_list<QWidget*>{rig.panel->clipPicker(), rig.panel->lengthPicker(),
                                                      rig.panel->captionToggle(), rig.panel->startField()})
        EXPECT_FALSE(rig.shown(w));
    EXPECT_TRUE(rig.shown(rig.panel->coverRow()));
}

TEST(QuorvelOptionsPanel, ChapterEditorAndNotesFollowTheMode) {
    PanelRig rig;
    auto modes = presets::allChapterModes();
    auto index = [&](ChapterMode m) { return static_cast<int>(std::find(modes.begin(), modes.end(), m) - modes.begin()); };
    EXPECT_EQ(rows(rig.panel->chapterPicker()), QStringList({"Off", "Automatic (from pauses)", "My list"}));
    rig.panel->chapterPicker()->setCurrentIndex(index(ChapterMode::manual));
    EXPECT_EQ(rig.preset().chapterMode, ChapterMode::manual);
    EXPECT_TRUE(rig.shown(rig.panel->chapterEditor()));
    EXPECT_EQ(rig.panel->chapterEditor()->height(), 84);
    rig.panel->chapterEditor()->setPlainText("0:00 Intro\n5:30 Talk");
    EXPECT_EQ(rig.preset().chapterList, "0:00 Intro\n5:30 Talk");
    rig.panel->chapterPicker()->setCurrentIndex(index(ChapterMode::automatic));
    EXPECT_FALSE(rig.shown(rig.panel->chapterEditor()));
    rig.panel->chapterPicker()->setCurrentIndex(index(ChapterMode::off));
    EXPECT_EQ(rig.preset().chapterMode, ChapterMode::off);
    EXPECT_FALSE(rig.shown(rig.panel->chapterEditor()));
}

TEST(QuorvelOptionsPanel, TranscriptTogglesNeedTheSpeechModel) {
    PanelRig without(false, false);
    without.model->editPreset([](QuorvelPreset& p) { p.generateTranscripts = true; });
    for (QCheckBox* box : {without.panel->fillerToggle(), without.panel->transcriptToggle(),
                           without.panel->captionToggle()})
        EXPECT_FALSE(box->isEnabled()) << box->text().toStdString();
    EXPECT_TRUE(without.panel->transcriptToggle()->isChecked());
    EXPECT_EQ(without.panel->fillerToggle()->toolTip(), ui::texts::kNeedsSpeechModel);
    EXPECT_EQ(without.panel->transcriptToggle()->toolTip(), ui::texts::kNeedsSpeechModel);
    EXPECT_EQ(without.panel->captionToggle()->toolTip(),
              "Word-by-word highlighted captions from the on-device transcript.");
    EXPECT_EQ(without.panel->rssToggle()->text(), "RSS File (AAC .m4a + tags)");

    PanelRig with(true, true);
    for (QCheckBox* box : {with.panel->fillerToggle(), with.panel->transcriptToggle(), with.panel->captionToggle()})
        EXPECT_TRUE(box->isEnabled()) << box->text().toStdString();
    EXPECT_EQ(with.panel->fillerToggle()->toolTip(),
              "Finds them in the on-device transcript and cuts them from the audio.");
    EXPECT_EQ(with.panel->transcriptToggle()->toolTip(), ui::texts::kTranscriptMadeHere);
    EXPECT_EQ(with.panel->rssToggle()->text(), "192kbps MP3 RSS File (ID3 tags)");
    with.panel->transcriptToggle()->setChecked(true);
    EXPECT_TRUE(with.preset().generateTranscripts);
}

TEST(QuorvelOptionsPanel, SectionTitlesShowTheirAmpersand) {
    PanelRig rig;
    QStringList shown;
    for (QGroupBox* box : rig.panel->findChildren<QGroupBox*>()) {
        EXPECT_TRUE(QKeySequence::mnemonic(box->title()).isEmpty()) << box->title().toStdString();
        shown << box->title().replace(QStringLiteral("&&"), QStringLiteral("&"));
    }
    EXPECT_EQ(shown, QStringList({"Show", "Loudness Target", "Clean-Up", "Intro & Outro Music", "Exports", "Chapters",
                                  "Social Audiogram"}));
}

TEST(QuorvelOptionsPanel, ShowFieldsWriteThePreset) {
    PanelRig rig;
    auto* title = rig.panel->findChildren<QLineEdit*>()[0];
    EXPECT_EQ(title->text(), "Brindlemoor Podcast");
    title->clear();
    QTest::keyClicks(title, "<b>Night</b> & Day");
    EXPECT_EQ(rig.preset().showTitle, "<b>Night</b> & Day");
    rig.model->resetSettings(ui::QuorvelApp::defaultPreset());
    EXPECT_EQ(title->text(), "Brindlemoor Podcast");
}

TEST(QuorvelOptionsPanel, TabLeavesTheChapterEditorAndPutsNoTabIntoTheChapters) {
    PanelRig rig;
    auto modes = presets::allChapterModes();
    rig.panel->chapterPicker()->setCurrentIndex(
        static_cast<int>(std::find(modes.begin(), modes.end(), ChapterMode::manual) - modes.begin()));
    rig.panel->show();
    rig.panel->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(rig.panel.get()));
    QPlainTextEdit* editor = rig.panel->chapterEditor();
    editor->setPlainText("0:00 Intro");
    for (int i = 0; i < 34; ++i) {
        editor->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([&] { return editor->hasFocus(); }, 1000));
        QTest::keyClick(rig.panel->windowHandle(), Qt::Key_Tab);
        EXPECT_FALSE(editor->hasFocus()) << "press " << i;
    }
    EXPECT_EQ(rig.preset().chapterList, "0:00 Intro");
    EXPECT_FALSE(editor->toPlainText().contains(QLatin1Char('\t')));
}

TEST(QuorvelOptionsPanel, SnapshotsOfEachStateForAVisualCheck) {
    testsupport::TempDir dir;
    uitest::EditionPanelRig<Panel, QuorvelPreset> rig(ui::QuorvelApp::defaultPreset(), presets::Vertical::quorvel,
                                                      Panel::Capabilities{[] { return false; }, [] { return true; }});
    rig.snapshot("quorvel-options-default");
    rig.set([&](QuorvelPreset& p) {
        p.setLoudnessStandard(LoudnessStandard::custom);
        p.cleanup.maxPauseSeconds = 5;
        p.chapterMode = ChapterMode::manual;
        p.audiogramClip = episode::ClipChoice::at(90);
        p.audiogramSeconds = 20;
        p.introURL = dir / "a rather long intro music file name.wav";
    });
    rig.snapshot("quorvel-options-custom");
    rig.set([](QuorvelPreset& p) {
        p.setLoudnessStandard(LoudnessStandard::acx);
        p.generateAudiogram = false;
    });
    rig.snapshot("quorvel-options-acx");
}

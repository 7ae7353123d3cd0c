#include "ui/QuorvelOptionsPanel.h"

#include <cmath>

#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "core/Numbers.h"
#include "episode/ChapterBuilder.h"
#include "ui/UiTexts.h"

namespace ui {

using presets::ChapterMode;
using presets::LoudnessStandard;
using presets::QuorvelPreset;

namespace {

const double kPauseChoices[] = {0, 1.5, 2, 3};
const double kLengthChoices[] = {15, 30, 45, 60, 90};

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

QString loudnessNoteText(LoudnessStandard s) {
    switch (s) {
    case LoudnessStandard::applePodcasts:
        return QStringLiteral("Apple's recommended level for spoken word. Peaks stay under -1 dBTP.");
    case LoudnessStandard::spotify:
    case LoudnessStandard::youtube:
        return QStringLiteral("Matches the platform's playback level, so it isn't turned down.");
    case LoudnessStandard::ebuR128:
    case LoudnessStandard::atsc:
        return QStringLiteral("True peak ceiling %1 dBTP for broadcast delivery.")
            .arg(qs(core::formatFixed(presets::truePeak(s), 0)));
    case LoudnessStandard::acx:
        return QStringLiteral("RMS -23 to -18 dB, peaks under -3 dB, noise floor under -60 dB. A pass/fail "
                              "report is written next to the master.");
    case LoudnessStandard::custom:
        break;
    }
    return QStringLiteral("Try -19 LUFS for mono spoken word.");
}

// Fills a picker with fixed numeric choices plus one row for a stored value
// that is none of them, and selects the stored value.
void fillNumberPicker(QComboBox* box, const double* choices, int count, double stored,
                      const std::function<QString(double)>& label) {
    QSignalBlocker block(box);
    box->clear();
    int selected = -1;
    for (int i = 0; i < count; ++i) {
        box->addItem(label(choices[i]), choices[i]);
        if (choices[i] == stored) selected = i;
    }
    if (selected < 0) {
        box->addItem(label(stored), stored);
        selected = count;
    }
    box->setCurrentIndex(selected);
}

QString pauseLabel(double v) {
    if (v == 0) return QStringLiteral("Off");
    if (v == 1.5 || v == 2 || v == 3) return QStringLiteral("Longer than %1 s").arg(qs(core::formatShortest(v)));
    return QStringLiteral("Longer than %1 s").arg(qs(core::formatFixed(v, 1)));
}

QString lengthLabel(double v) {
    return QStringLiteral("%1 seconds").arg(qs(fmt::format("{}", core::clampToInt64(v))));
}

int clipKind(const episode::ClipChoice& c) {
    switch (c.kind) {
    case episode::ClipChoice::Kind::automatic: return 0;
    case episode::ClipChoice::Kind::start: return 1;
    case episode::ClipChoice::Kind::at: return 2;
    }
    return 0;
}

} // namespace

QuorvelOptionsPanel::QuorvelOptionsPanel(Model& model, Capabilities capabilities, QWidget* parent)
    : QWidget(parent), model_(model), caps_(std::move(capabilities)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    buildShow();
    buildLoudness();
    buildCleanup();
    buildMusic();
    buildExports();
    buildChapters();
    buildAudiogram();
    column->addStretch(1);
    fitPanelToItsTexts(this);
    refresh();
}

QFormLayout* QuorvelOptionsPanel::section(const QString& title) {
    auto* box = new QGroupBox(literalCaption(title), this);
    auto* form = new QFormLayout(box);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    static_cast<QVBoxLayout*>(layout())->addWidget(box);
    return form;
}

void QuorvelOptionsPanel::edit(const std::function<void(QuorvelPreset&)>& change) {
    if (refreshing_) return;
    model_.editPreset(change);
}

bool QuorvelOptionsPanel::rowShown(QWidget* field) const {
    for (QFormLayout* form : {loudnessForm_, chapterForm_, audiogramForm_}) {
        int row = -1;
        QFormLayout::ItemRole role;
        form->getWidgetPosition(field, &row, &role);
        if (row >= 0) return form->isRowVisible(row);
    }
    return field->isVisibleTo(const_cast<QuorvelOptionsPanel*>(this));
}

void QuorvelOptionsPanel::buildShow() {
    auto* form = section(QStringLiteral("Show"));
    showTitle_ = new QLineEdit(this);
    host_ = new QLineEdit(this);
    episode_ = new QSpinBox(this);
    episode_->setRange(1, 9999);
    episode_->setPrefix(QStringLiteral("Starting Episode #: "));
    form->addRow(QStringLiteral("Show Title"), showTitle_);
    form->addRow(QStringLiteral("Host / Artist Name"), host_);
    form->addRow(episode_);
    connect(showTitle_, &QLineEdit::textEdited, this,
            [this](const QString& t) { edit([&](QuorvelPreset& p) { p.showTitle = t.toStdString(); }); });
    connect(host_, &QLineEdit::textEdited, this,
            [this](const QString& t) { edit([&](QuorvelPreset& p) { p.hostName = t.toStdString(); }); });
    connect(episode_, &QSpinBox::valueChanged, this,
            [this](int v) { edit([&](QuorvelPreset& p) { p.episodeNumber = v; }); });
}

void QuorvelOptionsPanel::buildLoudness() {
    loudnessForm_ = section(QStringLiteral("Loudness Target"));
    loudness_ = new QComboBox(this);
    for (auto s : presets::allLoudnessStandards()) loudness_->addItem(qs(presets::displayName(s)));
    loudnessForm_->addRow(QStringLiteral("Deliver for"), loudness_);
    sliderRow_ = new QWidget(this);
    auto* row = new QHBoxLayout(sliderRow_);
    row->setContentsMargins(0, 0, 0, 0);
    slider_ = new QSlider(Qt::Horizontal, sliderRow_);
    slider_->setRange(-60, -20); // half-LU steps from -30 to -10
    sliderValue_ = new QLabel(sliderRow_);
    sliderValue_->setTextFormat(Qt::PlainText);
    sliderValue_->setFont(scaledFont(font(), 11, QFont::Bold, true));
    sliderValue_->setFixedWidth(80);
    sliderValue_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row->addWidget(slider_, 1);
    row->addWidget(sliderValue_);
    loudnessForm_->addRow(sliderRow_);
    loudnessNote_ = new OptionNote(QString(), this);
    loudnessForm_->addRow(loudnessNote_);
    connect(loudness_, &QComboBox::currentIndexChanged, this, [this](int i) {
        auto all = presets::allLoudnessStandards();
        if (i < 0 || i >= static_cast<int>(all.size())) return;
        edit([&](QuorvelPreset& p) { p.setLoudnessStandard(all[static_cast<size_t>(i)]); });
    });
    connect(slider_, &QSlider::valueChanged, this,
            [this](int v) { edit([&](QuorvelPreset& p) { p.targetLUFS = v / 2.0; }); });
}

void QuorvelOptionsPanel::buildCleanup() {
    auto* form = section(QStringLiteral("Clean-Up"));
    rumble_ = new QCheckBox(QStringLiteral("Rumble Filter (80 Hz)"), this);
    rumble_->setToolTip(QStringLiteral("Removes desk thumps, traffic and mic-handling rumble."));
    hum_ = new QComboBox(this);
    for (auto m : audio::allHumModes()) hum_->addItem(qs(audio::displayName(m)));
    leveler_ = new QCheckBox(QStringLiteral("Leveler (even out speakers)"), this);
    leveler_->setToolTip(QStringLiteral("Brings quiet guests up and loud moments down before loudness normalization."));
    gate_ = new QCheckBox(QStringLiteral("Noise Gate Between Phrases"), this);
    gate_->setToolTip(QStringLiteral("Turns background noise down by 12 dB when nobody is talking."));
    trim_ = new QCheckBox(QStringLiteral("Trim Dead Air at Start and End"), this);
    pause_ = new QComboBox(this);
    fillers_ = new QCheckBox(QStringLiteral("Remove Filler Words (um, uh, repeats)"), this);
    form->addRow(rumble_);
    form->addRow(QStringLiteral("Hum Removal"), hum_);
    form->addRow(leveler_);
    form->addRow(gate_);
    form->addRow(trim_);
    form->addRow(QStringLiteral("Shorten Long Pauses"), pause_);
    form->addRow(fillers_);
    connect(rumble_, &QCheckBox::toggled, this, [this](bool on) { edit([&](QuorvelPreset& p) { p.cleanup.rumbleFilter = on; }); });
    connect(leveler_, &QCheckBox::toggled, this, [this](bool on) { edit([&](QuorvelPreset& p) { p.cleanup.leveler = on; }); });
    connect(gate_, &QCheckBox::toggled, this, [this](bool on) { edit([&](QuorvelPreset& p) { p.cleanup.noiseGate = on; }); });
    connect(trim_, &QCheckBox::toggled, this, [this](bool on) { edit([&](QuorvelPreset& p) { p.cleanup.trimSilence = on; }); });
    connect(fillers_, &QCheckBox::toggled, this, [this](bool on) { edit([&](QuorvelPreset& p) { p.removeFillerWords = on; }); });
    connect(hum_, &QComboBox::currentIndexChanged, this, [this](int i) {
        auto all = audio::allHumModes();
        if (i >= 0 && i < static_cast<int>(all.size()))
            edit([&](QuorvelPreset& p) { p.cleanup.humRemoval = all[static_cast<size_t>(i)]; });
    });
    connect(pause_, &QComboBox::activated, this, [this](int i) {
        double v = pause_->itemData(i).toDouble();
        edit([&](QuorvelPreset& p) { p.cleanup.maxPauseSeconds = v; });
    });
}

void QuorvelOptionsPanel::buildMusic() {
    auto* form = section(QStringLiteral("Intro & Outro Music"));
    const QString audio = QStringLiteral("Audio (*.wav *.aif *.aiff *.mp3 *.m4a *.flac *.caf)");
    intro_ = new FilePickerRow(QStringLiteral("Intro"), audio,
                               [this](auto f) { edit([&](QuorvelPreset& p) { p.introURL = f; }); }, this);
    outro_ = new FilePickerRow(QStringLiteral("Outro"), audio,
                               [this](auto f) { edit([&](QuorvelPreset& p) { p.outroURL = f; }); }, this);
    form->addRow(intro_);
    form->addRow(outro_);
    form->addRow(new OptionNote(QStringLiteral("Loudness-matched to the episode and joined with short fades."), this));
}

void QuorvelOptionsPanel::buildExports() {
    auto* form = section(QStringLiteral("Exports"));
    master_ = new QCheckBox(this);
    rss_ = new QCheckBox(this);
    rss_->setToolTip(texts::kRSSTooltip);
    transcripts_ = new QCheckBox(QStringLiteral("Transcript (.srt, .vtt, .txt)"), this);
    whisper_ = new QCheckBox(QStringLiteral("16kHz Mono Whisper Reference WAV"), this);
    form->addRow(master_);
    form->addRow(rss_);
    form->addRow(transcripts_);
    form->addRow(whisper_);
    connect(master_, &QCheckBox::toggled, this, [this](bool on) { edit([&](QuorvelPreset& p) { p.generateMaster = on; }); });
    connect(rss_, &QCheckBox::toggled, this, [this](bool on) { edit([&](QuorvelPreset& p) { p.generateRSSMaster = on; }); });
    connect(transcripts_, &QCheckBox::toggled, this,
            [this](bool on) { edit([&](QuorvelPreset& p) { p.generateTranscripts = on; }); });
    connect(whisper_, &QCheckBox::toggled, this,
            [this](bool on) { edit([&](QuorvelPreset& p) { p.generateWhisperReference = on; }); });
}

void QuorvelOptionsPanel::buildChapters() {
    chapterForm_ = section(QStringLiteral("Chapters"));
    chapterMode_ = new QComboBox(this);
    for (auto m : presets::allChapterModes()) chapterMode_->addItem(qs(presets::displayName(m)));
    chapterList_ = new QPlainTextEdit(this);
    chapterList_->setFont(scaledFont(font(), 11, QFont::Normal, true));
    chapterList_->setFixedHeight(84);
    chapterList_->setTabChangesFocus(true); // Tab moves on; chapters never hold a tab
    chapterExample_ = new OptionNote(
        QStringLiteral("One per line, e.g.  0:00 Intro  ·  5:30 Interview  ·  42:10 Wrap-up"), this);
    chapterFilesNote_ = new OptionNote(
        QStringLiteral("Saved as a Podcasting 2.0 chapters file (.json) for your host and a timestamp list (.txt) "
                       "for show notes. Also embedded in the MP3 when FFmpeg is installed."),
        this);
    chapterForm_->addRow(QStringLiteral("Chapter Markers"), chapterMode_);
    chapterForm_->addRow(chapterList_);
    chapterForm_->addRow(chapterExample_);
    chapterForm_->addRow(chapterFilesNote_);
    connect(chapterMode_, &QComboBox::currentIndexChanged, this, [this](int i) {
        auto all = presets::allChapterModes();
        if (i >= 0 && i < static_cast<int>(all.size()))
            edit([&](QuorvelPreset& p) { p.chapterMode = all[static_cast<size_t>(i)]; });
    });
    connect(chapterList_, &QPlainTextEdit::textChanged, this, [this] {
        std::string text = chapterList_->toPlainText().toStdString();
        if (text != model_.preset().chapterList) edit([&](QuorvelPreset& p) { p.chapterList = text; });
    });
}

void QuorvelOptionsPanel::buildAudiogram() {
    audiogramForm_ = section(QStringLiteral("Social Audiogram"));
    audiogram_ = new QCheckBox(QStringLiteral("Audiogram Video (MP4)"), this);
    shape_ = new QComboBox(this);
    for (auto a : episode::allAspectRatios()) shape_->addItem(qs(episode::shortName(a)));
    clip_ = new QComboBox(this);
    clip_->addItems({QStringLiteral("Liveliest part (automatic)"), QStringLiteral("Start of episode"),
                     QStringLiteral("Starting at…")});
    startRow_ = new QWidget(this);
    auto* row = new QHBoxLayout(startRow_);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(new QLabel(QStringLiteral("Start time"), startRow_));
    row->addStretch(1);
    start_ = new QLineEdit(startRow_);
    start_->setPlaceholderText(QStringLiteral("m:ss"));
    start_->setFont(scaledFont(font(), 11, QFont::Normal, true));
    start_->setFixedWidth(80);
    row->addWidget(start_);
    length_ = new QComboBox(this);
    captions_ = new QCheckBox(QStringLiteral("Burn In Captions"), this);
    captions_->setToolTip(QStringLiteral("Word-by-word highlighted captions from the on-device transcript."));
    cover_ = new FilePickerRow(QStringLiteral("Cover Art"), QStringLiteral("Images (*.png *.jpg *.jpeg)"),
                               [this](auto f) { edit([&](QuorvelPreset& p) { p.artworkURL = f; }); }, this);
    audiogramForm_->addRow(audiogram_);
    audiogramForm_->addRow(QStringLiteral("Shape"), shape_);
    audiogramForm_->addRow(QStringLiteral("Clip"), clip_);
    audiogramForm_->addRow(startRow_);
    audiogramForm_->addRow(QStringLiteral("Length"), length_);
    audiogramForm_->addRow(captions_);
    audiogramForm_->addRow(cover_);
    connect(audiogram_, &QCheckBox::toggled, this, [this](bool on) { edit([&](QuorvelPreset& p) { p.generateAudiogram = on; }); });
    connect(captions_, &QCheckBox::toggled, this, [this](bool on) { edit([&](QuorvelPreset& p) { p.captionAudiogram = on; }); });
    connect(shape_, &QComboBox::currentIndexChanged, this, [this](int i) {
        auto all = episode::allAspectRatios();
        if (i >= 0 && i < static_cast<int>(all.size()))
            edit([&](QuorvelPreset& p) { p.audiogramAspect = all[static_cast<size_t>(i)]; });
    });
    connect(clip_, &QComboBox::activated, this, [this](int i) {
        edit([&](QuorvelPreset& p) {
            if (i == 0) p.audiogramClip = episode::ClipChoice::automatic();
            if (i == 1) p.audiogramClip = episode::ClipChoice::start();
            if (i == 2 && p.audiogramClip.kind != episode::ClipChoice::Kind::at)
                p.audiogramClip = episode::ClipChoice::at(60);
        });
    });
    connect(start_, &QLineEdit::textEdited, this, [this](const QString& text) {
        // Only a readable, finite time that is not negative replaces the stored one.
        auto s = episode::ChapterBuilder::seconds(text.toStdString());
        if (s && std::isfinite(*s) && *s >= 0) {
            typingStart_ = true; // the field keeps what is being typed
            edit([&](QuorvelPreset& p) { p.audiogramClip = episode::ClipChoice::at(*s); });
            typingStart_ = false;
        }
    });
    // Leaving the field shows the stored time again, also after unreadable text.
    connect(start_, &QLineEdit::editingFinished, this, [this] {
        const auto& clip = model_.preset().audiogramClip;
        if (clip.kind == episode::ClipChoice::Kind::at)
            start_->setText(QString::fromStdString(episode::ChapterBuilder::clock(clip.seconds, false)));
    });
    connect(length_, &QComboBox::activated, this, [this](int i) {
        double v = length_->itemData(i).toDouble();
        edit([&](QuorvelPreset& p) { p.audiogramSeconds = v; });
    });
}

void QuorvelOptionsPanel::refresh() {
    refreshing_ = true;
    const QuorvelPreset& p = model_.preset();
    const bool speech = caps_.transcriptionAvailable ? caps_.transcriptionAvailable() : false;
    const bool mp3 = caps_.producesMP3 ? caps_.producesMP3() : false;
    auto setText = [](QLineEdit* e, const std::string& s) {
        QString q = QString::fromStdString(s);
        if (e->text() != q) e->setText(q);
    };
    setText(showTitle_, p.showTitle);
    setText(host_, p.hostName);
    {
        QSignalBlocker b(episode_);
        episode_->setValue(static_cast<int>(std::clamp<std::int64_t>(p.episodeNumber, 1, 9999)));
    }
    auto standards = presets::allLoudnessStandards();
    int si = static_cast<int>(std::find(standards.begin(), standards.end(), p.loudnessStandard()) - standards.begin());
    loudness_->setCurrentIndex(si);
    const bool custom = p.loudnessStandard() == LoudnessStandard::custom;
    loudnessForm_->setRowVisible(sliderRow_, custom);
    {
        QSignalBlocker b(slider_);
        double half = std::isfinite(p.targetLUFS) ? std::round(p.targetLUFS * 2) : -32;
        slider_->setValue(static_cast<int>(std::clamp(half, -60.0, -20.0)));
    }
    sliderValue_->setText(QString::fromStdString(core::formatFixed(p.targetLUFS, 1) + " LUFS"));
    loudnessNote_->setText(loudnessNoteText(p.loudnessStandard()));

    rumble_->setChecked(p.cleanup.rumbleFilter);
    auto hums = audio::allHumModes();
    hum_->setCurrentIndex(static_cast<int>(std::find(hums.begin(), hums.end(), p.cleanup.humRemoval) - hums.begin()));
    leveler_->setChecked(p.cleanup.leveler);
    gate_->setChecked(p.cleanup.noiseGate);
    trim_->setChecked(p.cleanup.trimSilence);
    fillNumberPicker(pause_, kPauseChoices, 4, p.cleanup.maxPauseSeconds, pauseLabel);
    fillers_->setChecked(p.removeFillerWords);
    fillers_->setEnabled(speech);
    fillers_->setToolTip(speech ? QStringLiteral("Finds them in the on-device transcript and cuts them from the audio.")
                                : QString(texts::kNeedsSpeechModel));
    intro_->setFile(p.introURL);
    outro_->setFile(p.outroURL);

    master_->setText(p.loudnessStandard() == LoudnessStandard::acx ? QStringLiteral("24-bit WAV Master + ACX Check Report")
                                                                   : QStringLiteral("24-bit WAV Loudness Master"));
    master_->setChecked(p.generateMaster);
    rss_->setText(mp3 ? QStringLiteral("192kbps MP3 RSS File (ID3 tags)") : QStringLiteral("RSS File (AAC .m4a + tags)"));
    rss_->setChecked(p.generateRSSMaster);
    transcripts_->setChecked(p.generateTranscripts);
    transcripts_->setEnabled(speech);
    transcripts_->setToolTip(speech ? QString(texts::kTranscriptMadeHere) : QString(texts::kNeedsSpeechModel));
    whisper_->setChecked(p.generateWhisperReference);

    auto modes = presets::allChapterModes();
    chapterMode_->setCurrentIndex(static_cast<int>(std::find(modes.begin(), modes.end(), p.chapterMode) - modes.begin()));
    if (chapterList_->toPlainText().toStdString() != p.chapterList)
        chapterList_->setPlainText(QString::fromStdString(p.chapterList));
    const bool manual = p.chapterMode == ChapterMode::manual;
    chapterForm_->setRowVisible(chapterList_, manual);
    chapterForm_->setRowVisible(chapterExample_, manual);
    chapterForm_->setRowVisible(chapterFilesNote_, p.chapterMode != ChapterMode::off);

    audiogram_->setChecked(p.generateAudiogram);
    auto shapes = episode::allAspectRatios();
    shape_->setCurrentIndex(static_cast<int>(std::find(shapes.begin(), shapes.end(), p.audiogramAspect) - shapes.begin()));
    clip_->setCurrentIndex(clipKind(p.audiogramClip));
    const bool at = p.audiogramClip.kind == episode::ClipChoice::Kind::at;
    if (at && !typingStart_) setText(start_, episode::ChapterBuilder::clock(p.audiogramClip.seconds, false));
    fillNumberPicker(length_, kLengthChoices, 5, p.audiogramSeconds, lengthLabel);
    captions_->setChecked(p.captionAudiogram);
    captions_->setEnabled(speech);
    for (QWidget* w : {static_cast<QWidget*>(shape_), static_cast<QWidget*>(clip_), static_cast<QWidget*>(length_),
                       static_cast<QWidget*>(captions_)})
        audiogramForm_->setRowVisible(w, p.generateAudiogram);
    audiogramForm_->setRowVisible(startRow_, p.generateAudiogram && at);
    cover_->setFile(p.artworkURL);
    refreshing_ = false;
}

} // namespace ui

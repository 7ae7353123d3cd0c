#pragma once

#include <functional>

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSlider>
#include <QSpinBox>
#include <QWidget>

#include "presets/QuorvelPreset.h"
#include "ui/OptionControls.h"
#include "ui/StandaloneViewModel.h"

namespace ui {

// The podcast edition's option panel. Every control writes straight into
// one field of the view model's preset; refresh() shows the preset again.
class QuorvelOptionsPanel : public QWidget {
public:
    using Model = StandaloneViewModel<presets::QuorvelPreset>;
    static constexpr const char* kTokens = "{show}, {ep:02}, {title}, {date}";

    struct Capabilities {
        std::function<bool()> transcriptionAvailable;
        std::function<bool()> producesMP3;
    };

    QuorvelOptionsPanel(Model& model, Capabilities capabilities, QWidget* parent = nullptr);
    void refresh();

    // The controls, for the window's tests.
    QComboBox* loudnessPicker() const { return loudness_; }
    QSlider* customSlider() const { return slider_; }
    QLabel* customValue() const { return sliderValue_; }
    QLabel* loudnessNote() const { return loudnessNote_; }
    QComboBox* pausePicker() const { return pause_; }
    QCheckBox* fillerToggle() const { return fillers_; }
    QCheckBox* masterToggle() const { return master_; }
    QCheckBox* rssToggle() const { return rss_; }
    QCheckBox* transcriptToggle() const { return transcripts_; }
    QComboBox* chapterPicker() const { return chapterMode_; }
    QPlainTextEdit* chapterEditor() const { return chapterList_; }
    QCheckBox* audiogramToggle() const { return audiogram_; }
    QComboBox* clipPicker() const { return clip_; }
    QLineEdit* startField() const { return start_; }
    QComboBox* lengthPicker() const { return length_; }
    QCheckBox* captionToggle() const { return captions_; }
    FilePickerRow* coverRow() const { return cover_; }
    // Whether the row holding `field` is shown.
    bool rowShown(QWidget* field) const;

private:
    void edit(const std::function<void(presets::QuorvelPreset&)>& change);
    void buildShow();
    void buildLoudness();
    void buildCleanup();
    void buildMusic();
    void buildExports();
    void buildChapters();
    void buildAudiogram();
    QFormLayout* section(const QString& title);

    Model& model_;
    Capabilities caps_;
    bool refreshing_ = false;
    bool typingStart_ = false;
    QFormLayout* loudnessForm_ = nullptr;
    QFormLayout* chapterForm_ = nullptr;
    QFormLayout* audiogramForm_ = nullptr;
    QLineEdit* showTitle_ = nullptr;
    QLineEdit* host_ = nullptr;
    QSpinBox* episode_ = nullptr;
    QComboBox* loudness_ = nullptr;
    QWidget* sliderRow_ = nullptr;
    QSlider* slider_ = nullptr;
    QLabel* sliderValue_ = nullptr;
    QLabel* loudnessNote_ = nullptr;
    QCheckBox* rumble_ = nullptr;
    QComboBox* hum_ = nullptr;
    QCheckBox* leveler_ = nullptr;
    QCheckBox* gate_ = nullptr;
    QCheckBox* trim_ = nullptr;
    QComboBox* pause_ = nullptr;
    QCheckBox* fillers_ = nullptr;
    FilePickerRow* intro_ = nullptr;
    FilePickerRow* outro_ = nullptr;
    QCheckBox* master_ = nullptr;
    QCheckBox* rss_ = nullptr;
    QCheckBox* transcripts_ = nullptr;
    QCheckBox* whisper_ = nullptr;
    QComboBox* chapterMode_ = nullptr;
    QPlainTextEdit* chapterList_ = nullptr;
    QLabel* chapterExample_ = nullptr;
    QLabel* chapterFilesNote_ = nullptr;
    QCheckBox* audiogram_ = nullptr;
    QComboBox* shape_ = nullptr;
    QComboBox* clip_ = nullptr;
    QWidget* startRow_ = nullptr;
    QLineEdit* start_ = nullptr;
    QComboBox* length_ = nullptr;
    QCheckBox* captions_ = nullptr;
    FilePickerRow* cover_ = nullptr;
};

} // namespace ui

#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QSlider>
#include <QSpinBox>
#include <QWidget>

#include "presets/ZentrixPreset.h"
#include "ui/OptionControls.h"
#include "ui/StandaloneViewModel.h"

namespace ui {

// The game-texture edition's option panel: "What To Do" first, then the
// sections of the chosen job. Every control writes straight into one field
// of the view model's preset; refresh() shows the preset again and swaps the
// sections. A building block that several jobs show (the normal-map
// controls, the convention picker, the "Max Size" picker, the sizing rows)
// exists once per place it appears, each copy bound to the same field.
class ZentrixOptions : public QWidget {
public:
    using Model = StandaloneViewModel<presets::ZentrixPreset>;
    static constexpr const char* kTokens = "{name}, {profile}, {pot}, {index:02}, {ext}";
    static constexpr std::int64_t kMaxSizeChoices[] = {0, 1024, 2048, 4096, 8192};
    static constexpr int kMaxPadding = 16;
    static constexpr int kMaxExtrude = 8;

    explicit ZentrixOptions(Model& model, QWidget* parent = nullptr);
    void refresh();

    // The "Max Size" rows for a stored value: the five fixed ones, and the
    // stored value last when it is none of them.
    static std::vector<std::int64_t> maxSizeChoices(std::int64_t including);
    static QString maxSizeLabel(std::int64_t pixels);
    // "2.3" for 2.26.
    static QString strengthLabel(double strength);

    // One "Convention" picker and its "Strength" row.
    struct NormalControls {
        QComboBox* convention = nullptr;
        QWidget* strengthRow = nullptr;
        QSlider* strength = nullptr;
        QLabel* strengthValue = nullptr;
    };
    // The rows of "GPU Sizing" in the packing and power-of-two jobs.
    struct SizeSection {
        QCheckBox* enforcePOT = nullptr;
        QCheckBox* forceSquare = nullptr;
        QComboBox* maxSize = nullptr;
        QCheckBox* mipmaps = nullptr;
    };

    // The controls, for the tests.
    QComboBox* operationPicker() const { return operation_; }
    // The sections shown, in order, by title.
    QStringList shownSections() const;
    QGroupBox* layoutSection() const { return layoutBox_; }
    QComboBox* profilePicker() const { return profile_; }
    QLabel* layoutText() const { return layoutText_; }
    QCheckBox* missingNormalToggle() const { return missingNormal_; }
    const NormalControls& packingNormals() const { return packingNormals_; }
    const NormalControls& heightNormals() const { return heightNormals_; }
    QComboBox* convertPicker() const { return convertTo_; }
    const SizeSection& sizing() const { return sizing_; }
    QComboBox* spriteFormatPicker() const { return spriteFormat_; }
    QCheckBox* trimToggle() const { return trim_; }
    QCheckBox* rotateToggle() const { return rotate_; }
    QSpinBox* paddingStepper() const { return padding_; }
    QSpinBox* extrudeStepper() const { return extrude_; }
    QCheckBox* halfScaleToggle() const { return halfScale_; }
    QComboBox* spriteMaxSize() const { return spriteMaxSize_; }
    // Whether the row holding `field` is shown, in its section and with the section.
    bool rowShown(QWidget* field) const;

private:
    void edit(const std::function<void(presets::ZentrixPreset&)>& change);
    QGroupBox* section(const QString& title);
    QFormLayout* form(QGroupBox* box) const { return static_cast<QFormLayout*>(box->layout()); }

    // The building blocks: each call makes one more copy in `form`.
    NormalControls normalControls(QFormLayout* form);
    QComboBox* conventionPicker(const QString& title, QFormLayout* form);
    QComboBox* maxSizePicker(QFormLayout* form);
    SizeSection sizeSection(QFormLayout* form);

    void buildLayoutSection();
    void buildMapNames();
    void buildConvert();
    void buildFromHeight();
    void buildSizing();
    void buildSprites();
    void buildTiling();
    void showNormalControls(const NormalControls& controls) const;
    void showMaxSize(QComboBox* box);

    Model& model_;
    bool refreshing_ = false;
    QGroupBox* whatToDo_ = nullptr;
    QComboBox* operation_ = nullptr;
    QGroupBox* layoutBox_ = nullptr;
    QComboBox* profile_ = nullptr;
    QLabel* layoutText_ = nullptr;
    QCheckBox* missingNormal_ = nullptr;
    NormalControls packingNormals_;
    QGroupBox* mapNames_ = nullptr;
    QGroupBox* convert_ = nullptr;
    QComboBox* convertTo_ = nullptr;
    QGroupBox* fromHeight_ = nullptr;
    NormalControls heightNormals_;
    QGroupBox* sizingBox_ = nullptr;
    SizeSection sizing_;
    QGroupBox* sprites_ = nullptr;
    QComboBox* spriteFormat_ = nullptr;
    QCheckBox* trim_ = nullptr;
    QCheckBox* rotate_ = nullptr;
    QSpinBox* padding_ = nullptr;
    QSpinBox* extrude_ = nullptr;
    QCheckBox* halfScale_ = nullptr;
    QComboBox* spriteMaxSize_ = nullptr;
    QGroupBox* tiling_ = nullptr;
    std::vector<QComboBox*> conventionPickers_;
    std::vector<NormalControls> normalRows_;
    std::vector<QComboBox*> maxSizePickers_;
};

} // namespace ui

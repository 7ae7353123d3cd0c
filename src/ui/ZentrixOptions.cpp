#include "ui/ZentrixOptions.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include <QHBoxLayout>
#include <QVBoxLayout>

#include <fmt/format.h>

#include "core/Numbers.h"

namespace ui {

using presets::OperationalMode;
using presets::ZentrixPreset;

namespace {

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

constexpr double kMinStrength = 0.5;
constexpr double kMaxStrength = 10.0;
constexpr int kStrengthSteps = 100; // the slider counts hundredths

template <typename E> int indexOf(const std::vector<E>& all, E value) {
    return static_cast<int>(std::find(all.begin(), all.end(), value) - all.begin());
}

// A wrapping caption that is never squeezed: its minimum height follows the
// lines it needs at the width it gets (a form row sizes it by its one-line
// hint otherwise and clips the wrapped lines).
class WrappedCaption : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        const int needed = heightForWidth(width());
        if (needed > 0 && needed != minimumHeight()) setMinimumHeight(needed);
    }
};

QLabel* monospacedCaption(const QString& text, const QFont& base, QWidget* parent) {
    auto* label = new WrappedCaption(parent);
    setPlainText(label, text);
    label->setFont(scaledFont(base, 10, QFont::Normal, true));
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setWordWrap(true);
    label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum); // never squeezed
    return label;
}

} // namespace

std::vector<std::int64_t> ZentrixOptions::maxSizeChoices(std::int64_t including) {
    std::vector<std::int64_t> out(std::begin(kMaxSizeChoices), std::end(kMaxSizeChoices));
    if (std::find(out.begin(), out.end(), including) == out.end()) out.push_back(including);
    return out;
}

QString ZentrixOptions::maxSizeLabel(std::int64_t pixels) {
    if (pixels == 0) return QStringLiteral("No limit");
    if (pixels == 1024) return QStringLiteral("1024 (mobile)");
    return qs(fmt::format("{}", pixels));
}

QString ZentrixOptions::strengthLabel(double strength) { return qs(core::formatFixed(strength, 1)); }

ZentrixOptions::ZentrixOptions(Model& model, QWidget* parent) : QWidget(parent), model_(model) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);

    whatToDo_ = section(QStringLiteral("What To Do"));
    operation_ = new QComboBox(this);
    for (OperationalMode m : presets::allOperationalModes()) operation_->addItem(qs(presets::rawValue(m)));
    form(whatToDo_)->addRow(QStringLiteral("Operation"), operation_);
    connect(operation_, &QComboBox::currentIndexChanged, this, [this](int i) {
        auto all = presets::allOperationalModes();
        if (i >= 0 && i < static_cast<int>(all.size()))
            edit([&](ZentrixPreset& p) { p.operationalMode = all[static_cast<std::size_t>(i)]; });
    });

    buildLayoutSection();
    buildMapNames();
    buildConvert();
    buildFromHeight();
    buildSizing();
    buildSprites();
    buildTiling();
    column->addStretch(1);
    fitPanelToItsTexts(this);
    refresh();
}

QGroupBox* ZentrixOptions::section(const QString& title) {
    auto* box = new QGroupBox(literalCaption(title), this);
    auto* f = new QFormLayout(box);
    f->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    static_cast<QVBoxLayout*>(layout())->addWidget(box);
    return box;
}

void ZentrixOptions::edit(const std::function<void(ZentrixPreset&)>& change) {
    if (refreshing_) return;
    model_.editPreset(change);
}

QStringList ZentrixOptions::shownSections() const {
    QStringList out;
    for (QGroupBox* box : findChildren<QGroupBox*>(QString(), Qt::FindDirectChildrenOnly))
        if (box->isVisibleTo(this)) out << box->title();
    return out;
}

bool ZentrixOptions::rowShown(QWidget* field) const {
    for (QGroupBox* box : findChildren<QGroupBox*>(QString(), Qt::FindDirectChildrenOnly)) {
        int row = -1;
        QFormLayout::ItemRole role;
        form(box)->getWidgetPosition(field, &row, &role);
        if (row >= 0) return box->isVisibleTo(this) && form(box)->isRowVisible(row);
    }
    return false;
}

QComboBox* ZentrixOptions::conventionPicker(const QString& title, QFormLayout* f) {
    auto* box = new QComboBox(this);
    for (auto c : image::allNormalConventions()) box->addItem(qs(image::displayName(c)));
    f->addRow(title, box);
    connect(box, &QComboBox::currentIndexChanged, this, [this](int i) {
        auto all = image::allNormalConventions();
        if (i >= 0 && i < static_cast<int>(all.size()))
            edit([&](ZentrixPreset& p) { p.normalTarget = all[static_cast<std::size_t>(i)]; });
    });
    conventionPickers_.push_back(box);
    return box;
}

ZentrixOptions::NormalControls ZentrixOptions::normalControls(QFormLayout* f) {
    NormalControls c;
    c.convention = conventionPicker(QStringLiteral("Convention"), f);
    c.strengthRow = new QWidget(this);
    auto* row = new QHBoxLayout(c.strengthRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(new QLabel(QStringLiteral("Strength"), c.strengthRow));
    c.strength = new QSlider(Qt::Horizontal, c.strengthRow);
    c.strength->setRange(static_cast<int>(kMinStrength * kStrengthSteps),
                         static_cast<int>(kMaxStrength * kStrengthSteps));
    c.strengthValue = new QLabel(c.strengthRow);
    c.strengthValue->setTextFormat(Qt::PlainText);
    c.strengthValue->setFont(scaledFont(font(), 11, QFont::Normal, true));
    c.strengthValue->setMinimumWidth(c.strengthValue->fontMetrics().horizontalAdvance(QStringLiteral("10.0")) + 4);
    c.strengthValue->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row->addWidget(c.strength, 1);
    row->addWidget(c.strengthValue);
    f->addRow(c.strengthRow);
    connect(c.strength, &QSlider::valueChanged, this, [this](int v) {
        edit([&](ZentrixPreset& p) { p.normalStrength = static_cast<double>(v) / kStrengthSteps; });
    });
    normalRows_.push_back(c);
    return c;
}

QComboBox* ZentrixOptions::maxSizePicker(QFormLayout* f) {
    auto* box = new QComboBox(this);
    box->setToolTip(QStringLiteral(
        "Downscales anything larger, keeping the aspect ratio. For sprite sheets it's the largest sheet."));
    f->addRow(QStringLiteral("Max Size"), box);
    connect(box, &QComboBox::activated, this, [this, box](int i) {
        const auto v = box->itemData(i).value<std::int64_t>();
        edit([&](ZentrixPreset& p) { p.maxTextureSize = v; });
    });
    maxSizePickers_.push_back(box);
    return box;
}

ZentrixOptions::SizeSection ZentrixOptions::sizeSection(QFormLayout* f) {
    SizeSection s;
    s.enforcePOT = new QCheckBox(QStringLiteral("Enforce Power-of-Two Dimensions"), this);
    s.enforcePOT->setToolTip(QStringLiteral("Aligns dimensions to 512, 1024, 2048 or 4096 for ASTC/BC GPU compression."));
    s.forceSquare = new QCheckBox(QStringLiteral("Force Square Texture"), this);
    s.forceSquare->setToolTip(QStringLiteral("Stretch to a square texture (e.g. 2048x1024 becomes 2048x2048)."));
    f->addRow(s.enforcePOT);
    f->addRow(s.forceSquare);
    s.maxSize = maxSizePicker(f);
    s.mipmaps = new QCheckBox(QStringLiteral("Generate Mipmap Chain (_mip0.._mipN)"), this);
    f->addRow(s.mipmaps);
    connect(s.enforcePOT, &QCheckBox::toggled, this, [this](bool on) { edit([&](ZentrixPreset& p) { p.enforcePOT = on; }); });
    connect(s.forceSquare, &QCheckBox::toggled, this, [this](bool on) { edit([&](ZentrixPreset& p) { p.forceSquare = on; }); });
    connect(s.mipmaps, &QCheckBox::toggled, this, [this](bool on) { edit([&](ZentrixPreset& p) { p.generateMipmaps = on; }); });
    return s;
}

void ZentrixOptions::buildLayoutSection() {
    layoutBox_ = section(QStringLiteral("Engine Channel Layout"));
    QFormLayout* f = form(layoutBox_);
    profile_ = new QComboBox(this);
    for (auto p : image::allEngineProfiles()) profile_->addItem(qs(image::displayName(p)));
    f->addRow(QStringLiteral("Target"), profile_);
    layoutText_ = monospacedCaption(QString(), font(), this);
    f->addRow(layoutText_);
    f->addRow(new OptionNote(
        QStringLiteral("Roughness and smoothness are converted automatically, so either kind of map works."), this));
    missingNormal_ = new QCheckBox(QStringLiteral("Make Normal Map When Missing"), this);
    missingNormal_->setToolTip(
        QStringLiteral("If a material has a height map but no normal map, one is generated from the height map."));
    f->addRow(missingNormal_);
    packingNormals_ = normalControls(f);
    connect(profile_, &QComboBox::currentIndexChanged, this, [this](int i) {
        auto all = image::allEngineProfiles();
        if (i >= 0 && i < static_cast<int>(all.size()))
            edit([&](ZentrixPreset& p) { p.engineProfile = all[static_cast<std::size_t>(i)]; });
    });
    connect(missingNormal_, &QCheckBox::toggled, this,
            [this](bool on) { edit([&](ZentrixPreset& p) { p.generateMissingNormal = on; }); });
}

void ZentrixOptions::buildMapNames() {
    mapNames_ = section(QStringLiteral("Recognised Map Names"));
    form(mapNames_)->addRow(monospacedCaption(QStringLiteral("_AO \u00B7 _Roughness \u00B7 _Smoothness \u00B7 _Gloss\n"
                                                             "_Metallic \u00B7 _Height \u00B7 _DetailMask\n"
                                                             "\n"
                                                             "Drop a whole material folder: one packed texture per "
                                                             "material."),
                                              font(), this));
}

void ZentrixOptions::buildConvert() {
    convert_ = section(QStringLiteral("Normal Map Convention"));
    convertTo_ = conventionPicker(QStringLiteral("Convert to"), form(convert_));
    form(convert_)->addRow(new OptionNote(
        QStringLiteral("Flips the green channel. Files already named for the target (e.g. _NormalGL) are skipped."),
        this));
}

void ZentrixOptions::buildFromHeight() {
    fromHeight_ = section(QStringLiteral("Normal Map from Height"));
    heightNormals_ = normalControls(form(fromHeight_));
    form(fromHeight_)->addRow(new OptionNote(QStringLiteral("Drop height, displacement or bump maps (_Height, _Disp, "
                                                            "_Bump). Edges wrap, so tiling height maps give tiling "
                                                            "normal maps."),
                                             this));
}

void ZentrixOptions::buildSizing() {
    sizingBox_ = section(QStringLiteral("GPU Sizing"));
    sizing_ = sizeSection(form(sizingBox_));
}

void ZentrixOptions::buildSprites() {
    sprites_ = section(QStringLiteral("Sprite Sheet Packing"));
    QFormLayout* f = form(sprites_);
    spriteFormat_ = new QComboBox(this);
    for (auto d : image::allDataFormats()) spriteFormat_->addItem(qs(image::displayName(d)));
    trim_ = new QCheckBox(QStringLiteral("Trim Transparent Edges"), this);
    trim_->setToolTip(QStringLiteral(
        "Crops empty space around each frame; the data file keeps the offset so sprites stay in place."));
    rotate_ = new QCheckBox(QStringLiteral("Rotate Frames to Pack Tighter"), this);
    rotate_->setToolTip(QStringLiteral("Supported by the JSON and Cocos formats."));
    padding_ = new QSpinBox(this);
    padding_->setRange(0, kMaxPadding);
    padding_->setPrefix(QStringLiteral("Padding: "));
    padding_->setSuffix(QStringLiteral(" px"));
    extrude_ = new QSpinBox(this);
    extrude_->setRange(0, kMaxExtrude);
    extrude_->setPrefix(QStringLiteral("Extrude: "));
    extrude_->setSuffix(QStringLiteral(" px"));
    extrude_->setToolTip(QStringLiteral("Repeats edge pixels outward so filtering never bleeds in neighbouring frames."));
    halfScale_ = new QCheckBox(QStringLiteral("Also Export @1x Half-Size Sheet"), this);
    f->addRow(QStringLiteral("Data Format"), spriteFormat_);
    f->addRow(trim_);
    f->addRow(rotate_);
    f->addRow(padding_);
    f->addRow(extrude_);
    f->addRow(halfScale_);
    spriteMaxSize_ = maxSizePicker(f);
    f->addRow(new OptionNote(QStringLiteral("Identical frames are stored once. Sets too big for one sheet continue "
                                            "on extra sheets (_Atlas-0, _Atlas-1\u2026)."),
                             this));
    connect(spriteFormat_, &QComboBox::currentIndexChanged, this, [this](int i) {
        auto all = image::allDataFormats();
        if (i >= 0 && i < static_cast<int>(all.size()))
            edit([&](ZentrixPreset& p) { p.spriteFormat = all[static_cast<std::size_t>(i)]; });
    });
    connect(trim_, &QCheckBox::toggled, this, [this](bool on) { edit([&](ZentrixPreset& p) { p.spriteTrim = on; }); });
    connect(rotate_, &QCheckBox::toggled, this, [this](bool on) { edit([&](ZentrixPreset& p) { p.spriteRotate = on; }); });
    connect(padding_, &QSpinBox::valueChanged, this, [this](int v) { edit([&](ZentrixPreset& p) { p.spritePadding = v; }); });
    connect(extrude_, &QSpinBox::valueChanged, this, [this](int v) { edit([&](ZentrixPreset& p) { p.spriteExtrude = v; }); });
    connect(halfScale_, &QCheckBox::toggled, this,
            [this](bool on) { edit([&](ZentrixPreset& p) { p.spriteHalfScale = on; }); });
}

void ZentrixOptions::buildTiling() {
    tiling_ = section(QStringLiteral("Seamless Tiling Check"));
    form(tiling_)->addRow(new OptionNote(
        QStringLiteral("Compares each texture's opposite edges. Textures that tile cleanly pass; ones with a visible "
                       "seam are marked failed, with a 2x2 tiled preview saved so you can see it."),
        this));
}

void ZentrixOptions::showMaxSize(QComboBox* box) {
    const std::int64_t stored = model_.preset().maxTextureSize;
    QSignalBlocker block(box);
    box->clear();
    for (std::int64_t v : maxSizeChoices(stored)) box->addItem(maxSizeLabel(v), QVariant::fromValue(v));
    box->setCurrentIndex(box->findData(QVariant::fromValue(stored)));
}

void ZentrixOptions::showNormalControls(const NormalControls& c) const {
    const ZentrixPreset& p = model_.preset();
    {
        QSignalBlocker block(c.strength);
        const double hundredths = std::round(p.normalStrength * kStrengthSteps);
        c.strength->setValue(static_cast<int>(core::clampToInt64(hundredths, c.strength->minimum())));
    }
    c.strengthValue->setText(strengthLabel(p.normalStrength));
}

void ZentrixOptions::refresh() {
    refreshing_ = true;
    const ZentrixPreset& p = model_.preset();
    const OperationalMode mode = p.operationalMode;
    operation_->setCurrentIndex(indexOf(presets::allOperationalModes(), mode));

    profile_->setCurrentIndex(indexOf(image::allEngineProfiles(), p.engineProfile));
    layoutText_->setText(qs(image::layoutDescription(p.engineProfile)));
    missingNormal_->setChecked(p.generateMissingNormal);
    for (QComboBox* box : conventionPickers_) box->setCurrentIndex(indexOf(image::allNormalConventions(), p.normalTarget));
    for (const NormalControls& c : normalRows_) showNormalControls(c);
    form(layoutBox_)->setRowVisible(packingNormals_.convention, p.generateMissingNormal);
    form(layoutBox_)->setRowVisible(packingNormals_.strengthRow, p.generateMissingNormal);

    sizing_.enforcePOT->setChecked(p.enforcePOT);
    sizing_.forceSquare->setChecked(p.forceSquare);
    sizing_.mipmaps->setChecked(p.generateMipmaps);
    for (QComboBox* box : maxSizePickers_) showMaxSize(box);
    // The normal-map jobs show the "Max Size" picker alone.
    const bool fullSizing = mode == OperationalMode::channelPackingORM || mode == OperationalMode::powerOfTwoEnforce;
    for (QWidget* w : {sizing_.enforcePOT, sizing_.forceSquare, sizing_.mipmaps})
        form(sizingBox_)->setRowVisible(w, fullSizing);

    spriteFormat_->setCurrentIndex(indexOf(image::allDataFormats(), p.spriteFormat));
    trim_->setChecked(p.spriteTrim);
    rotate_->setChecked(p.spriteRotate);
    rotate_->setEnabled(image::supportsRotation(p.spriteFormat));
    padding_->setValue(static_cast<int>(std::clamp<std::int64_t>(p.spritePadding, 0, kMaxPadding)));
    extrude_->setValue(static_cast<int>(std::clamp<std::int64_t>(p.spriteExtrude, 0, kMaxExtrude)));
    halfScale_->setChecked(p.spriteHalfScale);

    layoutBox_->setVisible(mode == OperationalMode::channelPackingORM);
    mapNames_->setVisible(mode == OperationalMode::channelPackingORM);
    convert_->setVisible(mode == OperationalMode::normalMapConvert);
    fromHeight_->setVisible(mode == OperationalMode::normalFromHeight);
    sizingBox_->setVisible(mode != OperationalMode::spriteSheetAtlas && mode != OperationalMode::tilingCheck);
    sprites_->setVisible(mode == OperationalMode::spriteSheetAtlas);
    tiling_->setVisible(mode == OperationalMode::tilingCheck);
    refreshing_ = false;
}

} // namespace ui

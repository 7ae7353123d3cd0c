#include "ui/HalvaneOptions.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <type_traits>

#include <QHBoxLayout>
#include <QVBoxLayout>

#include <fmt/format.h>

#include "core/Numbers.h"
#include "ui/EditionTexts.h"
#include "ui/OptionLabels.h"

namespace ui {

using presets::HalvanePreset;
using presets::Portal;
using presets::WebAspect;

namespace {

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

constexpr int kOpacitySteps = 1000; // the slider counts thousandths

int opacityPosition(double opacity) {
    const auto pos = core::clampToInt64(std::round(opacity * kOpacitySteps), kOpacitySteps);
    return static_cast<int>(std::clamp<std::int64_t>(pos, 100, kOpacitySteps));
}

// Rows of a picker over numbers: the labels and values of `choices`, the
// stored value selected.
template <typename T>
void fillPicker(QComboBox* box, const std::vector<T>& choices, T stored, QString (*label)(T)) {
    QSignalBlocker block(box);
    box->clear();
    int selected = -1;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        box->addItem(label(choices[i]), QVariant::fromValue(choices[i]));
        if (choices[i] == stored) selected = static_cast<int>(i);
        if constexpr (std::is_floating_point_v<T>) {
            if (std::isnan(stored) && std::isnan(choices[i])) selected = static_cast<int>(i);
        }
    }
    box->setCurrentIndex(selected);
}

} // namespace

std::vector<double> HalvaneOptions::dimensionChoices(double including) {
    std::vector<double> out(std::begin(kDimensionChoices), std::end(kDimensionChoices));
    if (std::find(out.begin(), out.end(), including) != out.end()) return out;
    out.push_back(including);
    // Not-a-number sorts last; everything else ascending.
    std::stable_sort(out.begin(), out.end(), [](double a, double b) {
        if (std::isnan(a)) return false;
        if (std::isnan(b)) return true;
        return a < b;
    });
    return out;
}

std::vector<std::int64_t> HalvaneOptions::sizeChoices(std::int64_t including) {
    std::vector<std::int64_t> out(std::begin(kSizeChoices), std::end(kSizeChoices));
    if (std::find(out.begin(), out.end(), including) != out.end()) return out;
    out.insert(std::upper_bound(out.begin(), out.end(), including), including);
    return out;
}

QString HalvaneOptions::dimensionLabel(double pixels) {
    if (auto whole = truncatedWhole(pixels)) return qs(fmt::format("{} px", *whole));
    return qs(core::formatShortest(pixels) + " px");
}

QString HalvaneOptions::sizeLabel(std::int64_t kilobytes) {
    if (kilobytes < 1000) return qs(fmt::format("{} KB", kilobytes));
    return qs(fmt::format("{:g} MB", static_cast<double>(kilobytes) / 1000.0));
}

QString HalvaneOptions::opacityLabel(double opacity) {
    if (auto whole = truncatedWhole(opacity * 100)) return qs(fmt::format("Opacity {}%", *whole));
    return QStringLiteral("Opacity");
}

HalvaneOptions::HalvaneOptions(Model& model, QWidget* parent) : QWidget(parent), model_(model) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    buildListing();
    buildFixes();
    buildWeb();
    buildPrint();
    buildWatermark();
    column->addStretch(1);
    fitPanelToItsTexts(this);
    refresh();
}

QFormLayout* HalvaneOptions::section(const QString& title, QGroupBox*& box) {
    box = new QGroupBox(literalCaption(title), this);
    auto* form = new QFormLayout(box);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    static_cast<QVBoxLayout*>(layout())->addWidget(box);
    return form;
}

void HalvaneOptions::edit(const std::function<void(HalvanePreset&)>& change) {
    if (refreshing_) return;
    model_.editPreset(change);
}

bool HalvaneOptions::rowShown(QWidget* field) const {
    for (QFormLayout* form : {fixesForm_, webForm_, watermarkForm_}) {
        int row = -1;
        QFormLayout::ItemRole role;
        form->getWidgetPosition(field, &row, &role);
        if (row >= 0) return form->isRowVisible(row);
    }
    return field->isVisibleTo(const_cast<HalvaneOptions*>(this));
}

int HalvaneOptions::shownRows(const QGroupBox* section) {
    auto* form = qobject_cast<QFormLayout*>(section->layout());
    int shown = 0;
    for (int row = 0; form && row < form->rowCount(); ++row)
        if (form->isRowVisible(row)) ++shown;
    return shown;
}

void HalvaneOptions::buildListing() {
    auto* form = section(QStringLiteral("Listing"), listing_);
    address_ = new QLineEdit(this);
    form->addRow(QStringLiteral("Property Address"), address_);
    form->addRow(new OptionNote(QStringLiteral("Used for the {address} part of file names."), this));
    connect(address_, &QLineEdit::textEdited, this,
            [this](const QString& t) { edit([&](HalvanePreset& p) { p.propertyAddress = t.toStdString(); }); });
}

void HalvaneOptions::buildFixes() {
    fixesForm_ = section(QStringLiteral("Photo Fixes"), fixes_);
    merge_ = new QCheckBox(QStringLiteral("Merge Exposure Brackets"), this);
    merge_->setToolTip(
        QStringLiteral("Blends the 3-7 shots of one scene taken at different exposures into one evenly lit photo."));
    mergeNote_ = new OptionNote(QStringLiteral("Shots taken seconds apart at different exposures become one "
                                               "natural-looking photo (windows and interiors both visible). Use a "
                                               "tripod or hold steady."),
                                this);
    straighten_ = new QCheckBox(QStringLiteral("Auto-Straighten Vertical Lines"), this);
    straighten_->setToolTip(QStringLiteral("Corrects leaning walls and tilted horizons."));
    gps_ = new QCheckBox(literalCaption(QStringLiteral("Remove GPS & Private Metadata")), this);
    gps_->setToolTip(QStringLiteral("Removes location data for seller privacy."));
    fixesForm_->addRow(merge_);
    fixesForm_->addRow(mergeNote_);
    fixesForm_->addRow(straighten_);
    fixesForm_->addRow(gps_);
    connect(merge_, &QCheckBox::toggled, this, [this](bool on) { edit([&](HalvanePreset& p) { p.mergeBrackets = on; }); });
    connect(straighten_, &QCheckBox::toggled, this,
            [this](bool on) { edit([&](HalvanePreset& p) { p.autoStraightenVerticals = on; }); });
    connect(gps_, &QCheckBox::toggled, this, [this](bool on) { edit([&](HalvanePreset& p) { p.stripGPSMetadata = on; }); });
}

void HalvaneOptions::buildWeb() {
    webForm_ = section(QStringLiteral("Web Set"), web_);
    webToggle_ = new QCheckBox(QStringLiteral("Export Web Set"), this);
    portal_ = new QComboBox(this);
    for (Portal p : presets::allPortals()) portal_->addItem(qs(presets::displayName(p)));
    portalNote_ = new OptionNote(QString(), this);
    dimension_ = new QComboBox(this);
    size_ = new QComboBox(this);
    shape_ = new QComboBox(this);
    for (WebAspect a : presets::allWebAspects()) shape_->addItem(qs(presets::displayName(a)));
    webForm_->addRow(webToggle_);
    webForm_->addRow(QStringLiteral("Made for"), portal_);
    webForm_->addRow(portalNote_);
    webForm_->addRow(QStringLiteral("Longest Side"), dimension_);
    webForm_->addRow(QStringLiteral("File Size Limit"), size_);
    webForm_->addRow(QStringLiteral("Shape"), shape_);
    connect(webToggle_, &QCheckBox::toggled, this,
            [this](bool on) { edit([&](HalvanePreset& p) { p.exportWebPackage = on; }); });
    // The site goes through the preset's setter, which applies its shape and limits.
    connect(portal_, &QComboBox::currentIndexChanged, this, [this](int i) {
        auto all = presets::allPortals();
        if (i >= 0 && i < static_cast<int>(all.size()))
            edit([&](HalvanePreset& p) { p.setPortal(all[static_cast<std::size_t>(i)]); });
    });
    connect(dimension_, &QComboBox::activated, this, [this](int i) {
        const double v = dimension_->itemData(i).toDouble();
        edit([&](HalvanePreset& p) { p.maxWebDimension = v; });
    });
    connect(size_, &QComboBox::activated, this, [this](int i) {
        const auto v = size_->itemData(i).value<std::int64_t>();
        edit([&](HalvanePreset& p) { p.maxWebFileSizeKB = v; });
    });
    connect(shape_, &QComboBox::currentIndexChanged, this, [this](int i) {
        auto all = presets::allWebAspects();
        if (i >= 0 && i < static_cast<int>(all.size()))
            edit([&](HalvanePreset& p) { p.webAspect = all[static_cast<std::size_t>(i)]; });
    });
}

void HalvaneOptions::buildPrint() {
    auto* form = section(QStringLiteral("Print Set"), print_);
    printToggle_ = new QCheckBox(QStringLiteral("Export Full-Resolution Print Set"), this);
    form->addRow(printToggle_);
    connect(printToggle_, &QCheckBox::toggled, this,
            [this](bool on) { edit([&](HalvanePreset& p) { p.exportPrintPackage = on; }); });
}

void HalvaneOptions::buildWatermark() {
    watermarkForm_ = section(QStringLiteral("Watermark"), watermark_);
    logo_ = new FilePickerRow(QStringLiteral("Logo"), QString::fromLatin1(texts::kHalvaneLogoFilter),
                              [this](auto f) { edit([&](HalvanePreset& p) { p.watermarkURL = f; }); }, this);
    opacityRow_ = new QWidget(this);
    auto* row = new QHBoxLayout(opacityRow_);
    row->setContentsMargins(0, 0, 0, 0);
    opacityLabel_ = new QLabel(opacityRow_);
    opacityLabel_->setTextFormat(Qt::PlainText);
    opacityLabel_->setMinimumWidth(opacityLabel_->fontMetrics().horizontalAdvance(QStringLiteral("Opacity 100%")));
    opacity_ = new QSlider(Qt::Horizontal, opacityRow_);
    opacity_->setRange(static_cast<int>(kMinOpacity * kOpacitySteps), static_cast<int>(kMaxOpacity * kOpacitySteps));
    row->addWidget(opacityLabel_);
    row->addWidget(opacity_, 1);
    watermarkForm_->addRow(logo_);
    watermarkForm_->addRow(opacityRow_);
    connect(opacity_, &QSlider::valueChanged, this, [this](int v) {
        edit([&](HalvanePreset& p) { p.watermarkOpacity = static_cast<double>(v) / kOpacitySteps; });
    });
}

void HalvaneOptions::refresh() {
    refreshing_ = true;
    const HalvanePreset& p = model_.preset();
    const QString address = QString::fromStdString(p.propertyAddress);
    if (address_->text() != address) address_->setText(address);

    merge_->setChecked(p.mergeBrackets);
    fixesForm_->setRowVisible(mergeNote_, p.mergeBrackets);
    straighten_->setChecked(p.autoStraightenVerticals);
    gps_->setChecked(p.stripGPSMetadata);

    webToggle_->setChecked(p.exportWebPackage);
    auto portals = presets::allPortals();
    portal_->setCurrentIndex(static_cast<int>(std::find(portals.begin(), portals.end(), p.portal()) - portals.begin()));
    portalNote_->setText(qs(presets::note(p.portal())));
    fillPicker<double>(dimension_, dimensionChoices(p.maxWebDimension), p.maxWebDimension, &dimensionLabel);
    fillPicker<std::int64_t>(size_, sizeChoices(p.maxWebFileSizeKB), p.maxWebFileSizeKB, &sizeLabel);
    auto shapes = presets::allWebAspects();
    shape_->setCurrentIndex(static_cast<int>(std::find(shapes.begin(), shapes.end(), p.webAspect) - shapes.begin()));
    const bool custom = p.portal() == Portal::custom;
    webForm_->setRowVisible(portal_, p.exportWebPackage);
    webForm_->setRowVisible(portalNote_, p.exportWebPackage);
    for (QWidget* w : {dimension_, size_, shape_}) webForm_->setRowVisible(w, p.exportWebPackage && custom);

    printToggle_->setChecked(p.exportPrintPackage);

    logo_->setFile(p.watermarkURL);
    opacity_->setValue(opacityPosition(p.watermarkOpacity));
    opacityLabel_->setText(opacityLabel(p.watermarkOpacity));
    watermarkForm_->setRowVisible(opacityRow_, p.watermarkURL.has_value());
    refreshing_ = false;
}

} // namespace ui

#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QWidget>

#include "presets/HalvanePreset.h"
#include "ui/OptionControls.h"
#include "ui/StandaloneViewModel.h"

namespace ui {

// The real-estate edition's option panel: five sections, every control
// writing straight into one field of the view model's preset; refresh()
// shows the preset again. Rows that another option makes irrelevant are
// hidden and keep their values.
class HalvaneOptions : public QWidget {
public:
    using Model = StandaloneViewModel<presets::HalvanePreset>;
    static constexpr const char* kTokens = "{address}, {index:02}, {size}, {name}, {date}";

    static constexpr double kDimensionChoices[] = {1024, 1536, 2048, 2560, 3000, 4096};
    static constexpr std::int64_t kSizeChoices[] = {500, 1000, 2000, 3000, 5000, 10000};
    // The opacity slider's range and its steps (thousandths).
    static constexpr double kMinOpacity = 0.1;
    static constexpr double kMaxOpacity = 1.0;

    explicit HalvaneOptions(Model& model, QWidget* parent = nullptr);
    void refresh();

    // The fixed choices, with a stored value that is none of them added in
    // ascending order (a value that is not a number counts as none of them
    // and goes last).
    static std::vector<double> dimensionChoices(double including);
    static std::vector<std::int64_t> sizeChoices(std::int64_t including);
    // Row and slider labels: "2048 px", "500 KB", "1.5 MB", "Opacity 35%".
    static QString dimensionLabel(double pixels);
    static QString sizeLabel(std::int64_t kilobytes);
    static QString opacityLabel(double opacity);

    // The controls, for the tests.
    QGroupBox* listingSection() const { return listing_; }
    QGroupBox* fixesSection() const { return fixes_; }
    QGroupBox* webSection() const { return web_; }
    QGroupBox* printSection() const { return print_; }
    QGroupBox* watermarkSection() const { return watermark_; }
    QLineEdit* addressField() const { return address_; }
    QCheckBox* mergeToggle() const { return merge_; }
    OptionNote* mergeNote() const { return mergeNote_; }
    QCheckBox* straightenToggle() const { return straighten_; }
    QCheckBox* gpsToggle() const { return gps_; }
    QCheckBox* webToggle() const { return webToggle_; }
    QComboBox* portalPicker() const { return portal_; }
    OptionNote* portalNote() const { return portalNote_; }
    QComboBox* dimensionPicker() const { return dimension_; }
    QComboBox* sizePicker() const { return size_; }
    QComboBox* shapePicker() const { return shape_; }
    QCheckBox* printToggle() const { return printToggle_; }
    FilePickerRow* logoRow() const { return logo_; }
    QSlider* opacitySlider() const { return opacity_; }
    QLabel* opacityValue() const { return opacityLabel_; }
    // Whether the row holding `field` is shown; the rows a section shows.
    bool rowShown(QWidget* field) const;
    static int shownRows(const QGroupBox* section);

private:
    void edit(const std::function<void(presets::HalvanePreset&)>& change);
    QFormLayout* section(const QString& title, QGroupBox*& box);
    void buildListing();
    void buildFixes();
    void buildWeb();
    void buildPrint();
    void buildWatermark();

    Model& model_;
    bool refreshing_ = false;
    QGroupBox* listing_ = nullptr;
    QGroupBox* fixes_ = nullptr;
    QGroupBox* web_ = nullptr;
    QGroupBox* print_ = nullptr;
    QGroupBox* watermark_ = nullptr;
    QFormLayout* fixesForm_ = nullptr;
    QFormLayout* webForm_ = nullptr;
    QFormLayout* watermarkForm_ = nullptr;
    QLineEdit* address_ = nullptr;
    QCheckBox* merge_ = nullptr;
    OptionNote* mergeNote_ = nullptr;
    QCheckBox* straighten_ = nullptr;
    QCheckBox* gps_ = nullptr;
    QCheckBox* webToggle_ = nullptr;
    QComboBox* portal_ = nullptr;
    OptionNote* portalNote_ = nullptr;
    QComboBox* dimension_ = nullptr;
    QComboBox* size_ = nullptr;
    QComboBox* shape_ = nullptr;
    QCheckBox* printToggle_ = nullptr;
    FilePickerRow* logo_ = nullptr;
    QWidget* opacityRow_ = nullptr;
    QSlider* opacity_ = nullptr;
    QLabel* opacityLabel_ = nullptr;
};

} // namespace ui

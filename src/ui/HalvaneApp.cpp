#include "ui/HalvaneApp.h"

#include "presets/Vertical.h"
#include "ui/EditionTexts.h"
#include "ui/HalvaneOptions.h"

namespace ui {

presets::HalvanePreset HalvaneApp::defaultPreset() { return presets::HalvanePreset(); }

StandaloneBranding HalvaneApp::branding() {
    const presets::HalvanePreset preset = defaultPreset();
    return {std::string(presets::displayName(presets::Vertical::halvane)),
            preset.description(),
            preset.systemIconName(),
            texts::kHalvaneDropTitle,
            texts::kHalvaneDropHint,
            texts::kProcessAll,
            texts::kHalvaneItemNoun,
            HalvaneOptions::kTokens};
}

EditionSetup<presets::HalvanePreset> HalvaneApp::setup() {
    EditionSetup<presets::HalvanePreset> s{
        QString::fromStdString(std::string(presets::displayName(presets::Vertical::halvane))),
        QStringLiteral("Halvane"),
        QString::fromLatin1(kDesktopId),
        batch::Edition::halvane,
        presets::Vertical::halvane,
        defaultPreset(),
        branding(),
        QString::fromLatin1(texts::kHalvaneFileFilter),
        [](StandaloneViewModel<presets::HalvanePreset>& model) -> QWidget* { return new HalvaneOptions(model); },
        [](QWidget* panel) { static_cast<HalvaneOptions*>(panel)->refresh(); },
        "libvips, OpenCV, LibRaw, libheif, Exiv2, Little CMS, libjpeg-turbo, libpng and LibTIFF",
    };
    return s;
}

int HalvaneApp::run(int argc, char** argv, bool installedBuild) {
    return runEditionApp(argc, argv, installedBuild, setup());
}

} // namespace ui

#include "ui/ZentrixApp.h"

#include "presets/Vertical.h"
#include "ui/EditionTexts.h"
#include "ui/ZentrixOptions.h"

namespace ui {

presets::ZentrixPreset ZentrixApp::defaultPreset() { return presets::ZentrixPreset(); }

StandaloneBranding ZentrixApp::branding() {
    const presets::ZentrixPreset preset = defaultPreset();
    return {std::string(presets::displayName(presets::Vertical::zentrix)),
            preset.description(),
            preset.systemIconName(),
            texts::kZentrixDropTitle,
            texts::kZentrixDropHint,
            texts::kProcessAll,
            texts::kZentrixItemNoun,
            ZentrixOptions::kTokens};
}

EditionSetup<presets::ZentrixPreset> ZentrixApp::setup() {
    EditionSetup<presets::ZentrixPreset> s{
        QString::fromStdString(std::string(presets::displayName(presets::Vertical::zentrix))),
        QStringLiteral("Zentrix"),
        QString::fromLatin1(kDesktopId),
        batch::Edition::zentrix,
        presets::Vertical::zentrix,
        defaultPreset(),
        branding(),
        QString::fromLatin1(texts::kZentrixFileFilter),
        [](StandaloneViewModel<presets::ZentrixPreset>& model) -> QWidget* { return new ZentrixOptions(model); },
        [](QWidget* panel) { static_cast<ZentrixOptions*>(panel)->refresh(); },
        "libvips, OpenCV, libpng, libjpeg-turbo, LibTIFF and OpenEXR",
    };
    return s;
}

int ZentrixApp::run(int argc, char** argv, bool installedBuild) {
    return runEditionApp(argc, argv, installedBuild, setup());
}

} // namespace ui

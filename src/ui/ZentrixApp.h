#pragma once

#include "presets/ZentrixPreset.h"
#include "ui/EditionApp.h"
#include "ui/StandaloneBranding.h"

namespace ui {

// The game-texture edition: its default preset, branding and window.
class ZentrixApp {
public:
    static presets::ZentrixPreset defaultPreset();
    static StandaloneBranding branding();
    static EditionSetup<presets::ZentrixPreset> setup();
    // The name of the launcher (.desktop file) and of the icon.
    static constexpr const char* kDesktopId = "zentrix";
    // Builds the window and runs the event loop; returns the exit code.
    static int run(int argc, char** argv, bool installedBuild);
};

} // namespace ui

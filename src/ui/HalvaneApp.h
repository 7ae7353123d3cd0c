#pragma once

#include "presets/HalvanePreset.h"
#include "ui/EditionApp.h"
#include "ui/StandaloneBranding.h"

namespace ui {

// The real-estate photo edition: its default preset, branding and window.
class HalvaneApp {
public:
    static presets::HalvanePreset defaultPreset();
    static StandaloneBranding branding();
    static EditionSetup<presets::HalvanePreset> setup();
    // The name of the launcher (.desktop file) and of the icon.
    static constexpr const char* kDesktopId = "halvane";
    // Builds the window and runs the event loop; returns the exit code.
    static int run(int argc, char** argv, bool installedBuild);
};

} // namespace ui

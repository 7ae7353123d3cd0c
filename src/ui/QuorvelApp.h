#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QApplication>

#include "presets/QuorvelPreset.h"
#include "ui/StandaloneBranding.h"

namespace ui {

// The podcast edition: its default preset, branding and window.
class QuorvelApp {
public:
    static presets::QuorvelPreset defaultPreset();
    static StandaloneBranding branding();
    // The name of the installed launcher (.desktop file) and of the icon.
    static constexpr const char* kDesktopId = "quorvel";
    // Builds the window and runs the event loop; returns the exit code. An
    // installed build checks for updates by itself.
    static int run(int argc, char** argv, bool installedBuild);
};

} // namespace ui

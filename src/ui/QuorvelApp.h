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
    // Builds the window and runs the event loop; returns the exit code.
    static int run(int argc, char** argv);
};

} // namespace ui

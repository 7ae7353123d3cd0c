#include "presets/ZentrixPreset.h"
#include "ui/ZentrixApp.h"

int main(int argc, char** argv) {
    // Work folders and temporary files of runs that crashed or were killed.
    presets::ZentrixPreset::sweepLeftovers();
#ifdef QUORVEL_INSTALLED_BUILD
    constexpr bool installedBuild = true;
#else
    constexpr bool installedBuild = false;
#endif
    return ui::ZentrixApp::run(argc, argv, installedBuild);
}

#include "presets/HalvanePreset.h"
#include "ui/HalvaneApp.h"

int main(int argc, char** argv) {
    // Work folders and temporary files of runs that crashed or were killed.
    presets::HalvanePreset::sweepLeftovers();
#ifdef QUORVEL_INSTALLED_BUILD
    constexpr bool installedBuild = true;
#else
    constexpr bool installedBuild = false;
#endif
    return ui::HalvaneApp::run(argc, argv, installedBuild);
}

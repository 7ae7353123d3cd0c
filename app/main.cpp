#include "episode/AudioVideoPipeline.h"
#include "ui/QuorvelApp.h"

int main(int argc, char** argv) {
    // Work folders and temporary files of runs that crashed or were killed.
    episode::AudioVideoPipeline::sweepLeftovers();
#ifdef QUORVEL_INSTALLED_BUILD
    constexpr bool installedBuild = true; // the program `cmake --install` puts in place
#else
    constexpr bool installedBuild = false;
#endif
    return ui::QuorvelApp::run(argc, argv, installedBuild);
}

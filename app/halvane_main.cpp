#include "ui/HalvaneApp.h"

int main(int argc, char** argv) {
#ifdef QUORVEL_INSTALLED_BUILD
    constexpr bool installedBuild = true;
#else
    constexpr bool installedBuild = false;
#endif
    return ui::HalvaneApp::run(argc, argv, installedBuild);
}

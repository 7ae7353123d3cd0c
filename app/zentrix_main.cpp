#include "ui/ZentrixApp.h"

int main(int argc, char** argv) {
#ifdef QUORVEL_INSTALLED_BUILD
    constexpr bool installedBuild = true;
#else
    constexpr bool installedBuild = false;
#endif
    return ui::ZentrixApp::run(argc, argv, installedBuild);
}

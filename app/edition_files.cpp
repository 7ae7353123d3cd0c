// Prints an edition's desktop files at install time: its launcher
// (.desktop) or its icon (SVG), made from the edition's own branding, preset
// and picture, so every edition's files come from one place.
//   edition-files <id> desktop <installed program>
//   edition-files <id> icon
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include <QCoreApplication>
#include <fmt/format.h>

#include "ui/DesktopEntry.h"
#include "ui/EditionIcon.h"
#include "ui/HalvaneApp.h"
#include "ui/QuorvelApp.h"
#include "ui/ZentrixApp.h"

namespace {

template <typename App> ui::DesktopEntry entryOf(std::string categories) {
    const ui::StandaloneBranding branding = App::branding();
    return {App::kDesktopId, branding.title, branding.subtitle, App::defaultPreset().supportedExtensions(),
            std::move(categories)};
}

std::optional<ui::DesktopEntry> entryFor(std::string_view id) {
    if (id == ui::QuorvelApp::kDesktopId) return entryOf<ui::QuorvelApp>("AudioVideo;Audio;");
    if (id == ui::HalvaneApp::kDesktopId) return entryOf<ui::HalvaneApp>("Graphics;Photography;");
    if (id == ui::ZentrixApp::kDesktopId) return entryOf<ui::ZentrixApp>("Graphics;3DGraphics;");
    return std::nullopt;
}

int usage() {
    fmt::print(stderr, "usage: edition-files <quorvel|halvane|zentrix> desktop <installed program> | icon\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv); // the MIME database
    if (argc < 3) return usage();
    const std::string_view kind = argv[2];
    const auto entry = entryFor(argv[1]);
    if (!entry) return usage();
    if (kind == "desktop" && argc == 4) {
        fmt::print("{}", ui::desktopEntryText(*entry, argv[3]));
        return 0;
    }
    if (kind == "icon" && argc == 3) {
        fmt::print("{}", ui::editionIconSvg(entry->id));
        return 0;
    }
    return usage();
}

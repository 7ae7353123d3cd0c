#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

// What an edition's freedesktop launcher (.desktop file) says about it.
struct DesktopEntry {
    std::string id;       // the launcher's and the icon's name
    std::string name;     // the program's display name
    std::string comment;  // the window's subtitle
    std::set<std::string> extensions; // the preset's supported extensions
    std::string categories; // "Main;Additional;"

    bool operator==(const DesktopEntry&) const = default;
};

// The MIME types of files ending in those extensions, as the shared MIME
// database knows them (canonical names and their aliases), and for the
// extensions it has no type for ("caf") the type their players use; each
// once, sorted.
std::vector<std::string> mimeTypesForExtensions(const std::set<std::string>& extensions);

// The launcher's text. Exec names `program` (quoted) with %F, so the files
// opened with the launcher are queued.
std::string desktopEntryText(const DesktopEntry& entry, const std::filesystem::path& program);

} // namespace ui

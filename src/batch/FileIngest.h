#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace batch {

// Turns what the user dropped or picked (files and folders, mixed) into the
// flat, sorted, duplicate-free list of input files for the queue.
class FileIngest {
public:
    FileIngest() = delete;

    // Folders are searched at every depth. Taken are regular, visible files
    // whose lower-cased extension is in `allowedExtensions` (lower case,
    // without the dot; "" admits files without one). Hidden entries (names
    // beginning with ".") and packages (folders such as Name.app) are passed
    // over, symbolic links are not followed, unreadable folders and missing
    // paths are left out. Paths are made absolute and lexically normalised,
    // listed once each, and sorted in the file manager's natural order.
    // Never throws for anything found on disk.
    static std::vector<std::filesystem::path> expand(const std::vector<std::filesystem::path>& urls,
                                                     const std::set<std::string>& allowedExtensions);

    // True for a folder name that the file manager shows as one document
    // (an application, a plug-in, a photo library...).
    static bool isPackageName(const std::filesystem::path& name);
};

} // namespace batch

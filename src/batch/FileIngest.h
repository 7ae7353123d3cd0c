#pragma once

#include <filesystem>
#include <optional>
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
    // over, symbolic links met in folders are not followed, unreadable
    // folders and missing paths are left out. A dropped link to a folder is
    // searched as the folder it points to. Paths are made absolute and
    // lexically normalised, listed once each, and sorted in the file
    // manager's natural order. Never throws for anything found on disk.
    static std::vector<std::filesystem::path> expand(const std::vector<std::filesystem::path>& urls,
                                                     const std::set<std::string>& allowedExtensions);

    // True for a folder name that the file manager shows as one document
    // (an application, a plug-in, a photo library...).
    static bool isPackageName(const std::filesystem::path& name);

    // The folder a dropped symbolic link points to (its real path), or
    // nothing when `path` (whose own status is `status`) is not a link to
    // a folder.
    static std::optional<std::filesystem::path> droppedFolderLink(const std::filesystem::path& path,
                                                                  const std::filesystem::file_status& status);
};

} // namespace batch

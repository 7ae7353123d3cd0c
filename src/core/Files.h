#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "core/Error.h"

namespace core {

namespace fs = std::filesystem;

// An I/O failure with the user-facing text "<what> <file name>: <reason>".
class FileError : public Error {
public:
    using Error::Error;
    static FileError cannotWrite(const fs::path& path, const std::string& reason);
    static FileError cannotRead(const fs::path& path, const std::string& reason);
    static FileError cannotCreateFolder(const fs::path& path, const std::string& reason);
    static FileError folderInTheWay(const fs::path& path);
};

// A file written under a temporary name beside its final name and renamed
// into place by commit(). Until then nothing appears under the final name;
// if commit() is never reached (an error, an exception) the temporary file is
// removed. Replacing an existing output removes a file, never a folder.
class AtomicFile {
public:
    explicit AtomicFile(fs::path finalPath);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Where to write. In the same folder as the final path, hidden, unique.
    const fs::path& tempPath() const { return temp_; }
    const fs::path& finalPath() const { return final_; }
    // Renames the temporary file over the final one. Throws FileError.
    void commit();
    // Removes the temporary file now (also done by the destructor).
    void discard() noexcept;

private:
    fs::path final_;
    fs::path temp_;
    bool done_ = false;
};

// Writes `bytes` to `path` atomically (temporary name, fsync, rename).
void writeFileAtomically(const fs::path& path, std::string_view bytes);
// Reads a whole file. Throws FileError.
std::string readFile(const fs::path& path);
// Creates the folder and its parents. Throws FileError.
void createFolders(const fs::path& path);

// A fresh folder under the temporary directory (TMPDIR honoured), removed
// with everything in it when the guard goes out of scope.
class WorkFolder {
public:
    explicit WorkFolder(std::string_view prefix = "quorvel");
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

} // namespace core

#pragma once

#include <cstdint>
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
    static FileError cannotWriteInFolder(const fs::path& path, const std::string& reason);
    static FileError folderInTheWay(const fs::path& path);
    // "<file name> is not a regular file" (a FIFO, a device, a folder).
    static FileError notRegularFile(const fs::path& path);
    // "<file name> is larger than 2 GiB"
    static FileError tooLarge(const fs::path& path);
    // True for the error of notRegularFile().
    bool isNotRegularFile() const;

    // The part of the text that says why, without the file's name (the
    // system's "No space left on device", "not a regular file"), for a
    // caller that words the failure itself.
    const std::string& reason() const { return reason_; }

private:
    FileError(const std::string& description, std::string reason)
        : Error(description), reason_(std::move(reason)) {}
    std::string reason_;
};

// The system's text for an errno value ("No space left on device").
std::string systemErrorText(int error);

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

    // Where to write: ".qv-<token>.part" in the same folder as the final
    // path, hidden, unique and short whatever the final name's length. The
    // file is created empty by the constructor (when the folder allows it)
    // and locked (flock) for as long as this object holds it, so a start-up
    // sweep can tell a live writer's file from a crashed run's leftover.
    const fs::path& tempPath() const { return temp_; }
    // True for names this class gives its temporary files.
    static bool isTemporaryName(std::string_view fileName);
    const fs::path& finalPath() const { return final_; }
    // Renames the temporary file over the final one. Throws FileError.
    void commit();
    // Removes the temporary file now (also done by the destructor).
    void discard() noexcept;

private:
    fs::path final_;
    fs::path temp_;
    int lockFd_ = -1;
    bool done_ = false;
};

// Writes `bytes` to `path` atomically (temporary name, fsync, rename).
void writeFileAtomically(const fs::path& path, std::string_view bytes);
// Copies the bytes of `from` into `to` (created or truncated), reporting the
// system's own reason ("No space left on device") as a FileError that names
// `shownName`. Used instead of std::filesystem::copy_file, which reports a
// full disk as an input/output error. Throws Stopped between two megabytes
// once a stop is requested (StopSignal.h).
void copyFileContents(const fs::path& from, const fs::path& to, const fs::path& shownName);
// No picture or document the programs read comes near this size; a larger
// "file" is refused before a byte of it is read.
inline constexpr std::uint64_t kMaxReadableFileSize = std::uint64_t{2} << 30;
// The size limit for a file that is streamed in pieces and never held whole
// (audio, video): none.
inline constexpr std::uint64_t kStreamedFileSize = UINT64_MAX;

// A file a user named, opened for reading without blocking (O_NONBLOCK, so
// a FIFO or a device can't hold the caller up) and checked before anything
// is read: only a regular file of at most `sizeLimit` bytes is accepted.
// Closed by the destructor. Throws FileError.
class ReadableFile {
public:
    explicit ReadableFile(const fs::path& path, std::uint64_t sizeLimit = kMaxReadableFileSize);
    ~ReadableFile();
    ReadableFile(const ReadableFile&) = delete;
    ReadableFile& operator=(const ReadableFile&) = delete;

    int descriptor() const { return fd_; }
    // The size fstat gave when the file was opened.
    std::uint64_t size() const { return size_; }
    // Up to `limit` bytes from the start (all of it when it is shorter).
    std::string read(std::uint64_t limit = kMaxReadableFileSize) const;

private:
    fs::path path_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

// Reads a whole file through ReadableFile. Throws FileError.
std::string readFile(const fs::path& path);
// Reads at most `limit` leading bytes of a file (a header), with the same
// checks. Throws FileError.
std::string readFileHead(const fs::path& path, std::uint64_t limit);
// The checks of ReadableFile alone, for a library that opens the file by
// its path itself. Throws FileError.
void checkReadableFile(const fs::path& path);
// Creates the folder and its parents. Throws FileError.
void createFolders(const fs::path& path);
// The path made absolute (against the working folder) and normalised, so
// that two spellings of one file compare equal. Never fails: a path that
// can't be made absolute is only normalised.
fs::path standardized(const fs::path& path);

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

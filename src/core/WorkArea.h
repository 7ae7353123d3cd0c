#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

namespace fs = std::filesystem;

// The temporary directory (TMPDIR honoured), always as an absolute path.
fs::path temporaryDirectory();

// A run's work folder: "<prefix>-<UUID>" under the temporary directory,
// created exclusively with mode 0700, holding a lock file that stays locked
// (flock) while the folder is in use. Removed with everything in it when the
// object goes out of scope. After a crash the lock is gone with the process,
// and sweepLeftovers() removes the folder on the next start.
class LockedWorkFolder {
public:
    static constexpr std::string_view kLockFileName = "run.lock";

    // Throws FileError when the folder cannot be made.
    explicit LockedWorkFolder(std::string_view prefix, const fs::path& root = temporaryDirectory());
    ~LockedWorkFolder();
    LockedWorkFolder(const LockedWorkFolder&) = delete;
    LockedWorkFolder& operator=(const LockedWorkFolder&) = delete;

    const fs::path& path() const { return path_; }
    // Records a folder this run writes temporary files (AtomicFile) into, so
    // that the sweep after a crash knows where to look for them.
    void noteOutputFolder(const fs::path& folder);

private:
    fs::path path_;
    int lockFd_ = -1;
};

// What the start-up sweep needs of one item that writes into output
// folders: a LockedWorkFolder noting those folders. It is bookkeeping only,
// so when the folder can't be made (a temporary directory that can't be
// written) the item goes on without it and `log` gets one line saying so:
// what that item leaves behind after a crash is not swept.
class SweepRecord {
public:
    SweepRecord(std::string_view prefix, std::string_view itemName, const std::vector<fs::path>& outputFolders,
                const std::function<void(std::string)>& log, const fs::path& root = temporaryDirectory());

private:
    std::optional<LockedWorkFolder> folder_;
};

struct SweepResult {
    std::vector<fs::path> removedFolders;
    std::vector<fs::path> removedFiles;
};

// Removes what crashed or killed runs left behind: "<prefix>-<UUID>" work
// folders under `root` whose lock no live process holds (a folder without
// a lock file only once it is a minute old), and the temporary files
// (".qv-<token>.part") that such a run noted in its output folders and that
// no live process holds. Touches nothing else; never fails.
SweepResult sweepLeftovers(std::string_view prefix, const fs::path& root = temporaryDirectory());

} // namespace core

#include "core/WorkArea.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "core/Files.h"
#include "core/Text.h"
#include "core/Uuid.h"

namespace core {

namespace {

// A folder without a lock file may be one a live run has only just made.
constexpr std::chrono::seconds kUnlockedGrace{60};

bool ownedDirectory(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

bool oldEnough(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    const auto age = std::chrono::system_clock::now() - std::chrono::system_clock::from_time_t(st.st_mtime);
    return age > kUnlockedGrace;
}

// Opens `path` and takes its lock without waiting; -1 when it cannot be
// opened or a live process holds it.
int lockIfFree(const fs::path& path, int* openError = nullptr) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (openError) *openError = errno;
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void sweepTemporaryFiles(const fs::path& folder, SweepResult& result) {
    std::error_code ec;
    if (!folder.is_absolute()) return;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path file = it->path();
        if (!AtomicFile::isTemporaryName(file.filename().string())) continue;
        std::error_code sec;
        if (!fs::is_regular_file(fs::symlink_status(file, sec))) continue;
        const int fd = lockIfFree(file);
        if (fd < 0) continue;
        if (::unlink(file.c_str()) == 0) result.removedFiles.push_back(file);
        ::close(fd);
    }
}

} // namespace

fs::path temporaryDirectory() {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec || base.empty()) base = "/tmp";
    fs::path absolute = fs::absolute(base, ec);
    return ec ? fs::path("/tmp") : absolute.lexically_normal();
}

LockedWorkFolder::LockedWorkFolder(std::string_view prefix, const fs::path& root) {
    for (int attempt = 0;; ++attempt) {
        path_ = root / fmt::format("{}-{}", prefix, Uuid::random().text());
        if (::mkdir(path_.c_str(), 0700) == 0) break;
        if (errno != EEXIST || attempt >= 8) throw FileError::cannotCreateFolder(path_, systemErrorText(errno));
    }
    const fs::path lock = path_ / std::string(kLockFileName);
    lockFd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
    if (lockFd_ < 0 || ::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        std::error_code ec;
        fs::remove_all(path_, ec); // the work folder just made, never an output
        if (lockFd_ >= 0) ::close(lockFd_);
        throw FileError::cannotCreateFolder(path_, systemErrorText(error));
    }
}

LockedWorkFolder::~LockedWorkFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec); // a work folder, never an output
    if (lockFd_ >= 0) ::close(lockFd_);
}

void LockedWorkFolder::noteOutputFolder(const fs::path& folder) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(folder, ec);
    if (ec || lockFd_ < 0) return;
    const std::string line = absolute.lexically_normal().string() + "\n";
    // Best effort: a folder not noted only means leftovers are not found.
    [[maybe_unused]] const ssize_t written = ::write(lockFd_, line.data(), line.size());
}

SweepRecord::SweepRecord(std::string_view prefix, std::string_view itemName,
                         const std::vector<fs::path>& outputFolders, const std::function<void(std::string)>& log,
                         const fs::path& root) {
    try {
        folder_.emplace(prefix, root);
    } catch (const FileError& error) {
        if (log) log(fmt::format("{}: leftovers of this run won't be swept ({})", itemName, error.what()));
        return;
    }
    for (const auto& folder : outputFolders) folder_->noteOutputFolder(folder);
}

SweepResult sweepLeftovers(std::string_view prefix, const fs::path& root) {
    SweepResult result;
    const std::string start = std::string(prefix) + "-";
    std::error_code ec;
    for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path folder = it->path();
        const std::string name = folder.filename().string();
        if (name.size() != start.size() + 36 || name.compare(0, start.size(), start) != 0) continue;
        if (!Uuid::parse(std::string_view(name).substr(start.size()))) continue;
        if (!ownedDirectory(folder)) continue;
        int openError = 0;
        const int fd = lockIfFree(folder / std::string(LockedWorkFolder::kLockFileName), &openError);
        if (fd < 0 && !(openError == ENOENT && oldEnough(folder))) continue;
        if (fd >= 0) {
            std::string noted;
            try {
                noted = readFile(folder / std::string(LockedWorkFolder::kLockFileName));
            } catch (const Error&) {
            }
            for (const auto& line : split(noted, '\n', false)) sweepTemporaryFiles(fs::path(line), result);
        }
        std::error_code rec;
        fs::remove_all(folder, rec); // a dead run's work folder, never an output
        if (!rec) result.removedFolders.push_back(folder);
        if (fd >= 0) ::close(fd);
    }
    return result;
}

} // namespace core

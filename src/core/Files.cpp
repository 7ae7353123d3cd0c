#include "core/Files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include <fmt/format.h>

#include "core/StopSignal.h"
#include "core/Uuid.h"

namespace core {

FileError FileError::cannotWrite(const fs::path& path, const std::string& reason) {
    return {fmt::format("Could not write {}: {}", path.filename().string(), reason), reason};
}
FileError FileError::cannotRead(const fs::path& path, const std::string& reason) {
    return {fmt::format("Could not read {}: {}", path.filename().string(), reason), reason};
}
FileError FileError::cannotCreateFolder(const fs::path& path, const std::string& reason) {
    return {fmt::format("Could not create the folder {}: {}", path.string(), reason), reason};
}
FileError FileError::cannotWriteInFolder(const fs::path& path, const std::string& reason) {
    return FileError(fmt::format("Could not write in the folder {}: {}", path.string(), reason));
}
FileError FileError::folderInTheWay(const fs::path& path) {
    return {fmt::format("Could not write {}: a folder of that name is in the way", path.filename().string()),
            "a folder of that name is in the way"};
}
namespace {
constexpr const char* kNotRegularFile = "not a regular file";
}

FileError FileError::notRegularFile(const fs::path& path) {
    return {fmt::format("{} is not a regular file", path.filename().string()), kNotRegularFile};
}
bool FileError::isNotRegularFile() const { return reason_ == kNotRegularFile; }
FileError FileError::tooLarge(const fs::path& path) {
    return {fmt::format("{} is larger than 2 GiB", path.filename().string()), "larger than 2 GiB"};
}

std::string systemErrorText(int error) {
    char buffer[256] = {};
    // The GNU strerror_r returns the text (possibly a static string).
    return ::strerror_r(error, buffer, sizeof buffer);
}

namespace {

constexpr std::string_view kTempPrefix = ".qv-";
constexpr std::string_view kTempSuffix = ".part";
constexpr std::size_t kTokenLength = 12;

std::string shortToken() {
    std::string hex;
    for (char c : Uuid::random().text())
        if (c != '-') hex += static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
    return hex.substr(0, kTokenLength);
}

void writeAll(int fd, const char* data, std::size_t size, const fs::path& shownName) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw FileError::cannotWrite(shownName, systemErrorText(errno));
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

} // namespace

bool AtomicFile::isTemporaryName(std::string_view name) {
    if (name.size() != kTempPrefix.size() + kTokenLength + kTempSuffix.size()) return false;
    if (name.substr(0, kTempPrefix.size()) != kTempPrefix) return false;
    if (name.substr(name.size() - kTempSuffix.size()) != kTempSuffix) return false;
    for (char c : name.substr(kTempPrefix.size(), kTokenLength))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

AtomicFile::AtomicFile(fs::path finalPath) : final_(std::move(finalPath)) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        temp_ = final_.parent_path() / fmt::format("{}{}{}", kTempPrefix, shortToken(), kTempSuffix);
        lockFd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (lockFd_ >= 0 || errno != EEXIST) break;
    }
    // Without a folder to write in the writer reports its own error later.
    if (lockFd_ >= 0) ::flock(lockFd_, LOCK_EX | LOCK_NB);
}

AtomicFile::~AtomicFile() { discard(); }

void AtomicFile::discard() noexcept {
    if (done_) return;
    std::error_code ec;
    fs::remove(temp_, ec);
    if (lockFd_ >= 0) ::close(lockFd_);
    lockFd_ = -1;
    done_ = true;
}

void AtomicFile::commit() {
    if (done_) throw FileError::cannotWrite(final_, "the file was already finished");
    std::error_code ec;
    if (!fs::is_regular_file(temp_, ec)) {
        discard();
        throw FileError::cannotWrite(final_, "nothing was written");
    }
    // Make the data durable before the name points at it.
    int fd = ::open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    auto st = fs::symlink_status(final_, ec);
    if (!ec && fs::is_directory(st)) {
        discard();
        throw FileError::folderInTheWay(final_);
    }
    fs::rename(temp_, final_, ec);
    if (ec) {
        discard();
        throw FileError::cannotWrite(final_, ec.message());
    }
    if (lockFd_ >= 0) ::close(lockFd_);
    lockFd_ = -1;
    done_ = true;
}

void writeFileAtomically(const fs::path& path, std::string_view bytes) {
    AtomicFile file(path);
    {
        const int fd = ::open(file.tempPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) throw FileError::cannotWrite(path, systemErrorText(errno));
        FdCloser closer{fd};
        writeAll(fd, bytes.data(), bytes.size(), path);
        // Delayed allocation can report a full disk only here.
        if (::fsync(fd) != 0 && errno != EINVAL) throw FileError::cannotWrite(path, systemErrorText(errno));
        closer.fd = -1;
        if (::close(fd) != 0) throw FileError::cannotWrite(path, systemErrorText(errno));
    }
    file.commit();
}

void copyFileContents(const fs::path& from, const fs::path& to, const fs::path& shownName) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) throw FileError::cannotRead(from, systemErrorText(errno));
    FdCloser inCloser{in};
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) throw FileError::cannotWrite(shownName, systemErrorText(errno));
    FdCloser outCloser{out};
    std::vector<char> buffer(1 << 20);
    while (true) {
        throwIfStopRequested(); // a master of an hour is a gigabyte
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            throw FileError::cannotRead(from, systemErrorText(errno));
        }
        if (n == 0) break;
        writeAll(out, buffer.data(), static_cast<std::size_t>(n), shownName);
    }
    if (::fsync(out) != 0 && errno != EINVAL) throw FileError::cannotWrite(shownName, systemErrorText(errno));
    outCloser.fd = -1;
    if (::close(out) != 0) throw FileError::cannotWrite(shownName, systemErrorText(errno));
}

ReadableFile::ReadableFile(const fs::path& path, std::uint64_t sizeLimit) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0) throw FileError::cannotRead(path, systemErrorText(errno));
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        const int error = errno;
        ::close(fd_);
        throw FileError::cannotRead(path, systemErrorText(error));
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd_);
        throw FileError::notRegularFile(path);
    }
    size_ = static_cast<std::uint64_t>(info.st_size);
    if (size_ > sizeLimit) {
        ::close(fd_);
        throw FileError::tooLarge(path);
    }
}

ReadableFile::~ReadableFile() {
    if (fd_ >= 0) ::close(fd_);
}

std::string ReadableFile::read(std::uint64_t limit) const {
    limit = std::min(limit, kMaxReadableFileSize);
    std::string data;
    data.resize(static_cast<std::size_t>(std::min(size_, limit)));
    std::size_t filled = 0;
    while (true) {
        // A file that grew since fstat is read on, up to the limit.
        if (filled == data.size()) {
            if (filled >= limit) break;
            data.resize(static_cast<std::size_t>(std::min<std::uint64_t>(limit, filled + (std::uint64_t{1} << 16))));
        }
        const ssize_t n = ::read(fd_, data.data() + filled, data.size() - filled);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw FileError::cannotRead(path_, systemErrorText(errno));
        }
        if (n == 0) break;
        filled += static_cast<std::size_t>(n);
    }
    if (limit == kMaxReadableFileSize && filled == limit) {
        // Still more to come: past anything that is read whole.
        char probe = 0;
        if (::read(fd_, &probe, 1) > 0) throw FileError::tooLarge(path_);
    }
    data.resize(filled);
    return data;
}

std::string readFile(const fs::path& path) { return ReadableFile(path).read(); }

std::string readFileHead(const fs::path& path, std::uint64_t limit) { return ReadableFile(path).read(limit); }

void checkReadableFile(const fs::path& path) {
    const ReadableFile file(path);
    (void)file;
}

void createFolders(const fs::path& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec) throw FileError::cannotCreateFolder(path, ec.message());
    if (!fs::is_directory(path, ec)) throw FileError::cannotCreateFolder(path, "a file of that name is in the way");
}

WorkFolder::WorkFolder(std::string_view prefix) {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::string tmpl = (base / fmt::format("{}-XXXXXX", prefix)).string();
    std::string buf = tmpl;
    if (::mkdtemp(buf.data()) == nullptr)
        throw FileError::cannotCreateFolder(tmpl, std::strerror(errno));
    path_ = buf;
}

WorkFolder::~WorkFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec); // a work folder, never an output
}

fs::path standardized(const fs::path& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    return (ec ? path : absolute).lexically_normal();
}

} // namespace core

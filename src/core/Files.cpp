#include "core/Files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

#include <fmt/format.h>

#include "core/Uuid.h"

namespace core {

FileError FileError::cannotWrite(const fs::path& path, const std::string& reason) {
    return FileError(fmt::format("Could not write {}: {}", path.filename().string(), reason));
}
FileError FileError::cannotRead(const fs::path& path, const std::string& reason) {
    return FileError(fmt::format("Could not read {}: {}", path.filename().string(), reason));
}
FileError FileError::cannotCreateFolder(const fs::path& path, const std::string& reason) {
    return FileError(fmt::format("Could not create the folder {}: {}", path.string(), reason));
}
FileError FileError::folderInTheWay(const fs::path& path) {
    return FileError(fmt::format("Could not write {}: a folder of that name is in the way",
                                 path.filename().string()));
}

namespace {
std::string shortToken() { return Uuid::random().text().substr(0, 8); }
} // namespace

AtomicFile::AtomicFile(fs::path finalPath) : final_(std::move(finalPath)) {
    temp_ = final_.parent_path() / fmt::format(".{}.{}.part", final_.filename().string(), shortToken());
}

AtomicFile::~AtomicFile() { discard(); }

void AtomicFile::discard() noexcept {
    if (done_) return;
    std::error_code ec;
    fs::remove(temp_, ec);
    done_ = true;
}

void AtomicFile::commit() {
    if (done_) throw FileError::cannotWrite(final_, "the file was already finished");
    std::error_code ec;
    if (!fs::is_regular_file(temp_, ec)) {
        done_ = true;
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
    done_ = true;
}

void writeFileAtomically(const fs::path& path, std::string_view bytes) {
    AtomicFile file(path);
    {
        std::ofstream out(file.tempPath(), std::ios::binary | std::ios::trunc);
        if (!out) throw FileError::cannotWrite(path, std::strerror(errno));
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) throw FileError::cannotWrite(path, "the disk refused the data");
    }
    file.commit();
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw FileError::cannotRead(path, std::strerror(errno));
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw FileError::cannotRead(path, "read error");
    return data;
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

} // namespace core

#pragma once

// A small file system to fill in a test: a tmpfs of the given size mounted
// on a fresh folder when the test runs as root, else a per-process file-size
// limit (RLIMIT_FSIZE) on the same folder, which the system reports as "File
// too large" instead of "No space left on device".

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <string>

#include <fmt/format.h>

#include "support/TestSupport.h"

namespace testsupport {

class SmallDisk {
public:
    explicit SmallDisk(std::uint64_t bytes) : mountPoint_(dir_ / "disk") {
        fs::create_directory(mountPoint_);
        if (::geteuid() == 0) {
            const auto r = tryTool({"mount", "-t", "tmpfs", "-o", fmt::format("size={},mode=0755", bytes), "tmpfs",
                                    mountPoint_.string()});
            mounted_ = r.succeeded();
        }
        if (!mounted_) {
            ::getrlimit(RLIMIT_FSIZE, &previous_);
            struct rlimit limited = previous_;
            limited.rlim_cur = bytes;
            previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
            ::setrlimit(RLIMIT_FSIZE, &limited);
        }
    }
    ~SmallDisk() {
        if (mounted_) {
            tryTool({"umount", mountPoint_.string()});
        } else {
            ::setrlimit(RLIMIT_FSIZE, &previous_);
            std::signal(SIGXFSZ, previousHandler_);
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    const fs::path& path() const { return mountPoint_; }
    bool isTmpfs() const { return mounted_; }
    // What the system says when the disk refuses a write.
    std::string fullText() const { return mounted_ ? "No space left on device" : "File too large"; }

private:
    TempDir dir_;
    fs::path mountPoint_;
    bool mounted_ = false;
    struct rlimit previous_ {};
    void (*previousHandler_)(int) = SIG_DFL;
};

} // namespace testsupport

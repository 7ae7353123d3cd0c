#include "episode/WrittenAudioCheck.h"

#include <cerrno>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstdint>

#include <fmt/format.h>

#include "audio/PCMStream.h"
#include "core/Files.h"

namespace episode {

namespace fs = std::filesystem;

namespace {

bool folderIsFull(const fs::path& file) {
    struct statvfs st {};
    if (::statvfs(file.parent_path().c_str(), &st) != 0) return false;
    // Less than a few blocks left counts as full: the write that failed
    // needed more than that.
    return st.f_bavail * st.f_frsize < 64 * 1024;
}

[[noreturn]] void incomplete(const fs::path& written, const fs::path& shownName, const std::string& detail) {
    throw core::FileError::cannotWrite(shownName, folderIsFull(written) ? core::systemErrorText(ENOSPC) : detail);
}

} // namespace

double decodedSeconds(const fs::path& file) {
    std::uint64_t frames = 0;
    const auto format = audio::PCMStream::read(file, std::nullopt, std::nullopt, std::nullopt,
                                               [&](std::span<const float>, std::size_t n) { frames += n; });
    return static_cast<double>(frames) / format.sampleRate;
}

void verifyWrittenAudio(const fs::path& written, const fs::path& shownName, double expectedSeconds) {
    std::error_code ec;
    const auto size = fs::file_size(written, ec);
    if (ec || size == 0) incomplete(written, shownName, "the encoder wrote nothing");
    double seconds = 0;
    try {
        seconds = decodedSeconds(written);
    } catch (const core::Error&) {
        incomplete(written, shownName, "the written file cannot be read back");
    }
    const double tolerance = std::max(0.25, 0.005 * expectedSeconds);
    if (seconds + tolerance < expectedSeconds)
        incomplete(written, shownName,
                   fmt::format("the written file is incomplete ({:.1f} s of {:.1f} s)", seconds, expectedSeconds));
}

} // namespace episode

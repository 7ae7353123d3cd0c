#include "episode/WrittenAudioCheck.h"

#include <cerrno>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstdint>
#include <string_view>

#include <fmt/format.h>

#include "audio/PCMStream.h"
#include "core/Files.h"
#include "episode/LibavSupport.h"

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

// The demuxer that reads the container a file of this name is written in
// (the muxer FFmpeg picks by the name's extension); any audio container for
// another name.
const char* writtenContainer(const fs::path& name) {
    struct Container {
        std::string_view extension;
        const char* demuxer;
    };
    static constexpr Container kContainers[] = {
        {".mp3", "mp3"}, {".m4a", "mov"}, {".m4b", "mov"}, {".mp4", "mov"}, {".mov", "mov"},
    };
    std::string extension = name.extension().string();
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    for (const auto& c : kContainers)
        if (c.extension == extension) return c.demuxer;
    return audio::kAudioDemuxers;
}

} // namespace

double decodedSeconds(const fs::path& file) {
    std::uint64_t frames = 0;
    const auto format = audio::PCMStream::read(file, std::nullopt, std::nullopt, std::nullopt,
                                               [&](std::span<const float>, std::size_t n) { frames += n; });
    return static_cast<double>(frames) / format.sampleRate;
}

double packetSeconds(const fs::path& file, const std::optional<fs::path>& shownName) {
    const libav::Input input = libav::openLocalInput(file, writtenContainer(shownName.value_or(file)));
    if (!input) throw core::Error("Could not read " + file.filename().string());
    const int stream = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (stream < 0) throw core::Error("No audio in " + file.filename().string());
    const AVRational base = input->streams[stream]->time_base;
    const libav::Packet packet(av_packet_alloc());
    if (!packet) throw core::Error("Out of memory reading " + file.filename().string());
    std::int64_t total = 0;
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == stream && packet->duration > 0) total += packet->duration;
        av_packet_unref(packet.get());
    }
    return static_cast<double>(total) * av_q2d(base);
}

namespace {

void verify(const fs::path& written, const fs::path& shownName, double expectedSeconds,
            double (*measure)(const fs::path& written, const fs::path& shownName)) {
    std::error_code ec;
    const auto size = fs::file_size(written, ec);
    if (ec || size == 0) incomplete(written, shownName, "the encoder wrote nothing");
    double seconds = 0;
    try {
        seconds = measure(written, shownName);
    } catch (const core::Error&) {
        incomplete(written, shownName, "the written file cannot be read back");
    }
    const double tolerance = std::max(0.25, 0.005 * expectedSeconds);
    if (seconds + tolerance < expectedSeconds)
        incomplete(written, shownName,
                   fmt::format("the written file is incomplete ({:.1f} s of {:.1f} s)", seconds, expectedSeconds));
}

} // namespace

void verifyWrittenAudio(const fs::path& written, const fs::path& shownName, double expectedSeconds) {
    verify(written, shownName, expectedSeconds,
           [](const fs::path& file, const fs::path&) { return decodedSeconds(file); });
}

void verifyCopiedAudio(const fs::path& written, const fs::path& shownName, double expectedSeconds) {
    verify(written, shownName, expectedSeconds,
           [](const fs::path& file, const fs::path& name) { return packetSeconds(file, name); });
}

} // namespace episode

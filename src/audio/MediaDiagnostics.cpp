#include "audio/MediaDiagnostics.h"

extern "C" {
#include <libavutil/log.h>
}

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <mutex>

#include <fmt/format.h>

#include "core/Files.h"

namespace audio {

namespace fs = std::filesystem;

namespace {

std::uint32_t le32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
std::uint16_t le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// Reads exactly `n` bytes at `offset`; false at the end of the file or on an error.
bool readAt(int fd, std::uint64_t offset, unsigned char* out, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = ::pread(fd, out + got, n - got, static_cast<off_t>(offset + got));
        if (r <= 0) return false;
        got += static_cast<std::size_t>(r);
    }
    return true;
}

constexpr int kMaxChunks = 64; // a WAV header has a handful

thread_local ReadWarnings* innermost = nullptr;
thread_local std::string lastError;

void libavCallback(void* context, int level, const char* format, va_list args) {
    if (level > AV_LOG_ERROR) return; // banners, information, warnings
    std::array<char, 1024> line{};
    int prefix = 0; // no "[name @ 0x…]" context
    av_log_format_line2(context, level, format, args, line.data(), static_cast<int>(line.size()), &prefix);
    std::string text(line.data());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (!text.empty()) lastError = std::move(text);
}

} // namespace

std::optional<WavShortfall> wavShortfall(const fs::path& file) {
    try {
        const core::ReadableFile f(file, core::kStreamedFileSize);
        return wavShortfall(f.descriptor(), f.size());
    } catch (const core::Error&) {
        return std::nullopt;
    }
}

std::optional<WavShortfall> wavShortfall(int fd, std::uint64_t size) {
    unsigned char riff[12];
    if (!readAt(fd, 0, riff, sizeof riff)) return std::nullopt;
    if (std::string_view(reinterpret_cast<char*>(riff), 4) != "RIFF" ||
        std::string_view(reinterpret_cast<char*>(riff) + 8, 4) != "WAVE")
        return std::nullopt;
    std::uint64_t at = 12;
    double bytesPerSecond = 0;
    for (int i = 0; i < kMaxChunks; ++i) {
        unsigned char head[8];
        if (!readAt(fd, at, head, sizeof head)) return std::nullopt;
        const std::string_view id(reinterpret_cast<char*>(head), 4);
        const std::uint32_t length = le32(head + 4);
        if (id == "fmt ") {
            unsigned char fmtChunk[16];
            if (length < 16 || !readAt(fd, at + 8, fmtChunk, sizeof fmtChunk)) return std::nullopt;
            bytesPerSecond = double(le32(fmtChunk + 4)) * le16(fmtChunk + 12);
        } else if (id == "data") {
            if (length == 0 || length == 0xFFFFFFFFu) return std::nullopt;
            const std::uint64_t end = at + 8 + length;
            if (end <= size) return std::nullopt;
            WavShortfall s;
            s.missingBytes = end - std::max(size, at + 8);
            s.missingSeconds = bytesPerSecond > 0 ? double(s.missingBytes) / bytesPerSecond : 0;
            s.noData = size <= at + 8;
            return s;
        }
        at += 8 + std::uint64_t(length) + (length & 1);
    }
    return std::nullopt;
}

std::string shortfallText(const fs::path& file, const WavShortfall& s) {
    const std::string name = file.filename().string();
    if (s.noData) return fmt::format("{} holds no audio data (its header gives {:.1f} s).", name, s.missingSeconds);
    return fmt::format("{}: the audio data ends {:.1f} s early ({} bytes missing); the rest is read.", name,
                       s.missingSeconds, s.missingBytes);
}

std::string endsEarlyText(const fs::path& file, double decodedSeconds, double statedSeconds) {
    return fmt::format("{}: the audio ends {:.1f} s before its stated length ({:.1f} s); the rest is read.",
                       file.filename().string(), statedSeconds - decodedSeconds, statedSeconds);
}

bool endsEarly(double decodedSeconds, double statedSeconds) {
    if (!(statedSeconds > 0) || !(decodedSeconds >= 0)) return false;
    return statedSeconds - decodedSeconds > std::max(1.0, 0.02 * statedSeconds);
}

ReadWarnings::ReadWarnings(Sink sink) : sink_(std::move(sink)), outer_(innermost) { innermost = this; }

ReadWarnings::~ReadWarnings() { innermost = outer_; }

void ReadWarnings::tell(const std::string& text) {
    ReadWarnings* w = innermost;
    if (!w || !w->sink_) {
        std::fputs((text + "\n").c_str(), stderr);
        return;
    }
    if (!w->told_.insert(text).second) return;
    w->sink_(text);
}

void routeLibavLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_ERROR);
        av_log_set_callback(libavCallback);
    });
}

std::string takeLibavError() {
    std::string text;
    text.swap(lastError);
    return withoutLibavContexts(text);
}

std::string withoutLibavContexts(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        // A context is "[" name " @ 0x" hex digits "]", then one blank.
        if (text[i] == '[') {
            const std::size_t close = text.find_first_of("]\n", i + 1);
            if (close != std::string_view::npos && text[close] == ']') {
                const std::string_view inner = text.substr(i + 1, close - i - 1);
                const std::size_t at = inner.rfind(" @ 0x");
                const std::string_view digits = at == std::string_view::npos ? std::string_view() : inner.substr(at + 5);
                if (!digits.empty() && digits.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos) {
                    i = close + 1;
                    if (i < text.size() && text[i] == ' ') ++i;
                    continue;
                }
            }
        }
        out += text[i++];
    }
    return out;
}

} // namespace audio

#include "episode/FFmpegRunner.h"

#include <unistd.h>

#include <fmt/format.h>

#include "audio/MediaDiagnostics.h"
#include "core/ChildProcess.h"
#include "core/Text.h"
#include "episode/PlatformTexts.h"

namespace episode {

namespace fs = std::filesystem;

FFmpegRunner::FFmpegError FFmpegRunner::FFmpegError::executionFailed(std::int32_t exitCode,
                                                                     const std::string& message) {
    std::string text = fmt::format("FFmpeg failed (exit {})", exitCode);
    if (!message.empty()) text += ": " + message;
    return FFmpegError(Kind::executionFailed, exitCode, message, text);
}

FFmpegRunner::FFmpegError FFmpegRunner::FFmpegError::binaryNotFound() {
    return FFmpegError(Kind::binaryNotFound, 0, {}, std::string(platformtexts::kFFmpegNotFound));
}

FFmpegRunner::FFmpegRunner() : useDefaults_(true) {}

FFmpegRunner::FFmpegRunner(std::vector<fs::path> candidates) : candidates_(std::move(candidates)) {}

const FFmpegRunner& FFmpegRunner::shared() {
    static const FFmpegRunner instance;
    return instance;
}

std::vector<fs::path> FFmpegRunner::defaultCandidates() {
    std::vector<fs::path> list;
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec && !exe.empty()) list.push_back(exe.parent_path() / "ffmpeg");
    for (const char* p : {"/opt/homebrew/bin/ffmpeg", "/usr/local/bin/ffmpeg", "/opt/local/bin/ffmpeg",
                          "/usr/bin/ffmpeg"})
        list.emplace_back(p);
    return list;
}

const std::vector<std::string>& FFmpegRunner::leadingArguments() {
    // -xerror: stop at the first error instead of carrying on with a damaged file.
    static const std::vector<std::string> args{"-hide_banner", "-nostdin", "-loglevel", "error", "-xerror"};
    return args;
}

std::optional<fs::path> FFmpegRunner::locateFFmpegBinary() const {
    const std::vector<fs::path> list = useDefaults_ ? defaultCandidates() : candidates_;
    for (const auto& path : list) {
        std::error_code ec;
        // Only a regular file counts (a folder has execute bits too).
        if (!fs::is_regular_file(path, ec) || ec) continue;
        if (::access(path.c_str(), X_OK) == 0) return path;
    }
    return std::nullopt;
}

namespace {

// The last three non-empty lines of the output, joined by " | ".
std::string lastLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        if (end > begin) lines.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    const std::size_t first = lines.size() > 3 ? lines.size() - 3 : 0;
    std::string joined;
    for (std::size_t i = first; i < lines.size(); ++i) {
        if (!joined.empty()) joined += " | ";
        joined += lines[i];
    }
    return joined;
}

// FFmpeg may exit with 0 when writing its trailer (or a last packet)
// fails, for instance on a full disk; its error output still says so.
bool reportsWriteError(const std::string& text) {
    for (const char* marker : {"No space left on device", "Error writing trailer", "Input/output error",
                               "Disk quota exceeded", "File too large", "Error submitting a packet to the muxer",
                               "Error muxing a packet", "av_interleaved_write_frame()"})
        if (text.find(marker) != std::string::npos) return true;
    return false;
}

} // namespace

void FFmpegRunner::execute(const std::vector<std::string>& arguments, const LogCallback& onLog) const {
    const auto binary = locateFFmpegBinary();
    if (!binary) throw FFmpegError::binaryNotFound();

    std::vector<std::string> argv;
    argv.reserve(1 + leadingArguments().size() + arguments.size());
    argv.push_back(binary->string());
    argv.insert(argv.end(), leadingArguments().begin(), leadingArguments().end());
    argv.insert(argv.end(), arguments.begin(), arguments.end());

    // Launch failures (core::ChildProcessError) pass through unchanged.
    const core::ChildResult result = core::runChildProcess(argv);

    // The program's "[name @ 0x…]" contexts are of no use to a user.
    const std::string text = audio::withoutLibavContexts(core::sanitizeUtf8(result.output));
    if (!text.empty() && onLog) onLog(text);
    if (result.succeeded() && !reportsWriteError(text)) return;
    // A child killed by a signal reports the signal's number, never 0.
    std::int32_t code = result.signaled ? (result.signal != 0 ? result.signal : -1) : result.exitCode;
    if (code == 0) code = 1; // a write error reported with a successful exit status
    throw FFmpegError::executionFailed(code, lastLines(text));
}

} // namespace episode

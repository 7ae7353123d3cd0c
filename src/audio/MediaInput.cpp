#include "audio/MediaInput.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "audio/MediaDiagnostics.h"
#include "core/Files.h"

namespace audio {

namespace {

constexpr int kBufferSize = 1 << 16;

} // namespace

// libav's reader over the descriptor keeps its own position and reads with
// pread, so a header read beside it on the same descriptor never moves it.
struct MediaInput::State {
    explicit State(const std::filesystem::path& file) : path(file.string()), file(file, core::kStreamedFileSize) {}
    ~State() {
        avformat_close_input(&format); // leaves the reader below alone (custom I/O)
        if (io) av_freep(&io->buffer); // libav may have replaced the buffer given
        avio_context_free(&io);
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    static int read(void* opaque, std::uint8_t* buffer, int size) {
        auto& s = *static_cast<State*>(opaque);
        for (;;) {
            const ssize_t n = ::pread(s.file.descriptor(), buffer, static_cast<std::size_t>(size), s.position);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return AVERROR(errno);
            if (n == 0) return AVERROR_EOF;
            s.position += n;
            return static_cast<int>(n);
        }
    }

    static std::int64_t seek(void* opaque, std::int64_t offset, int whence) {
        auto& s = *static_cast<State*>(opaque);
        whence &= ~AVSEEK_FORCE;
        struct stat info {};
        if (whence == AVSEEK_SIZE || whence == SEEK_END) {
            if (::fstat(s.file.descriptor(), &info) != 0) return AVERROR(errno);
            if (whence == AVSEEK_SIZE) return info.st_size;
        }
        std::int64_t base = 0;
        if (whence == SEEK_CUR) base = s.position;
        else if (whence == SEEK_END) base = info.st_size;
        else if (whence != SEEK_SET) return AVERROR(EINVAL);
        if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0) return AVERROR(EINVAL);
        s.position = base + offset;
        return s.position;
    }

    std::string path;
    core::ReadableFile file;
    off_t position = 0;
    AVIOContext* io = nullptr;
    AVFormatContext* format = nullptr;
    bool tried = false;
};

MediaInput::MediaInput() = default;
MediaInput::MediaInput(const std::filesystem::path& file) : state_(std::make_unique<State>(file)) {}
MediaInput::MediaInput(MediaInput&&) noexcept = default;
MediaInput& MediaInput::operator=(MediaInput&&) noexcept = default;
MediaInput::~MediaInput() = default;

int MediaInput::open(const char* demuxers) {
    if (!state_) return AVERROR(EBADF);
    if (!demuxers || !*demuxers) return AVERROR(EINVAL);
    State& s = *state_;
    if (s.format) return 0;
    if (s.tried) return AVERROR(EINVAL); // a failed probe leaves the reader where it stopped
    s.tried = true;
    routeLibavLog();
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (!buffer) return AVERROR(ENOMEM);
    s.io = avio_alloc_context(buffer, kBufferSize, 0, &s, &State::read, nullptr, &State::seek);
    if (!s.io) {
        av_free(buffer);
        return AVERROR(ENOMEM);
    }
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) return AVERROR(ENOMEM);
    raw->pb = s.io;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "format_whitelist", demuxers, 0);
    // The path only names the file (its extension helps the probe); libav
    // reads through the reader above. On failure libav frees `raw`.
    const int rc = avformat_open_input(&raw, s.path.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (rc < 0) return rc;
    s.format = raw;
    return 0;
}

AVFormatContext* MediaInput::get() const { return state_ ? state_->format : nullptr; }

int MediaInput::descriptor() const { return state_ ? state_->file.descriptor() : -1; }

std::uint64_t MediaInput::size() const { return state_ ? state_->file.size() : 0; }

} // namespace audio

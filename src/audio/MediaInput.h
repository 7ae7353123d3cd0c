#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

struct AVFormatContext;

namespace audio {

// The containers an audio file a user names may come in (for
// MediaInput::open): playlists, concat lists and the like, which open
// further paths themselves, are never among them.
inline constexpr const char* kAudioDemuxers = "wav,w64,aiff,mp3,mov,mp4,m4a,3gp,flac,caf,ogg,matroska,webm,aac";

// A user's media file opened for libav the way core::ReadableFile opens any
// file a user names: without blocking (a FIFO or a device can't hold a
// worker up), regular files only, checked on the very descriptor that is
// then read, so a file swapped for a FIFO after it was queued is caught when
// it is opened. libav reads through that descriptor and never opens the
// path itself. Any size is accepted: media are streamed, never held whole.
class MediaInput {
public:
    MediaInput();
    // Opens the file. Throws core::FileError ("<name> is not a regular file",
    // or the system's reason).
    explicit MediaInput(const std::filesystem::path& file);
    MediaInput(MediaInput&&) noexcept;
    MediaInput& operator=(MediaInput&&) noexcept;
    ~MediaInput();

    // Probes the container once, among `demuxers` only (libav's comma-
    // separated names, such as kAudioDemuxers: the containers the read
    // needs). A file the container refers to is opened only as a local file.
    // Returns libav's code: 0 when the container was opened, negative
    // otherwise (AVERROR(EINVAL) without a list).
    int open(const char* demuxers);

    // The opened container; null before open() has succeeded.
    AVFormatContext* get() const;
    AVFormatContext* operator->() const { return get(); }
    explicit operator bool() const { return get() != nullptr; }
    // The file's descriptor (for reading its header beside libav) and the
    // size it had when it was opened; -1 and 0 when nothing is open.
    int descriptor() const;
    std::uint64_t size() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace audio

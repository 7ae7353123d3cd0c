#pragma once

// Small RAII wrappers over the libav objects the episode writers use.
// Internal to the module.

#include <filesystem>
#include <memory>
#include <string>

#include "audio/MediaDiagnostics.h"
#include "audio/MediaInput.h"
#include "core/Files.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace episode::libav {

struct OutputDeleter {
    void operator()(AVFormatContext* c) const {
        if (!c) return;
        if (c->pb && !(c->oformat->flags & AVFMT_NOFILE)) avio_closep(&c->pb);
        avformat_free_context(c);
    }
};
struct CodecDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwrDeleter {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
struct SwsDeleter {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct FifoDeleter {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};

using Input = audio::MediaInput;
using Output = std::unique_ptr<AVFormatContext, OutputDeleter>;
using Codec = std::unique_ptr<AVCodecContext, CodecDeleter>;
using Frame = std::unique_ptr<AVFrame, FrameDeleter>;
using Packet = std::unique_ptr<AVPacket, PacketDeleter>;
using Resampler = std::unique_ptr<SwrContext, SwrDeleter>;
using Scaler = std::unique_ptr<SwsContext, SwsDeleter>;
using Fifo = std::unique_ptr<AVAudioFifo, FifoDeleter>;

inline std::string errorText(int code) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

// Opens a local file for reading through audio::MediaInput: never blocks,
// reads regular files only, and probes only the given `demuxers` (libav's
// comma-separated names: the containers the read needs, so that no concat
// list or playlist opens further paths). Empty when it cannot be opened or
// probed.
inline Input openLocalInput(const std::filesystem::path& path, const char* demuxers) {
    Input input;
    try {
        input = Input(path);
    } catch (const core::Error&) {
        return {};
    }
    if (input.open(demuxers) < 0) return {};
    if (avformat_find_stream_info(input.get(), nullptr) < 0) return {};
    return input;
}

} // namespace episode::libav

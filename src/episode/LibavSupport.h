#pragma once

// Small RAII wrappers over the libav objects the episode writers use.
// Internal to the module.

#include <filesystem>
#include <memory>
#include <string>

#include "audio/MediaDiagnostics.h"

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

struct InputDeleter {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
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

using Input = std::unique_ptr<AVFormatContext, InputDeleter>;
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

// Opens a local file for reading (only the "file" protocol is allowed).
// Returns null when it cannot be opened or probed.
inline Input openLocalInput(const std::filesystem::path& path) {
    audio::routeLibavLog(); // libav's own messages never reach the terminal
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVFormatContext* raw = nullptr;
    const std::string url = "file:" + path.string();
    int rc = avformat_open_input(&raw, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (rc < 0) return nullptr;
    Input input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) return nullptr;
    return input;
}

} // namespace episode::libav

#include "audio/PCMStream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "audio/MediaDiagnostics.h"
#include "audio/MediaInput.h"
#include "core/Files.h"
#include "core/StopSignal.h"

namespace audio {

namespace fs = std::filesystem;

namespace {

// The error code's text, with what libav itself said about it when it did.
std::string avError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    std::string reason = av_strerror(code, text, sizeof text) < 0 ? "unknown error" : text;
    if (const std::string said = takeLibavError(); !said.empty()) reason += " (" + said + ")";
    return reason;
}

// The codes with which libav turns down data it cannot make sense of, as
// opposed to a file it cannot reach.
bool notAudioData(int code) {
    return code == AVERROR_INVALIDDATA || code == AVERROR(EINVAL) || code == AVERROR_EOF ||
           code == AVERROR_DEMUXER_NOT_FOUND || code == AVERROR_DECODER_NOT_FOUND;
}

struct CodecCloser {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameCloser {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketCloser {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwrCloser {
    void operator()(SwrContext* s) const { swr_free(&s); }
};

struct Opened {
    MediaInput input;
    int stream = -1;
};

// Why a file could not be opened, said plainly for empty files and for
// files that are not audio.
PCMStream::StreamError openFailure(const fs::path& file, const MediaInput& input, int code) {
    if (input.size() == 0) {
        takeLibavError();
        return PCMStream::StreamError::readFailed(file, "the file is empty");
    }
    if (const auto shortfall = wavShortfall(input.descriptor(), input.size()); shortfall && shortfall->noData) {
        takeLibavError();
        return PCMStream::StreamError::readFailed(file, "the file holds no audio data");
    }
    if (notAudioData(code)) return PCMStream::StreamError::noDecodableAudio(file, takeLibavError());
    return PCMStream::StreamError::readFailed(file, avError(code));
}

// The file opened without blocking and only when it is a regular file,
// then probed among the accepted containers.
Opened openFile(const fs::path& file) {
    takeLibavError(); // only what this open says counts
    Opened o;
    try {
        o.input = MediaInput(file);
    } catch (const core::FileError& e) {
        if (e.isNotRegularFile()) throw PCMStream::StreamError::notRegularFile(file);
        throw PCMStream::StreamError::readFailed(file, e.reason());
    }
    // Only the containers the podcast edition accepts.
    int rc = o.input.open(kAudioDemuxers);
    if (rc < 0) throw openFailure(file, o.input, rc);
    AVFormatContext* raw = o.input.get();
    rc = avformat_find_stream_info(raw, nullptr);
    if (rc < 0) throw openFailure(file, o.input, rc);
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        if (raw->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            o.stream = static_cast<int>(i);
            break;
        }
    }
    if (o.stream < 0) throw PCMStream::StreamError::noAudioTrack(file);
    return o;
}

PCMStream::Format describe(const Opened& o) {
    const AVCodecParameters* par = o.input->streams[o.stream]->codecpar;
    PCMStream::Format f;
    const int ch = par->ch_layout.nb_channels;
    f.channels = ch <= 0 ? 1 : std::min(ch, 2);
    f.sampleRate = par->sample_rate > 0 ? static_cast<double>(par->sample_rate) : 44100.0;
    const AVFormatContext* fc = o.input.get();
    const AVStream* st = fc->streams[o.stream];
    if (fc->duration != AV_NOPTS_VALUE && fc->duration > 0)
        f.durationSeconds = static_cast<double>(fc->duration) / AV_TIME_BASE;
    else if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        f.durationSeconds = static_cast<double>(st->duration) * av_q2d(st->time_base);
    else
        f.durationSeconds = 0;
    return f;
}

// Turns decoded frames into interleaved float frames at the output rate and
// channel count, rebuilding the resampler when the decoded format changes,
// and hands them on, at most `limit` frames in all.
class Converter {
public:
    Converter(const fs::path& file, int outRate, int outChannels, std::int64_t limit,
              const PCMStream::Chunk& chunk)
        : file_(file), outRate_(outRate), outChannels_(outChannels), limit_(limit), chunk_(chunk) {}
    ~Converter() { av_channel_layout_uninit(&inLayout_); }

    // Returns false once the frame limit is reached.
    bool push(const AVFrame* frame) {
        if (frame->nb_samples <= 0) return !done();
        if (!swr_ || frame->format != inFormat_ || frame->sample_rate != inRate_ ||
            av_channel_layout_compare(&frame->ch_layout, &inLayout_) != 0) {
            if (!drain()) return false;
            rebuild(frame);
        }
        const std::int64_t cap = swr_get_out_samples(swr_.get(), frame->nb_samples);
        if (cap < 0) throw PCMStream::StreamError::readFailed(file_, avError(static_cast<int>(cap)));
        reserve(cap);
        uint8_t* out = reinterpret_cast<uint8_t*>(converted_.data());
        const int n = swr_convert(swr_.get(), &out, static_cast<int>(cap),
                                  const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
        if (n < 0) throw PCMStream::StreamError::readFailed(file_, avError(n));
        segmentIn_ += frame->nb_samples;
        segmentOut_ += n;
        return deliver(static_cast<std::size_t>(n));
    }

    // Empties the resampler of the current segment. The segment's output is
    // made exactly round(in × outRate / inRate) frames long.
    bool drain() {
        if (!swr_) return !done();
        const std::int64_t expected = (segmentIn_ * outRate_ * 2 + inRate_) / (2 * static_cast<std::int64_t>(inRate_));
        for (;;) {
            const std::int64_t want = expected - segmentOut_;
            if (want <= 0) break;
            reserve(want);
            uint8_t* out = reinterpret_cast<uint8_t*>(converted_.data());
            const int n = swr_convert(swr_.get(), &out, static_cast<int>(want), nullptr, 0);
            if (n < 0) throw PCMStream::StreamError::readFailed(file_, avError(n));
            if (n == 0) {
                // The resampler gave less than the exact length: pad with silence.
                std::fill(converted_.begin(), converted_.begin() + want * mixChannels_, 0.0f);
                segmentOut_ += want;
                if (!deliver(static_cast<std::size_t>(want))) return false;
                break;
            }
            segmentOut_ += n;
            if (!deliver(static_cast<std::size_t>(n))) return false;
        }
        swr_.reset();
        segmentIn_ = segmentOut_ = 0;
        return !done();
    }

    bool done() const { return limit_ >= 0 && delivered_ >= limit_; }

private:
    void rebuild(const AVFrame* frame) {
        swr_.reset();
        av_channel_layout_uninit(&inLayout_);
        if (av_channel_layout_copy(&inLayout_, &frame->ch_layout) < 0)
            throw PCMStream::StreamError::readFailed(file_, "unsupported audio format");
        inFormat_ = frame->format;
        inRate_ = frame->sample_rate;
        if (inRate_ <= 0 || inLayout_.nb_channels <= 0)
            throw PCMStream::StreamError::readFailed(file_, "unsupported audio format");
        // Keep the source's channels (mixed below), except that more than
        // two are folded to stereo by the resampler's downmix.
        AVChannelLayout outLayout{};
        if (inLayout_.nb_channels > 2) {
            av_channel_layout_default(&outLayout, 2);
        } else if (av_channel_layout_copy(&outLayout, &inLayout_) < 0) {
            throw PCMStream::StreamError::readFailed(file_, "unsupported audio format");
        }
        mixChannels_ = outLayout.nb_channels;
        SwrContext* raw = nullptr;
        int rc = swr_alloc_set_opts2(&raw, &outLayout, AV_SAMPLE_FMT_FLT, outRate_, &inLayout_,
                                     static_cast<AVSampleFormat>(inFormat_), inRate_, 0, nullptr);
        av_channel_layout_uninit(&outLayout);
        if (rc < 0 || !raw) throw PCMStream::StreamError::readFailed(file_, "unsupported audio format");
        swr_.reset(raw);
        rc = swr_init(raw);
        if (rc < 0) throw PCMStream::StreamError::readFailed(file_, "unsupported audio format");
    }

    void reserve(std::int64_t frames) {
        const auto need = static_cast<std::size_t>(std::max<std::int64_t>(frames, 1)) * 2;
        if (converted_.size() < need * static_cast<std::size_t>(std::max(mixChannels_, 1)))
            converted_.resize(need * static_cast<std::size_t>(std::max(mixChannels_, 1)));
    }

    bool deliver(std::size_t frames) {
        if (frames == 0) return !done();
        if (limit_ >= 0) frames = static_cast<std::size_t>(std::min<std::int64_t>(
                             static_cast<std::int64_t>(frames), limit_ - delivered_));
        if (frames == 0) return false;
        const std::size_t oc = static_cast<std::size_t>(outChannels_);
        const std::size_t mc = static_cast<std::size_t>(mixChannels_);
        if (output_.size() < frames * oc) output_.resize(frames * oc);
        const float* in = converted_.data();
        float* out = output_.data();
        auto clean = [](float v) { return std::isfinite(v) ? v : 0.0f; };
        if (mc == oc) {
            for (std::size_t i = 0; i < frames * oc; ++i) out[i] = clean(in[i]);
        } else if (oc == 1) {
            const float scale = 1.0f / static_cast<float>(mc);
            for (std::size_t f = 0; f < frames; ++f) {
                float s = 0;
                for (std::size_t c = 0; c < mc; ++c) s += clean(in[f * mc + c]);
                out[f] = s * scale;
            }
        } else {   // mono to stereo
            for (std::size_t f = 0; f < frames; ++f) {
                const float v = clean(in[f]);
                for (std::size_t c = 0; c < oc; ++c) out[f * oc + c] = v;
            }
        }
        delivered_ += static_cast<std::int64_t>(frames);
        chunk_(std::span<const float>(out, frames * oc), frames);
        return !done();
    }

    const fs::path& file_;
    int outRate_;
    int outChannels_;
    std::int64_t limit_;
    const PCMStream::Chunk& chunk_;
    std::unique_ptr<SwrContext, SwrCloser> swr_;
    AVChannelLayout inLayout_{};
    int inFormat_ = -1;
    int inRate_ = 0;
    int mixChannels_ = 0;
    std::int64_t segmentIn_ = 0;
    std::int64_t segmentOut_ = 0;
    std::int64_t delivered_ = 0;
    std::vector<float> converted_;
    std::vector<float> output_;
};

} // namespace

PCMStream::StreamError PCMStream::StreamError::noAudioTrack(const fs::path& file) {
    const std::string said = "has no audio track.";
    return StreamError(Kind::noAudioTrack, file.filename().string() + " " + said, said);
}

PCMStream::StreamError PCMStream::StreamError::readFailed(const fs::path& file, const std::string& reason) {
    return StreamError(Kind::readFailed, "Could not read audio from " + file.filename().string() + ": " + reason,
                       "could not be read: " + reason);
}

PCMStream::StreamError PCMStream::StreamError::notRegularFile(const fs::path& file) {
    const core::FileError error = core::FileError::notRegularFile(file);
    return StreamError(Kind::notRegularFile, error.what(), "is " + error.reason());
}

namespace {

// What libav's words about a file it could not make sense of mean to a
// user; anything not listed is said as kNotAudioOrDamaged.
struct PlainReason {
    std::string_view libavSays;
    std::string_view plain;
};
constexpr PlainReason kPlainReasons[] = {
    // An MP4 or M4A whose recorder or copy stopped before the sample table
    // at its end was written.
    {"moov atom not found", "the file was cut short before its index was written"},
};
constexpr std::string_view kNotAudioOrDamaged = "not an audio file, or damaged";

std::string_view plainReason(std::string_view libavSaid) {
    for (const auto& r : kPlainReasons)
        if (libavSaid.find(r.libavSays) != std::string_view::npos) return r.plain;
    return kNotAudioOrDamaged;
}

} // namespace

PCMStream::StreamError PCMStream::StreamError::noDecodableAudio(const fs::path& file, const std::string& libavSaid) {
    const std::string name = file.filename().string();
    const std::string said = fmt::format("holds no audio that can be decoded ({})", plainReason(libavSaid));
    return StreamError(Kind::noDecodableAudio, name + " " + said, said,
                       libavSaid.empty() ? std::string() : fmt::format("{}: libav says \"{}\"", name, libavSaid));
}

PCMStream::Format PCMStream::format(const fs::path& file) { return describe(openFile(file)); }

PCMStream::Format PCMStream::read(const fs::path& file, std::optional<double> sampleRate,
                                  std::optional<int> channels, std::optional<double> maxDuration,
                                  const Chunk& chunk) {
    Opened o = openFile(file);
    const Format source = describe(o);
    const auto wavShort = wavShortfall(o.input.descriptor(), o.input.size());
    if (wavShort) ReadWarnings::tell(shortfallText(file, *wavShort));
    const double rate = sampleRate.value_or(source.sampleRate);
    const int outChannels = channels.value_or(source.channels);
    if (!std::isfinite(rate) || rate < 1 || rate > 768000 || rate != std::floor(rate))
        throw StreamError::readFailed(file, "unsupported audio format");
    if (outChannels != 1 && outChannels != 2) throw StreamError::readFailed(file, "unsupported audio format");
    const int outRate = static_cast<int>(rate);

    std::int64_t limit = -1;
    if (maxDuration && *maxDuration < source.durationSeconds) {
        const double frames = std::round(std::max(0.0, *maxDuration) * rate);
        limit = std::isfinite(frames) ? static_cast<std::int64_t>(frames) : 0;
    }

    AVStream* st = o.input->streams[o.stream];
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec) throw StreamError::readFailed(file, "unsupported audio format");
    std::unique_ptr<AVCodecContext, CodecCloser> dec(avcodec_alloc_context3(codec));
    if (!dec) throw StreamError::readFailed(file, "reader did not start");
    if (avcodec_parameters_to_context(dec.get(), st->codecpar) < 0)
        throw StreamError::readFailed(file, "unsupported audio format");
    dec->pkt_timebase = st->time_base;
    int rc = avcodec_open2(dec.get(), codec, nullptr);
    if (rc < 0) throw StreamError::readFailed(file, avError(rc));
    for (unsigned i = 0; i < o.input->nb_streams; ++i)
        if (static_cast<int>(i) != o.stream) o.input->streams[i]->discard = AVDISCARD_ALL;

    std::unique_ptr<AVPacket, PacketCloser> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameCloser> frame(av_frame_alloc());
    if (!packet || !frame) throw StreamError::readFailed(file, "reader did not start");
    Converter conv(file, outRate, outChannels, limit, chunk);
    if (limit == 0) return Format{rate, outChannels, source.durationSeconds};

    std::int64_t packetsSent = 0;
    double decodedSeconds = 0; // at the source's rate, whatever the output's
    auto receive = [&]() -> bool {
        for (;;) {
            const int r = avcodec_receive_frame(dec.get(), frame.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
            if (r == AVERROR_INVALIDDATA) continue;   // a damaged frame is skipped
            if (r < 0) throw StreamError::readFailed(file, avError(r));
            if (frame->nb_samples > 0 && frame->sample_rate > 0)
                decodedSeconds += static_cast<double>(frame->nb_samples) / frame->sample_rate;
            const bool more = conv.push(frame.get());
            av_frame_unref(frame.get());
            if (!more) return false;
        }
    };

    bool more = true;
    while (more) {
        // Every audio pass of an episode decodes through here: a quit ends it
        // between two packets.
        core::throwIfStopRequested();
        rc = av_read_frame(o.input.get(), packet.get());
        if (rc == AVERROR_EOF) break;
        if (rc < 0) throw StreamError::readFailed(file, avError(rc));
        if (packet->stream_index == o.stream) {
            ++packetsSent;
            const int s = avcodec_send_packet(dec.get(), packet.get());
            av_packet_unref(packet.get());
            if (s < 0 && s != AVERROR(EAGAIN) && s != AVERROR_INVALIDDATA)
                throw StreamError::readFailed(file, avError(s));
            more = receive();
        } else {
            av_packet_unref(packet.get());
        }
    }
    if (more) {
        avcodec_send_packet(dec.get(), nullptr);
        more = receive() && conv.drain();
    }
    if (more) {
        // The stream ended by itself, not at maxDuration.
        // Nothing decoded from packets that were there, or from a stream
        // whose rate and channels libav could not even find: not audio.
        const AVCodecParameters* par = st->codecpar;
        const bool undescribed = par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0;
        if (decodedSeconds == 0 && (packetsSent > 0 || undescribed))
            throw StreamError::noDecodableAudio(file, takeLibavError());
        // A length estimated from the bitrate and the file's size says
        // nothing about what is missing (and misjudges VBR files).
        if (!wavShort && o.input->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE &&
            endsEarly(decodedSeconds, source.durationSeconds))
            ReadWarnings::tell(endsEarlyText(file, decodedSeconds, source.durationSeconds));
    }
    return Format{rate, outChannels, source.durationSeconds};
}

} // namespace audio

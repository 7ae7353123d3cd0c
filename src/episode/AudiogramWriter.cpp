#include "episode/AudiogramWriter.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <thread>

#include "audio/PCMStream.h"
#include "core/Numbers.h"
#include "core/StopSignal.h"
#include "episode/AudiogramGenerator.h"
#include "episode/LibavSupport.h"

namespace episode {

namespace fs = std::filesystem;
using AudiogramError = AudiogramGenerator::AudiogramError;

namespace {

constexpr int kAudioRate = 44100;
constexpr int kAudioChannels = 2;
constexpr std::int64_t kAudioBitRate = 192000;
constexpr std::int64_t kVideoBitRate = 4000000;
// A resampler may deliver a few samples less than asked; more than this
// missing means the sound stopped early.
constexpr std::int64_t kAudioShortfallTolerance = kAudioRate / 10;

void check(int rc, const char* what) {
    if (rc < 0) throw AudiogramError::writingFailed(std::string(what) + ": " + libav::errorText(rc));
}

libav::Codec openVideoEncoder(int width, int height, int fps, bool globalHeader) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) throw AudiogramError::writerSetupFailed();
    libav::Codec ctx(avcodec_alloc_context3(codec));
    if (!ctx) throw AudiogramError::writerSetupFailed();
    ctx->width = width;
    ctx->height = height;
    ctx->time_base = AVRational{1, fps};
    ctx->framerate = AVRational{fps, 1};
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->bit_rate = kVideoBitRate;
    ctx->gop_size = std::max(1, fps * 2);
    ctx->color_primaries = AVCOL_PRI_BT709;
    ctx->color_trc = AVCOL_TRC_BT709;
    ctx->colorspace = AVCOL_SPC_BT709;
    ctx->color_range = AVCOL_RANGE_MPEG;
    // Half the cores: the render threads draw on the other half. More encoder
    // threads only add frames in flight (about 100 MB at 1080x1080 on 8 cores).
    ctx->thread_count = AudiogramWriter::renderThreads();
    if (globalHeader) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(ctx->priv_data, "preset", "superfast", 0);
    av_opt_set(ctx->priv_data, "x264-params", "log=-1", 0); // no statistics on standard error
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) throw AudiogramError::writerSetupFailed();
    return ctx;
}

libav::Codec openAudioEncoder(bool globalHeader) {
    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    if (!codec) throw AudiogramError::writerSetupFailed();
    libav::Codec ctx(avcodec_alloc_context3(codec));
    if (!ctx) throw AudiogramError::writerSetupFailed();
    ctx->sample_rate = kAudioRate;
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&ctx->ch_layout, kAudioChannels);
    ctx->bit_rate = kAudioBitRate;
    ctx->time_base = AVRational{1, kAudioRate};
    if (globalHeader) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) throw AudiogramError::writerSetupFailed();
    return ctx;
}

// Decodes the excerpt at 44.1 kHz stereo, exactly `total` frames long, and
// encodes it; the packets are kept (a few hundred kilobytes a minute).
std::vector<libav::Packet> encodeSound(const fs::path& audioURL, double seconds, std::int64_t total,
                                       AVCodecContext* encoder) {
    std::vector<libav::Packet> packets;
    const int frameSize = encoder->frame_size > 0 ? encoder->frame_size : 1024;
    std::vector<float> left, right;
    left.reserve(static_cast<std::size_t>(frameSize));
    right.reserve(static_cast<std::size_t>(frameSize));
    std::int64_t taken = 0;
    std::int64_t pts = 0;

    auto receive = [&] {
        while (true) {
            libav::Packet packet(av_packet_alloc());
            if (!packet) throw AudiogramError::writingFailed("out of memory");
            const int rc = avcodec_receive_packet(encoder, packet.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
            check(rc, "AAC encoder");
            packets.push_back(std::move(packet));
        }
    };
    auto sendFrame = [&] {
        const int n = static_cast<int>(left.size());
        libav::Frame frame(av_frame_alloc());
        if (!frame) throw AudiogramError::writingFailed("out of memory");
        frame->format = AV_SAMPLE_FMT_FLTP;
        frame->nb_samples = n;
        frame->sample_rate = kAudioRate;
        check(av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout), "AAC encoder");
        check(av_frame_get_buffer(frame.get(), 0), "AAC encoder");
        std::copy(left.begin(), left.end(), reinterpret_cast<float*>(frame->data[0]));
        std::copy(right.begin(), right.end(), reinterpret_cast<float*>(frame->data[1]));
        frame->pts = pts;
        pts += n;
        check(avcodec_send_frame(encoder, frame.get()), "AAC encoder");
        left.clear();
        right.clear();
        receive();
    };
    auto push = [&](float l, float r) {
        left.push_back(l);
        right.push_back(r);
        ++taken;
        if (static_cast<int>(left.size()) == frameSize) sendFrame();
    };

    audio::PCMStream::read(audioURL, static_cast<double>(kAudioRate), kAudioChannels, seconds,
                           [&](std::span<const float> samples, std::size_t frames) {
                               for (std::size_t i = 0; i < frames && taken < total; ++i)
                                   push(samples[2 * i], samples[2 * i + 1]);
                           });
    if (total - taken > kAudioShortfallTolerance)
        throw AudiogramError::writingFailed("the sound ended before the pictures");
    while (taken < total) push(0, 0);
    if (!left.empty()) sendFrame();
    check(avcodec_send_frame(encoder, nullptr), "AAC encoder");
    receive();
    return packets;
}

// Frames drawn ahead of the encoder by the render threads, handed over in order.
class FrameQueue {
public:
    FrameQueue(int frameCount, int window) : frameCount_(frameCount), window_(window) {}

    // The next frame number for a render thread, or -1 when all are taken
    // or the run is stopped. Waits while the encoder is too far behind.
    int take() {
        std::unique_lock lock(mutex_);
        const int n = nextToRender_;
        if (n >= frameCount_) return -1;
        ++nextToRender_;
        changed_.wait(lock, [&] { return stopped_ || n < nextToEncode_ + window_; });
        return stopped_ ? -1 : n;
    }
    void put(int n, libav::Frame frame) {
        std::lock_guard lock(mutex_);
        ready_[n] = std::move(frame);
        changed_.notify_all();
    }
    // The encoder's next frame; null once the run is stopped.
    libav::Frame next(int n) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopped_ || ready_.count(n) != 0; });
        if (stopped_) return nullptr;
        libav::Frame f = std::move(ready_[n]);
        ready_.erase(n);
        nextToEncode_ = n + 1;
        changed_.notify_all();
        return f;
    }
    void fail(std::exception_ptr e) {
        std::lock_guard lock(mutex_);
        if (!error_) error_ = e;
        stopped_ = true;
        changed_.notify_all();
    }
    void stop() {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        changed_.notify_all();
    }
    std::exception_ptr error() {
        std::lock_guard lock(mutex_);
        return error_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    const int frameCount_;
    const int window_;
    int nextToRender_ = 0;
    int nextToEncode_ = 0;
    bool stopped_ = false;
    std::map<int, libav::Frame> ready_;
    std::exception_ptr error_;
};

void renderLoop(const AudiogramWriter::Job& job, FrameQueue& queue) {
    const int w = job.renderer->width(), h = job.renderer->height();
    audio::routeLibavLog(); // the encoder's banner and statistics stay out of the terminal
    // The drawn picture lives in a padded libav frame: libswscale reads
    // whole vector blocks past a row's end.
    libav::Frame bgra(av_frame_alloc());
    if (!bgra) throw AudiogramError::writingFailed("out of memory");
    bgra->format = AV_PIX_FMT_BGRA;
    bgra->width = w;
    bgra->height = h;
    check(av_frame_get_buffer(bgra.get(), 0), "frame buffer");
    libav::Scaler scaler(sws_getContext(w, h, AV_PIX_FMT_BGRA, w, h, AV_PIX_FMT_YUV420P, SWS_POINT, nullptr,
                                        nullptr, nullptr));
    if (!scaler) throw AudiogramError::writerSetupFailed();
    // Full-range RGB in, BT.709 limited-range YUV out.
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(scaler.get(), bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
    for (int n = queue.take(); n >= 0; n = queue.take()) {
        job.renderer->draw(bgra->data[0], bgra->linesize[0], *job.envelope, n, job.frameCount);
        libav::Frame frame(av_frame_alloc());
        if (!frame) throw AudiogramError::writingFailed("out of memory");
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = w;
        frame->height = h;
        check(av_frame_get_buffer(frame.get(), 0), "frame buffer");
        if (sws_scale(scaler.get(), bgra->data, bgra->linesize, 0, h, frame->data, frame->linesize) != h)
            throw AudiogramError::writingFailed("colour conversion failed");
        frame->pts = n;
        queue.put(n, std::move(frame));
    }
}

class Muxer {
public:
    Muxer(AVFormatContext* out, AVStream* video, AVStream* audio, AVRational videoBase, AVRational audioBase,
          std::vector<libav::Packet> sound)
        : out_(out), video_(video), audio_(audio), videoBase_(videoBase), audioBase_(audioBase),
          sound_(std::move(sound)) {}

    void writeVideo(AVPacket* packet) {
        // Sound up to this picture's time goes first, so the file interleaves.
        while (nextSound_ < sound_.size() &&
               av_compare_ts(sound_[nextSound_]->dts, audioBase_, packet->dts, videoBase_) <= 0)
            writeSound(sound_[nextSound_++].get());
        packet->stream_index = video_->index;
        av_packet_rescale_ts(packet, videoBase_, video_->time_base);
        check(av_interleaved_write_frame(out_, packet), "MP4 file");
    }
    void finish() {
        while (nextSound_ < sound_.size()) writeSound(sound_[nextSound_++].get());
    }

private:
    void writeSound(AVPacket* packet) {
        packet->stream_index = audio_->index;
        av_packet_rescale_ts(packet, audioBase_, audio_->time_base);
        check(av_interleaved_write_frame(out_, packet), "MP4 file");
    }
    AVFormatContext* out_;
    AVStream* video_;
    AVStream* audio_;
    AVRational videoBase_, audioBase_;
    std::vector<libav::Packet> sound_;
    std::size_t nextSound_ = 0;
};

} // namespace

int AudiogramWriter::renderThreads() { return std::clamp(core::activeProcessorCount() / 2, 1, 4); }

void AudiogramWriter::write(const Job& job) {
    if (!job.renderer || !job.envelope || job.frameCount < 1 || job.fps < 1)
        throw AudiogramError::writerSetupFailed();
    const int w = job.renderer->width(), h = job.renderer->height();

    AVFormatContext* raw = nullptr;
    // The output name may end in anything (a temporary name): MP4 is named.
    if (avformat_alloc_output_context2(&raw, nullptr, "mp4", job.outputPath.c_str()) < 0 || !raw)
        throw AudiogramError::writerSetupFailed();
    libav::Output out(raw);
    const bool globalHeader = (out->oformat->flags & AVFMT_GLOBALHEADER) != 0;
    libav::Codec video = openVideoEncoder(w, h, job.fps, globalHeader);
    libav::Codec sound = openAudioEncoder(globalHeader);
    AVStream* videoStream = avformat_new_stream(out.get(), nullptr);
    AVStream* audioStream = avformat_new_stream(out.get(), nullptr);
    if (!videoStream || !audioStream) throw AudiogramError::writerSetupFailed();
    if (avcodec_parameters_from_context(videoStream->codecpar, video.get()) < 0 ||
        avcodec_parameters_from_context(audioStream->codecpar, sound.get()) < 0)
        throw AudiogramError::writerSetupFailed();
    videoStream->time_base = video->time_base;
    videoStream->avg_frame_rate = AVRational{job.fps, 1};
    audioStream->time_base = sound->time_base;

    const double seconds = static_cast<double>(job.frameCount) / job.fps;
    const auto totalSamples = core::toInt64(std::round(seconds * kAudioRate));
    if (!totalSamples) throw AudiogramError::writerSetupFailed();

    const std::string url = "file:" + job.outputPath.string();
    check(avio_open(&out->pb, url.c_str(), AVIO_FLAG_WRITE), "MP4 file");
    // Fast start: the trailer moves the index ("moov") in front of the
    // media data, as social sites expect for progressive playback.
    AVDictionary* muxerOptions = nullptr;
    av_dict_set(&muxerOptions, "movflags", "+faststart", 0);
    const int headerResult = avformat_write_header(out.get(), &muxerOptions);
    av_dict_free(&muxerOptions);
    check(headerResult, "MP4 file");

    // Sound on one thread, pictures drawn on several, encoding on this one.
    std::vector<libav::Packet> soundPackets;
    std::exception_ptr soundError;
    std::thread soundThread([&] {
        try {
            soundPackets = encodeSound(job.audioURL, seconds, *totalSamples, sound.get());
        } catch (...) {
            soundError = std::current_exception();
        }
    });
    const int threads = renderThreads();
    FrameQueue queue(job.frameCount, threads * 3);
    std::vector<std::thread> renderers;
    struct Joiner {
        FrameQueue& queue;
        std::thread& sound;
        std::vector<std::thread>& renderers;
        ~Joiner() {
            queue.stop();
            for (auto& t : renderers)
                if (t.joinable()) t.join();
            if (sound.joinable()) sound.join();
        }
    } joiner{queue, soundThread, renderers};
    for (int i = 0; i < threads; ++i)
        renderers.emplace_back([&] {
            try {
                renderLoop(job, queue);
            } catch (...) {
                queue.fail(std::current_exception());
            }
        });

    std::optional<Muxer> muxer;
    libav::Packet packet(av_packet_alloc());
    if (!packet) throw AudiogramError::writingFailed("out of memory");
    auto drain = [&] {
        while (true) {
            const int rc = avcodec_receive_packet(video.get(), packet.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
            check(rc, "H.264 encoder");
            if (!muxer) {
                soundThread.join();
                if (soundError) std::rethrow_exception(soundError);
                muxer.emplace(out.get(), videoStream, audioStream, video->time_base, sound->time_base,
                              std::move(soundPackets));
            }
            muxer->writeVideo(packet.get());
        }
    };
    for (int n = 0; n < job.frameCount; ++n) {
        core::throwIfStopRequested(); // a quit ends the video between two frames
        libav::Frame frame = queue.next(n);
        if (!frame) {
            if (auto e = queue.error()) std::rethrow_exception(e);
            throw AudiogramError::writingFailed("a frame was not drawn");
        }
        check(avcodec_send_frame(video.get(), frame.get()), "H.264 encoder");
        drain();
    }
    check(avcodec_send_frame(video.get(), nullptr), "H.264 encoder");
    drain();
    if (!muxer) throw AudiogramError::writingFailed("the H.264 encoder produced no pictures");
    muxer->finish();
    check(av_write_trailer(out.get()), "MP4 file");
    check(avio_closep(&out->pb), "MP4 file");
}

} // namespace episode

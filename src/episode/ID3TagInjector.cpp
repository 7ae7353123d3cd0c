#include "episode/ID3TagInjector.h"

#include <cstring>
#include <system_error>

#include <fmt/format.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include "audio/PCMStream.h"
#include "core/Files.h"
#include "core/StopSignal.h"
#include "core/WorkArea.h"
#include "episode/CoverArt.h"
#include "episode/LibavSupport.h"
#include "episode/PlatformTexts.h"
#include "episode/WrittenAudioCheck.h"

namespace episode {

namespace fs = std::filesystem;

ID3TagInjector::TagError ID3TagInjector::TagError::exportSessionUnavailable() {
    return TagError(Kind::exportSessionUnavailable, std::string(platformtexts::kM4AExportUnavailable));
}

ID3TagInjector::TagError ID3TagInjector::TagError::taggingFailed() {
    return TagError(Kind::taggingFailed, "Failed to inject metadata tags into audio container.");
}

ID3TagInjector::ID3TagInjector(FFmpegRunner runner) : runner_(std::move(runner)) {}

namespace {

bool isFile(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec) && !ec;
}

// The muxer FFmpeg would pick for the final name; the temporary name's
// extension says nothing, so it is named explicitly.
std::string muxerFor(const fs::path& finalPath) {
    const AVOutputFormat* f = av_guess_format(nullptr, finalPath.filename().c_str(), nullptr);
    return f ? f->name : "mp3";
}

// The cover as a tag can hold it: the PNG or JPEG without its metadata (a
// phone's GPS position among it), anything else, or a picture stored
// turned, as an upright JPEG. A cover that cannot be used is left out; it
// never fails the tagging.
std::optional<CoverArt::Picture> taggablePicture(const std::optional<fs::path>& artwork) {
    if (!artwork || !isFile(*artwork)) return std::nullopt;
    return CoverArt::forTag(*artwork);
}

// The picture as a file for FFmpeg, in a work folder that `folder` keeps
// alive.
std::optional<fs::path> taggableCover(const CoverArt::Picture* picture,
                                      std::optional<core::LockedWorkFolder>& folder) {
    if (!picture) return std::nullopt;
    try {
        folder.emplace("Quorvel");
        const fs::path converted = folder->path() / (picture->png ? "cover.png" : "cover.jpg");
        core::writeFileAtomically(converted, picture->bytes);
        return converted;
    } catch (const core::Error&) {
        return std::nullopt;
    }
}

fs::path absolutePath(const fs::path& p) {
    std::error_code ec;
    const fs::path a = fs::absolute(p, ec);
    return ec ? p : a;
}

// FFmpeg keeps the notes only as a TXXX "comment" frame, which most
// players don't show: the file also gets a real COMM frame (language "eng",
// no description). Every other frame stays as FFmpeg wrote it.
void addCommentFrame(const fs::path& mp3, const std::string& notes) {
    if (notes.empty()) return;
    TagLib::MPEG::File file(mp3.c_str(), false);
    if (!file.isValid()) throw ID3TagInjector::TagError::taggingFailed();
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
    tag->removeFrames("COMM");
    // ID3v2.3 has no UTF-8: UTF-16 with a byte-order mark holds any text.
    auto* comment = new TagLib::ID3v2::CommentsFrame(TagLib::String::UTF16);
    comment->setLanguage("eng");
    comment->setText(TagLib::String(notes, TagLib::String::UTF8));
    tag->addFrame(comment); // the tag owns the frame
    if (!file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v3,
                   TagLib::File::DoNotDuplicate))
        throw ID3TagInjector::TagError::taggingFailed();
}

} // namespace

std::vector<std::string> ID3TagInjector::ffmpegArguments(const PodcastMetadata& m, const fs::path& sourceURL,
                                                         const fs::path& outputPath,
                                                         const std::optional<fs::path>& chaptersFile) {
    std::vector<std::string> a{"-y", "-i", sourceURL.string()};
    const bool artwork = m.artworkURL && isFile(*m.artworkURL);
    if (artwork) {
        a.push_back("-i");
        a.push_back(m.artworkURL->string());
    }
    if (chaptersFile) {
        for (const char* s : {"-f", "ffmetadata", "-i"}) a.emplace_back(s);
        a.push_back(chaptersFile->string());
    }
    a.emplace_back("-map");
    a.emplace_back("0:a");
    if (chaptersFile) {
        a.emplace_back("-map_chapters");
        a.emplace_back(artwork ? "2" : "1");
    }
    if (artwork)
        for (const char* s : {"-map", "1:0", "-c:v", "copy", "-disposition:v:0", "attached_pic"}) a.emplace_back(s);
    for (const char* s : {"-c:a", "copy", "-metadata:s:v", "title=Album cover", "-metadata:s:v",
                          "comment=Cover (front)", "-id3v2_version", "3"})
        a.emplace_back(s);
    a.emplace_back("-metadata");
    a.push_back("title=" + m.title);
    a.emplace_back("-metadata");
    a.push_back("artist=" + m.artist);
    a.emplace_back("-metadata");
    a.push_back("album=" + m.podcastName);
    a.emplace_back("-metadata");
    a.push_back("comment=" + m.showNotes);
    if (m.releaseYear) {
        a.emplace_back("-metadata");
        a.push_back(fmt::format("date={}", *m.releaseYear));
    }
    if (m.episodeNumber) {
        a.emplace_back("-metadata");
        a.push_back(fmt::format("track={}", *m.episodeNumber));
    }
    a.push_back(outputPath.string());
    return a;
}

void ID3TagInjector::inject(const PodcastMetadata& metadata, const fs::path& sourceURL,
                            const fs::path& destinationURL, const std::optional<fs::path>& chaptersFile) const {
    const auto cover = taggablePicture(metadata.artworkURL);
    inject(metadata, sourceURL, destinationURL, chaptersFile, cover ? &*cover : nullptr);
}

void ID3TagInjector::inject(const PodcastMetadata& metadata, const fs::path& sourceURL,
                            const fs::path& destinationURL, const std::optional<fs::path>& chaptersFile,
                            const CoverArt::Picture* cover) const {
    if (runner_.isFFmpegAvailable())
        injectWithFFmpeg(metadata, sourceURL, destinationURL, chaptersFile, cover);
    else
        injectWithLibav(metadata, sourceURL, destinationURL, cover);
}

void ID3TagInjector::injectWithFFmpeg(const PodcastMetadata& metadata, const fs::path& sourceURL,
                                      const fs::path& destinationURL, const std::optional<fs::path>& chaptersFile,
                                      const CoverArt::Picture* cover) const {
    core::AtomicFile out(absolutePath(destinationURL));
    std::optional<core::LockedWorkFolder> coverFolder;
    PodcastMetadata tags = metadata;
    tags.artworkURL = taggableCover(cover, coverFolder);
    // Absolute paths only: a name beginning with "-" is never read as an option.
    std::optional<fs::path> chapters;
    if (chaptersFile) chapters = absolutePath(*chaptersFile);
    std::vector<std::string> args = ffmpegArguments(tags, absolutePath(sourceURL), out.tempPath(), chapters);
    // FFmpeg writes the temporary name; its muxer is named in front of it.
    args.insert(args.end() - 1, {"-f", muxerFor(destinationURL)});
    runner_.execute(args);
    if (muxerFor(destinationURL) == "mp3") addCommentFrame(out.tempPath(), metadata.showNotes);
    // A full disk may still leave a short file behind an exit status of 0.
    // The audio is copied, not encoded: its packets are counted.
    verifyCopiedAudio(out.tempPath(), destinationURL, audio::PCMStream::format(sourceURL).durationSeconds);
    out.commit();
}

namespace {

using TagError = ID3TagInjector::TagError;

[[noreturn]] void failTagging() { throw TagError::taggingFailed(); }
void check(int rc) {
    if (rc < 0) failTagging();
}

// The cover as the one picture packet of an attached-picture stream.
struct Cover {
    AVCodecID codec = AV_CODEC_ID_NONE;
    int width = 0;
    int height = 0;
    libav::Packet packet{av_packet_alloc()};
};

std::optional<Cover> coverPacket(const CoverArt::Picture* picture) {
    if (!picture) return std::nullopt;
    Cover c;
    c.codec = picture->png ? AV_CODEC_ID_PNG : AV_CODEC_ID_MJPEG;
    c.width = picture->width;
    c.height = picture->height;
    const std::string& bytes = picture->bytes;
    if (!c.packet || bytes.empty() ||
        bytes.size() > static_cast<std::size_t>(INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE) ||
        av_new_packet(c.packet.get(), static_cast<int>(bytes.size())) < 0)
        return std::nullopt;
    std::memcpy(c.packet->data, bytes.data(), bytes.size());
    return c;
}

void setTags(AVDictionary** dict, const ID3TagInjector::PodcastMetadata& m) {
    av_dict_set(dict, "title", m.title.c_str(), 0);
    av_dict_set(dict, "artist", m.artist.c_str(), 0);
    av_dict_set(dict, "album", m.podcastName.c_str(), 0);
    av_dict_set(dict, "description", m.showNotes.c_str(), 0);
    av_dict_set(dict, "comment", m.showNotes.c_str(), 0);
    if (m.releaseYear) av_dict_set(dict, "date", fmt::format("{}", *m.releaseYear).c_str(), 0);
    if (m.episodeNumber) av_dict_set(dict, "track", fmt::format("{}", *m.episodeNumber).c_str(), 0);
}

class M4AEncoder {
public:
    M4AEncoder(const fs::path& source, const fs::path& finalPath, const ID3TagInjector::PodcastMetadata& m) {
        input_ = libav::openLocalInput(source, audio::kAudioDemuxers);
        if (!input_) throw TagError::exportSessionUnavailable();
        audioIndex_ = av_find_best_stream(input_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (audioIndex_ < 0) throw TagError::exportSessionUnavailable();
        const AVCodecParameters* par = input_->streams[audioIndex_]->codecpar;
        const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
        const AVCodec* encoder = avcodec_find_encoder_by_name("aac");
        if (!decoder || !encoder) throw TagError::exportSessionUnavailable();

        decoder_.reset(avcodec_alloc_context3(decoder));
        if (!decoder_ || avcodec_parameters_to_context(decoder_.get(), par) < 0 ||
            avcodec_open2(decoder_.get(), decoder, nullptr) < 0)
            throw TagError::exportSessionUnavailable();
        if (decoder_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&decoder_->ch_layout, decoder_->ch_layout.nb_channels);

        encoder_.reset(avcodec_alloc_context3(encoder));
        if (!encoder_) throw TagError::exportSessionUnavailable();
        const int channels = decoder_->ch_layout.nb_channels >= 2 ? 2 : 1;
        av_channel_layout_default(&encoder_->ch_layout, channels);
        encoder_->sample_rate = pickRate(encoder, decoder_->sample_rate);
        encoder_->sample_fmt = AV_SAMPLE_FMT_FLTP;
        encoder_->bit_rate = channels == 2 ? 192000 : 128000;
        encoder_->time_base = AVRational{1, encoder_->sample_rate};

        output_ = openOutput(finalPath);
        if (output_->oformat->flags & AVFMT_GLOBALHEADER) encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (avcodec_open2(encoder_.get(), encoder, nullptr) < 0) throw TagError::exportSessionUnavailable();

        AVStream* audio = avformat_new_stream(output_.get(), nullptr);
        if (!audio) failTagging();
        check(avcodec_parameters_from_context(audio->codecpar, encoder_.get()));
        audio->time_base = encoder_->time_base;
        outAudio_ = audio;
        setTags(&output_->metadata, m);

        SwrContext* swr = nullptr;
        check(swr_alloc_set_opts2(&swr, &encoder_->ch_layout, encoder_->sample_fmt, encoder_->sample_rate,
                                  &decoder_->ch_layout, decoder_->sample_fmt, decoder_->sample_rate, 0, nullptr));
        resampler_.reset(swr);
        check(swr_init(swr));
        fifo_.reset(av_audio_fifo_alloc(encoder_->sample_fmt, channels, 4096));
        if (!fifo_) failTagging();
    }

    void addCover(Cover& cover) {
        AVStream* st = avformat_new_stream(output_.get(), nullptr);
        if (!st) failTagging();
        st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
        st->codecpar->codec_id = cover.codec;
        st->codecpar->width = cover.width;
        st->codecpar->height = cover.height;
        st->disposition = AV_DISPOSITION_ATTACHED_PIC;
        st->time_base = AVRational{1, 90000};
        coverIndex_ = st->index;
        cover_ = &cover;
    }

    void run(const fs::path& tempPath) {
        const std::string url = "file:" + tempPath.string();
        check(avio_open(&output_->pb, url.c_str(), AVIO_FLAG_WRITE));
        check(avformat_write_header(output_.get(), nullptr));
        if (cover_) {
            libav::Packet pic(av_packet_clone(cover_->packet.get()));
            if (!pic) failTagging();
            pic->stream_index = coverIndex_;
            pic->pts = pic->dts = 0;
            pic->duration = 0;
            pic->flags |= AV_PKT_FLAG_KEY;
            check(av_interleaved_write_frame(output_.get(), pic.get()));
        }
        libav::Packet packet(av_packet_alloc());
        libav::Frame decoded(av_frame_alloc());
        if (!packet || !decoded) failTagging();
        int rc = 0;
        while ((rc = av_read_frame(input_.get(), packet.get())) >= 0) {
            core::throwIfStopRequested(); // encoding an hour takes a while
            if (packet->stream_index == audioIndex_) {
                check(avcodec_send_packet(decoder_.get(), packet.get()));
                drainDecoder(decoded.get());
            }
            av_packet_unref(packet.get());
        }
        if (rc != AVERROR_EOF) failTagging(); // a read error mid-file is a failure, not a short file
        check(avcodec_send_packet(decoder_.get(), nullptr));
        drainDecoder(decoded.get());
        convert(nullptr, 0); // the resampler's tail
        encodeFromFifo(true);
        check(avcodec_send_frame(encoder_.get(), nullptr));
        writeEncoded();
        check(av_write_trailer(output_.get()));
        check(avio_closep(&output_->pb));
    }

private:
    static int pickRate(const AVCodec* encoder, int wanted) {
        if (!encoder->supported_samplerates) return wanted > 0 ? wanted : 44100;
        for (const int* r = encoder->supported_samplerates; *r; ++r)
            if (*r == wanted) return wanted;
        return 44100;
    }

    // The file itself is opened at the temporary name in run(); the muxer is
    // named explicitly because that name ends in ".part".
    static libav::Output openOutput(const fs::path& finalPath) {
        AVFormatContext* raw = nullptr;
        if (avformat_alloc_output_context2(&raw, nullptr, "ipod", finalPath.c_str()) < 0 || !raw)
            throw TagError::exportSessionUnavailable();
        return libav::Output(raw);
    }

    void drainDecoder(AVFrame* frame) {
        while (true) {
            const int rc = avcodec_receive_frame(decoder_.get(), frame);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
            check(rc);
            convert(const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
            av_frame_unref(frame);
            encodeFromFifo(false);
        }
    }

    void convert(const uint8_t** in, int samples) {
        const int capacity = swr_get_out_samples(resampler_.get(), samples);
        if (capacity <= 0) return;
        libav::Frame buf(av_frame_alloc());
        if (!buf) failTagging();
        buf->format = encoder_->sample_fmt;
        buf->nb_samples = capacity;
        check(av_channel_layout_copy(&buf->ch_layout, &encoder_->ch_layout));
        check(av_frame_get_buffer(buf.get(), 0));
        const int got = swr_convert(resampler_.get(), buf->data, capacity, in, samples);
        check(got);
        if (got > 0 && av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(buf->data), got) < got)
            failTagging();
    }

    void encodeFromFifo(bool flush) {
        const int size = encoder_->frame_size > 0 ? encoder_->frame_size : 1024;
        while (av_audio_fifo_size(fifo_.get()) >= size || (flush && av_audio_fifo_size(fifo_.get()) > 0)) {
            const int n = std::min(size, av_audio_fifo_size(fifo_.get()));
            libav::Frame frame(av_frame_alloc());
            if (!frame) failTagging();
            frame->format = encoder_->sample_fmt;
            frame->nb_samples = n;
            frame->sample_rate = encoder_->sample_rate;
            check(av_channel_layout_copy(&frame->ch_layout, &encoder_->ch_layout));
            check(av_frame_get_buffer(frame.get(), 0));
            if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame->data), n) < n) failTagging();
            frame->pts = nextPts_;
            nextPts_ += n;
            check(avcodec_send_frame(encoder_.get(), frame.get()));
            writeEncoded();
        }
    }

    void writeEncoded() {
        libav::Packet packet(av_packet_alloc());
        if (!packet) failTagging();
        while (true) {
            const int rc = avcodec_receive_packet(encoder_.get(), packet.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
            check(rc);
            packet->stream_index = outAudio_->index;
            av_packet_rescale_ts(packet.get(), encoder_->time_base, outAudio_->time_base);
            check(av_interleaved_write_frame(output_.get(), packet.get()));
        }
    }

    libav::Input input_;
    int audioIndex_ = -1;
    libav::Codec decoder_;
    libav::Codec encoder_;
    libav::Output output_;
    AVStream* outAudio_ = nullptr;
    libav::Resampler resampler_;
    libav::Fifo fifo_;
    std::int64_t nextPts_ = 0;
    Cover* cover_ = nullptr;
    int coverIndex_ = -1;
};

} // namespace

void ID3TagInjector::injectWithLibav(const PodcastMetadata& metadata, const fs::path& sourceURL,
                                     const fs::path& destinationURL, const CoverArt::Picture* picture) const {
    core::AtomicFile out(destinationURL);
    std::optional<Cover> cover = coverPacket(picture);
    {
        M4AEncoder encoder(sourceURL, destinationURL, metadata);
        if (cover) encoder.addCover(*cover);
        encoder.run(out.tempPath());
    }
    verifyWrittenAudio(out.tempPath(), destinationURL, audio::PCMStream::format(sourceURL).durationSeconds);
    out.commit();
}

} // namespace episode

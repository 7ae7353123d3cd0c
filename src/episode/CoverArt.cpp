#include "episode/CoverArt.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>

#include <libheif/heif.h>

#include "core/Files.h"
#include "episode/LibavSupport.h"

namespace episode {

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kMaxPixels = 100'000'000; // refused before decoding

enum class Kind { jpeg, png, heif, other };

Kind sniff(const fs::path& file) {
    std::string head;
    try {
        head = core::readFileHead(file, 12); // never blocks on a FIFO
    } catch (const core::Error&) {
        return Kind::other;
    }
    if (head.size() < 12) return Kind::other;
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(head[i]); };
    if (at(0) == 0xFF && at(1) == 0xD8 && at(2) == 0xFF) return Kind::jpeg;
    if (at(0) == 0x89 && at(1) == 'P' && at(2) == 'N' && at(3) == 'G') return Kind::png;
    if (head.compare(4, 4, "ftyp") == 0) return Kind::heif;
    return Kind::other;
}

bool tooLarge(int width, int height) {
    return width <= 0 || height <= 0 || static_cast<std::int64_t>(width) * height > kMaxPixels;
}

libav::Frame decodeWithLibav(const fs::path& file) {
    libav::Input input = libav::openLocalInput(file);
    if (!input) return nullptr;
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) return nullptr;
    const AVCodecParameters* par = input->streams[index]->codecpar;
    if (tooLarge(par->width, par->height)) return nullptr;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec) return nullptr;
    libav::Codec decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), par) < 0 ||
        avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return nullptr;
    libav::Packet packet(av_packet_alloc());
    libav::Frame frame(av_frame_alloc());
    if (!packet || !frame) return nullptr;
    bool got = false;
    while (!got && av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == index && avcodec_send_packet(decoder.get(), packet.get()) >= 0)
            got = avcodec_receive_frame(decoder.get(), frame.get()) >= 0;
        av_packet_unref(packet.get());
    }
    if (!got && avcodec_send_packet(decoder.get(), nullptr) >= 0)
        got = avcodec_receive_frame(decoder.get(), frame.get()) >= 0;
    if (!got || tooLarge(frame->width, frame->height)) return nullptr;
    return frame;
}

struct HeifContextDeleter {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HeifHandleDeleter {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct HeifImageDeleter {
    void operator()(heif_image* i) const { heif_image_release(i); }
};

// libheif's lazy start-up (loading its codec plugins) is not safe from two
// threads; it is started once, before the first context.
heif_context* newHeifContext() {
    static std::once_flag once;
    std::call_once(once, [] { heif_init(nullptr); });
    return heif_context_alloc();
}

libav::Frame decodeWithHeif(const fs::path& file) {
    std::unique_ptr<heif_context, HeifContextDeleter> context(newHeifContext());
    if (!context || heif_context_read_from_file(context.get(), file.c_str(), nullptr).code != heif_error_Ok)
        return nullptr;
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok) return nullptr;
    std::unique_ptr<heif_image_handle, HeifHandleDeleter> handle(rawHandle);
    if (tooLarge(heif_image_handle_get_width(rawHandle), heif_image_handle_get_height(rawHandle))) return nullptr;
    heif_image* rawImage = nullptr;
    if (heif_decode_image(rawHandle, &rawImage, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr).code !=
        heif_error_Ok)
        return nullptr;
    std::unique_ptr<heif_image, HeifImageDeleter> image(rawImage);
    const int width = heif_image_get_width(rawImage, heif_channel_interleaved);
    const int height = heif_image_get_height(rawImage, heif_channel_interleaved);
    int stride = 0;
    const std::uint8_t* plane = heif_image_get_plane_readonly(rawImage, heif_channel_interleaved, &stride);
    if (!plane || tooLarge(width, height) || stride < width * 3) return nullptr;
    libav::Frame frame(av_frame_alloc());
    if (!frame) return nullptr;
    frame->format = AV_PIX_FMT_RGB24;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    for (int y = 0; y < height; ++y)
        std::memcpy(frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0],
                    plane + static_cast<std::ptrdiff_t>(y) * stride, static_cast<std::size_t>(width) * 3);
    return frame;
}

std::optional<std::string> encodeJPEG(const AVFrame* picture) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    if (!codec) return std::nullopt;
    libav::Codec encoder(avcodec_alloc_context3(codec));
    if (!encoder) return std::nullopt;
    encoder->width = picture->width;
    encoder->height = picture->height;
    encoder->pix_fmt = AV_PIX_FMT_YUVJ420P;
    encoder->color_range = AVCOL_RANGE_JPEG;
    encoder->time_base = AVRational{1, 25};
    encoder->flags |= AV_CODEC_FLAG_QSCALE;
    encoder->global_quality = FF_QP2LAMBDA * 3;
    if (avcodec_open2(encoder.get(), codec, nullptr) < 0) return std::nullopt;

    // Padded frames on both sides: libswscale reads and writes past the
    // visible width in whole vector blocks.
    libav::Frame yuv(av_frame_alloc());
    if (!yuv) return std::nullopt;
    yuv->format = AV_PIX_FMT_YUVJ420P;
    yuv->width = picture->width;
    yuv->height = picture->height;
    if (av_frame_get_buffer(yuv.get(), 0) < 0) return std::nullopt;
    libav::Scaler scaler(sws_getContext(picture->width, picture->height, static_cast<AVPixelFormat>(picture->format),
                                        picture->width, picture->height, AV_PIX_FMT_YUVJ420P, SWS_BICUBIC, nullptr,
                                        nullptr, nullptr));
    if (!scaler) return std::nullopt;
    if (sws_scale(scaler.get(), picture->data, picture->linesize, 0, picture->height, yuv->data, yuv->linesize) <= 0)
        return std::nullopt;
    yuv->pts = 0;
    yuv->quality = encoder->global_quality;
    if (avcodec_send_frame(encoder.get(), yuv.get()) < 0 || avcodec_send_frame(encoder.get(), nullptr) < 0)
        return std::nullopt;
    libav::Packet packet(av_packet_alloc());
    if (!packet || avcodec_receive_packet(encoder.get(), packet.get()) < 0 || packet->size <= 0)
        return std::nullopt;
    return std::string(reinterpret_cast<const char*>(packet->data), static_cast<std::size_t>(packet->size));
}

std::uint32_t byteAt(std::string_view b, std::size_t i) { return static_cast<unsigned char>(b[i]); }
std::uint32_t be16(std::string_view b, std::size_t i) { return byteAt(b, i) << 8 | byteAt(b, i + 1); }
std::uint32_t be32(std::string_view b, std::size_t i) { return be16(b, i) << 16 | be16(b, i + 2); }

// An APPn segment that tells how to decode colour, not where or by whom the
// picture was taken. `payload` follows the segment's length.
bool colourSegment(std::uint32_t marker, std::string_view payload) {
    auto starts = [&](std::string_view id) { return payload.substr(0, id.size()) == id; };
    if (marker == 0xE0) return starts(std::string_view("JFIF\0", 5));
    if (marker == 0xE2) return starts(std::string_view("ICC_PROFILE\0", 12));
    if (marker == 0xEE) return starts("Adobe");
    return false;
}

// The entropy-coded data after a scan header at `at`: up to the next marker
// other than a stuffed 0xFF00 or a restart marker. npos when the file ends
// first.
std::size_t scanEnd(std::string_view b, std::size_t at) {
    for (std::size_t i = at; i + 1 < b.size(); ++i) {
        if (byteAt(b, i) != 0xFF) continue;
        const std::uint32_t next = byteAt(b, i + 1);
        if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
            ++i;
            continue;
        }
        return i; // a marker, or the fill bytes before one
    }
    return std::string_view::npos;
}

std::optional<std::string> jpegWithoutMetadata(std::string_view b) {
    std::string out("\xFF\xD8", 2);
    std::size_t i = 2;
    for (;;) {
        if (i >= b.size() || byteAt(b, i) != 0xFF) return std::nullopt;
        while (i < b.size() && byteAt(b, i) == 0xFF) ++i; // fill bytes
        if (i >= b.size()) return std::nullopt;
        const std::uint32_t marker = byteAt(b, i++);
        if (marker == 0xD9) return out + "\xFF\xD9"; // end of image; what follows is dropped
        if (marker == 0x00 || marker == 0xD8) return std::nullopt;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            out += '\xFF';
            out += static_cast<char>(marker);
            continue;
        }
        if (i + 2 > b.size()) return std::nullopt;
        const std::size_t length = be16(b, i);
        if (length < 2 || i + length > b.size()) return std::nullopt;
        const bool application = marker >= 0xE0 && marker <= 0xEF;
        const bool keep = marker != 0xFE && (!application || colourSegment(marker, b.substr(i + 2, length - 2)));
        if (keep) {
            out += '\xFF';
            out += static_cast<char>(marker);
            out.append(b.substr(i, length));
        }
        i += length;
        if (marker == 0xDA) {
            const std::size_t end = scanEnd(b, i);
            if (end == std::string_view::npos) return std::nullopt;
            out.append(b.substr(i, end - i));
            i = end;
        }
    }
}

std::optional<std::string> pngWithoutMetadata(std::string_view b) {
    constexpr std::string_view signature("\x89PNG\r\n\x1A\n", 8);
    if (b.substr(0, 8) != signature) return std::nullopt;
    std::string out(signature);
    std::size_t i = 8;
    for (;;) {
        if (i + 12 > b.size()) return std::nullopt;
        const std::size_t length = be32(b, i);
        if (length > 0x7FFFFFFFu || length > b.size() - i - 12) return std::nullopt;
        const std::string_view type = b.substr(i + 4, 4);
        for (char c : type)
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return std::nullopt;
        const bool text = type == "tEXt" || type == "zTXt" || type == "iTXt" || type == "eXIf" || type == "tIME";
        if (!text) out.append(b.substr(i, 12 + length));
        i += 12 + length;
        if (type == "IEND") return out; // what follows is dropped
    }
}

// Calls `segment(marker, payload)` for each marker segment of a JPEG's
// header, up to its first scan. False when the structure cannot be followed.
template <typename Segment>
bool forEachHeaderSegment(std::string_view b, Segment&& segment) {
    std::size_t i = 2;
    for (;;) {
        if (i >= b.size() || byteAt(b, i) != 0xFF) return false;
        while (i < b.size() && byteAt(b, i) == 0xFF) ++i; // fill bytes
        if (i >= b.size()) return false;
        const std::uint32_t marker = byteAt(b, i++);
        if (marker == 0xDA || marker == 0xD9) return true;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
        if (i + 2 > b.size()) return false;
        const std::size_t length = be16(b, i);
        if (length < 2 || i + length > b.size()) return false;
        segment(marker, b.substr(i + 2, length - 2));
        i += length;
    }
}

// The EXIF orientation (1 to 8) of a JPEG: how its stored pixels must be
// turned to show upright. 1 (as stored) when there is none or it can't be read.
int exifOrientation(std::string_view jpeg) {
    int orientation = 1;
    bool seen = false;
    forEachHeaderSegment(jpeg, [&](std::uint32_t marker, std::string_view payload) {
        constexpr std::string_view exif("Exif\0\0", 6);
        if (seen || marker != 0xE1 || payload.substr(0, exif.size()) != exif) return;
        seen = true; // the first Exif block counts, as everywhere
        const std::string_view tiff = payload.substr(exif.size());
        if (tiff.size() < 8) return;
        const bool little = tiff.substr(0, 2) == "II";
        if (!little && tiff.substr(0, 2) != "MM") return;
        const auto u16 = [&](std::size_t at) {
            return little ? byteAt(tiff, at) | byteAt(tiff, at + 1) << 8 : be16(tiff, at);
        };
        const auto u32 = [&](std::size_t at) {
            return little ? u16(at) | u16(at + 2) << 16 : be32(tiff, at);
        };
        if (u16(2) != 42) return;
        const std::size_t ifd = u32(4);
        if (ifd > tiff.size() - 2) return;
        const std::size_t entries = u16(ifd);
        for (std::size_t e = 0; e < entries; ++e) {
            const std::size_t at = ifd + 2 + 12 * e;
            if (at > tiff.size() - 12) return;
            // Orientation: one SHORT, stored in the entry itself.
            if (u16(at) != 0x0112) continue;
            if (u16(at + 2) == 3 && u32(at + 4) == 1 && u16(at + 8) >= 1 && u16(at + 8) <= 8)
                orientation = static_cast<int>(u16(at + 8));
            return;
        }
    });
    return orientation;
}

// How to find, for each pixel of the upright picture, its stored pixel:
// swap the axes first, then count x and/or y from the far side.
struct Turn {
    bool transpose, mirrorX, mirrorY;
};
constexpr Turn kTurns[9] = {
    {false, false, false},                                              // (unused)
    {false, false, false}, {false, true, false}, {false, true, true},   // 1 as stored, 2 mirrored, 3 half turn
    {false, false, true},  {true, false, false}, {true, false, true},   // 4 flipped, 5 transposed, 6 turn right
    {true, true, true},    {true, true, false},                         // 7 transversed, 8 turn left
};

// `stored` turned as EXIF `orientation` says, as RGB.
libav::Frame turned(const AVFrame* stored, int orientation) {
    const Turn turn = kTurns[orientation >= 1 && orientation <= 8 ? orientation : 1];
    const int w = stored->width;
    const int h = stored->height;
    libav::Frame rgb(av_frame_alloc());
    libav::Frame out(av_frame_alloc());
    if (!rgb || !out) return nullptr;
    rgb->format = out->format = AV_PIX_FMT_RGB24;
    rgb->width = w;
    rgb->height = h;
    out->width = turn.transpose ? h : w;
    out->height = turn.transpose ? w : h;
    if (av_frame_get_buffer(rgb.get(), 0) < 0 || av_frame_get_buffer(out.get(), 0) < 0) return nullptr;
    libav::Scaler scaler(sws_getContext(w, h, static_cast<AVPixelFormat>(stored->format), w, h, AV_PIX_FMT_RGB24,
                                        SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!scaler || sws_scale(scaler.get(), stored->data, stored->linesize, 0, h, rgb->data, rgb->linesize) <= 0)
        return nullptr;
    for (int y = 0; y < out->height; ++y) {
        std::uint8_t* row = out->data[0] + static_cast<std::ptrdiff_t>(y) * out->linesize[0];
        for (int x = 0; x < out->width; ++x) {
            int sx = turn.transpose ? y : x;
            int sy = turn.transpose ? x : y;
            if (turn.mirrorX) sx = w - 1 - sx;
            if (turn.mirrorY) sy = h - 1 - sy;
            std::memcpy(row + 3 * static_cast<std::ptrdiff_t>(x),
                        rgb->data[0] + static_cast<std::ptrdiff_t>(sy) * rgb->linesize[0] + 3 * sx, 3);
        }
    }
    return out;
}

// The colour profile of a JPEG (its APP2 "ICC_PROFILE" segments, whole, in
// order), to carry over to a picture made from it.
std::string iccSegments(std::string_view jpeg) {
    std::string segments;
    forEachHeaderSegment(jpeg, [&](std::uint32_t marker, std::string_view payload) {
        if (marker != 0xE2 || !colourSegment(marker, payload)) return;
        segments += "\xFF\xE2";
        segments += static_cast<char>((payload.size() + 2) >> 8);
        segments += static_cast<char>((payload.size() + 2) & 0xFF);
        segments.append(payload);
    });
    return segments;
}

// A JPEG stored turned, with the orientation in its EXIF, drawn upright and
// encoded again, with its colour profile and without the EXIF block.
std::optional<std::string> uprightJPEG(const fs::path& file, std::string_view bytes, int orientation) {
    const libav::Frame stored = decodeWithLibav(file);
    if (!stored) return std::nullopt;
    const libav::Frame upright = turned(stored.get(), orientation);
    if (!upright) return std::nullopt;
    std::optional<std::string> jpeg = encodeJPEG(upright.get());
    if (!jpeg || jpeg->size() < 4) return std::nullopt;
    // The profile goes right after the start of the image and its JFIF block.
    std::size_t at = 2;
    if (byteAt(*jpeg, 2) == 0xFF && byteAt(*jpeg, 3) == 0xE0 && jpeg->size() >= 6) at = 4 + be16(*jpeg, 4);
    jpeg->insert(std::min(at, jpeg->size()), iccSegments(bytes));
    return jpeg;
}

} // namespace

std::optional<std::string> CoverArt::withoutMetadata(std::string_view bytes) {
    if (bytes.size() >= 3 && byteAt(bytes, 0) == 0xFF && byteAt(bytes, 1) == 0xD8 && byteAt(bytes, 2) == 0xFF)
        return jpegWithoutMetadata(bytes);
    return pngWithoutMetadata(bytes);
}

bool CoverArt::isPNGOrJPEG(const fs::path& file) {
    const Kind kind = sniff(file);
    return kind == Kind::jpeg || kind == Kind::png;
}

std::optional<std::string> CoverArt::jpegOf(const fs::path& file) {
    libav::Frame frame = sniff(file) == Kind::heif ? decodeWithHeif(file) : nullptr;
    if (!frame) frame = decodeWithLibav(file);
    if (!frame) return std::nullopt;
    return encodeJPEG(frame.get());
}

std::optional<CoverArt::Picture> CoverArt::forTag(const fs::path& file) {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) return std::nullopt;
    const Kind kind = sniff(file);
    if (kind == Kind::jpeg || kind == Kind::png) {
        std::string bytes;
        try {
            bytes = core::readFile(file);
        } catch (const core::Error&) {
            return std::nullopt;
        }
        // A portrait phone photo is stored on its side with an EXIF note to
        // turn it, which players ignore in a cover: it is turned here.
        if (const int orientation = kind == Kind::jpeg ? exifOrientation(bytes) : 1; orientation != 1)
            if (auto upright = uprightJPEG(file, bytes, orientation)) return Picture{std::move(*upright), false};
        if (auto clean = withoutMetadata(bytes)) return Picture{std::move(*clean), kind == Kind::png};
        // A structure that cannot be followed: the pixels alone, if they decode.
    }
    if (auto jpeg = jpegOf(file)) return Picture{std::move(*jpeg), false};
    return std::nullopt;
}

} // namespace episode

#include "image/picture/TiffDecoder.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include <tiffio.h>

namespace image::detail {

namespace {

// The file in memory as libtiff reads it, and the first error libtiff
// reported about it.
struct Source {
    Bytes bytes;
    std::uint64_t at = 0;
    std::string error;
};

Source& sourceOf(thandle_t handle) { return *static_cast<Source*>(handle); }

tmsize_t readBytes(thandle_t handle, void* data, tmsize_t size) {
    Source& in = sourceOf(handle);
    if (size <= 0 || in.at >= in.bytes.size()) return 0;
    const auto n = std::min<std::uint64_t>(in.bytes.size() - in.at, static_cast<std::uint64_t>(size));
    std::memcpy(data, in.bytes.data() + in.at, n);
    in.at += n;
    return static_cast<tmsize_t>(n);
}
tmsize_t writeNothing(thandle_t, void*, tmsize_t) { return 0; }
toff_t seekTo(thandle_t handle, toff_t offset, int whence) {
    Source& in = sourceOf(handle);
    const std::uint64_t base = whence == SEEK_CUR ? in.at : whence == SEEK_END ? in.bytes.size() : 0;
    in.at = base + offset; // offsets "before" 0 wrap far past the end, where reads find nothing
    return in.at;
}
int closeNothing(thandle_t) { return 0; }
toff_t sizeOf(thandle_t handle) { return sourceOf(handle).bytes.size(); }
// The bytes are already in memory: libtiff decodes straight from them
// instead of copying each strip first.
int mapBytes(thandle_t handle, void** base, toff_t* size) {
    const Source& in = sourceOf(handle);
    *base = const_cast<std::uint8_t*>(in.bytes.data());
    *size = in.bytes.size();
    return 1;
}
void unmapNothing(thandle_t, void*, toff_t) {}

// libtiff's reports come to the item's own Source, not to process-wide
// handlers: items read TIFFs side by side.
int onError(TIFF*, void* user, const char* module, const char* format, va_list args) {
    Source& in = *static_cast<Source*>(user);
    if (!in.error.empty()) return 1;
    // libtiff's message is a printf format of its own; this is the one way
    // to turn it into text.
    char text[512];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::vsnprintf(text, sizeof text, format, args);
#pragma GCC diagnostic pop
    in.error = module && *module ? std::string(module) + ": " + text : std::string(text);
    return 1;
}
// Warnings (unknown tags, odd but readable fields) lose no pixels.
int onWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// One TIFF opened from memory, closed when it goes.
class TiffFile {
public:
    explicit TiffFile(Source& source) : options_(TIFFOpenOptionsAlloc()) {
        TIFFOpenOptionsSetErrorHandlerExtR(options_, onError, &source);
        TIFFOpenOptionsSetWarningHandlerExtR(options_, onWarning, &source);
        // No single allocation of libtiff's beyond what a picture within the
        // pixel limit needs (16-bit CMYK and alpha).
        TIFFOpenOptionsSetMaxSingleMemAlloc(options_, static_cast<tmsize_t>(kMaxImagePixels) * 10);
        tiff_ = TIFFClientOpenExt("memory", "r", &source, readBytes, writeNothing, seekTo, closeNothing, sizeOf,
                                  mapBytes, unmapNothing, options_);
    }
    ~TiffFile() {
        if (tiff_) TIFFClose(tiff_);
        TIFFOpenOptionsFree(options_);
    }
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;

    TIFF* get() const { return tiff_; }

    template <typename T>
    std::optional<T> field(ttag_t tag) const {
        T value{};
        if (TIFFGetFieldDefaulted(tiff_, tag, &value) != 1) return std::nullopt;
        return value;
    }

private:
    TIFFOpenOptions* options_;
    TIFF* tiff_ = nullptr;
};

// How the samples of a CMYK picture are laid out in the file.
struct Layout {
    std::uint32_t width = 0, height = 0;
    int samples = 4;         // per pixel: the inks and at most one extra
    int bytesPerSample = 1;  // 1 or 2
    bool planes = false;     // one plane per sample
    std::uint16_t extra = 0; // EXTRASAMPLE_* of the fifth sample
};

std::optional<Layout> cmykLayout(const TiffFile& tiff) {
    if (tiff.field<std::uint16_t>(TIFFTAG_PHOTOMETRIC) != PHOTOMETRIC_SEPARATED) return std::nullopt;
    if (tiff.field<std::uint16_t>(TIFFTAG_INKSET) != INKSET_CMYK) return std::nullopt;
    if (tiff.field<std::uint16_t>(TIFFTAG_SAMPLEFORMAT) != SAMPLEFORMAT_UINT) return std::nullopt;
    Layout layout;
    const auto bits = tiff.field<std::uint16_t>(TIFFTAG_BITSPERSAMPLE);
    if (bits != 8 && bits != 16) return std::nullopt;
    layout.bytesPerSample = *bits / 8;
    std::uint16_t extraCount = 0;
    std::uint16_t* extraKinds = nullptr;
    if (TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_EXTRASAMPLES, &extraCount, &extraKinds) != 1) return std::nullopt;
    const auto samples = tiff.field<std::uint16_t>(TIFFTAG_SAMPLESPERPIXEL);
    if (!samples || extraCount > 1 || *samples != 4 + extraCount) return std::nullopt;
    layout.samples = *samples;
    if (extraCount == 1) layout.extra = extraKinds[0];
    const auto planar = tiff.field<std::uint16_t>(TIFFTAG_PLANARCONFIG);
    if (planar != PLANARCONFIG_CONTIG && planar != PLANARCONFIG_SEPARATE) return std::nullopt;
    layout.planes = planar == PLANARCONFIG_SEPARATE;
    const auto width = tiff.field<std::uint32_t>(TIFFTAG_IMAGEWIDTH), height = tiff.field<std::uint32_t>(TIFFTAG_IMAGELENGTH);
    if (!width || !height || *width == 0 || *height == 0) return std::nullopt;
    if (std::uint64_t{*width} * *height > static_cast<std::uint64_t>(kMaxImagePixels)) return std::nullopt;
    layout.width = *width;
    layout.height = *height;
    return layout;
}

[[noreturn]] void damaged(const Source& source, const char* otherwise) {
    throw DamagedData(source.error.empty() ? std::string(otherwise) : source.error);
}

// Every sample of the picture, interleaved (CV_8U or CV_16U, one channel
// per sample), from its strips or tiles, in one plane or one per sample.
cv::Mat readSamples(const TiffFile& tiff, const Layout& layout, const Source& source) {
    TIFF* t = tiff.get();
    const bool tiled = TIFFIsTiled(t) != 0;
    std::uint32_t blockWidth = layout.width, blockHeight = 0;
    if (tiled) {
        blockWidth = tiff.field<std::uint32_t>(TIFFTAG_TILEWIDTH).value_or(0);
        blockHeight = tiff.field<std::uint32_t>(TIFFTAG_TILELENGTH).value_or(0);
    } else {
        blockHeight = std::min(tiff.field<std::uint32_t>(TIFFTAG_ROWSPERSTRIP).value_or(layout.height), layout.height);
    }
    if (blockWidth == 0 || blockHeight == 0) damaged(source, "the strips or tiles have no size");
    const int planes = layout.planes ? layout.samples : 1;
    const std::size_t pixelBytes = static_cast<std::size_t>(layout.samples) * layout.bytesPerSample;
    const std::size_t blockPixelBytes = layout.planes ? layout.bytesPerSample : pixelBytes;
    const std::uint64_t blockRowBytes = std::uint64_t{blockWidth} * blockPixelBytes;
    const std::uint64_t blockBytes = blockRowBytes * blockHeight;
    // A tile is at most 15 rows and columns wider than the picture (its
    // sides are multiples of 16); anything bigger isn't a picture's tile.
    const std::uint64_t pictureBytes = (std::uint64_t{layout.width} + 16) * (layout.height + 16) * blockPixelBytes;
    if (blockBytes > pictureBytes) damaged(source, "a strip or tile is larger than the picture");
    const std::uint64_t stored = tiled ? TIFFTileSize64(t) : TIFFStripSize64(t);
    if (stored != blockBytes) damaged(source, "the strips or tiles don't match the picture's layout");

    cv::Mat samples(static_cast<int>(layout.height), static_cast<int>(layout.width),
                    CV_MAKETYPE(layout.bytesPerSample == 2 ? CV_16U : CV_8U, layout.samples));
    std::vector<std::uint8_t> block(static_cast<std::size_t>(blockBytes));
    for (int plane = 0; plane < planes; ++plane)
        for (std::uint32_t top = 0; top < layout.height; top += blockHeight)
            for (std::uint32_t left = 0; left < layout.width; left += blockWidth) {
                const auto sample = static_cast<std::uint16_t>(plane);
                const tmsize_t read =
                    tiled ? TIFFReadTile(t, block.data(), left, top, 0, sample)
                          : TIFFReadEncodedStrip(t, TIFFComputeStrip(t, top, sample), block.data(),
                                                 static_cast<tmsize_t>(blockBytes));
                if (read < 0 || !source.error.empty()) damaged(source, "a strip or tile can't be read");
                const std::uint32_t rows = std::min(blockHeight, layout.height - top);
                const std::uint32_t columns = std::min(blockWidth, layout.width - left);
                if (static_cast<std::uint64_t>(read) < (rows - 1) * blockRowBytes + columns * blockPixelBytes)
                    damaged(source, DamagedData::kCutShort);
                for (std::uint32_t row = 0; row < rows; ++row) {
                    const std::uint8_t* from = block.data() + row * blockRowBytes;
                    std::uint8_t* to = samples.ptr<std::uint8_t>(static_cast<int>(top + row)) + left * pixelBytes;
                    if (!layout.planes) {
                        std::memcpy(to, from, columns * pixelBytes);
                        continue;
                    }
                    to += plane * layout.bytesPerSample;
                    for (std::uint32_t x = 0; x < columns; ++x, from += layout.bytesPerSample, to += pixelBytes)
                        std::memcpy(to, from, static_cast<std::size_t>(layout.bytesPerSample));
                }
            }
    return samples;
}

} // namespace

std::optional<TiffInks> decodeProfiledCmykTiff(Bytes bytes) {
    Source source{bytes, 0, {}};
    const TiffFile tiff(source);
    if (!tiff.get()) return std::nullopt; // OpenCV says what is wrong with it
    const auto layout = cmykLayout(tiff);
    if (!layout) return std::nullopt;
    std::uint32_t iccSize = 0;
    void* iccData = nullptr;
    if (TIFFGetField(tiff.get(), TIFFTAG_ICCPROFILE, &iccSize, &iccData) != 1 || !iccData) return std::nullopt;
    TiffInks picture;
    const auto* icc = static_cast<const std::uint8_t*>(iccData);
    picture.icc.assign(icc, icc + iccSize);
    if (!describesInks(picture.icc)) return std::nullopt;
    // What libtiff found odd while opening didn't stop it; from here on a
    // report is a picture it couldn't read.
    source.error.clear();

    const cv::Mat samples = readSamples(tiff, *layout, source);
    if (layout->samples == 4) {
        picture.inks = samples;
        return picture;
    }
    const int depth = samples.depth();
    picture.inks.create(samples.size(), CV_MAKETYPE(depth, 4));
    cv::Mat alpha(samples.size(), CV_MAKETYPE(depth, 1));
    const int toInks[] = {0, 0, 1, 1, 2, 2, 3, 3};
    cv::mixChannels(&samples, 1, &picture.inks, 1, toInks, 4);
    const int toAlpha[] = {4, 0};
    cv::mixChannels(&samples, 1, &alpha, 1, toAlpha, 1);
    switch (layout->extra) {
    case EXTRASAMPLE_ASSOCALPHA: {
        // Inks stored multiplied by their coverage: divided back, so that
        // the alpha that goes with them is straight.
        const double full = depth == CV_16U ? 65535.0 : 255.0;
        cv::Mat coverage;
        cv::merge(std::vector<cv::Mat>(4, alpha), coverage);
        cv::divide(picture.inks, coverage, picture.inks, full);
        picture.alpha = alpha;
        break;
    }
    case EXTRASAMPLE_UNASSALPHA:
        picture.alpha = alpha;
        break;
    default:
        break; // a fifth sample of no stated meaning is no transparency
    }
    return picture;
}

} // namespace image::detail

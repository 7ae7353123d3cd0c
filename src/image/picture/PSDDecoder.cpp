#include "image/picture/PSDDecoder.h"

#include <cstdint>
#include <limits>
#include <vector>

namespace image::detail {

namespace {

constexpr std::uint16_t kGrayscale = 1;
constexpr std::uint16_t kRGB = 3;
constexpr std::uint16_t kRaw = 0;
constexpr std::uint16_t kRLE = 1;
constexpr std::uint16_t kZip = 2;
constexpr std::uint16_t kZipPredicted = 3;
constexpr std::uint16_t kLargeDocument = 2; // the version of a PSB file
constexpr std::uint32_t kMaxSide = 300000;

// The colour modes of valid documents that aren't read.
std::optional<PhotoshopVariant> unreadMode(std::uint32_t mode) {
    switch (mode) {
    case 0: return PhotoshopVariant::bitmap;
    case 2: return PhotoshopVariant::indexed;
    case 4: return PhotoshopVariant::cmyk;
    case 7: return PhotoshopVariant::multichannel;
    case 8: return PhotoshopVariant::duotone;
    case 9: return PhotoshopVariant::lab;
    default: return std::nullopt;
    }
}

// Reads big-endian fields front to back; any read past the end marks the
// reader failed and gives 0.
class Reader {
public:
    explicit Reader(Bytes bytes) : b_(bytes) {}
    bool ok() const { return ok_; }
    std::size_t position() const { return at_; }
    std::size_t left() const { return b_.size() - at_; }
    std::uint32_t u16() { return static_cast<std::uint32_t>(take(2)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(take(4)); }
    void skip(std::uint64_t n) {
        if (n > left()) {
            ok_ = false;
            at_ = b_.size();
        } else {
            at_ += static_cast<std::size_t>(n);
        }
    }
    Bytes span(std::size_t n) {
        if (n > left()) {
            ok_ = false;
            return {};
        }
        const Bytes s = b_.subspan(at_, n);
        at_ += n;
        return s;
    }

private:
    std::uint64_t take(int n) {
        if (left() < static_cast<std::size_t>(n)) {
            ok_ = false;
            at_ = b_.size();
            return 0;
        }
        std::uint64_t v = 0;
        for (int i = 0; i < n; ++i) v = (v << 8) | b_[at_++];
        return v;
    }

    Bytes b_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

// Unpacks one PackBits row into exactly out.size() bytes; false when the
// row is short, runs over or doesn't fill the row.
bool unpackRow(Bytes packed, std::span<std::uint8_t> out) {
    std::size_t in = 0, filled = 0;
    while (in < packed.size() && filled < out.size()) {
        const auto header = static_cast<std::int8_t>(packed[in++]);
        if (header >= 0) {
            const std::size_t count = static_cast<std::size_t>(header) + 1;
            if (count > packed.size() - in || count > out.size() - filled) return false;
            for (std::size_t i = 0; i < count; ++i) out[filled++] = packed[in++];
        } else if (header != -128) {
            const std::size_t count = static_cast<std::size_t>(1 - header);
            if (in >= packed.size() || count > out.size() - filled) return false;
            const std::uint8_t value = packed[in++];
            for (std::size_t i = 0; i < count; ++i) out[filled++] = value;
        }
    }
    return filled == out.size();
}

// Photoshop stores the composite of a transparent document matted against
// white; this takes the matte out again.
template <typename T> void removeWhiteMatte(cv::Mat& rgba, double top) {
    for (int y = 0; y < rgba.rows; ++y) {
        auto* p = rgba.ptr<cv::Vec<T, 4>>(y);
        for (int x = 0; x < rgba.cols; ++x) {
            const double a = p[x][3] / top;
            if (a <= 0.0 || a >= 1.0) continue;
            for (int c = 0; c < 3; ++c) {
                const double v = (p[x][c] - top * (1.0 - a)) / a;
                p[x][c] = cv::saturate_cast<T>(v);
            }
        }
    }
}

// The least a PackBits row of `rowBytes` bytes can take: runs of 128 repeats.
std::size_t leastPackedRow(std::size_t rowBytes) { return 2 * ((rowBytes + 127) / 128); }

} // namespace

std::optional<cv::Mat> decodePsd(Bytes bytes) {
    Reader r(bytes);
    if (r.u32() != 0x38425053u /* 8BPS */) return std::nullopt;
    const std::uint32_t version = r.u16();
    if (version == kLargeDocument) throw UnsupportedDocument(PhotoshopVariant::largeDocument);
    if (version != 1) return std::nullopt;
    r.skip(6);
    const std::uint32_t channels = r.u16();
    const std::uint32_t height = r.u32(), width = r.u32();
    const std::uint32_t depth = r.u16(), mode = r.u16();
    if (!r.ok() || width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return std::nullopt;
    if (std::int64_t{width} * height > kMaxImagePixels) return std::nullopt;
    if (const auto variant = unreadMode(mode)) throw UnsupportedDocument(*variant);
    if (mode != kGrayscale && mode != kRGB) return std::nullopt;
    if (depth == 32) throw UnsupportedDocument(PhotoshopVariant::floatingPoint);
    if (depth != 8 && depth != 16) return std::nullopt;
    const std::uint32_t colour = mode == kRGB ? 3 : 1;
    if (channels < colour || channels > 56) return std::nullopt;
    const std::uint32_t used = channels > colour ? colour + 1 : colour; // with alpha when there is one
    // Past the header, data that runs out is a document cut short.
    for (int section = 0; section < 3; ++section) r.skip(r.u32()); // colour mode data, resources, layers
    const std::uint32_t compression = r.u16();
    if (!r.ok()) throw DamagedData::cutShort();
    if (compression == kZip || compression == kZipPredicted) throw UnsupportedDocument(PhotoshopVariant::zipCompressed);
    if (compression != kRaw && compression != kRLE) return std::nullopt;

    // What the header claims is checked against what the file holds before
    // the planes are made: a header alone must not cost the memory of the
    // picture it claims.
    const std::size_t bytesPerSample = depth / 8;
    const std::size_t rowBytes = std::size_t{width} * bytesPerSample;
    const std::size_t planeBytes = rowBytes * height;
    std::vector<std::uint32_t> counts; // RLE: the packed size of every row of every channel
    if (compression == kRaw) {
        if (planeBytes * channels > r.left()) throw DamagedData::cutShort();
    } else {
        const std::size_t rows = std::size_t{channels} * height;
        if (rows * 2 > r.left()) throw DamagedData::cutShort();
        counts.resize(rows);
        std::size_t total = 0;
        for (auto& count : counts) total += count = r.u16();
        if (total > r.left()) throw DamagedData::cutShort();
        const std::size_t least = leastPackedRow(rowBytes);
        for (std::size_t row = 0; row < std::size_t{used} * height; ++row)
            if (counts[row] < least) return std::nullopt;
    }

    std::vector<std::uint8_t> planes(planeBytes * used);
    if (compression == kRaw) {
        for (std::uint32_t c = 0; c < used; ++c) {
            const Bytes plane = r.span(planeBytes);
            std::copy(plane.begin(), plane.end(), planes.begin() + static_cast<std::ptrdiff_t>(c * planeBytes));
        }
    } else {
        for (std::size_t row = 0; row < std::size_t{used} * height; ++row) {
            const Bytes packed = r.span(counts[row]);
            const std::span<std::uint8_t> out(planes.data() + row * rowBytes, rowBytes);
            if (!unpackRow(packed, out)) return std::nullopt;
        }
    }

    const int type = depth == 8 ? CV_8UC4 : CV_16UC4;
    const double top = depth == 8 ? std::numeric_limits<std::uint8_t>::max() : std::numeric_limits<std::uint16_t>::max();
    cv::Mat rgba(static_cast<int>(height), static_cast<int>(width), type, cv::Scalar::all(top));
    const auto sample = [&](std::uint32_t channel, std::size_t index) -> std::uint16_t {
        const std::uint8_t* p = planes.data() + channel * planeBytes + index * bytesPerSample;
        return depth == 8 ? p[0] : static_cast<std::uint16_t>((p[0] << 8) | p[1]);
    };
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::size_t i = std::size_t{y} * width + x;
            std::uint16_t px[4] = {0, 0, 0, static_cast<std::uint16_t>(top)};
            for (std::uint32_t c = 0; c < 3; ++c) px[c] = sample(colour == 3 ? c : 0, i);
            if (used > colour) px[3] = sample(colour, i);
            if (depth == 8) {
                auto& out = rgba.at<cv::Vec4b>(static_cast<int>(y), static_cast<int>(x));
                for (int c = 0; c < 4; ++c) out[c] = static_cast<std::uint8_t>(px[c]);
            } else {
                auto& out = rgba.at<cv::Vec<std::uint16_t, 4>>(static_cast<int>(y), static_cast<int>(x));
                for (int c = 0; c < 4; ++c) out[c] = px[c];
            }
        }
    }
    if (used > colour) {
        if (depth == 8) removeWhiteMatte<std::uint8_t>(rgba, top);
        else removeWhiteMatte<std::uint16_t>(rgba, top);
    }
    return rgba;
}

} // namespace image::detail

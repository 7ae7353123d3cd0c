#include "image/texture/TexturePNG.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <zlib.h>

namespace image::textures {

namespace {

constexpr int kCompressionLevel = 6;
constexpr std::size_t kStripeBytes = std::size_t{1} << 20; // uncompressed bytes per stripe, about
constexpr std::size_t kIdatBytes = std::size_t{8} << 20;

void putBE32(std::string& out, std::uint32_t v) {
    out.push_back(static_cast<char>(v >> 24));
    out.push_back(static_cast<char>(v >> 16));
    out.push_back(static_cast<char>(v >> 8));
    out.push_back(static_cast<char>(v));
}

void putChunk(std::string& out, const char type[4], const char* data, std::size_t length) {
    putBE32(out, static_cast<std::uint32_t>(length));
    const std::size_t start = out.size();
    out.append(type, 4);
    out.append(data, length);
    const auto crc = crc32(0L, reinterpret_cast<const Bytef*>(out.data() + start), static_cast<uInt>(length + 4));
    putBE32(out, static_cast<std::uint32_t>(crc));
}

inline std::uint8_t paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
    return static_cast<std::uint8_t>(pb <= pc ? b : c);
}

inline std::uint8_t filtered(int kind, int x, int a, int b, int c) {
    switch (kind) {
    case 1:
        return static_cast<std::uint8_t>(x - a);
    case 2:
        return static_cast<std::uint8_t>(x - b);
    case 3:
        return static_cast<std::uint8_t>(x - ((a + b) >> 1));
    case 4:
        return static_cast<std::uint8_t>(x - paeth(a, b, c));
    default:
        return static_cast<std::uint8_t>(x);
    }
}

inline unsigned magnitude(int v) { return static_cast<unsigned>(std::abs(static_cast<int>(static_cast<std::int8_t>(v)))); }

// Writes the filter byte and the filtered row, choosing among the five
// filters the one with the smallest sum of signed magnitudes (libpng's
// heuristic). `prior` is a row of zeros for the first row.
void filterRow(const std::uint8_t* row, const std::uint8_t* prior, std::size_t length, std::size_t bpp,
               std::uint8_t* out) {
    std::uint64_t cost[5] = {0, 0, 0, 0, 0};
    for (std::size_t i = 0; i < length; ++i) {
        const int x = row[i];
        const int a = i >= bpp ? row[i - bpp] : 0;
        const int b = prior[i];
        const int c = i >= bpp ? prior[i - bpp] : 0;
        cost[0] += magnitude(x);
        cost[1] += magnitude(x - a);
        cost[2] += magnitude(x - b);
        cost[3] += magnitude(x - ((a + b) >> 1));
        cost[4] += magnitude(x - paeth(a, b, c));
    }
    const int best = static_cast<int>(std::min_element(cost, cost + 5) - cost);
    out[0] = static_cast<std::uint8_t>(best);
    for (std::size_t i = 0; i < length; ++i) {
        const int a = i >= bpp ? row[i - bpp] : 0;
        const int c = i >= bpp ? prior[i - bpp] : 0;
        out[i + 1] = filtered(best, row[i], a, prior[i], c);
    }
}

struct Stripe {
    std::string deflated;
    uLong adler = 1;
    std::size_t rawLength = 0;
    bool ok = false;
};

// The row's samples as PNG stores them (16-bit big-endian).
const std::uint8_t* storedRow(const cv::Mat& pixels, int y, std::vector<std::uint8_t>& buffer) {
    if (pixels.depth() == CV_8U) return pixels.ptr<std::uint8_t>(y);
    const auto* src = pixels.ptr<std::uint16_t>(y);
    const std::size_t samples = static_cast<std::size_t>(pixels.cols) * static_cast<std::size_t>(pixels.channels());
    for (std::size_t i = 0; i < samples; ++i) {
        buffer[2 * i] = static_cast<std::uint8_t>(src[i] >> 8);
        buffer[2 * i + 1] = static_cast<std::uint8_t>(src[i]);
    }
    return buffer.data();
}

void encodeStripe(const cv::Mat& pixels, int first, int last, bool final, Stripe& stripe) {
    const std::size_t bpp = pixels.elemSize();
    const std::size_t length = static_cast<std::size_t>(pixels.cols) * bpp;
    std::vector<std::uint8_t> raw((length + 1) * static_cast<std::size_t>(last - first));
    // Two row buffers in turn for 16-bit samples; 8-bit rows are used in place.
    std::vector<std::uint8_t> buffers[2] = {std::vector<std::uint8_t>(length), std::vector<std::uint8_t>(length)};
    const std::vector<std::uint8_t> zeros(length, 0);
    const std::uint8_t* prior = first > 0 ? storedRow(pixels, first - 1, buffers[1]) : zeros.data();
    for (int y = first; y < last; ++y) {
        const std::uint8_t* row = storedRow(pixels, y, buffers[(y - first) % 2]);
        std::uint8_t* out = raw.data() + (length + 1) * static_cast<std::size_t>(y - first);
        filterRow(row, prior, length, bpp, out);
        prior = row;
    }

    stripe.rawLength = raw.size();
    stripe.adler = adler32(1L, raw.data(), static_cast<uInt>(raw.size()));
    z_stream z{};
    if (deflateInit2(&z, kCompressionLevel, Z_DEFLATED, -15, 8, Z_FILTERED) != Z_OK) return;
    stripe.deflated.resize(deflateBound(&z, static_cast<uLong>(raw.size())) + 16);
    z.next_in = raw.data();
    z.avail_in = static_cast<uInt>(raw.size());
    z.next_out = reinterpret_cast<Bytef*>(stripe.deflated.data());
    z.avail_out = static_cast<uInt>(stripe.deflated.size());
    const int rc = deflate(&z, final ? Z_FINISH : Z_SYNC_FLUSH);
    stripe.ok = final ? rc == Z_STREAM_END : (rc == Z_OK && z.avail_in == 0);
    stripe.deflated.resize(z.total_out);
    deflateEnd(&z);
}

} // namespace

std::optional<std::string> encodePNG(const cv::Mat& pixels) {
    const int channels = pixels.channels();
    const int depth = pixels.depth();
    if (pixels.empty() || channels < 1 || channels > 4 || (depth != CV_8U && depth != CV_16U)) return std::nullopt;
    const std::size_t length = static_cast<std::size_t>(pixels.cols) * pixels.elemSize();
    if (length + 1 > kStripeBytes * 64) return std::nullopt; // a row beyond any sane texture
    const int rowsPerStripe = static_cast<int>(std::max<std::size_t>(1, kStripeBytes / (length + 1)));
    const int stripeCount = (pixels.rows + rowsPerStripe - 1) / rowsPerStripe;

    std::vector<Stripe> stripes(static_cast<std::size_t>(stripeCount));
    auto work = [&](const cv::Range& range) {
        for (int s = range.start; s < range.end; ++s) {
            const int first = s * rowsPerStripe;
            const int last = std::min(pixels.rows, first + rowsPerStripe);
            encodeStripe(pixels, first, last, s == stripeCount - 1, stripes[static_cast<std::size_t>(s)]);
        }
    };
    if (stripeCount > 1)
        cv::parallel_for_(cv::Range(0, stripeCount), work);
    else
        work(cv::Range(0, stripeCount));

    std::string stream = {static_cast<char>(0x78), static_cast<char>(0x9C)}; // zlib header, default level
    uLong adler = 1;
    for (const Stripe& s : stripes) {
        if (!s.ok) return std::nullopt;
        stream += s.deflated;
        adler = adler32_combine(adler, s.adler, static_cast<z_off_t>(s.rawLength));
    }
    putBE32(stream, static_cast<std::uint32_t>(adler));

    static constexpr std::uint8_t kColorTypes[] = {0, 4, 2, 6};
    std::string header;
    putBE32(header, static_cast<std::uint32_t>(pixels.cols));
    putBE32(header, static_cast<std::uint32_t>(pixels.rows));
    header.push_back(static_cast<char>(depth == CV_16U ? 16 : 8));
    header.push_back(static_cast<char>(kColorTypes[channels - 1]));
    header.append(3, '\0'); // deflate, adaptive filtering, no interlace

    std::string png = "\x89PNG\r\n\x1a\n";
    png.reserve(stream.size() + stream.size() / kIdatBytes * 12 + 64);
    putChunk(png, "IHDR", header.data(), header.size());
    for (std::size_t at = 0; at < stream.size(); at += kIdatBytes)
        putChunk(png, "IDAT", stream.data() + at, std::min(kIdatBytes, stream.size() - at));
    putChunk(png, "IEND", nullptr, 0);
    return png;
}

} // namespace image::textures

#include "image/picture/Resampler.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <numbers>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/hal/intrin.hpp>

#include <vips/vips.h>

namespace image {

namespace {

// libvips is started once per process. The operation cache is switched off
// (a batch scales many unrelated pictures once each) and every loader that
// isn't meant for untrusted input is blocked; we only hand it memory anyway.
void startVips() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (VIPS_INIT("quorvel") != 0) throw std::runtime_error("libvips could not be started");
        vips_cache_set_max(0);
        vips_cache_set_max_mem(0);
        vips_cache_set_max_files(0);
        vips_block_untrusted_set(TRUE);
    });
}

// libvips compiles the vector code of an 8-bit shrink (with liborc) while it
// builds the operation, and frees that code when the last reference to the
// operation goes, which is when the last image of its chain is released.
// liborc hands out and takes back that code memory in one process-wide list
// that its free doesn't lock, so two pictures shrunk at once corrupt it.
// Every call that builds an operation, and every release of an object we
// hold, takes this lock; computing the pixels, the expensive part, runs
// without it (libvips' workers drop their references before the call that
// computes returns). The cache trim that can drop another item's operation
// runs inside a build, so it is covered too.
std::mutex& vipsMutex() {
    static std::mutex m;
    return m;
}

// Calls a libvips function under the lock. The arguments are evaluated
// before the lock is taken.
template <typename Fn, typename... Args>
auto locked(Fn fn, Args... args) {
    const std::lock_guard lock(vipsMutex());
    return fn(args...);
}

void release(gpointer object) {
    const std::lock_guard lock(vipsMutex());
    g_object_unref(object);
}

// Owns one reference to a VipsImage.
class VipsRef {
public:
    VipsRef() = default;
    explicit VipsRef(VipsImage* image) : image_(image) {}
    ~VipsRef() { reset(); }
    VipsRef(const VipsRef&) = delete;
    VipsRef& operator=(const VipsRef&) = delete;
    VipsRef(VipsRef&& other) noexcept : image_(other.image_) { other.image_ = nullptr; }
    VipsRef& operator=(VipsRef&& other) noexcept {
        if (this != &other) {
            reset();
            image_ = other.image_;
            other.image_ = nullptr;
        }
        return *this;
    }
    void reset() {
        if (image_) release(image_);
        image_ = nullptr;
    }
    VipsImage* get() const { return image_; }
    VipsImage** out() {
        reset();
        return &image_;
    }
    explicit operator bool() const { return image_ != nullptr; }

private:
    VipsImage* image_ = nullptr;
};

struct Layout {
    VipsBandFormat format;
    double maxAlpha;
};

Layout layoutOf(int depth) {
    switch (depth) {
    case CV_8U:
        return {VIPS_FORMAT_UCHAR, 255.0};
    case CV_16U:
        return {VIPS_FORMAT_USHORT, 65535.0};
    case CV_32F:
        return {VIPS_FORMAT_FLOAT, 1.0};
    default:
        throw std::invalid_argument("resample: unsupported sample type");
    }
}

// The error text is shared by the whole process; it is taken and cleared in
// one step, so an item running beside this one neither reads nor wipes it.
[[noreturn]] void fail(const char* step) {
    char* text = vips_error_buffer_copy();
    std::string message = std::string("resample: ") + step + ": " + (text ? text : "");
    g_free(text);
    throw std::runtime_error(message);
}

// Makes `image` exactly width x height: extra rows or columns are cut off,
// missing ones repeat the edge.
VipsRef exactSize(VipsRef image, int width, int height) {
    VipsImage* in = image.get();
    if (in->Xsize == width && in->Ysize == height) return image;
    VipsRef cropped;
    if (in->Xsize > width || in->Ysize > height) {
        const int w = std::min(in->Xsize, width);
        const int h = std::min(in->Ysize, height);
        if (locked(vips_crop, in, cropped.out(), 0, 0, w, h, nullptr) != 0) fail("crop");
    } else {
        cropped = std::move(image);
    }
    if (cropped.get()->Xsize == width && cropped.get()->Ysize == height) return cropped;
    VipsRef embedded;
    if (locked(vips_embed, cropped.get(), embedded.out(), 0, 0, width, height, "extend", VIPS_EXTEND_COPY, nullptr) != 0)
        fail("embed");
    return embedded;
}


// Whether rows first to end - 1 have only full alpha samples.
template <typename T>
bool rowsFull(const cv::Mat& pixels, T full, int first, int end) {
    const int bands = pixels.channels();
    if constexpr (std::is_same_v<T, std::uint8_t> && std::endian::native == std::endian::little) {
        if (bands == 4) {
            // Whole RGBA pixels ANDed together: alpha is the top byte.
            for (int y = first; y < end; ++y) {
                const std::uint8_t* row = pixels.ptr<std::uint8_t>(y);
                std::uint32_t all = ~std::uint32_t{0};
                for (int x = 0; x < pixels.cols; ++x) {
                    std::uint32_t pixel;
                    std::memcpy(&pixel, row + 4 * static_cast<std::ptrdiff_t>(x), sizeof pixel);
                    all &= pixel;
                }
                if ((all >> 24) != full) return false;
            }
            return true;
        }
    }
    for (int y = first; y < end; ++y) {
        const T* p = pixels.ptr<T>(y) + (bands - 1);
        // The lowest of a row, then one test: the loop stays branch-free.
        T lowest = full;
        for (int x = 0; x < pixels.cols; ++x) lowest = std::min(lowest, p[static_cast<std::ptrdiff_t>(x) * bands]);
        if (!(lowest >= full)) return false;
    }
    return true;
}

// Bands of rows on OpenCV's workers; a band that finds a transparent pixel
// stops the others at their next band.
template <typename T>
bool lastBandFull(const cv::Mat& pixels, T full) {
    constexpr int kBandRows = 64;
    std::atomic<bool> transparent{false};
    cv::parallel_for_(cv::Range(0, (pixels.rows + kBandRows - 1) / kBandRows), [&](const cv::Range& bands) {
        for (int b = bands.start; b < bands.end && !transparent.load(std::memory_order_relaxed); ++b)
            if (!rowsFull(pixels, full, b * kBandRows, std::min(pixels.rows, (b + 1) * kBandRows)))
                transparent.store(true, std::memory_order_relaxed);
    });
    return !transparent.load();
}

// A sum of `factor` samples divided by `factor`, rounded to the nearest
// sample for integer types. 8-bit sums are few enough to look up, which
// keeps a division out of the loops.
template <typename T>
class BlockMean {
public:
    using Sum = std::conditional_t<std::is_floating_point_v<T>, double,
                                   std::conditional_t<std::is_same_v<T, std::uint8_t>, std::uint32_t, std::uint64_t>>;

    explicit BlockMean(int factor) : factor_(factor) {
        if constexpr (std::is_same_v<T, std::uint8_t>) {
            table_.resize(static_cast<std::size_t>(255 * factor + 1));
            for (std::size_t sum = 0; sum < table_.size(); ++sum) table_[sum] = divided(static_cast<Sum>(sum));
        }
    }

    T operator()(Sum sum) const {
        if constexpr (std::is_same_v<T, std::uint8_t>)
            return table_[sum];
        else
            return divided(sum);
    }

private:
    T divided(Sum sum) const {
        if constexpr (std::is_floating_point_v<T>)
            return static_cast<T>(sum / factor_);
        else
            return static_cast<T>((sum + static_cast<Sum>(factor_ / 2)) / static_cast<Sum>(factor_));
    }

    int factor_;
    std::vector<T> table_;
};

// The means down the columns of 8-bit rows, 16 columns at a time (sums of
// up to 257 rows stay in 16 bits); returns how many columns it did.
int columnMeans8(const std::vector<const std::uint8_t*>& block, int across, const BlockMean<std::uint8_t>& mean,
                 std::uint8_t* column) {
    std::array<std::uint16_t, 16> sums{};
    int i = 0;
    for (; i + 16 <= across; i += 16) {
        cv::v_uint16x8 low, high;
        cv::v_expand(cv::v_load(block[0] + i), low, high);
        for (std::size_t k = 1; k < block.size(); ++k) {
            cv::v_uint16x8 nextLow, nextHigh;
            cv::v_expand(cv::v_load(block[k] + i), nextLow, nextHigh);
            low += nextLow;
            high += nextHigh;
        }
        cv::v_store(sums.data(), low);
        cv::v_store(sums.data() + 8, high);
        for (std::size_t j = 0; j < sums.size(); ++j) column[static_cast<std::size_t>(i) + j] = mean(sums[j]);
    }
    return i;
}

// Rows of blocks on OpenCV's workers, each block averaged down its columns,
// then across, each step rounded (as libvips' shrink does). A block past
// the picture's edge repeats the last row or column.
template <typename T>
void averageBlocksAs(const cv::Mat& source, cv::Mat& result, int factor) {
    using Sum = typename BlockMean<T>::Sum;
    const BlockMean<T> mean(factor);
    const int bands = source.channels();
    const int across = source.cols * bands;
    const int lastRow = source.rows - 1;
    // Output columns whose blocks lie wholly inside the picture.
    const int whole = std::min(result.cols, source.cols / factor);
    cv::parallel_for_(cv::Range(0, result.rows), [&](const cv::Range& rows) {
        std::vector<const T*> block(static_cast<std::size_t>(factor));
        std::vector<T> column(static_cast<std::size_t>(across));
        for (int y = rows.start; y < rows.end; ++y) {
            for (int k = 0; k < factor; ++k)
                block[static_cast<std::size_t>(k)] = source.ptr<T>(std::min(y * factor + k, lastRow));
            int i = 0;
            if constexpr (std::is_same_v<T, std::uint8_t>) {
                if (factor <= 257) i = columnMeans8(block, across, mean, column.data());
            }
            for (; i < across; ++i) {
                Sum sum = block[0][i];
                for (int k = 1; k < factor; ++k) sum += block[static_cast<std::size_t>(k)][i];
                column[static_cast<std::size_t>(i)] = mean(sum);
            }
            T* out = result.ptr<T>(y);
            const T* in = column.data();
            for (int x = 0; x < whole; ++x, in += factor * bands)
                for (int b = 0; b < bands; ++b) {
                    Sum sum = in[b];
                    for (int k = 1; k < factor; ++k) sum += in[k * bands + b];
                    out[x * bands + b] = mean(sum);
                }
            for (int x = whole; x < result.cols; ++x)
                for (int b = 0; b < bands; ++b) {
                    Sum sum{0};
                    for (int k = 0; k < factor; ++k)
                        sum += column[static_cast<std::size_t>(std::min(x * factor + k, source.cols - 1) * bands + b)];
                    out[x * bands + b] = mean(sum);
                }
        }
    });
}

std::atomic<int> itemsRunning{0};
std::atomic<int> fixedThreads{0};

// The threads of one computation's own pool; 0 leaves it to libvips.
int threadsForOneComputation() {
    if (const int fixed = fixedThreads.load(); fixed > 0) return fixed;
    const int items = itemsRunning.load();
    if (items <= 1) return 0;
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    return std::max(1, cores / items);
}

cv::Mat toMat(const VipsRef& image, int type) {
    if (const int threads = threadsForOneComputation(); threads > 0)
        vips_image_set_int(image.get(), VIPS_META_CONCURRENCY, threads);
    cv::Mat result(image.get()->Ysize, image.get()->Xsize, type);
    const std::size_t expected = result.total() * result.elemSize();
    std::size_t size = 0;
    void* memory = vips_image_write_to_memory(image.get(), &size);
    if (!memory) fail("render");
    if (size != expected) {
        g_free(memory);
        throw std::runtime_error("resample: unexpected output size");
    }
    std::memcpy(result.data, memory, size);
    g_free(memory);
    return result;
}

VipsRef roundedTo(VipsRef image, VipsBandFormat format) {
    if (image.get()->BandFmt == format) return image;
    if (format != VIPS_FORMAT_FLOAT) {
        // vips_cast truncates; round to the nearest sample instead.
        VipsRef rounded;
        if (locked(vips_round, image.get(), rounded.out(), VIPS_OPERATION_ROUND_RINT, nullptr) != 0) fail("round");
        image = std::move(rounded);
    }
    VipsRef cast;
    if (locked(vips_cast, image.get(), cast.out(), format, nullptr) != 0) fail("cast");
    return cast;
}

// ---- Enlarging ----
//
// vips_resize enlarges with a corner-aligned cubic, which moves the picture
// half an output pixel right and down. Enlargement here is Lanczos-3 with
// pixel centres aligned (output centre x + 0.5 sits on input (x + 0.5) / s),
// done by vips_affine with an interpolator of our own, one axis at a time.

constexpr int kLobes = 3;
constexpr int kWindow = 2 * kLobes;
// Edge pixels repeated around the picture, so every window lies inside it.
constexpr int kMargin = kLobes + 1;

// The six weights for a sample `t` (0 <= t < 1) past the third pixel of the
// window, normalised to sum 1; a whole-pixel position takes that pixel alone.
// Pixel k sits at x = t + 2 - k, and L(x) = 3 sin(pi x) sin(pi x / 3) /
// (pi x)^2; both sines follow from those of t by angle addition, so a
// window costs three sines, not twelve.
std::array<double, kWindow> lanczosWeights(double t) {
    std::array<double, kWindow> w{};
    if (t == 0.0) {
        w[kLobes - 1] = 1.0;
        return w;
    }
    constexpr double pi = std::numbers::pi;
    // cos and sin of pi (2 - k) / 3, k = 0 to 5.
    static const auto shifts = [] {
        std::array<std::array<double, 2>, kWindow> table{};
        for (int k = 0; k < kWindow; ++k) {
            const double shift = pi * ((kLobes - 1) - k) / kLobes;
            table[static_cast<std::size_t>(k)] = {std::cos(shift), std::sin(shift)};
        }
        return table;
    }();
    const double s = std::sin(pi * t), s3 = std::sin(pi * t / kLobes), c3 = std::cos(pi * t / kLobes);
    double sum = 0.0;
    for (int k = 0; k < kWindow; ++k) {
        const auto [cosShift, sinShift] = shifts[static_cast<std::size_t>(k)];
        const double x = t + (kLobes - 1) - k;
        const double sinX = (k % 2 == 0) ? s : -s;            // sin(pi x)
        const double sinX3 = s3 * cosShift + c3 * sinShift; // sin(pi x / 3)
        sum += w[static_cast<std::size_t>(k)] = kLobes * sinX * sinX3 / (pi * pi * x * x);
    }
    for (auto& v : w) v /= sum;
    return w;
}

struct LanczosInterpolate {
    VipsInterpolate parent;
};
struct LanczosInterpolateClass {
    VipsInterpolateClass parent;
};

// Called by vips_affine for every output pixel with the input position
// (pixel centres on whole numbers). Float samples only.
void interpolateLanczos(VipsInterpolate*, void* out, VipsRegion* in, double x, double y) {
    const double fx = std::floor(x), fy = std::floor(y);
    const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
    const auto wx = lanczosWeights(x - fx);
    const auto wy = lanczosWeights(y - fy);
    const int bands = in->im->Bands;
    const auto rowStep = static_cast<std::ptrdiff_t>(VIPS_REGION_LSKIP(in) / sizeof(float));
    const auto* window = reinterpret_cast<const float*>(VIPS_REGION_ADDR(in, ix - (kLobes - 1), iy - (kLobes - 1)));
    auto* q = static_cast<float*>(out);
    for (int b = 0; b < bands; ++b) {
        double sum = 0.0;
        for (int j = 0; j < kWindow; ++j) {
            const double wj = wy[static_cast<std::size_t>(j)];
            if (wj == 0.0) continue;
            const float* row = window + j * rowStep + b;
            double across = 0.0;
            for (int k = 0; k < kWindow; ++k) across += wx[static_cast<std::size_t>(k)] * row[k * bands];
            sum += wj * across;
        }
        q[b] = static_cast<float>(sum);
    }
}

void initLanczosClass(gpointer klass, gpointer) {
    auto* object = VIPS_OBJECT_CLASS(klass);
    object->nickname = "qv_lanczos3";
    object->description = "Lanczos-3, pixel centres aligned";
    auto* interpolate = VIPS_INTERPOLATE_CLASS(klass);
    interpolate->interpolate = interpolateLanczos;
    interpolate->window_size = kWindow;
    interpolate->window_offset = kLobes - 1;
}

GType lanczosInterpolateType() {
    static const GType type =
        g_type_register_static_simple(VIPS_TYPE_INTERPOLATE, "QvLanczos3Interpolate", sizeof(LanczosInterpolateClass),
                                      initLanczosClass, sizeof(LanczosInterpolate), nullptr, GTypeFlags(0));
    return type;
}

// Enlarges float samples along one axis to `size` (the other keeps its
// size).
VipsRef enlargeAxis(const VipsRef& image, bool horizontal, int size) {
    VipsImage* in = image.get();
    const int from = horizontal ? in->Xsize : in->Ysize;
    const double scale = static_cast<double>(size) / from;
    VipsRef padded;
    if (locked(vips_embed, in, padded.out(), kMargin, kMargin, in->Xsize + 2 * kMargin, in->Ysize + 2 * kMargin,
               "extend", VIPS_EXTEND_COPY, nullptr) != 0)
        fail("embed");
    GObject* interpolator = static_cast<GObject*>(g_object_new(lanczosInterpolateType(), nullptr));
    VipsArrayInt* area = vips_array_int_newv(4, 0, 0, horizontal ? size : in->Xsize, horizontal ? in->Ysize : size);
    // Output X = s * (x + idx) + odx for input x of the padded picture:
    // centres align with idx = 0.5 - margin, odx = -0.5; the other axis maps
    // pixel to pixel.
    const double a = horizontal ? scale : 1.0, d = horizontal ? 1.0 : scale;
    const double idx = (horizontal ? 0.5 : 0.0) - kMargin, idy = (horizontal ? 0.0 : 0.5) - kMargin;
    const double odx = horizontal ? -0.5 : 0.0, ody = horizontal ? 0.0 : -0.5;
    VipsRef enlarged;
    const int status = locked(vips_affine, padded.get(), enlarged.out(), a, 0.0, 0.0, d, "interpolate", interpolator,
                              "oarea", area, "idx", idx, "idy", idy, "odx", odx, "ody", ody, nullptr);
    vips_area_unref(VIPS_AREA(area));
    release(interpolator);
    if (status != 0) fail("affine");
    return enlarged;
}

VipsRef toFloat(VipsRef image) {
    if (image.get()->BandFmt == VIPS_FORMAT_FLOAT) return image;
    VipsRef wide;
    if (locked(vips_cast, image.get(), wide.out(), VIPS_FORMAT_FLOAT, nullptr) != 0) fail("cast");
    return wide;
}

// Shrinking: one Lanczos pass over the full picture (vips_resize, gap 0:
// no box pre-shrink).
VipsRef shrink(const VipsRef& image, double hscale, double vscale) {
    VipsRef resized;
    if (locked(vips_resize, image.get(), resized.out(), hscale, "vscale", vscale, "kernel", VIPS_KERNEL_LANCZOS3, "gap",
               0.0, nullptr) != 0)
        fail("resize");
    return resized;
}

bool enlarges(double hscale, double vscale) { return hscale > 1.0 || vscale > 1.0; }

// Lanczos-3 to exactly width x height. An axis that grows is enlarged in
// float after the other axis, if it shrinks, is shrunk.
VipsRef lanczos(const VipsRef& image, double hscale, double vscale, int width, int height) {
    if (!enlarges(hscale, vscale)) return exactSize(shrink(image, hscale, vscale), width, height);
    VipsRef current;
    if (hscale < 1.0 || vscale < 1.0) {
        current = exactSize(shrink(image, std::min(hscale, 1.0), std::min(vscale, 1.0)),
                            hscale < 1.0 ? width : image.get()->Xsize, vscale < 1.0 ? height : image.get()->Ysize);
    } else {
        g_object_ref(image.get());
        current = VipsRef(image.get());
    }
    current = toFloat(std::move(current));
    if (hscale > 1.0) current = enlargeAxis(current, true, width);
    if (vscale > 1.0) current = enlargeAxis(current, false, height);
    return exactSize(std::move(current), width, height);
}

// Every band on its own, at the samples' own type.
cv::Mat scaleBands(VipsRef image, const Layout& layout, double hscale, double vscale, int width, int height) {
    const int bands = image.get()->Bands;
    // The fixed-point integer kernels drift on large shrinks (a flat grey
    // 131 -> 1 comes out 4 % dark) and are a step off on 16-bit samples;
    // those sum in float. 8-bit within a shrink of 4 stays exact enough.
    const bool fixedPointOK = layout.format == VIPS_FORMAT_UCHAR && std::min(hscale, vscale) >= 0.25;
    if (layout.format != VIPS_FORMAT_FLOAT && !fixedPointOK) {
        VipsRef wide;
        if (locked(vips_cast, image.get(), wide.out(), VIPS_FORMAT_FLOAT, nullptr) != 0) fail("cast");
        image = std::move(wide);
    }
    VipsRef out = roundedTo(lanczos(image, hscale, vscale, width, height), layout.format);
    const int depth = layout.format == VIPS_FORMAT_UCHAR ? CV_8U : layout.format == VIPS_FORMAT_USHORT ? CV_16U : CV_32F;
    return toMat(out, CV_MAKETYPE(depth, bands));
}

} // namespace

ItemRunning::ItemRunning() { ++itemsRunning; }
ItemRunning::~ItemRunning() { --itemsRunning; }

void setResampleThreads(int threads) { fixedThreads = std::max(threads, 0); }

bool isOpaque(const cv::Mat& pixels) {
    switch (pixels.depth()) {
    case CV_8U: return lastBandFull<std::uint8_t>(pixels, 255);
    case CV_16U: return lastBandFull<std::uint16_t>(pixels, 65535);
    case CV_32F: return lastBandFull<float>(pixels, 1.0f);
    default: return false;
    }
}

cv::Mat averageBlocks(const cv::Mat& source, int factor) {
    if (source.empty() || factor <= 1) return source;
    const int bands = source.channels();
    if (bands < 1 || bands > 4) throw std::invalid_argument("resample: 1 to 4 bands");
    layoutOf(source.depth()); // refuses other sample types
    const int width = std::max(1, static_cast<int>(std::lround(static_cast<double>(source.cols) / factor)));
    const int height = std::max(1, static_cast<int>(std::lround(static_cast<double>(source.rows) / factor)));
    cv::Mat result(height, width, source.type());
    switch (source.depth()) {
    case CV_8U: averageBlocksAs<std::uint8_t>(source, result, factor); break;
    case CV_16U: averageBlocksAs<std::uint16_t>(source, result, factor); break;
    default: averageBlocksAs<float>(source, result, factor); break;
    }
    return result;
}

cv::Mat resample(const cv::Mat& source, int width, int height, AlphaHandling alpha) {
    if (source.empty() || width <= 0 || height <= 0) return {};
    const int bands = source.channels();
    if (bands < 1 || bands > 4) throw std::invalid_argument("resample: 1 to 4 bands");
    const Layout layout = layoutOf(source.depth());
    if (source.cols == width && source.rows == height) return source.clone();
    startVips();

    const cv::Mat input = source.isContinuous() ? source : source.clone();
    VipsRef image(vips_image_new_from_memory(input.data, input.total() * input.elemSize(), input.cols, input.rows,
                                             bands, layout.format));
    if (!image) fail("wrap");

    const double hscale = static_cast<double>(width) / input.cols;
    const double vscale = static_cast<double>(height) / input.rows;
    const bool withAlpha = alpha == AlphaHandling::premultiplied && (bands == 2 || bands == 4);
    if (!withAlpha) return scaleBands(std::move(image), layout, hscale, vscale, width, height);

    if (isOpaque(input)) {
        // Nothing to premultiply: scale the colour bands alone and put the
        // full alpha back.
        VipsRef colour;
        if (locked(vips_extract_band, image.get(), colour.out(), 0, "n", bands - 1, nullptr) != 0) fail("extract");
        std::vector<cv::Mat> planes;
        cv::split(scaleBands(std::move(colour), layout, hscale, vscale, width, height), planes);
        planes.emplace_back(height, width, CV_MAKETYPE(source.depth(), 1), cv::Scalar(layout.maxAlpha));
        cv::Mat result;
        cv::merge(planes, result);
        return result;
    }

    VipsRef premultiplied;
    if (locked(vips_premultiply, image.get(), premultiplied.out(), "max_alpha", layout.maxAlpha, nullptr) != 0)
        fail("premultiply");
    VipsRef exact = lanczos(premultiplied, hscale, vscale, width, height);
    VipsRef straight;
    if (locked(vips_unpremultiply, exact.get(), straight.out(), "max_alpha", layout.maxAlpha, nullptr) != 0)
        fail("unpremultiply");
    return toMat(roundedTo(std::move(straight), layout.format), source.type());
}

} // namespace image

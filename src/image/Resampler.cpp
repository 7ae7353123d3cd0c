#include "image/Resampler.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <vector>

#include <opencv2/core.hpp>

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
        if (image_) g_object_unref(image_);
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

[[noreturn]] void fail(const char* step) {
    std::string message = std::string("resample: ") + step + ": " + vips_error_buffer();
    vips_error_clear();
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
        if (vips_crop(in, cropped.out(), 0, 0, w, h, nullptr) != 0) fail("crop");
    } else {
        cropped = std::move(image);
    }
    if (cropped.get()->Xsize == width && cropped.get()->Ysize == height) return cropped;
    VipsRef embedded;
    if (vips_embed(cropped.get(), embedded.out(), 0, 0, width, height, "extend", VIPS_EXTEND_COPY, nullptr) != 0)
        fail("embed");
    return embedded;
}


// Whether every alpha sample (the last band) is at its maximum.
bool opaque(const cv::Mat& pixels, double maxAlpha) {
    cv::Mat alphaBand;
    cv::extractChannel(pixels, alphaBand, pixels.channels() - 1);
    double lowest = 0;
    cv::minMaxLoc(alphaBand, &lowest);
    return lowest >= maxAlpha;
}

cv::Mat toMat(const VipsRef& image, int type) {
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
        if (vips_round(image.get(), rounded.out(), VIPS_OPERATION_ROUND_RINT, nullptr) != 0) fail("round");
        image = std::move(rounded);
    }
    VipsRef cast;
    if (vips_cast(image.get(), cast.out(), format, nullptr) != 0) fail("cast");
    return cast;
}

VipsRef lanczos(const VipsRef& image, double hscale, double vscale, int width, int height) {
    VipsRef resized;
    // gap 0: one Lanczos pass over the full picture, no box pre-shrink.
    if (vips_resize(image.get(), resized.out(), hscale, "vscale", vscale, "kernel", VIPS_KERNEL_LANCZOS3, "gap", 0.0,
                    nullptr) != 0)
        fail("resize");
    return exactSize(std::move(resized), width, height);
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
        if (vips_cast(image.get(), wide.out(), VIPS_FORMAT_FLOAT, nullptr) != 0) fail("cast");
        image = std::move(wide);
    }
    VipsRef out = roundedTo(lanczos(image, hscale, vscale, width, height), layout.format);
    const int depth = layout.format == VIPS_FORMAT_UCHAR ? CV_8U : layout.format == VIPS_FORMAT_USHORT ? CV_16U : CV_32F;
    return toMat(out, CV_MAKETYPE(depth, bands));
}

} // namespace

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

    if (opaque(input, layout.maxAlpha)) {
        // Nothing to premultiply: scale the colour bands alone and put the
        // full alpha back.
        VipsRef colour;
        if (vips_extract_band(image.get(), colour.out(), 0, "n", bands - 1, nullptr) != 0) fail("extract");
        std::vector<cv::Mat> planes;
        cv::split(scaleBands(std::move(colour), layout, hscale, vscale, width, height), planes);
        planes.emplace_back(height, width, CV_MAKETYPE(source.depth(), 1), cv::Scalar(layout.maxAlpha));
        cv::Mat result;
        cv::merge(planes, result);
        return result;
    }

    VipsRef premultiplied;
    if (vips_premultiply(image.get(), premultiplied.out(), "max_alpha", layout.maxAlpha, nullptr) != 0)
        fail("premultiply");
    VipsRef exact = lanczos(premultiplied, hscale, vscale, width, height);
    VipsRef straight;
    if (vips_unpremultiply(exact.get(), straight.out(), "max_alpha", layout.maxAlpha, nullptr) != 0)
        fail("unpremultiply");
    return toMat(roundedTo(std::move(straight), layout.format), source.type());
}

} // namespace image

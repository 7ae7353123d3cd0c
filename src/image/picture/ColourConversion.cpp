// Colour conversion to sRGB with lcms2: the one place where pictures'
// colours are converted through their profiles and profiles are judged.

#include <array>
#include <cstdint>
#include <limits>
#include <string_view>

#include <lcms2.h>
#include <opencv2/core.hpp>

#include "image/picture/CodecSupport.h"

namespace image::detail {

namespace {

// A profile that lcms2 opened, closed when it goes.
class Profile {
public:
    explicit Profile(cmsHPROFILE handle) : handle_(handle) {}
    explicit Profile(const std::vector<std::uint8_t>& icc)
        : handle_(icc.empty() ? nullptr
                              : cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size()))) {}
    ~Profile() {
        if (handle_) cmsCloseProfile(handle_);
    }
    Profile(const Profile&) = delete;
    Profile& operator=(const Profile&) = delete;

    cmsHPROFILE handle() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    cmsColorSpaceSignature colourSpace() const { return cmsGetColorSpace(handle_); }

    bool isSRGB() const {
        std::array<char, 256> text{};
        const cmsUInt32Number n = cmsGetProfileInfoASCII(handle_, cmsInfoDescription, "en", "US", text.data(),
                                                         static_cast<cmsUInt32Number>(text.size()));
        if (n == 0) return false;
        const std::string_view description(text.data());
        return description.find("sRGB") != std::string_view::npos;
    }

private:
    cmsHPROFILE handle_;
};

// The lcms2 layouts of one sample depth.
struct Layouts {
    cmsUInt32Number gray, rgb, rgba;
};

std::optional<Layouts> layoutsOf(int depth) {
    switch (depth) {
    case CV_8U: return Layouts{TYPE_GRAY_8, TYPE_RGB_8, TYPE_RGBA_8};
    case CV_16U: return Layouts{TYPE_GRAY_16, TYPE_RGB_16, TYPE_RGBA_16};
    case CV_32F: return Layouts{TYPE_GRAY_FLT, TYPE_RGB_FLT, TYPE_RGBA_FLT};
    default: return std::nullopt;
    }
}

// The rendering intents. Screen profiles (RGB, Grayscale) are converted
// perceptually; for their usual matrix-and-curve form every intent but the
// absolute one gives the same colours. A CMYK profile's perceptual tables
// re-render the press's colours for another device; its colours as printed
// (relative colorimetric, no black point compensation) are what
// ImageMagick and other colour-managed readers show.
constexpr cmsUInt32Number kScreenIntent = INTENT_PERCEPTUAL;
constexpr cmsUInt32Number kPrintIntent = INTENT_RELATIVE_COLORIMETRIC;

// Converts every row of `in` (laid out as `inLayout`) from `source` to sRGB
// into the rows of `out` (`outLayout`, same size; may be `in` itself).
// False when lcms2 can't make the transform; `out` is then untouched.
bool transformToSRGB(const Profile& source, cmsUInt32Number inLayout, const cv::Mat& in, cmsUInt32Number outLayout,
                     cv::Mat& out, cmsUInt32Number intent, cmsUInt32Number flags) {
    const Profile srgb(cmsCreate_sRGBProfile());
    if (!srgb) return false;
    cmsHTRANSFORM transform = cmsCreateTransform(source.handle(), inLayout, srgb.handle(), outLayout, intent, flags);
    if (!transform) return false;
    for (int y = 0; y < in.rows; ++y)
        cmsDoTransform(transform, in.ptr(y), out.ptr(y), static_cast<cmsUInt32Number>(in.cols));
    cmsDeleteTransform(transform);
    return true;
}

// Whether every pixel of RGBA has R = G = B.
bool isGray(const cv::Mat& rgba) {
    std::array<cv::Mat, 4> planes;
    cv::split(rgba, planes.data());
    return cv::countNonZero(planes[0] != planes[1]) == 0 && cv::countNonZero(planes[1] != planes[2]) == 0;
}

// A Grayscale profile's tones as sRGB, alpha kept. False (pixels untouched)
// when the picture isn't gray: such a profile doesn't describe it.
bool grayToSRGB(const Profile& source, cv::Mat& rgba, const Layouts& layouts) {
    if (!isGray(rgba)) return false;
    cv::Mat gray, alpha;
    cv::extractChannel(rgba, gray, 0);
    cv::extractChannel(rgba, alpha, 3);
    cv::Mat rgb(rgba.size(), CV_MAKETYPE(rgba.depth(), 3));
    if (!transformToSRGB(source, layouts.gray, gray, layouts.rgb, rgb, kScreenIntent, 0)) return false;
    std::array<cv::Mat, 4> planes;
    cv::split(rgb, planes.data());
    planes[3] = alpha;
    cv::merge(planes.data(), planes.size(), rgba);
    return true;
}

// The product of the inks: each colour is what its ink leaves of the light
// that black lets through, in OpenCV's arithmetic (on inverted values) so
// that pictures without a profile come out as they always have.
template <typename Sample>
void inkProduct(const cv::Mat& cmyk, InkStorage storage, cv::Mat& rgba) {
    constexpr std::uint32_t full = std::numeric_limits<Sample>::max();
    constexpr int bits = 8 * sizeof(Sample);
    const std::uint32_t flip = storage == InkStorage::inverted ? 0 : full;
    for (int y = 0; y < cmyk.rows; ++y) {
        const Sample* in = cmyk.ptr<Sample>(y);
        Sample* out = rgba.ptr<Sample>(y);
        for (int x = 0; x < cmyk.cols; ++x, in += 4, out += 4) {
            const std::uint32_t k = in[3] ^ flip; // full - v for plain values
            for (int c = 0; c < 3; ++c) out[c] = static_cast<Sample>(k - (((full - (in[c] ^ flip)) * k) >> bits));
            out[3] = static_cast<Sample>(full);
        }
    }
}

bool hasColourSpace(const std::vector<std::uint8_t>& icc, cmsColorSpaceSignature space) {
    const Profile profile(icc);
    return profile && profile.colourSpace() == space;
}

} // namespace

bool convertToSRGB(cv::Mat& rgba, const std::vector<std::uint8_t>& icc) {
    if (icc.empty()) return true;
    if (rgba.channels() != 4) return false;
    const auto layouts = layoutsOf(rgba.depth());
    if (!layouts) return false;
    const Profile source(icc);
    if (!source) return false;
    switch (source.colourSpace()) {
    case cmsSigRgbData:
        if (source.isSRGB()) return true;
        return transformToSRGB(source, layouts->rgba, rgba, layouts->rgba, rgba, kScreenIntent, cmsFLAGS_COPY_ALPHA);
    case cmsSigGrayData:
        return grayToSRGB(source, rgba, *layouts);
    default:
        return false;
    }
}

cv::Mat inksToSRGB(const cv::Mat& cmyk, InkStorage storage, const std::vector<std::uint8_t>& icc) {
    CV_Assert(cmyk.type() == CV_8UC4 || cmyk.type() == CV_16UC4);
    const bool wide = cmyk.depth() == CV_16U;
    // Alpha is set here: lcms2 writes only the colour of each pixel.
    cv::Mat rgba(cmyk.size(), cmyk.type(), cv::Scalar::all(wide ? 65535 : 255));
    const Profile source(icc);
    if (source && source.colourSpace() == cmsSigCmykData) {
        // The _REV layouts: the largest value is no ink.
        const bool inverted = storage == InkStorage::inverted;
        const cmsUInt32Number layout = wide ? (inverted ? TYPE_CMYK_16_REV : TYPE_CMYK_16)
                                            : (inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8);
        if (transformToSRGB(source, layout, cmyk, wide ? TYPE_RGBA_16 : TYPE_RGBA_8, rgba, kPrintIntent, 0))
            return rgba;
    }
    if (wide)
        inkProduct<std::uint16_t>(cmyk, storage, rgba);
    else
        inkProduct<std::uint8_t>(cmyk, storage, rgba);
    return rgba;
}

bool describesRGB(const std::vector<std::uint8_t>& icc) { return hasColourSpace(icc, cmsSigRgbData); }

bool describesInks(const std::vector<std::uint8_t>& icc) { return hasColourSpace(icc, cmsSigCmykData); }

} // namespace image::detail

// Registration of bracket frames (a whole-pixel translation onto the first
// frame) and getting frames into the 8-bit RGBA form the fusion works on.
//
// The shift is measured by phase correlation of Hann-windowed grey copies
// reduced with the fusion's own pyramid filter (which keeps the sample grid,
// so a shift scales by exactly 2 per level), then refined by correlating a
// full-size window from the middle of the reference with the frame's window
// at the coarse offset. It is returned in our row order (y downwards) as the
// move that brings the frame onto the reference.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include <opencv2/imgproc.hpp>

#include "image/photo/BracketMerger.h"
#include "image/photo/ExposureFusionDetail.h"

namespace image {

namespace {

// Registration measures on copies whose longer side is at most this, then
// refines on a full-size window of at most this side from the middle.
constexpr int kRegistrationSide = 1024;
// Largest shift taken, as a fraction of the reference's longer side.
constexpr double kShiftLimit = 0.03;
// Smaller shifts are left alone.
constexpr double kMinShift = 0.5;

} // namespace

namespace fusion {

GreyCopy reducedGrey(const cv::Mat& rgba, float* scratch) {
    GreyCopy copy;
    copy.fullWidth = rgba.cols;
    copy.fullHeight = rgba.rows;
    int w = rgba.cols, h = rgba.rows;
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* p = rgba.ptr<std::uint8_t>(y);
        float* g = scratch + std::size_t(y) * std::size_t(w);
        for (int x = 0; x < w; ++x, p += 4) g[x] = (p[0] / 255.0f + p[1] / 255.0f + p[2] / 255.0f) / 3.0f;
    }
    std::vector<float> current, next, tmp;
    const float* source = scratch;
    while (std::max(w, h) > kRegistrationSide && std::min(w, h) >= 32) {
        const int w2 = (w + 1) / 2, h2 = (h + 1) / 2;
        tmp.resize(std::size_t(w2) * std::size_t(h));
        next.resize(std::size_t(w2) * std::size_t(h2));
        reduceInto(source, w, h, next.data(), tmp.data());
        current.swap(next);
        source = current.data();
        w = w2;
        h = h2;
        copy.scale *= 2;
    }
    copy.grey = cv::Mat(h, w, CV_32F, const_cast<float*>(source)).clone();
    copy.full = scratch;
    return copy;
}

namespace {

// The middle window used to refine: it leaves room for the largest shift
// taken on every side.
cv::Rect centreWindow(int width, int height) {
    const int margin = static_cast<int>(std::ceil(kShiftLimit * std::max(width, height))) + 2;
    const int w = std::min(kRegistrationSide, width - 2 * margin);
    const int h = std::min(kRegistrationSide, height - 2 * margin);
    if (w < 32 || h < 32) return {};
    return {(width - w) / 2, (height - h) / 2, w, h};
}

cv::Mat window(const float* plane, int planeWidth, cv::Rect area) {
    return cv::Mat(area.height, area.width, CV_32F,
                   const_cast<float*>(plane + std::size_t(area.y) * std::size_t(planeWidth) + std::size_t(area.x)),
                   std::size_t(planeWidth) * sizeof(float));
}

cv::Point2d correlate(const cv::Mat& reference, const cv::Mat& frame) {
    cv::Mat hann;
    cv::createHanningWindow(hann, reference.size(), CV_32F);
    // How far the frame's content lies from the reference's.
    return cv::phaseCorrelate(reference, frame, hann);
}

} // namespace

void keepCentre(GreyCopy& copy) {
    copy.centreRect = copy.scale > 1 ? centreWindow(copy.fullWidth, copy.fullHeight) : cv::Rect();
    if (!copy.centreRect.empty()) copy.centre = window(copy.full, copy.fullWidth, copy.centreRect).clone();
    copy.full = nullptr;
}

std::optional<BracketMerger::Translation> registerGreys(const GreyCopy& frame, const GreyCopy& reference) {
    if (frame.grey.size() != reference.grey.size() || frame.scale != reference.scale || reference.grey.empty())
        return std::nullopt;
    cv::Point2d measured;
    try {
        measured = correlate(reference.grey, frame.grey) * reference.scale;
        // Refined at full size: the frame's window is cut where the coarse
        // measure puts the reference's middle window.
        const cv::Rect area = reference.centreRect;
        if (!area.empty() && frame.full && std::isfinite(measured.x) && std::isfinite(measured.y)) {
            const cv::Point coarse(static_cast<int>(std::lround(measured.x)), static_cast<int>(std::lround(measured.y)));
            const cv::Rect moved = area + coarse;
            if ((moved & cv::Rect(0, 0, frame.fullWidth, frame.fullHeight)) == moved) {
                const cv::Point2d rest = correlate(reference.centre, window(frame.full, frame.fullWidth, moved).clone());
                measured = cv::Point2d(coarse) + rest;
            }
        }
    } catch (const cv::Exception&) {
        return std::nullopt;
    }
    // The move that brings the frame back onto the reference.
    const double tx = -measured.x;
    const double ty = -measured.y;
    if (!std::isfinite(tx) || !std::isfinite(ty)) return std::nullopt;
    const double limit = kShiftLimit * std::max(reference.fullWidth, reference.fullHeight);
    if (std::abs(tx) > limit || std::abs(ty) > limit) return std::nullopt;
    if (std::abs(tx) < kMinShift && std::abs(ty) < kMinShift) return std::nullopt;
    return BracketMerger::Translation{static_cast<int>(std::round(tx)), static_cast<int>(std::round(ty))};
}

cv::Mat shifted(const cv::Mat& rgba, BracketMerger::Translation t) {
    const int w = rgba.cols, h = rgba.rows;
    cv::Mat out(h, w, CV_8UC4);
    // Columns x with a source inside the frame: 0 <= x - t.x < w.
    const int first = std::clamp(t.x, 0, w), last = std::clamp(w + t.x, 0, w);
    for (int y = 0; y < h; ++y) {
        const auto* src = rgba.ptr<std::uint32_t>(std::clamp(y - t.y, 0, h - 1));
        auto* dst = out.ptr<std::uint32_t>(y);
        std::fill(dst, dst + first, src[0]);
        if (last > first) std::memcpy(dst + first, src + (first - t.x), std::size_t(last - first) * 4);
        std::fill(dst + std::max(last, first), dst + w, src[w - 1]);
    }
    return out;
}

cv::Mat toRGBA8(const cv::Mat& pixels) {
    if (pixels.empty()) return {};
    cv::Mat bytes;
    switch (pixels.depth()) {
    case CV_8U: bytes = pixels; break;
    case CV_16U: pixels.convertTo(bytes, CV_8U, 1.0 / 257.0); break;
    case CV_32F: pixels.convertTo(bytes, CV_8U, 255.0); break;
    default: return {};
    }
    cv::Mat rgba;
    switch (bytes.channels()) {
    case 4: rgba = bytes; break;
    case 3: cv::cvtColor(bytes, rgba, cv::COLOR_RGB2RGBA); break;
    case 1: cv::cvtColor(bytes, rgba, cv::COLOR_GRAY2RGBA); break;
    default: return {};
    }
    // Rendering into an RGBA8 buffer premultiplies: see-through pixels come
    // out darker. Opaque frames (every photo) are used as they are.
    bool opaque = true;
    for (int y = 0; y < rgba.rows && opaque; ++y) {
        const std::uint8_t* p = rgba.ptr<std::uint8_t>(y);
        for (int x = 0; x < rgba.cols; ++x)
            if (p[4 * x + 3] != 255) {
                opaque = false;
                break;
            }
    }
    if (opaque) return rgba;
    cv::Mat premultiplied = rgba.clone();
    for (int y = 0; y < premultiplied.rows; ++y) {
        std::uint8_t* p = premultiplied.ptr<std::uint8_t>(y);
        for (int x = 0; x < premultiplied.cols; ++x, p += 4)
            for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>((p[c] * p[3] + 127) / 255);
    }
    return premultiplied;
}

} // namespace fusion

std::optional<BracketMerger::Translation> BracketMerger::alignment(const cv::Mat& frame, const cv::Mat& reference) {
    const cv::Mat a = fusion::toRGBA8(frame), b = fusion::toRGBA8(reference);
    if (a.empty() || b.empty() || a.size() != b.size()) return std::nullopt;
    std::vector<float> scratch(a.total());
    fusion::GreyCopy fixed = fusion::reducedGrey(b, scratch.data());
    fusion::keepCentre(fixed);
    const fusion::GreyCopy moving = fusion::reducedGrey(a, scratch.data());
    return fusion::registerGreys(moving, fixed);
}

BracketMerger::FrameSource BracketMerger::FrameSource::picture(cv::Mat pixels) {
    FrameSource source;
    source.width = pixels.cols;
    source.height = pixels.rows;
    source.render = [pixels] { return pixels; };
    return source;
}

} // namespace image

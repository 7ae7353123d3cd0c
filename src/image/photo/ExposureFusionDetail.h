#pragma once

// Internal to the exposure fusion (ExposureFusion.cpp, ExposureAlignment.cpp):
// plane kernels and the alignment steps the fusion runs per frame.

#include <optional>
#include <vector>

#include <opencv2/core.hpp>

#include "image/photo/BracketMerger.h"

namespace image::fusion {

// Pyramid kernels on row-major float planes without borders. `tmp` must hold
// at least ((w + 1) / 2) * h floats for reduce and toWidth * h for expand.
void reduceInto(const float* src, int w, int h, float* dst, float* tmp);
void expandInto(const float* src, int w, int h, float* dst, int toWidth, int toHeight, float* tmp);

// Grey copies of an 8-bit RGBA frame for registration: the whole frame made
// small enough to measure quickly (`scale` is the factor back to full size, a
// power of two), and, in `scratch`, the full-size grey plane from which a
// window is cut to refine the measure.
struct GreyCopy {
    cv::Mat grey; // CV_32F, reduced
    int scale = 1;
    int fullWidth = 0;
    int fullHeight = 0;
    const float* full = nullptr; // the scratch passed in: full-size grey
    cv::Mat centre;              // reference only: a full-size window from the middle
    cv::Rect centreRect;
};
// `scratch` must hold width * height floats; it is overwritten and the copy
// refers to it.
GreyCopy reducedGrey(const cv::Mat& rgba, float* scratch);
// Keeps the middle window of the full-size plane with the copy, so the
// scratch can be reused (the reference's copy outlives its scratch).
void keepCentre(GreyCopy& copy);

// The whole-pixel translation moving `frame` onto `reference`, within the
// limits (3 % of the longer side, at least half a pixel), or nothing. The
// frame's scratch must still hold its full-size grey plane.
std::optional<BracketMerger::Translation> registerGreys(const GreyCopy& frame, const GreyCopy& reference);

// The frame moved by `t` with its edge pixels repeated outward, same size.
cv::Mat shifted(const cv::Mat& rgba, BracketMerger::Translation t);

// Any supported pixel matrix as 8-bit RGBA (colour premultiplied by alpha,
// as when rendered into an RGBA8 buffer).
cv::Mat toRGBA8(const cv::Mat& pixels);

} // namespace image::fusion

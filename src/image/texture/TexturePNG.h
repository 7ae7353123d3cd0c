#pragma once

#include <optional>
#include <string>

#include <opencv2/core.hpp>

namespace image::textures {

// PNG bytes of an 8- or 16-bit picture with 1 to 4 channels (gray, gray and
// alpha, RGB, RGBA; straight alpha), with no colour chunks: texture data is
// stored as it is. Rows are filtered adaptively and deflated in independent
// stripes on all cores, joined into one zlib stream. Nothing for an empty or
// unsupported picture.
std::optional<std::string> encodePNG(const cv::Mat& pixels);

} // namespace image::textures

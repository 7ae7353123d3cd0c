// A 24 MP JPEG photo (6000 x 4000, quality 90, 4:2:0) decoded to RGBA by
// the image engine's loader, against plain libjpeg-turbo reading the same
// bytes from memory (jpeg_mem_src, its fast Huffman path); best of 9 each.
// Prints: COMPARE jpeg_decode ours=<s>s peer=<s>s speedup=<peer/ours>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio> // jpeglib.h needs FILE
#include <functional>
#include <limits>
#include <utility>
#include <vector>

#include <jpeglib.h>

#include <fmt/format.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "core/Files.h"
#include "image/picture/ImageCodecs.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRounds = 9;

// Sky-to-ground shading under ripples and clutter at a few sizes, with
// sensor grain (BGR floats of 0 to 255): about 2.5 bits a pixel at quality
// 90, as camera photos are.
cv::Mat photoLike(int width, int height) {
    cv::Mat shade(height, width, CV_32FC3);
    shade.forEach<cv::Vec3f>([&](cv::Vec3f& p, const int* at) {
        const float down = static_cast<float>(at[0]) / static_cast<float>(height);
        const float across = static_cast<float>(at[1]) / static_cast<float>(width);
        const float ripple = 0.06f * std::sin(90.0f * across + 13.0f * down);
        p = cv::Vec3f(0.7f - 0.4f * down + ripple, 0.6f - 0.2f * down, 0.4f + 0.3f * down * across - ripple);
    });
    // Blotches of 80, 20 and 5 pixels, then grain of one.
    cv::RNG rng(23);
    for (const auto& [cell, strength] : {std::pair{80, 0.08}, {20, 0.08}, {5, 0.08}, {1, 0.05}}) {
        cv::Mat blotches(height / cell, width / cell, CV_32FC3);
        rng.fill(blotches, cv::RNG::UNIFORM, -strength, strength);
        cv::Mat spread;
        cv::resize(blotches, spread, shade.size(), 0, 0, cv::INTER_LINEAR);
        shade += spread;
    }
    return shade * 255.0;
}

// The least wall time of `rounds` runs.
double bestOf(int rounds, const std::function<void()>& run) {
    double best = std::numeric_limits<double>::infinity();
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        run();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

// libjpeg-turbo as a program would call it without the engine: memory
// source, libjpeg's own error handling, RGBA rows into one buffer.
std::vector<std::uint8_t> plainDecode(const std::vector<std::uint8_t>& bytes) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_RGBA;
    jpeg_start_decompress(&info);
    const std::size_t stride = std::size_t{info.output_width} * 4;
    std::vector<std::uint8_t> pixels(stride * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[1] = {pixels.data() + stride * info.output_scanline};
        jpeg_read_scanlines(&info, rows, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return pixels;
}

} // namespace

int main() {
    core::WorkFolder folder("bench-jpeg-decode");
    const auto path = folder.path() / "photo.jpg";
    cv::Mat bgr;
    photoLike(6000, 4000).convertTo(bgr, CV_8UC3);
    if (!cv::imwrite(path.string(), bgr, {cv::IMWRITE_JPEG_QUALITY, 90})) return 1;
    const std::string file = core::readFile(path);
    const std::vector<std::uint8_t> bytes(file.begin(), file.end());

    // Warm-up: library start-up and first-touch page faults are not measured.
    const auto first = image::loadImageData(bytes, path);
    if (first.width() != 6000 || first.height() != 4000 || plainDecode(bytes).empty()) return 1;

    const double ours = bestOf(kRounds, [&] { (void)image::loadImageData(bytes, path); });
    const double peer = bestOf(kRounds, [&] { (void)plainDecode(bytes); });
    fmt::print("COMPARE jpeg_decode ours={:.4f}s peer={:.4f}s speedup={:.3f} size={:.1f}MB\n", ours, peer,
               peer / ours, static_cast<double>(bytes.size()) / 1e6);
    return 0;
}

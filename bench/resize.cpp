// A 24 MP JPEG photo shrunk to a 2048-pixel JPEG (quality 0.85): decode,
// Lanczos fit, encode, write; against ImageMagick doing the same.
// Prints: COMPARE resize ours=<s>s peer=<s>s speedup=<peer/ours>
//         PSNR resize ours-vs-peer=<dB>dB

#include <chrono>
#include <cmath>

#include <fmt/format.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "core/ChildProcess.h"
#include "core/Files.h"
#include "image/picture/CoreImagePipeline.h"
#include "image/picture/ImageCodecs.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// A photo-like 6000 x 4000 picture: smooth gradients, fine detail and noise.
cv::Mat photo() {
    cv::Mat bgr(4000, 6000, CV_8UC3);
    cv::RNG rng(17);
    bgr.forEach<cv::Vec3b>([](cv::Vec3b& p, const int* pos) {
        const double y = pos[0], x = pos[1];
        const double wave = 40.0 * std::sin(x / 37.0) * std::cos(y / 53.0);
        const double fine = ((static_cast<int>(x) / 3 + static_cast<int>(y) / 5) % 2) * 30.0;
        p[0] = cv::saturate_cast<std::uint8_t>(60 + x / 60.0 + wave);
        p[1] = cv::saturate_cast<std::uint8_t>(90 + y / 40.0 - wave + fine);
        p[2] = cv::saturate_cast<std::uint8_t>(200 - x / 50.0 + fine);
    });
    cv::Mat noise(bgr.size(), CV_8UC3);
    rng.fill(noise, cv::RNG::NORMAL, 0, 6);
    bgr += noise;
    return bgr;
}

} // namespace

int main() {
    core::WorkFolder folder("bench-resize");
    const auto source = folder.path() / "photo.jpg";
    const auto ours = folder.path() / "ours.jpg";
    const auto peer = folder.path() / "peer.jpg";
    if (!cv::imwrite(source.string(), photo(), {cv::IMWRITE_JPEG_QUALITY, 92})) return 1;

    const auto& pipeline = image::CoreImagePipeline::shared();
    // Warm-up: library start-up is not part of the measurement.
    if (auto warm = pipeline.loadImage(source)) pipeline.scaledToFit(*warm, 64);

    auto start = Clock::now();
    const auto loaded = pipeline.loadImage(source);
    if (!loaded) return 1;
    pipeline.write(pipeline.scaledToFit(*loaded, 2048), ours, 0.85);
    const double oursSeconds = seconds(start);

    start = Clock::now();
    const auto result = core::runChildProcess({"convert-im6.q16", source.string(), "-filter", "Lanczos", "-resize",
                                               "2048x2048", "-quality", "85", peer.string()},
                                              true);
    const double peerSeconds = seconds(start);
    if (!result.succeeded()) {
        fmt::print("ImageMagick failed: {}\n", result.output);
        return 1;
    }

    fmt::print("COMPARE resize ours={:.3f}s peer={:.3f}s speedup={:.2f}\n", oursSeconds, peerSeconds,
               peerSeconds / oursSeconds);
    const auto a = image::decodeImageFile(ours);
    const auto b = image::decodeImageFile(peer);
    if (!a || !b || a->pixels.size() != b->pixels.size()) {
        fmt::print("PSNR resize: outputs differ in size\n");
        return 1;
    }
    fmt::print("PSNR resize ours-vs-peer={:.1f}dB size={}x{}\n", cv::PSNR(a->pixels, b->pixels), a->width(),
               a->height());
    return 0;
}

// The real-estate web set of a noisy 24 MP photo (6000 x 4000 JPEG with
// camera EXIF) under a 2000 KB and a 500 KB cap: our preset (decode, size
// search over scale and quality, atomic write, metadata strip) against
// ImageMagick's Lanczos fit to 2048 with jpeg:extent (its own quality search),
// each from the same JPEG file to a JPEG file, in one run.
//
// Prints: COMPARE websize ours=<s>s peer=<s>s speedup=<peer/ours>   (both caps)
//         COMPARE websize_<cap>KB ours=... peer=... speedup=...
//         BYTES websize_<cap>KB ours=<bytes> peer=<bytes> cap=<bytes>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "batch/BatchItem.h"
#include "core/ChildProcess.h"
#include "core/Files.h"
#include "presets/HalvanePreset.h"

namespace fs = std::filesystem;

namespace {

// Gradients, walls with hard edges, texture at three scales and sensor noise.
cv::Mat noisyPhoto(int width, int height) {
    cv::RNG rng(9);
    cv::Mat img(height, width, CV_32FC3);
    for (int y = 0; y < height; ++y) {
        auto* row = img.ptr<cv::Vec3f>(y);
        const float t = static_cast<float>(y) / static_cast<float>(height);
        for (int x = 0; x < width; ++x) {
            const float s = static_cast<float>(x) / static_cast<float>(width);
            row[x] = cv::Vec3f(0.55f + 0.3f * t - 0.1f * s, 0.5f + 0.15f * t, 0.45f + 0.1f * s - 0.1f * t);
        }
    }
    for (int octave : {64, 16, 4}) {
        cv::Mat coarse(height / octave, width / octave, CV_32FC3);
        rng.fill(coarse, cv::RNG::NORMAL, 0.0, 0.05);
        cv::Mat fine;
        cv::resize(coarse, fine, img.size(), 0, 0, cv::INTER_CUBIC);
        img += fine;
    }
    for (int i = 0; i < 14; ++i) {
        const cv::Rect r(rng.uniform(0, width - 8), rng.uniform(0, height / 2), rng.uniform(width / 40, width / 6),
                         rng.uniform(height / 5, height / 2));
        cv::rectangle(img, r, cv::Scalar(rng.uniform(0.2, 0.8), rng.uniform(0.2, 0.8), rng.uniform(0.2, 0.7)),
                      cv::FILLED);
        cv::rectangle(img, r, cv::Scalar::all(0.1), 10);
    }
    cv::Mat grain(img.size(), CV_32FC3);
    rng.fill(grain, cv::RNG::NORMAL, 0.0, 0.12);
    img += grain;
    cv::Mat out;
    img.convertTo(out, CV_8UC3, 255.0);
    return out;
}

double seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void run(const std::vector<std::string>& argv) {
    const auto r = core::runChildProcess(argv, true);
    if (!r.succeeded()) throw std::runtime_error(argv[0] + " failed: " + r.output);
}

} // namespace

int main() {
    core::WorkFolder work("bench-websize");
    const fs::path source = work.path() / "noisy24mp.jpg";
    cv::imwrite(source.string(), noisyPhoto(6000, 4000), {cv::IMWRITE_JPEG_QUALITY, 92});
    run({"exiftool", "-q", "-overwrite_original", "-Make=Canon", "-Model=Canon EOS R5", "-ExposureTime=1/125",
         "-FNumber=8", "-ISO=100", "-Artist=Jo Lens", "-Copyright=(c) Maple Realty", "-GPSLatitude=47.6",
         "-GPSLatitudeRef=N", "-GPSLongitude=122.3", "-GPSLongitudeRef=W", source.string()});

    // Warm-up (library start-up, page cache) on both sides.
    {
        const fs::path small = work.path() / "warm.jpg";
        cv::imwrite(small.string(), noisyPhoto(640, 480));
        presets::HalvanePreset warm;
        warm.exportPrintPackage = false;
        warm.autoStraightenVerticals = false;
        batch::ProcessingContext ctx;
        ctx.configuration.outputDirectory = work.path() / "warm";
        ctx.configuration.namingPattern = "{name}";
        warm.process(batch::BatchItem(core::Uuid::random(), small), ctx);
        run({"convert-im6.q16", small.string(), "-filter", "Lanczos", "-resize", "2048x2048", "-define",
             "jpeg:extent=100KB", (work.path() / "warm-im.jpg").string()});
    }

    double oursTotal = 0;
    double peerTotal = 0;
    std::vector<std::string> lines;
    for (std::int64_t capKB : {2000, 500}) {
        presets::HalvanePreset preset;
        preset.setPortal(presets::Portal::custom);
        preset.maxWebFileSizeKB = capKB;
        preset.exportPrintPackage = false;
        preset.autoStraightenVerticals = false;
        batch::ProcessingContext ctx;
        ctx.configuration.outputDirectory = work.path() / fmt::format("ours{}", capKB);
        ctx.configuration.namingPattern = "{name}_{size}";
        ctx.itemIndex = 1;
        ctx.totalItems = 1;
        auto start = std::chrono::steady_clock::now();
        const auto files = preset.process(batch::BatchItem(core::Uuid::random(), source), ctx);
        const double ours = seconds(start);

        const fs::path peerFile = work.path() / fmt::format("peer{}.jpg", capKB);
        start = std::chrono::steady_clock::now();
        run({"convert-im6.q16", source.string(), "-filter", "Lanczos", "-resize", "2048x2048", "-define",
             fmt::format("jpeg:extent={}KB", capKB), peerFile.string()});
        const double peer = seconds(start);

        oursTotal += ours;
        peerTotal += peer;
        lines.push_back(fmt::format("COMPARE websize_{}KB ours={:.3f}s peer={:.3f}s speedup={:.2f}", capKB, ours, peer,
                                    peer / ours));
        lines.push_back(fmt::format("BYTES websize_{}KB ours={} peer={} cap={}", capKB, fs::file_size(files.at(0)),
                                    fs::file_size(peerFile), capKB * 1024));
    }
    std::puts(fmt::format("COMPARE websize ours={:.3f}s peer={:.3f}s speedup={:.2f}", oursTotal, peerTotal,
                          peerTotal / oursTotal)
                  .c_str());
    for (const auto& l : lines) std::puts(l.c_str());
    return 0;
}

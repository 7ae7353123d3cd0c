#pragma once

// Photos for the real-estate preset's tests: photo-like JPEGs (gradients,
// edges, texture and sensor noise) written with OpenCV, tagged with exiftool
// (camera EXIF, GPS in EXIF and XMP, artist, copyright), read back with
// exiftool; and a queue run that collects what the listeners saw.

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "batch/BatchConfiguration.h"
#include "batch/BatchQueueManager.h"
#include "batch/ProcessingJob.h"
#include "support/TestSupport.h"

namespace halvanetest {

namespace fs = std::filesystem;

// A BGR picture that encodes like a photograph: a sky-to-floor gradient,
// walls and window frames (hard vertical and horizontal edges), texture at
// a few scales and per-pixel noise of the given strength (0 to 1).
inline cv::Mat photoPixels(int width, int height, unsigned seed = 1, double noise = 0.04) {
    cv::RNG rng(seed);
    cv::Mat img(height, width, CV_32FC3);
    for (int y = 0; y < height; ++y) {
        auto* row = img.ptr<cv::Vec3f>(y);
        const float t = static_cast<float>(y) / static_cast<float>(height);
        for (int x = 0; x < width; ++x) {
            const float s = static_cast<float>(x) / static_cast<float>(width);
            row[x] = cv::Vec3f(0.55f + 0.3f * t - 0.1f * s, 0.5f + 0.15f * t, 0.45f + 0.1f * s - 0.1f * t);
        }
    }
    // Texture: smooth random fields at three scales.
    for (int octave : {64, 16, 4}) {
        cv::Mat coarse(std::max(2, height / octave), std::max(2, width / octave), CV_32FC3);
        rng.fill(coarse, cv::RNG::NORMAL, 0.0, 0.05);
        cv::Mat fine;
        cv::resize(coarse, fine, img.size(), 0, 0, cv::INTER_CUBIC);
        img += fine;
    }
    // Walls, doors and window frames.
    for (int i = 0; i < 14; ++i) {
        const int x = rng.uniform(0, width - 8);
        const int y = rng.uniform(0, height / 2);
        const int w = rng.uniform(width / 40, width / 6);
        const int h = rng.uniform(height / 5, height - y);
        const cv::Scalar fill(rng.uniform(0.2, 0.8), rng.uniform(0.2, 0.8), rng.uniform(0.2, 0.7));
        cv::rectangle(img, cv::Rect(x, y, w, h), fill, cv::FILLED);
        cv::rectangle(img, cv::Rect(x, y, w, h), cv::Scalar(0.1, 0.1, 0.1), std::max(2, width / 600));
    }
    if (noise > 0) {
        cv::Mat grain(img.size(), CV_32FC3);
        rng.fill(grain, cv::RNG::NORMAL, 0.0, noise);
        img += grain;
    }
    cv::Mat out;
    img.convertTo(out, CV_8UC3, 255.0);
    return out;
}

inline void writeJpeg(const fs::path& file, const cv::Mat& bgr, int quality = 92) {
    ASSERT_TRUE(cv::imwrite(file.string(), bgr, {cv::IMWRITE_JPEG_QUALITY, quality})) << file;
}

// Camera EXIF, GPS (EXIF and XMP), artist and copyright, written by exiftool.
inline void tagAsCamera(const fs::path& file, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv{"exiftool",
                                  "-q",
                                  "-overwrite_original",
                                  "-Make=Canon",
                                  "-Model=Canon EOS R5",
                                  "-ExposureTime=1/125",
                                  "-FNumber=8",
                                  "-ISO=100",
                                  "-DateTimeOriginal=2024:05:06 10:00:00",
                                  "-Artist=Jo Lens",
                                  "-Copyright=(c) Maple Realty",
                                  "-GPSLatitude=47.6062",
                                  "-GPSLatitudeRef=N",
                                  "-GPSLongitude=122.3321",
                                  "-GPSLongitudeRef=W",
                                  "-XMP-exif:GPSLatitude=47.6062 N",
                                  "-XMP-exif:GPSLongitude=122.3321 W"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(file.string());
    testsupport::runTool(argv);
}

// exiftool's value of a tag (numeric with -n), trimmed; empty when absent.
inline std::string exifValue(const fs::path& file, const std::string& tag) {
    auto r = testsupport::tryTool({"exiftool", "-s3", "-n", "-" + tag, file.string()});
    std::string out = r.output;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
    return out;
}

// Every GPS tag exiftool finds, in any group (EXIF, XMP, ...).
inline std::string gpsTags(const fs::path& file) {
    return testsupport::tryTool({"exiftool", "-s", "-a", "-G1", "-gps:all", "-xmp-exif:gps*", file.string()}).output;
}

inline cv::Size jpegSize(const fs::path& file) {
    const cv::Mat m = cv::imread(file.string(), cv::IMREAD_COLOR);
    return m.size();
}

// What one queue run showed.
struct RunResult {
    batch::ExecutionReport report;
    std::vector<std::string> logs;                           // prefixes removed
    std::map<std::string, std::vector<fs::path>> outputs;    // by item file name
    std::map<std::string, batch::ProcessingStatus> statuses; // final, by item file name
    std::map<std::string, std::string> messages;             // skip/fail reasons
};

// Runs `files` through `preset` on a real queue into `outputFolder`.
inline RunResult runQueue(std::shared_ptr<const batch::BatchPreset> preset, const std::vector<fs::path>& files,
                          const fs::path& outputFolder, const std::string& pattern, int concurrent = 2) {
    std::vector<batch::BatchItem> items;
    std::map<core::Uuid, std::string> names;
    for (const auto& f : files) {
        items.emplace_back(core::Uuid::random(), f);
        names[items.back().id] = f.filename().string();
    }
    batch::BatchConfiguration config(outputFolder, true, pattern, false, concurrent, false, false, {});
    batch::ProcessingJob job(core::Uuid::random(), preset->id(), preset->displayName(), items, config);

    auto result = std::make_shared<RunResult>();
    auto mutex = std::make_shared<std::mutex>();
    batch::BatchQueueManager manager;
    manager.addLogListener([result, mutex](const std::string& line) {
        std::lock_guard lock(*mutex);
        const auto cut = line.find("] ");
        result->logs.push_back(cut == std::string::npos ? line : line.substr(cut + 2));
    });
    manager.addStatusListener([result, mutex, names](const core::Uuid&, const core::Uuid& item,
                                                     batch::ProcessingStatus status, double,
                                                     const std::optional<std::string>& message) {
        std::lock_guard lock(*mutex);
        const std::string& name = names.at(item);
        result->statuses[name] = status;
        if (message) result->messages[name] = *message;
    });
    manager.addOutputListener([result, mutex, names](const core::Uuid& item, const std::vector<fs::path>& out) {
        std::lock_guard lock(*mutex);
        result->outputs[names.at(item)] = out;
    });
    auto future = manager.submitAndStart(job, std::move(preset));
    EXPECT_EQ(future.wait_for(std::chrono::minutes(5)), std::future_status::ready);
    auto report = future.get();
    // Listener calls all run on the executor before the report is handed out.
    manager.isProcessing().get();
    std::lock_guard lock(*mutex);
    RunResult out = *result;
    out.report = report;
    return out;
}

inline bool contains(const std::vector<std::string>& lines, const std::string& text) {
    for (const auto& l : lines)
        if (l == text) return true;
    return false;
}

} // namespace halvanetest

#pragma once

// Texture-preset runs through the real queue, and the inputs they need:
// PNG maps, frames and normal maps written with the image engine's writers.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "batch/BatchQueueManager.h"
#include "core/Files.h"
#include "core/Uuid.h"
#include "image/picture/ImageCodecs.h"
#include "image/texture/PackedTexture.h"
#include "presets/ZentrixPreset.h"

namespace zentrixtest {

namespace fs = std::filesystem;

// What one job left behind, keyed by source file as the queue's texts name
// it: its name, or its path under the folder holding all the job's files.
struct JobRun {
    std::map<std::string, batch::ProcessingStatus> status;
    std::map<std::string, std::string> message; // skip reason or error text
    std::map<std::string, std::vector<fs::path>> outputs;
    std::vector<std::string> logs; // without the time stamp
    batch::ExecutionReport report;

    std::vector<std::string> outputNames(const std::string& source) const {
        std::vector<std::string> names;
        if (auto it = outputs.find(source); it != outputs.end())
            for (const auto& p : it->second) names.push_back(p.filename().string());
        return names;
    }
    bool logged(const std::string& line) const {
        for (const auto& l : logs)
            if (l == line) return true;
        return false;
    }
    int countLogsStartingWith(const std::string& prefix) const {
        int n = 0;
        for (const auto& l : logs)
            if (l.rfind(prefix, 0) == 0) ++n;
        return n;
    }
};

inline JobRun runJob(const presets::ZentrixPreset& preset, const std::vector<fs::path>& files, const fs::path& output,
                  const std::string& pattern = "{name}_{profile}_{pot}", int workers = 4) {
    auto run = std::make_shared<JobRun>();
    auto mutex = std::make_shared<std::mutex>();
    auto names = std::make_shared<std::map<core::Uuid, std::string>>();
    std::vector<batch::BatchItem> items;
    const std::vector<std::string> shown = batch::namesUnderCommonFolder(files);
    for (std::size_t i = 0; i < files.size(); ++i) {
        items.emplace_back(core::Uuid::random(), files[i]);
        (*names)[items.back().id] = shown[i];
    }
    batch::BatchConfiguration configuration;
    configuration.outputDirectory = output;
    configuration.namingPattern = pattern;
    configuration.maxConcurrentTasks = workers;
    batch::ProcessingJob job(core::Uuid::random(), preset.id(), preset.displayName(), items, configuration);

    batch::BatchQueueManager manager;
    manager.addStatusListener([=](const core::Uuid&, const core::Uuid& item, batch::ProcessingStatus status, double,
                                  const std::optional<std::string>& message) {
        std::lock_guard lock(*mutex);
        run->status[names->at(item)] = status;
        if (message) run->message[names->at(item)] = *message;
    }).get();
    manager.addLogListener([=](const std::string& line) {
        std::lock_guard lock(*mutex);
        run->logs.push_back(line.size() > 11 ? line.substr(11) : line);
    }).get();
    manager.addOutputListener([=](const core::Uuid& item, const std::vector<fs::path>& outputs) {
        std::lock_guard lock(*mutex);
        run->outputs[names->at(item)] = outputs;
    }).get();
    auto future = manager.submitAndStart(job, std::make_shared<presets::ZentrixPreset>(preset));
    EXPECT_EQ(future.wait_for(std::chrono::seconds(120)), std::future_status::ready);
    run->report = future.get();
    manager.activeJobs().get(); // every listener call before this one has run
    std::lock_guard lock(*mutex);
    return *run;
}

// An RGBA PNG whose pixels come from f(x, y).
inline void writePng(const fs::path& path, int width, int height,
                     const std::function<std::array<std::uint8_t, 4>(int, int)>& f) {
    image::PackedTexture t{width, height, {}};
    t.rgba.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto px = f(x, y);
            t.rgba.insert(t.rgba.end(), px.begin(), px.end());
        }
    t.writePNG(path);
}

// A gray map of one value, opaque.
inline void writeGray(const fs::path& path, int width, int height, std::uint8_t value) {
    writePng(path, width, height, [value](int, int) { return std::array<std::uint8_t, 4>{value, value, value, 255}; });
}

// A gray horizontal ramp from 0 in steps of `step`, opaque.
inline void writeRamp(const fs::path& path, int width, int height, int step) {
    writePng(path, width, height, [step](int x, int) {
        const auto v = static_cast<std::uint8_t>(std::min(255, x * step));
        return std::array<std::uint8_t, 4>{v, v, v, 255};
    });
}

// A sprite frame: a coloured block on a transparent border of `margin`.
inline void writeFrame(const fs::path& path, int width, int height, std::uint8_t shade, int margin = 2) {
    writePng(path, width, height, [=](int x, int y) {
        const bool inside = x >= margin && y >= margin && x < width - margin && y < height - margin;
        return inside ? std::array<std::uint8_t, 4>{shade, static_cast<std::uint8_t>(255 - shade), 40, 255}
                      : std::array<std::uint8_t, 4>{0, 0, 0, 0};
    });
}

inline image::PixelSize sizeOf(const fs::path& path) {
    return image::readPixelSize(path).value_or(image::PixelSize{-1, -1});
}

// Decoded as stored: 8-bit RGBA.
inline cv::Mat pixelsOf(const fs::path& path) {
    image::DecodeOptions options;
    options.upright = false;
    options.toSRGB = false;
    options.readMetadata = false;
    const auto decoded = image::decodeImageFile(path, options);
    return decoded ? decoded->pixels : cv::Mat();
}

// Every regular file of a folder by name, with its bytes.
inline std::map<std::string, std::string> folderContents(const fs::path& folder) {
    std::map<std::string, std::string> contents;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file()) contents[entry.path().filename().string()] = core::readFile(entry.path());
    return contents;
}

} // namespace zentrixtest

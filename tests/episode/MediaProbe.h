#pragma once

// Independent checks of written media: ffprobe's JSON view of a file and
// single decoded video frames read back as pixels.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <cairo.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/Numbers.h"
#include "support/TestSupport.h"

namespace mediaprobe {

namespace fs = std::filesystem;

inline nlohmann::json probe(const fs::path& file, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv{"ffprobe", "-v", "error", "-of", "json", "-show_format", "-show_streams",
                                  "-show_chapters"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(file.string());
    const auto result = testsupport::runTool(argv);
    return nlohmann::json::parse(result.output, nullptr, false);
}

inline const nlohmann::json* streamOf(const nlohmann::json& info, const std::string& type) {
    for (const auto& s : info["streams"])
        if (s.value("codec_type", "") == type) return &s;
    return nullptr;
}

inline std::string tag(const nlohmann::json& tags, const std::string& key) {
    if (!tags.is_object()) return "<none>";
    for (auto it = tags.begin(); it != tags.end(); ++it) {
        std::string k = it.key();
        for (auto& c : k) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (k == key) return it.value().get<std::string>();
    }
    return "<none>";
}

inline double number(const nlohmann::json& v) {
    if (v.is_number()) return v.get<double>();
    return core::parseDouble(v.get<std::string>()).value_or(-1);
}

struct RGB {
    int r = 0, g = 0, b = 0;
};

// One decoded frame as a PNG image in memory.
class DecodedFrame {
public:
    // A still picture (a JPEG, an attached picture) is read from 0: ffmpeg
    // takes no seek in it, not even to 0.
    DecodedFrame(const fs::path& video, double seconds, const fs::path& png) {
        std::vector<std::string> argv{"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y"};
        if (seconds > 0) argv.insert(argv.end(), {"-ss", fmt_seconds(seconds)});
        argv.insert(argv.end(), {"-i", video.string(), "-frames:v", "1", png.string()});
        testsupport::runTool(argv);
        surface_ = cairo_image_surface_create_from_png(png.c_str());
    }
    ~DecodedFrame() { cairo_surface_destroy(surface_); }
    DecodedFrame(const DecodedFrame&) = delete;
    DecodedFrame& operator=(const DecodedFrame&) = delete;

    bool ok() const { return cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS; }
    int width() const { return cairo_image_surface_get_width(surface_); }
    int height() const { return cairo_image_surface_get_height(surface_); }
    RGB at(int x, int y) const {
        const auto* data = cairo_image_surface_get_data(surface_);
        const int stride = cairo_image_surface_get_stride(surface_);
        const std::uint8_t* p = data + y * stride + x * 4;
        return RGB{p[2], p[1], p[0]};
    }

private:
    static std::string fmt_seconds(double s) { return core::formatFixed(s, 3); }
    cairo_surface_t* surface_ = nullptr;
};

inline bool near(const RGB& a, const RGB& b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

} // namespace mediaprobe

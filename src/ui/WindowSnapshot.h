#pragma once

#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace ui {

// Scripted screenshots: "--snapshot PATH [--snapshot-size WxH]" makes the
// program wait for its window, optionally resize it, write the window and
// the full options column as PNG files, and quit.
class WindowSnapshot {
public:
    struct Request {
        std::string path;
        std::optional<std::pair<int, int>> size; // finite, positive
    };
    // Nothing without "--snapshot PATH".
    static std::optional<Request> parse(const std::vector<std::string>& arguments);
    // "out.png" → "out-options.png"; "out" → "out-options.png".
    static std::string optionsPath(const std::string& path);
    // Schedules the capture if the arguments ask for one.
    static void captureIfRequested(const std::vector<std::string>& arguments);
};

} // namespace ui

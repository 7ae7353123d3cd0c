#pragma once

#include <string>

namespace episode {

// A chapter's start time in seconds and its title.
struct Chapter {
    double start = 0;
    std::string title;

    bool operator==(const Chapter&) const = default;
};

} // namespace episode

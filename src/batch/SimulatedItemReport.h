#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "core/Uuid.h"

namespace batch {

// One item's predicted outputs in a dry run.
struct SimulatedItemReport {
    core::Uuid id;
    std::filesystem::path sourceURL;
    std::vector<std::string> projectedFileNames; // relative to projectedDirectory
    std::filesystem::path projectedDirectory;
    std::vector<std::string> warnings;
    // A predicted name is also predicted for another item (set by the output
    // planner together with its "is also written by" warning).
    bool hasCollision = false;

    bool operator==(const SimulatedItemReport&) const = default;
};

} // namespace batch

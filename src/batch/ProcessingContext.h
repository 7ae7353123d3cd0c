#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "batch/BatchConfiguration.h"
#include "batch/OutputClaims.h"
#include "batch/SharedWork.h"
#include "core/Uuid.h"

namespace batch {

// What a preset receives for one item. Both callables may be called from any
// thread, return at once and do nothing once the queue is gone.
struct ProcessingContext {
    using ProgressCallback = std::function<void(double fraction, std::optional<std::string> message)>;
    using LogCallback = std::function<void(std::string line)>;

    core::Uuid jobID;
    BatchConfiguration configuration;
    int itemIndex = 0;  // position in the job, counted from 1
    int totalItems = 0;
    // The source file of every item of the job, in job order (shared, never
    // changed). Empty for a context made by hand, outside a queue.
    std::shared_ptr<const std::vector<std::filesystem::path>> jobSourcePaths;
    // This item's hold on the run's output claims: claim a file before
    // writing it. Checks nothing for a context made by hand.
    OutputClaimant claimant;
    // Work the run's items share, done once for all of them. Empty for a
    // context made by hand.
    std::shared_ptr<SharedWork> sharedWork;
    ProgressCallback onProgressUpdate;
    LogCallback log;
};

} // namespace batch

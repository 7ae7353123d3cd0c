#pragma once

#include <optional>
#include <string>
#include <vector>

#include "batch/BatchConfiguration.h"
#include "batch/BatchItem.h"
#include "core/Dates.h"
#include "core/Error.h"
#include "core/Uuid.h"

namespace batch {

// One submitted run. id, presetID, presetName, configuration and startedAt
// are fixed when made; items and finishedAt may change.
struct ProcessingJob {
    // Raised when a job is made with an item id that appears twice.
    class JobError : public core::Error {
    public:
        // "The job lists the item <ID> more than once."
        static JobError duplicateItemID(const core::Uuid& itemID);

    private:
        using core::Error::Error;
    };

    core::Uuid id;
    std::string presetID;
    std::string presetName;
    std::vector<BatchItem> items;
    BatchConfiguration configuration;
    core::Date startedAt;
    std::optional<core::Date> finishedAt;

    // startedAt = now, finishedAt absent. Throws JobError when two items
    // share an id.
    ProcessingJob(core::Uuid id, std::string presetID, std::string presetName,
                  std::vector<BatchItem> items, BatchConfiguration configuration);

    int totalItems() const;
    int completedItemsCount() const;
    int failedItemsCount() const;
    // Mean progress of the items; 0 without items.
    double overallProgress() const;
};

} // namespace batch

#include "batch/ProcessingJob.h"

#include <unordered_set>

namespace batch {

ProcessingJob::JobError ProcessingJob::JobError::duplicateItemID(const core::Uuid& itemID) {
    return JobError("The job lists the item " + itemID.text() + " more than once.");
}

ProcessingJob::ProcessingJob(core::Uuid id, std::string presetID, std::string presetName,
                             std::vector<BatchItem> items, BatchConfiguration configuration)
    : id(id), presetID(std::move(presetID)), presetName(std::move(presetName)), items(std::move(items)),
      configuration(std::move(configuration)), startedAt(core::Clock::now()) {
    // Status events name items by id alone, so an id may appear only once.
    std::unordered_set<core::Uuid> seen;
    for (const auto& item : this->items)
        if (!seen.insert(item.id).second) throw JobError::duplicateItemID(item.id);
}

int ProcessingJob::totalItems() const { return static_cast<int>(items.size()); }

int ProcessingJob::completedItemsCount() const {
    int count = 0;
    for (const auto& item : items) count += item.status == ProcessingStatus::completed ? 1 : 0;
    return count;
}

int ProcessingJob::failedItemsCount() const {
    int count = 0;
    for (const auto& item : items) count += item.status == ProcessingStatus::failed ? 1 : 0;
    return count;
}

double ProcessingJob::overallProgress() const {
    if (items.empty()) return 0;
    double sum = 0;
    for (const auto& item : items) sum += item.progress;
    return sum / static_cast<double>(items.size());
}

} // namespace batch

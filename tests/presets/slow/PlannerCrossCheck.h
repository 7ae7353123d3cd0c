#pragma once

// Runs a batch for real and compares what it wrote with the planner's
// prediction for the same items.

#include <filesystem>
#include <map>
#include <optional>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "batch/BatchQueueManager.h"
#include "batch/ProcessingJob.h"
#include "core/Uuid.h"
#include "presets/OutputPlanner.h"

namespace plannertest {

namespace fs = std::filesystem;

// Every regular file under the folder, as a name relative to it.
inline std::set<std::string> filesUnder(const fs::path& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file()) names.insert(it->path().lexically_relative(folder).generic_string());
    return names;
}

// The files a run wrote compared with the prediction. The differences the
// planner allows itself:
//  - a mipmap chain stands as one entry "<base>_mip1… (mipmap chain)" for the
//    files "<base>_mip<level>_<side>.png" (at least one);
//  - a sprite sheet is predicted on one page: the extra pages of a sheet
//    ("_Atlas-0", "_Atlas-1", ...) are not (the batches here stay on one page).
inline ::testing::AssertionResult sameAsPredicted(const std::vector<batch::SimulatedItemReport>& reports,
                                                  const fs::path& output) {
    std::set<std::string> written = filesUnder(output);
    std::set<std::string> predicted;
    for (const auto& r : reports) predicted.insert(r.projectedFileNames.begin(), r.projectedFileNames.end());

    const std::string chain = "_mip1\u2026 (mipmap chain)";
    for (const auto& name : predicted) {
        if (name.size() > chain.size() && name.ends_with(chain)) {
            const std::string base = name.substr(0, name.size() - chain.size());
            const std::regex level(std::regex_replace(base, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                                   R"(_mip[0-9]+_[0-9]+\.png)");
            std::size_t found = 0;
            for (auto it = written.begin(); it != written.end();)
                if (std::regex_match(*it, level)) {
                    it = written.erase(it);
                    ++found;
                } else {
                    ++it;
                }
            if (found == 0) return ::testing::AssertionFailure() << "no mipmap files for " << name;
            continue;
        }
        if (!written.erase(name)) return ::testing::AssertionFailure() << "predicted but not written: " << name;
    }
    if (!written.empty()) return ::testing::AssertionFailure() << "written but not predicted: " << *written.begin();
    return ::testing::AssertionSuccess();
}

// Runs the items through the queue (the configuration's worker count) and
// returns every item's final status by id.
inline std::map<core::Uuid, batch::ProcessingStatus> runBatch(std::shared_ptr<const batch::BatchPreset> preset,
                                                               const std::vector<batch::BatchItem>& items,
                                                               const batch::BatchConfiguration& configuration) {
    batch::BatchQueueManager manager;
    auto statuses = std::make_shared<std::map<core::Uuid, batch::ProcessingStatus>>();
    manager
        .addStatusListener([statuses](const core::Uuid&, const core::Uuid& item, batch::ProcessingStatus status,
                                      double, const std::optional<std::string>&) { (*statuses)[item] = status; })
        .get();
    batch::ProcessingJob job(core::Uuid::random(), preset->id(), preset->displayName(), items, configuration);
    manager.submitAndStart(std::move(job), std::move(preset)).get();
    manager.isProcessing().get(); // every listener call made before this has run
    return *statuses;
}

// The planner's skip warnings against the run: an item is predicted skipped
// ("Skipped: ...") exactly when the run skipped it.
inline ::testing::AssertionResult sameSkips(const std::vector<batch::SimulatedItemReport>& reports,
                                            const std::map<core::Uuid, batch::ProcessingStatus>& statuses) {
    for (const auto& r : reports) {
        const bool predicted = !r.warnings.empty() && r.warnings.front().starts_with("Skipped: ");
        const auto it = statuses.find(r.id);
        const bool skipped = it != statuses.end() && it->second == batch::ProcessingStatus::skipped;
        if (predicted != skipped)
            return ::testing::AssertionFailure() << r.sourceURL.filename() << (predicted ? " predicted" : " not predicted")
                                                 << " skipped, run " << (skipped ? "skipped it" : "did not skip it");
    }
    return ::testing::AssertionSuccess();
}

} // namespace plannertest

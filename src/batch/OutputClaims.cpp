#include "batch/OutputClaims.h"

#include <system_error>

#include <fmt/format.h>

#include "core/Files.h"

namespace batch {

namespace fs = std::filesystem;

OutputClaims::ClaimError OutputClaims::ClaimError::alreadyWritten(const std::string& shownFile,
                                                                  const std::string& itemName) {
    return ClaimError(fmt::format("{} was already written by {} in this batch; add {{index}} or {{name}} to the "
                                  "naming pattern",
                                  shownFile, itemName));
}

OutputClaims::OutputClaims(const fs::path& outputDirectory) : outputDirectory_(core::standardized(outputDirectory)) {}

void OutputClaims::claim(const std::vector<fs::path>& files, const core::Uuid& itemID, const fs::path& itemSource) {
    std::vector<fs::path> keys;
    keys.reserve(files.size());
    for (const auto& file : files) keys.push_back(core::standardized(file));

    std::lock_guard lock(mutex_);
    for (const auto& key : keys) {
        const auto held = claimed_.find(key);
        if (held == claimed_.end() || held->second.itemID == itemID) continue;
        // Shown as the user finds it under the output folder.
        fs::path shown = key.lexically_relative(outputDirectory_);
        if (shown.empty() || *shown.begin() == "..") shown = key;
        throw ClaimError::alreadyWritten(shown.generic_string(), held->second.itemName);
    }
    const std::string itemName = itemSource.filename().string();
    for (auto& key : keys) claimed_.try_emplace(std::move(key), Holder{itemID, itemName});
}

void OutputClaimant::claim(const std::vector<fs::path>& files) const {
    if (claims) claims->claim(files, itemID, itemSource);
}

} // namespace batch

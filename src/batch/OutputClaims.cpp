#include "batch/OutputClaims.h"

#include <algorithm>
#include <optional>

#include <fmt/format.h>

#include "batch/TokenRenamer.h"
#include "core/Files.h"

namespace batch {

namespace fs = std::filesystem;

std::vector<std::string> namesUnderCommonFolder(const std::vector<fs::path>& sources) {
    // The folder that holds every item, however deep.
    std::vector<fs::path> standard;
    std::optional<fs::path> common;
    for (const auto& source : sources) {
        standard.push_back(core::standardized(source));
        const fs::path folder = standard.back().parent_path();
        if (!common) {
            common = folder;
            continue;
        }
        fs::path shared;
        for (auto a = common->begin(), b = folder.begin(); a != common->end() && b != folder.end() && *a == *b;
             ++a, ++b)
            shared /= *a;
        common = shared;
    }
    std::vector<std::string> names;
    for (const auto& source : standard) {
        const fs::path relative = source.lexically_relative(common.value_or(fs::path()));
        names.push_back(relative.empty() ? source.filename().string() : relative.generic_string());
    }
    return names;
}

OutputClaims::ClaimError OutputClaims::ClaimError::alreadyWritten(const std::string& shownFile,
                                                                  const std::string& itemName,
                                                                  const std::string& missingTokens) {
    std::string text = fmt::format("{} was already written by {} in this batch", shownFile, itemName);
    if (!missingTokens.empty()) text += fmt::format("; add {} to the naming pattern", missingTokens);
    return ClaimError(text);
}

OutputClaims::OutputClaims(const fs::path& outputDirectory, const std::string& namingPattern,
                           const std::vector<fs::path>& itemSources)
    : outputDirectory_(core::standardized(outputDirectory)),
      missingTokens_(TokenRenamer::missingItemTokens(namingPattern)), itemNames_(namesUnderCommonFolder(itemSources)) {
    sources_.reserve(itemSources.size());
    for (const auto& source : itemSources) sources_.push_back(core::standardized(source));
}

void OutputClaims::claim(const std::vector<fs::path>& files, std::size_t item, Naming naming) {
    std::vector<fs::path> keys;
    keys.reserve(files.size());
    for (const auto& file : files) keys.push_back(core::standardized(file));

    std::lock_guard lock(mutex_);
    for (const auto& key : keys) {
        const auto held = claimed_.find(key);
        if (held == claimed_.end() || held->second == item) continue;
        // Shown as the user finds it under the output folder.
        fs::path shown = key.lexically_relative(outputDirectory_);
        if (shown.empty() || *shown.begin() == "..") shown = key;
        const std::size_t holder = held->second;
        throw ClaimError::alreadyWritten(shown.generic_string(),
                                         holder < itemNames_.size() ? itemNames_[holder] : std::string(),
                                         naming == Naming::pattern ? missingTokens_ : std::string());
    }
    for (auto& key : keys) claimed_.try_emplace(std::move(key), item);
}

std::optional<std::size_t> OutputClaims::itemWithSource(const fs::path& source) const {
    const auto it = std::find(sources_.begin(), sources_.end(), core::standardized(source));
    if (it == sources_.end()) return std::nullopt;
    return static_cast<std::size_t>(it - sources_.begin());
}

void OutputClaimant::claim(const std::vector<fs::path>& files, OutputClaims::Naming naming) const {
    if (claims) claims->claim(files, item, naming);
}

OutputClaimant OutputClaimant::forSource(const fs::path& source) const {
    if (!claims) return *this;
    const auto found = claims->itemWithSource(source);
    return found ? OutputClaimant{claims, *found} : *this;
}

} // namespace batch

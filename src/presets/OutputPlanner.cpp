#include "presets/OutputPlanner.h"

#include <algorithm>
#include <system_error>

#include "batch/OutputClaims.h"
#include "batch/TokenRenamer.h"
#include "core/Files.h"
#include "presets/HalvanePreset.h"
#include "presets/QuorvelPreset.h"
#include "presets/ZentrixPreset.h"

namespace presets {

namespace fs = std::filesystem;

std::vector<batch::SimulatedItemReport> OutputPlanner::plan(const batch::BatchPreset& preset,
                                                            const std::vector<batch::BatchItem>& items,
                                                            const batch::BatchConfiguration& configuration,
                                                            bool checkExistingFiles) {
    const auto* photos = dynamic_cast<const HalvanePreset*>(&preset);
    const auto* textures = dynamic_cast<const ZentrixPreset*>(&preset);
    const auto* episodes = dynamic_cast<const QuorvelPreset*>(&preset);

    std::vector<fs::path> jobSourcePaths;
    jobSourcePaths.reserve(items.size());
    for (const auto& item : items) jobSourcePaths.push_back(item.sourceURL);

    const batch::TokenRenamer renamer;
    const auto total = static_cast<std::int64_t>(items.size());
    std::vector<batch::SimulatedItemReport> reports;
    reports.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const batch::BatchItem& item = items[i];
        const auto index = static_cast<std::int64_t>(i) + 1;
        Slot slot{item, index, total, configuration, jobSourcePaths,
                  [&renamer, &item, &configuration, index, total](const std::map<std::string, std::string>& tokens) {
                      return renamer.resolve(configuration.namingPattern, item, index, total, tokens);
                  }};

        Prediction prediction;
        if (photos) {
            prediction = planPhoto(*photos, slot);
        } else if (textures) {
            prediction = planTexture(*textures, slot,
                                     textures->usesDefaultPattern(configuration.namingPattern));
        } else if (episodes) {
            prediction = planEpisode(*episodes, slot);
        }
        reports.push_back({item.id, item.sourceURL, std::move(prediction.names), configuration.outputDirectory,
                           std::move(prediction.warnings), false});
    }
    // Sheets are named after their sequence, whatever the pattern.
    const bool sheets = textures && textures->operationalMode == OperationalMode::spriteSheetAtlas;
    flagConflicts(reports, checkExistingFiles,
                  sheets ? std::string() : batch::TokenRenamer::missingItemTokens(configuration.namingPattern));
    return reports;
}

bool OutputPlanner::hasCollisions(const std::vector<batch::SimulatedItemReport>& reports) {
    return std::any_of(reports.begin(), reports.end(), [](const auto& r) { return r.hasCollision; });
}

fs::path OutputPlanner::standardized(const fs::path& path) { return core::standardized(path); }

void OutputPlanner::flagConflicts(std::vector<batch::SimulatedItemReport>& reports, bool checkExisting,
                                  const std::string& missingTokens) {
    // Every path with the reports that predict it, in item order (a report
    // once per name that gives the path).
    std::map<fs::path, std::vector<std::size_t>> writers;
    for (std::size_t r = 0; r < reports.size(); ++r)
        for (const auto& name : reports[r].projectedFileNames)
            writers[standardized(reports[r].projectedDirectory / name)].push_back(r);

    std::vector<fs::path> sources;
    for (const auto& report : reports) sources.push_back(report.sourceURL);
    const std::vector<std::string> names = batch::namesUnderCommonFolder(sources);
    const std::string advice = missingTokens.empty() ? "" : "; add " + missingTokens + " to the pattern";
    for (std::size_t r = 0; r < reports.size(); ++r) {
        auto& report = reports[r];
        std::vector<std::string> found;
        for (const auto& name : report.projectedFileNames) {
            const fs::path path = standardized(report.projectedDirectory / name);
            const auto& listed = writers[path];
            const auto other = std::find_if(listed.begin(), listed.end(), [r](std::size_t p) { return p != r; });
            if (other != listed.end()) {
                found.push_back(name + " is also written by " + names[*other] + advice);
                report.hasCollision = true;
            } else if (checkExisting) {
                std::error_code ec;
                if (fs::exists(path, ec)) found.push_back(name + " already exists and will be replaced");
            }
        }
        report.warnings.insert(report.warnings.end(), found.begin(), found.end());
    }
}

} // namespace presets

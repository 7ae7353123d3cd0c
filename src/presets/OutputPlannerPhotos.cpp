// The real-estate preset's outputs: a print and a web copy per photo, or
// nothing for a bracket member that another photo merges.

#include <fmt/format.h>

#include "image/photo/BracketMerger.h"
#include "presets/HalvanePreset.h"
#include "presets/OutputPlanner.h"

namespace presets {

OutputPlanner::Prediction OutputPlanner::planPhoto(const HalvanePreset& preset, const Slot& slot) {
    Prediction out;
    if (preset.mergeBrackets) {
        const auto bracket = image::BracketMerger::brackets(slot.item.sourceURL, preset.supportedExtensions());
        if (bracket.size() >= 2) {
            const std::filesystem::path leader = HalvanePreset::bracketLeader(bracket, slot.jobSourcePaths);
            if (standardized(leader) != standardized(slot.item.sourceURL)) {
                out.warnings.push_back("Skipped: merged into " + leader.filename().string() + "'s bracket");
                return out;
            }
            out.warnings.push_back(fmt::format("Merges {} exposures into one photo", bracket.size()));
        }
    }
    using Set = HalvanePreset::OutputSet;
    const auto name = [&](Set set) {
        return preset.folderName(set) + "/" +
               preset.outputFileName(set, slot.item, slot.configuration.namingPattern, slot.index, slot.total);
    };
    if (preset.exportPrintPackage) out.names.push_back(name(Set::print));
    if (preset.exportWebPackage) out.names.push_back(name(Set::web));
    if (!preset.exportPrintPackage && !preset.exportWebPackage)
        out.warnings.emplace_back("Both output sets are turned off");
    return out;
}

} // namespace presets

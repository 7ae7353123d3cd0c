#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "batch/BatchConfiguration.h"
#include "batch/BatchItem.h"
#include "batch/BatchPreset.h"
#include "batch/SimulatedItemReport.h"

namespace presets {

class HalvanePreset;
class QuorvelPreset;
class ZentrixPreset;

// Predicts, without writing anything, the files a batch will produce: for
// every item the names its preset will write (relative to the output folder,
// "Print_Package/..." included), the folder and warnings (skips, facilities
// the machine lacks, names written twice or already on disk). It asks the
// same functions the presets ask, so prediction and work can't drift. Reads
// names, folder listings, image headers and, for the tiling check, the
// texture itself. Never fails.
class OutputPlanner {
public:
    OutputPlanner() = delete;

    // One report per item, in item order. The items are the job: a group
    // (bracket, material, frame sequence) is predicted on the first of its
    // files among them, as the presets do.
    static std::vector<batch::SimulatedItemReport> plan(const batch::BatchPreset& preset,
                                                        const std::vector<batch::BatchItem>& items,
                                                        const batch::BatchConfiguration& configuration,
                                                        bool checkExistingFiles);

    // Whether a predicted name of one item is also predicted for another.
    static bool hasCollisions(const std::vector<batch::SimulatedItemReport>& reports);

private:
    // The names and warnings predicted for one item.
    struct Prediction {
        std::vector<std::string> names;
        std::vector<std::string> warnings;
    };

    // The pattern name of the item under the given tokens, without extension.
    using Resolve = std::function<std::string(const std::map<std::string, std::string>& tokens)>;

    // What every road knows about the item it predicts.
    struct Slot {
        const batch::BatchItem& item;
        std::int64_t index; // from 1
        std::int64_t total;
        const batch::BatchConfiguration& configuration;
        const std::vector<std::filesystem::path>& jobSourcePaths;
        Resolve resolve;
    };

    static Prediction planPhoto(const HalvanePreset& preset, const Slot& slot);
    static Prediction planTexture(const ZentrixPreset& preset, const Slot& slot, bool usesDefaultPattern);
    static Prediction planEpisode(const QuorvelPreset& preset, const Slot& slot);

    // Absolute, with "." and ".." resolved (no link is followed).
    static std::filesystem::path standardized(const std::filesystem::path& path);

    // Appends the collision and existing-file warnings after each report's
    // own and sets hasCollision where a name is another item's too. A
    // collision advises adding `missingTokens` to the pattern, unless empty.
    static void flagConflicts(std::vector<batch::SimulatedItemReport>& reports, bool checkExisting,
                              const std::string& missingTokens);
};

} // namespace presets

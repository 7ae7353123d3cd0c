#pragma once

#include <filesystem>

#include "batch/ExportablePresetBundle.h"

namespace batch {

// Writes preset bundles to files as pretty-printed JSON and reads them back.
// Holds no state; both calls are synchronous and may run on any thread.
class PresetStore {
public:
    PresetStore() = default;
    // One instance for the whole process, made on first use.
    static PresetStore& shared();

    // Writes beside `path` under a temporary name and renames it into place,
    // so an earlier bundle stays intact when anything fails. Throws
    // core::JsonShapeError (a text that is not UTF-8) or core::FileError.
    void exportBundle(const ExportablePresetBundle& bundle, const std::filesystem::path& path) const;
    // Throws core::FileError (unreadable) or core::JsonShapeError (not JSON,
    // a missing key, a value of the wrong type).
    ExportablePresetBundle importPreset(const std::filesystem::path& path) const;
};

} // namespace batch

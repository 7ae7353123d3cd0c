#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "core/Json.h"

namespace batch {

// The settings of one run. The queue reads maxConcurrentTasks, presets read
// outputDirectory and namingPattern; the other fields are carried and coded.
struct BatchConfiguration {
    std::filesystem::path outputDirectory;
    bool createSubfolders = true;
    std::string namingPattern = "{name}_{index:02}";
    bool overwriteExisting = false;
    int maxConcurrentTasks = 1;
    bool deleteSourceAfterSuccess = false;
    bool notifyOnCompletion = true;
    std::map<std::string, std::string> customSettings;

    // Cheap placeholder: the table defaults, an empty output folder and a
    // bound of 1. Use defaultConfiguration() for the real default.
    BatchConfiguration() = default;
    // Stores the fields; maxConcurrentTasks is clamped to
    // max(1, min(requested, 2 × active processor count)).
    BatchConfiguration(std::filesystem::path outputDirectory, bool createSubfolders,
                       std::string namingPattern, bool overwriteExisting, int maxConcurrentTasks,
                       bool deleteSourceAfterSuccess, bool notifyOnCompletion,
                       std::map<std::string, std::string> customSettings);

    // Built fresh on every call: "BatchOutput" in the user's Downloads folder
    // (the XDG setting, else ~/Downloads, existing or not; the temporary
    // folder only without a home), bound = active processor count. Creates
    // nothing.
    static BatchConfiguration defaultConfiguration();

    // Readies an output folder before a run: a missing one is made with its
    // parents, then a file is created in it and removed again. Throws
    // core::FileError naming the folder, with the system's reason.
    static void prepareOutputDirectory(const std::filesystem::path& folder);

    // All eight keys; outputDirectory as "file:" URL text.
    core::Json toJson() const;
    // All eight keys required with their types (core::JsonShapeError
    // otherwise); maxConcurrentTasks is taken as written, unclamped.
    static BatchConfiguration fromJson(const core::Json& json);

    bool operator==(const BatchConfiguration&) const = default;
};

} // namespace batch

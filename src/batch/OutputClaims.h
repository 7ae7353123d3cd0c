#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/Error.h"

namespace batch {

// Items' source files as texts name them: each one's path relative to the
// folder that holds them all ("walk/run1.png"), so items of one name in
// different folders are told apart. In the order given.
std::vector<std::string> namesUnderCommonFolder(const std::vector<std::filesystem::path>& sources);

// The output files the items of one run have claimed. An item claims a file
// before it writes it, so within a run no item replaces a file that another
// item of the run wrote or is writing; files that were on disk before the
// run are replaced as usual. A claim lasts for the whole run. Shared by all
// items of the run; claim() is atomic.
class OutputClaims {
public:
    // A file that another item of the run claimed first.
    class ClaimError : public core::Error {
    public:
        // "<file> was already written by <item> in this batch", then, when
        // `missingTokens` is not empty, "; add <missingTokens> to the naming
        // pattern".
        static ClaimError alreadyWritten(const std::string& shownFile, const std::string& itemName,
                                         const std::string& missingTokens);

    private:
        using core::Error::Error;
    };

    // Where the names of claimed files come from. Advice on the naming
    // pattern is given only for names the pattern makes.
    enum class Naming { pattern, fixed };

    // Files are shown relative to the run's output folder; items by their
    // source files (the run's items in job order) under the folder that
    // holds them all.
    OutputClaims(const std::filesystem::path& outputDirectory, const std::string& namingPattern,
                 const std::vector<std::filesystem::path>& itemSources);

    // Claims every file for item `item` (its position in the run, from 0),
    // all or none. When another item holds any of them nothing is claimed,
    // and ClaimError names the first such file and the item that holds it.
    // A file the same item claimed before stays its own.
    void claim(const std::vector<std::filesystem::path>& files, std::size_t item, Naming naming);

    // The position of the first item whose source file is `source`.
    std::optional<std::size_t> itemWithSource(const std::filesystem::path& source) const;

private:
    std::filesystem::path outputDirectory_; // absolute, normalised
    std::string missingTokens_;             // what the naming pattern lacks to tell items apart
    std::vector<std::filesystem::path> sources_; // absolute, normalised, by item
    std::vector<std::string> itemNames_;    // by item
    std::mutex mutex_;
    std::map<std::filesystem::path, std::size_t> claimed_; // holder by absolute, normalised path
};

// One item's hold on its run's claims: what the queue puts into the item's
// context and a preset hands on to the code that writes the item's files.
// Without claims (a context made outside a queue) nothing is checked.
struct OutputClaimant {
    std::shared_ptr<OutputClaims> claims;
    std::size_t item = 0; // position in the run

    // OutputClaims::claim for this item. Throws OutputClaims::ClaimError.
    void claim(const std::vector<std::filesystem::path>& files,
               OutputClaims::Naming naming = OutputClaims::Naming::pattern) const;

    // The hold of the run's item for `source`, for work done on that item's
    // behalf; this one when the run has no such item.
    OutputClaimant forSource(const std::filesystem::path& source) const;

    bool operator==(const OutputClaimant&) const = default;
};

} // namespace batch

#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/Error.h"
#include "core/Uuid.h"

namespace batch {

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
        // "<file> was already written by <item> in this batch; add {index}
        // or {name} to the naming pattern"
        static ClaimError alreadyWritten(const std::string& shownFile, const std::string& itemName);

    private:
        using core::Error::Error;
    };

    // Files are shown relative to the run's output folder.
    explicit OutputClaims(const std::filesystem::path& outputDirectory);

    // Claims every file for the item, all or none. When another item holds
    // any of them nothing is claimed, and ClaimError names the first such
    // file and the source file name of the item that holds it. A file the
    // same item claimed before stays its own.
    void claim(const std::vector<std::filesystem::path>& files, const core::Uuid& itemID,
               const std::filesystem::path& itemSource);

private:
    struct Holder {
        core::Uuid itemID;
        std::string itemName;
    };

    std::filesystem::path outputDirectory_; // absolute, normalised
    std::mutex mutex_;
    std::map<std::filesystem::path, Holder> claimed_; // by absolute, normalised path
};

// One item's hold on its run's claims: what the queue puts into the item's
// context and a preset hands on to the code that writes the item's files.
// Without claims (a context made outside a queue) nothing is checked.
struct OutputClaimant {
    std::shared_ptr<OutputClaims> claims;
    core::Uuid itemID;
    std::filesystem::path itemSource;

    // OutputClaims::claim for this item. Throws OutputClaims::ClaimError.
    void claim(const std::vector<std::filesystem::path>& files) const;

    bool operator==(const OutputClaimant&) const = default;
};

} // namespace batch

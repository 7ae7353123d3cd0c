#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "batch/BatchItem.h"
#include "batch/ProcessingContext.h"

namespace batch {

// The interface every edition preset implements. The queue reads id(),
// displayName() and process().
class BatchPreset {
public:
    virtual ~BatchPreset() = default;

    virtual std::string id() const = 0;
    virtual std::string displayName() const = 0;
    virtual std::string verticalName() const = 0;
    virtual std::string description() const = 0;
    virtual std::string systemIconName() const = 0;
    // Lower case, without the dot.
    virtual std::set<std::string> supportedExtensions() const = 0;
    virtual std::string defaultNamingPattern() const = 0;

    // Default: the item's lower-cased extension is in supportedExtensions().
    virtual bool canProcess(const BatchItem& item) const;

    // Does the work for one item and returns the files written, in the
    // preset's order. Blocking; called on a worker thread, possibly for
    // several items at once, so it must be re-entrant and keep its state in
    // locals. Throw BatchSkip to skip the item, anything else to fail it.
    virtual std::vector<std::filesystem::path> process(const BatchItem& item,
                                                       const ProcessingContext& context) const = 0;
};

} // namespace batch

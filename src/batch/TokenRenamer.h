#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "batch/BatchItem.h"
#include "core/Dates.h"

namespace batch {

// Expands a naming pattern ("{name}_{index:02}") into a file-name-safe base
// name for one item. Tokens:
//   {name} {ext} {total}        item name / extension (a context variable of
//                               the same name wins), the item count
//   {index} {index:N}           the position, zero-padded to N digits
//   {date} {date:FORMAT}        the current moment (default "yyyyMMdd")
//   {key} {key:N}               a metadata or context variable; the width form
//                               only for values that read as integers
// Afterwards every : / \ ? % * | " < > # (and NUL) becomes "_".
// Keeps nothing between calls; safe to use from several threads at once.
class TokenRenamer {
public:
    using ClockFunction = std::function<core::Date()>;

    // Widths larger than this are cut down to it.
    static constexpr std::int64_t kMaxWidth = 255;
    static constexpr std::string_view kDefaultDateFormat = "yyyyMMdd";

    TokenRenamer();
    // For tests: the moment {date} tokens show.
    explicit TokenRenamer(ClockFunction clock);

    // Never fails and adds no extension.
    std::string resolve(std::string_view pattern, const BatchItem& item, std::int64_t index,
                        std::int64_t total,
                        const std::map<std::string, std::string>& contextVariables = {}) const;

    // `value` in decimal, zero-padded to at least `width` characters with the
    // sign counting toward the width (as "%0<width>ld" would); widths are
    // clamped to 0...kMaxWidth.
    static std::string padInteger(std::int64_t value, std::int64_t width);

    // What a pattern lacks to give every item a name of its own: "{index}",
    // "{name}" or "{index} or {name}" ({index:N} counts as {index}); empty
    // when it holds both.
    static std::string missingItemTokens(std::string_view pattern);

private:
    ClockFunction clock_;
};

} // namespace batch

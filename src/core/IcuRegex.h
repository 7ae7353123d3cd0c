#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace core {

// A compiled ICU regular expression run directly on UTF-8 text. Match
// positions are byte offsets into that text, so a caller can splice the
// original bytes without converting the whole text (bytes that are not valid
// UTF-8 are seen by the engine as U+FFFD and stay untouched elsewhere).
// ICU syntax: `\w` and `\d` are Unicode-aware.
class IcuRegex {
public:
    struct Range {
        std::size_t begin = 0;
        std::size_t end = 0;
        std::size_t length() const { return end - begin; }
        bool operator==(const Range&) const = default;
    };
    // groups[0] is the whole match; a group that took no part is empty.
    struct Match {
        std::vector<std::optional<Range>> groups;
    };

    // No value when the expression does not compile.
    static std::optional<IcuRegex> compile(std::string_view pattern);

    // Every non-overlapping match, left to right. Never throws for bad text;
    // an engine failure ends the search with the matches found so far.
    std::vector<Match> findAll(std::string_view text) const;

private:
    struct Impl;
    explicit IcuRegex(std::shared_ptr<const Impl> impl) : impl_(std::move(impl)) {}
    std::shared_ptr<const Impl> impl_;
};

} // namespace core

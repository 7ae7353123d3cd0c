#include "core/IcuRegex.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>

namespace core {

struct IcuRegex::Impl {
    std::unique_ptr<icu::RegexPattern> pattern;
};

std::optional<IcuRegex> IcuRegex::compile(std::string_view pattern) {
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    auto text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(pattern.data(), static_cast<int32_t>(pattern.size())));
    std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(text, 0, parseError, status));
    if (U_FAILURE(status) || !compiled) return std::nullopt;
    auto impl = std::make_shared<Impl>();
    impl->pattern = std::move(compiled);
    return IcuRegex(std::move(impl));
}

std::vector<IcuRegex::Match> IcuRegex::findAll(std::string_view text) const {
    std::vector<Match> matches;
    UErrorCode status = U_ZERO_ERROR;
    const char* data = text.empty() ? "" : text.data();
    UText* input = utext_openUTF8(nullptr, data, static_cast<int64_t>(text.size()), &status);
    if (U_FAILURE(status)) return matches;
    std::unique_ptr<icu::RegexMatcher> matcher(impl_->pattern->matcher(status));
    if (U_FAILURE(status) || !matcher) {
        utext_close(input);
        return matches;
    }
    matcher->reset(input);
    const int32_t groupCount = matcher->groupCount();
    while (matcher->find(status) && U_SUCCESS(status)) {
        Match m;
        m.groups.reserve(static_cast<std::size_t>(groupCount) + 1);
        for (int32_t g = 0; g <= groupCount; ++g) {
            int64_t begin = matcher->start64(g, status);
            int64_t end = matcher->end64(g, status);
            if (U_FAILURE(status) || begin < 0 || end < begin ||
                static_cast<uint64_t>(end) > text.size()) {
                m.groups.emplace_back(std::nullopt);
                status = U_ZERO_ERROR;
                continue;
            }
            m.groups.emplace_back(Range{static_cast<std::size_t>(begin), static_cast<std::size_t>(end)});
        }
        matches.push_back(std::move(m));
    }
    matcher.reset(); // the matcher refers to the UText; release it first
    utext_close(input);
    return matches;
}

} // namespace core

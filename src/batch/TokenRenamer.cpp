#include "batch/TokenRenamer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <vector>

#include "core/DateFormat.h"
#include "core/IcuRegex.h"
#include "core/Numbers.h"
#include "core/Text.h"

namespace batch {

namespace {

using Variables = std::map<std::string, std::string>;

// {index} and {index:N}, the width in group 1.
constexpr std::string_view kIndexToken = R"(\{index(?::(\d+))?\})";

// Characters that may not appear in a base name; each becomes one "_".
constexpr std::string_view kUnsafeCharacters{":/\\?%*|\"<>#\0", 12};

std::string decimal(std::int64_t value) {
    std::array<char, 24> buffer{};
    auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    (void)ec; // 24 characters always hold a 64-bit integer
    return std::string(buffer.data(), end);
}

std::string_view slice(std::string_view text, const core::IcuRegex::Range& r) {
    return text.substr(r.begin, r.length());
}

// Matches of `expression` in `text`, each handed to `replacement`, which
// returns the new text or nothing to leave the match alone. Applied from the
// last match to the first on the text as it stood before the step.
template <typename Replacement>
void replaceMatches(std::string& text, std::string_view expression, Replacement replacement) {
    auto regex = core::IcuRegex::compile(expression);
    if (!regex) return; // a fixed expression; should it ever fail, the step is left out
    const auto matches = regex->findAll(text);
    const std::string before = text;
    for (auto it = matches.rbegin(); it != matches.rend(); ++it) {
        if (it->groups.empty() || !it->groups[0]) continue;
        const auto whole = *it->groups[0];
        std::optional<std::string> with = replacement(std::string_view(before), *it);
        if (with) text.replace(whole.begin, whole.length(), *with);
    }
}

std::optional<std::string_view> group(std::string_view text, const core::IcuRegex::Match& m, std::size_t g) {
    if (g >= m.groups.size() || !m.groups[g]) return std::nullopt;
    return slice(text, *m.groups[g]);
}

// No usable file name comes anywhere near this; a pattern that repeats a
// long value thousands of times stops growing here, inside a replacement
// as well as between them.
constexpr std::size_t kMaxExpandedBytes = 64 * 1024;

// Cuts `text` to at most `limit` bytes on a UTF-8 boundary.
void cutTo(std::string& text, std::size_t limit) {
    if (text.size() <= limit) return;
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
}

// Every occurrence of `token` replaced by `value`, literal, left to right,
// without rescanning inserted text; the result never exceeds the cap.
std::string replaceCapped(const std::string& text, std::string_view token, std::string_view value) {
    if (token.empty()) return text;
    std::string out;
    std::size_t from = 0;
    while (true) {
        const std::size_t at = text.find(token, from);
        const std::size_t end = at == std::string::npos ? text.size() : at;
        out.append(text, from, end - from);
        if (out.size() > kMaxExpandedBytes) break;
        if (at == std::string::npos) break;
        out.append(value.substr(0, std::min(value.size(), kMaxExpandedBytes + 1 - out.size())));
        if (out.size() > kMaxExpandedBytes) break;
        from = at + token.size();
    }
    cutTo(out, kMaxExpandedBytes);
    return out;
}

} // namespace

TokenRenamer::TokenRenamer() : clock_([] { return core::Clock::now(); }) {}

TokenRenamer::TokenRenamer(ClockFunction clock) : clock_(std::move(clock)) {
    if (!clock_) clock_ = [] { return core::Clock::now(); };
}

std::string TokenRenamer::padInteger(std::int64_t value, std::int64_t width) {
    width = std::clamp<std::int64_t>(width, 0, kMaxWidth);
    std::string digits = decimal(value);
    const auto length = static_cast<std::int64_t>(digits.size());
    if (length >= width) return digits;
    const auto zeros = static_cast<std::size_t>(width - length);
    const std::size_t at = (value < 0) ? 1 : 0; // zeros go after the sign
    digits.insert(at, zeros, '0');
    return digits;
}

std::string TokenRenamer::missingItemTokens(std::string_view pattern) {
    auto index = core::IcuRegex::compile(kIndexToken);
    const bool hasIndex = index && !index->findAll(pattern).empty();
    const bool hasName = pattern.find("{name}") != std::string_view::npos;
    if (hasIndex && hasName) return {};
    if (hasIndex) return "{name}";
    if (hasName) return "{index}";
    return "{index} or {name}";
}

std::string TokenRenamer::resolve(std::string_view pattern, const BatchItem& item, std::int64_t index,
                                  std::int64_t total, const Variables& contextVariables) const {
    std::string text(pattern);

    // 1-3: the fixed tokens, literal, without rescanning what they insert.
    cutTo(text, kMaxExpandedBytes);
    auto nameIt = contextVariables.find("name");
    text = replaceCapped(text, "{name}", nameIt != contextVariables.end() ? nameIt->second : item.originalFileName);
    auto extIt = contextVariables.find("ext");
    text = replaceCapped(text, "{ext}", extIt != contextVariables.end() ? extIt->second : item.fileExtension);
    text = replaceCapped(text, "{total}", decimal(total));

    // 4: {index} and {index:N}. A width that does not fit 64 bits counts as 1.
    replaceMatches(text, kIndexToken,
                   [&](std::string_view before, const core::IcuRegex::Match& m) -> std::optional<std::string> {
                       std::int64_t width = 1;
                       if (auto digits = group(before, m, 1))
                           if (auto n = core::parseInt(*digits)) width = *n;
                       return padInteger(index, width);
                   });
    cutTo(text, kMaxExpandedBytes);

    // 5: {date} and {date:FORMAT}, all showing the same moment.
    const core::Date now = clock_();
    replaceMatches(text, R"(\{date(?::([^}]+))?\})",
                   [&](std::string_view before, const core::IcuRegex::Match& m) -> std::optional<std::string> {
                       auto format = group(before, m, 1).value_or(kDefaultDateFormat);
                       return core::formatDatePattern(now, format);
                   });
    cutTo(text, kMaxExpandedBytes);

    // 6: variables, metadata overlaid by the context, in sorted key order so
    // that the result never depends on the order of a hash table.
    Variables variables = item.metadata;
    for (const auto& [key, value] : contextVariables) variables[key] = value;
    // Values may hold other variables' tokens and so grow the name with every
    // step; each replacement is capped (see replaceCapped).
    for (const auto& [key, value] : variables) {
        if (text.size() >= kMaxExpandedBytes) break;
        text = replaceCapped(text, "{" + key + "}", value);
    }

    // 7: {key:N} for integer values.
    replaceMatches(text, R"(\{(\w+):(\d+)\})",
                   [&](std::string_view before, const core::IcuRegex::Match& m) -> std::optional<std::string> {
                       auto key = group(before, m, 1);
                       auto widthText = group(before, m, 2);
                       if (!key || !widthText) return std::nullopt;
                       auto found = variables.find(std::string(*key));
                       if (found == variables.end()) return std::nullopt;
                       auto value = core::parseInt(found->second);
                       auto width = core::parseInt(*widthText);
                       if (!value || !width) return std::nullopt;
                       return padInteger(*value, *width);
                   });
    cutTo(text, kMaxExpandedBytes);

    // 8: characters that are unsafe in file names.
    std::replace_if(
        text.begin(), text.end(), [](char c) { return kUnsafeCharacters.find(c) != std::string_view::npos; },
        '_');
    return text;
}

} // namespace batch

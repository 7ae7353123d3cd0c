#include "core/Text.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace core {

bool isValidUtf8(std::string_view text) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    int32_t i = 0;
    const auto n = static_cast<int32_t>(text.size());
    while (i < n) {
        UChar32 c;
        U8_NEXT(s, i, n, c);
        if (c < 0) return false;
    }
    return true;
}

std::string sanitizeUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    int32_t i = 0;
    const auto n = static_cast<int32_t>(text.size());
    while (i < n) {
        int32_t start = i;
        UChar32 c;
        U8_NEXT(s, i, n, c);
        if (c < 0)
            out += "\xEF\xBF\xBD";
        else
            out.append(text.substr(static_cast<size_t>(start), static_cast<size_t>(i - start)));
    }
    return out;
}

std::string toLower(std::string_view text) {
    auto u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    u.toLower(icu::Locale::getRoot());
    std::string out;
    u.toUTF8String(out);
    return out;
}

namespace {
template <typename Pred> std::string trimWith(std::string_view text, Pred isTrimmed) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const auto n = static_cast<int32_t>(text.size());
    int32_t begin = 0;
    while (begin < n) {
        int32_t next = begin;
        UChar32 c;
        U8_NEXT(s, next, n, c);
        if (c < 0 || !isTrimmed(c)) break;
        begin = next;
    }
    int32_t end = n;
    while (end > begin) {
        int32_t prev = end;
        UChar32 c;
        U8_PREV(s, 0, prev, c);
        if (c < 0 || !isTrimmed(c)) break;
        end = prev;
    }
    return std::string(text.substr(static_cast<size_t>(begin), static_cast<size_t>(end - begin)));
}
} // namespace

std::string trimWhitespace(std::string_view text) {
    return trimWith(text, [](UChar32 c) { return u_isUWhiteSpace(c) != 0; });
}

std::string trimCharacters(std::string_view text, std::string_view chars) {
    auto set = icu::UnicodeString::fromUTF8(icu::StringPiece(chars.data(), static_cast<int32_t>(chars.size())));
    return trimWith(text, [&](UChar32 c) { return set.indexOf(c) >= 0; });
}

std::vector<std::string> split(std::string_view text, char separator, bool keepEmpty) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t pos = text.find(separator, start);
        auto piece = text.substr(start, pos == std::string_view::npos ? std::string_view::npos : pos - start);
        if (keepEmpty || !piece.empty()) parts.emplace_back(piece);
        if (pos == std::string_view::npos) break;
        start = pos + 1;
    }
    return parts;
}

std::string join(const std::vector<std::string>& parts, std::string_view separator) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += separator;
        out += parts[i];
    }
    return out;
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }
bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
    if (from.empty()) return text;
    size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
    return text;
}

} // namespace core

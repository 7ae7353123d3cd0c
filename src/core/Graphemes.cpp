#include "core/Graphemes.h"

#include <memory>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace core {

namespace {

icu::UnicodeString toUnicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

// One character break iterator per thread; making one per call is costly.
icu::BreakIterator* characterIterator() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> it(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) it.reset();
        return it;
    }();
    return iterator.get();
}

} // namespace

std::size_t graphemeCount(std::string_view text) {
    if (text.empty()) return 0;
    const auto u = toUnicode(text);
    auto* it = characterIterator();
    if (!it) return static_cast<std::size_t>(u.countChar32());
    it->setText(u);
    std::size_t n = 0;
    for (int32_t p = it->next(); p != icu::BreakIterator::DONE; p = it->next()) ++n;
    return n;
}

std::string uppercaseFirst(std::string_view text) {
    if (text.empty()) return {};
    const auto u = toUnicode(text);
    int32_t firstEnd = u.moveIndex32(0, 1);
    if (auto* it = characterIterator()) {
        it->setText(u);
        const int32_t p = it->next();
        if (p != icu::BreakIterator::DONE) firstEnd = p;
    }
    icu::UnicodeString head(u, 0, firstEnd);
    head.toUpper(icu::Locale::getRoot());
    icu::UnicodeString rest(u, firstEnd);
    std::string out;
    head.toUTF8String(out);
    rest.toUTF8String(out);
    return out;
}

} // namespace core

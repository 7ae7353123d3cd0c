#include "core/NaturalCollator.h"

#include <cstring>

#include <unicode/coll.h>
#include <unicode/locid.h>

namespace core {

namespace {
bool isPosixLocale(const icu::Locale& locale) {
    const char* name = locale.getName();
    const char* language = locale.getLanguage();
    return language == nullptr || language[0] == '\0' || std::strcmp(name, "en_US_POSIX") == 0 ||
           std::strcmp(language, "c") == 0 || std::strcmp(language, "posix") == 0;
}
} // namespace

struct NaturalCollator::Impl {
    std::unique_ptr<icu::Collator> collator;
};

NaturalCollator::NaturalCollator() : impl_(std::make_unique<Impl>()) {
    icu::Locale locale = icu::Locale::getDefault();
    if (isPosixLocale(locale)) locale = icu::Locale::getRoot();
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
    if (U_FAILURE(status) || !collator) return;
    collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
    if (U_FAILURE(status)) return;
    impl_->collator = std::move(collator);
}

NaturalCollator::~NaturalCollator() = default;
NaturalCollator::NaturalCollator(NaturalCollator&&) noexcept = default;
NaturalCollator& NaturalCollator::operator=(NaturalCollator&&) noexcept = default;

int NaturalCollator::compare(std::string_view a, std::string_view b) const {
    if (impl_ && impl_->collator) {
        UErrorCode status = U_ZERO_ERROR;
        UCollationResult r = impl_->collator->compareUTF8(
            icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
            icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), status);
        if (U_SUCCESS(status)) return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
    }
    int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

} // namespace core

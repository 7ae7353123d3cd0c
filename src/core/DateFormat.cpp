#include "core/DateFormat.h"

#include <chrono>

#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/unistr.h>

namespace core {

std::string formatDatePattern(Date date, std::string_view pattern) {
    UErrorCode status = U_ZERO_ERROR;
    auto icuPattern = icu::UnicodeString::fromUTF8(
        icu::StringPiece(pattern.data(), static_cast<int32_t>(pattern.size())));
    icu::SimpleDateFormat formatter(icuPattern, icu::Locale::getDefault(), status);
    if (U_FAILURE(status)) return {};
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(date.time_since_epoch()).count();
    icu::UnicodeString out;
    formatter.format(static_cast<UDate>(ms), out);
    std::string text;
    out.toUTF8String(text);
    return text;
}

} // namespace core

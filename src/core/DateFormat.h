#pragma once

#include <string>
#include <string_view>

#include "core/Dates.h"

namespace core {

// Formats `date` with a Unicode date-field pattern ("yyyyMMdd", "HH:mm") in
// the user's locale, calendar and time zone (ICU defaults). A pattern ICU
// refuses gives an empty text; nothing is thrown.
std::string formatDatePattern(Date date, std::string_view pattern);

} // namespace core

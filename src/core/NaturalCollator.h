#pragma once

#include <memory>
#include <string_view>

namespace core {

// The file manager's order of names: Unicode collation with digit runs
// compared by numeric value ("ep2" before "Ep10"). Uses the process's ICU
// default locale; when that is the C/POSIX locale (which ICU reports as
// en_US_POSIX, an ASCII-order tailoring) the root collation is used instead,
// so the order is the same on a build machine as on a desktop.
class NaturalCollator {
public:
    NaturalCollator();
    ~NaturalCollator();
    NaturalCollator(NaturalCollator&&) noexcept;
    NaturalCollator& operator=(NaturalCollator&&) noexcept;

    // Negative, zero or positive. Falls back to byte order when ICU has no
    // collator to offer.
    int compare(std::string_view a, std::string_view b) const;
    bool operator()(std::string_view a, std::string_view b) const { return compare(a, b) < 0; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace core

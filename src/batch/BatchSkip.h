#pragma once

#include <exception>
#include <string>
#include <utility>

namespace batch {

// Thrown by a preset to have the item marked skipped instead of failed.
// what() is the reason unchanged.
struct BatchSkip : std::exception {
    std::string reason;

    explicit BatchSkip(std::string reason) : reason(std::move(reason)) {}
    const char* what() const noexcept override { return reason.c_str(); }
};

} // namespace batch

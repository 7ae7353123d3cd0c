#pragma once

#include <stdexcept>
#include <string>

namespace core {

// Base of every error the engines throw. what() is the user-facing
// description: a fixed text plus the name of the file concerned.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& description) : std::runtime_error(description) {}
    const std::string description() const { return what(); }
};

} // namespace core

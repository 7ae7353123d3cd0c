#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/Dates.h"

namespace ui {

// The workspace talks to the outside world only through these ports, so its
// logic runs the same in the application (Qt) and in tests (in memory).

// Runs a closure on the GUI thread, after the current event.
using Poster = std::function<void(std::function<void()>)>;

// One-shot timers on the GUI thread.
class Scheduler {
public:
    using Token = std::uint64_t;
    virtual ~Scheduler() = default;
    virtual Token schedule(double seconds, std::function<void()> action) = 0;
    virtual void cancel(Token token) = 0;
};

// The user-defaults store.
class SettingsStore {
public:
    using StringMap = std::map<std::string, std::string>;
    virtual ~SettingsStore() = default;
    // Nothing when absent, or when the stored value is not a map of texts.
    virtual std::optional<StringMap> stringMap(const std::string& key) const = 0;
    virtual std::optional<std::string> text(const std::string& key) const = 0;
    virtual std::optional<double> number(const std::string& key) const = 0;
    virtual void setStringMap(const std::string& key, const StringMap& value) = 0;
    virtual void setText(const std::string& key, const std::string& value) = 0;
    virtual void setNumber(const std::string& key, double value) = 0;
};

// An in-memory store (tests, and a fallback).
class MemorySettingsStore : public SettingsStore {
public:
    std::optional<StringMap> stringMap(const std::string& key) const override {
        auto it = maps.find(key);
        if (it == maps.end()) return std::nullopt;
        return it->second;
    }
    std::optional<std::string> text(const std::string& key) const override {
        auto it = texts.find(key);
        if (it == texts.end()) return std::nullopt;
        return it->second;
    }
    std::optional<double> number(const std::string& key) const override {
        auto it = numbers.find(key);
        if (it == numbers.end()) return std::nullopt;
        return it->second;
    }
    void setStringMap(const std::string& key, const StringMap& value) override {
        maps[key] = value;
        ++writes;
    }
    void setText(const std::string& key, const std::string& value) override {
        texts[key] = value;
        ++writes;
    }
    void setNumber(const std::string& key, double value) override {
        numbers[key] = value;
        ++writes;
    }

    std::map<std::string, StringMap> maps;
    std::map<std::string, std::string> texts;
    std::map<std::string, double> numbers;
    int writes = 0;
};

// Open panels and the file manager.
struct DesktopPorts {
    // Files and folders chosen by the user (empty when cancelled).
    std::function<std::vector<std::filesystem::path>()> chooseInputs;
    // One folder of inputs chosen by the user (nothing when cancelled).
    std::function<std::optional<std::filesystem::path>()> chooseInputFolder;
    // A folder chosen by the user, starting at the given one.
    std::function<std::optional<std::filesystem::path>(const std::filesystem::path&)> chooseFolder;
    // Shows the files selected in the file manager.
    std::function<void(const std::vector<std::filesystem::path>&)> reveal;
    // A warning over the window: a message and its informative text.
    std::function<void(const std::string&, const std::string&)> alert;
};

using ClockPort = std::function<core::Date()>;

} // namespace ui

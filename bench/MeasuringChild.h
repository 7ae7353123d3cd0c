#pragma once

// What the benches that measure in forked children share: the child, the
// numbers it reports back and the command-line options.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <fmt/format.h>

namespace benchsupport {

struct ChildResult {
    std::string text;      // what the child wrote to the pipe
    double peakMB = 0;     // the child's peak resident memory
    double cpuSeconds = 0; // user and system time of the child
};

// Runs `body` in a forked child and returns the text it reports, its peak
// resident memory and its processor time. The parent should hold nothing
// large, so a child inherits nothing large. A child that throws says so on
// stderr after `bench`'s name, and the call throws.
inline ChildResult inChild(std::string_view bench, const std::function<std::string()>& body) {
    std::fflush(stdout);
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::close(fds[0]);
        int code = 0;
        std::string text;
        try {
            text = body();
        } catch (const std::exception& e) {
            std::fputs(fmt::format("{} child: {}\n", bench, e.what()).c_str(), stderr);
            code = 1;
        }
        for (std::size_t done = 0; done < text.size();) {
            const auto n = ::write(fds[1], text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::close(fds[1]);
        ::_exit(code);
    }
    ::close(fds[1]);
    ChildResult result;
    char buffer[4096];
    for (;;) {
        const auto n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        result.text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("a measuring child failed");
    result.peakMB = static_cast<double>(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
    const auto toSeconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    result.cpuSeconds = toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
    return result;
}

// Reads the numbers a child reported, separated by spaces, from the front of
// `text`; what follows them is left in `text`.
inline std::vector<double> numbers(std::string_view& text, std::size_t count) {
    std::vector<double> values;
    for (std::size_t i = 0; i < count; ++i) {
        double value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (ec != std::errc() || end == text.data()) throw std::runtime_error("bad report from a child");
        values.push_back(value);
        text.remove_prefix(static_cast<std::size_t>(end - text.data()));
        if (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    }
    return values;
}

// Whether `name` is on the command line.
inline bool flag(int argc, char** argv, std::string_view name) {
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == name) return true;
    return false;
}

// The whole number after `name` on the command line; `fallback` without one.
inline int option(int argc, char** argv, std::string_view name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string_view(argv[i]) == name) {
            const std::string_view n = argv[i + 1];
            int value = fallback;
            std::from_chars(n.data(), n.data() + n.size(), value);
            return value;
        }
    return fallback;
}

} // namespace benchsupport

// The cost of straightening verticals in the real-estate photo item: one
// 24 MP photo-like JPEG (6000 x 4000, walls and door frames whose verticals
// converge towards the top and lean by a small roll) through the preset's
// whole item (load, straighten, print and web sets) with straightening on and
// off. Each variant runs in its own forked child, so each peak is its own:
// times come back through a pipe, peak memory from the child's resource
// usage (after its first item, and from wait4 after all of them). Another
// child times the straightener's two halves on the loaded photo.
//
// Prints: STEP straighten_load|straighten_analyze|straighten_correct <s>s
//         CORRECTION straighten <the preset's log line>
//         COMPARE straighten with=<s>s without=<s>s ratio=<with/without>
//         PEAK straighten with=<MB>MB without=<MB>MB ratio=<with/without>
//         PEAK straighten_repeated with=<MB>MB without=<MB>MB   (after all repeats)
//         [COMPARE straighten_<N>at_once ..., PEAK straighten_<N>at_once ...]
//         TOTAL <s>s peak_rss=<MB>MB
// Options: --repeats N (items per variant, best time kept; default 3);
//          --at-once N (also N items side by side per variant, as a batch
//          runs them; default off).

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "batch/BatchItem.h"
#include "core/Files.h"
#include "image/photo/ArchitecturalStraightener.h"
#include "image/picture/CoreImagePipeline.h"
#include "presets/HalvanePreset.h"

#include "MeasuringChild.h"

namespace fs = std::filesystem;
using benchsupport::ChildResult;
using benchsupport::numbers;
using benchsupport::option;

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// A room: a lit wall with texture and grain, dark door frames and window
// bars standing upright, then seen through a camera tilted up (verticals
// converging so the top row is 12 % narrower) and rolled by 1.5 degrees.
cv::Mat room(int width, int height) {
    cv::Mat upright(height, width, CV_8UC3);
    upright.forEach<cv::Vec3b>([width, height](cv::Vec3b& p, const int* pos) {
        const double y = pos[0], x = pos[1];
        const double light = 30.0 * std::sin(x / width * 3.1) + 20.0 * y / height;
        p = cv::Vec3b(cv::saturate_cast<std::uint8_t>(170 + light), cv::saturate_cast<std::uint8_t>(180 + light),
                      cv::saturate_cast<std::uint8_t>(195 + light));
    });
    const double frames[][2] = {{0.08, 0.035}, {0.27, 0.02}, {0.44, 0.05}, {0.63, 0.025}, {0.82, 0.04}};
    for (const auto& f : frames) {
        const int left = static_cast<int>(f[0] * width);
        const int w = static_cast<int>(f[1] * width);
        cv::rectangle(upright, cv::Rect(left, 0, w, height), cv::Scalar(45, 50, 60), cv::FILLED);
        cv::rectangle(upright, cv::Rect(left + w / 3, 0, w / 3, height), cv::Scalar(90, 85, 80), cv::FILLED);
    }
    // Furniture: some horizontal edges and blocks that are not verticals.
    cv::rectangle(upright, cv::Rect(width / 6, height * 2 / 3, width / 3, height / 5), cv::Scalar(70, 110, 150),
                  cv::FILLED);
    cv::line(upright, {0, height * 3 / 4}, {width, height * 3 / 4}, cv::Scalar(60, 60, 60), 12);

    // The tilted camera: corners of the upright scene to where they land.
    const float w = static_cast<float>(width), h = static_cast<float>(height);
    const float inset = 0.06f * w;
    const std::array<cv::Point2f, 4> from{cv::Point2f(0, 0), cv::Point2f(w, 0), cv::Point2f(w, h), cv::Point2f(0, h)};
    const std::array<cv::Point2f, 4> to{cv::Point2f(inset, 0), cv::Point2f(w - inset, 0), cv::Point2f(w, h),
                                        cv::Point2f(0, h)};
    cv::Mat tilt = cv::getPerspectiveTransform(from.data(), to.data());
    cv::Mat roll = cv::Mat::eye(3, 3, CV_64F);
    cv::getRotationMatrix2D(cv::Point2f(w / 2, h / 2), 1.5, 1.08).copyTo(roll.rowRange(0, 2));
    cv::Mat seen;
    cv::warpPerspective(upright, seen, roll * tilt, upright.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
    upright.release();

    cv::Mat grain(seen.size(), CV_8UC3);
    cv::RNG(23).fill(grain, cv::RNG::NORMAL, 0, 5);
    cv::add(seen, grain, seen, cv::noArray(), CV_8UC3);
    cv::subtract(seen, cv::Scalar::all(2), seen);
    return seen;
}

double peakSoFarMB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;   // kilobytes on Linux
}

ChildResult inChild(const std::function<std::string()>& body) {
    return benchsupport::inChild("bench_straighten", body);
}

// One item of the default real-estate preset (print and web sets), with
// straightening on or off; the item's last log line goes to `log`.
double runItem(const fs::path& source, const fs::path& out, bool straighten, std::string* log) {
    presets::HalvanePreset preset;
    preset.autoStraightenVerticals = straighten;
    batch::ProcessingContext ctx;
    ctx.configuration.outputDirectory = out;
    ctx.configuration.namingPattern = "{name}_{size}";
    ctx.itemIndex = 1;
    ctx.totalItems = 1;
    if (log) ctx.log = [log](std::string line) { *log = std::move(line); };
    const auto start = Clock::now();
    const auto files = preset.process(batch::BatchItem(core::Uuid::random(), source), ctx);
    const double elapsed = seconds(start);
    if (files.size() != 2) throw std::runtime_error("the item wrote no print and web sets");
    return elapsed;
}

// A small warm-up item, then the photo `repeats` times. Reports the best
// time, the peak after the first photo, then the item's log line.
std::string measureVariant(const fs::path& source, const fs::path& warm, const fs::path& out, bool straighten,
                           int repeats) {
    runItem(warm, out / "warm", straighten, nullptr);
    double best = std::numeric_limits<double>::infinity();
    double firstPeak = 0;
    std::string log;
    for (int i = 0; i < repeats; ++i) {
        best = std::min(best, runItem(source, out, straighten, &log));
        if (i == 0) firstPeak = peakSoFarMB();
    }
    return fmt::format("{:.6f} {:.1f} {}", best, firstPeak, log);
}

// `count` items of the photo side by side, as a batch runs them, after a
// warm-up; reports the wall time.
std::string measureAtOnce(const fs::path& source, const fs::path& warm, const fs::path& out, bool straighten,
                          int count) {
    runItem(warm, out / "warm", straighten, nullptr);
    std::vector<std::thread> workers;
    std::atomic<bool> failed{false};
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i)
        workers.emplace_back([&, i] {
            try {
                runItem(source, out / fmt::format("item{}", i), straighten, nullptr);
            } catch (...) {
                failed = true;
            }
        });
    for (auto& w : workers) w.join();
    if (failed) throw std::runtime_error("an item failed");
    return fmt::format("{:.6f}", seconds(start));
}

// The two halves of the straightener on the loaded photo, best of `repeats`.
std::string measureSteps(const fs::path& source, int repeats) {
    const auto& pipeline = image::CoreImagePipeline::shared();
    if (!pipeline.loadImage(source)) throw std::runtime_error("cannot load the photo");
    const image::ArchitecturalStraightener straightener;
    double load = 1e9, analyze = 1e9, correct = 1e9;
    for (int i = 0; i < repeats; ++i) {
        auto start = Clock::now();
        const auto photo = pipeline.loadImage(source);
        load = std::min(load, seconds(start));
        start = Clock::now();
        const auto parameters = straightener.analyze(*photo);
        analyze = std::min(analyze, seconds(start));
        start = Clock::now();
        const image::Image result = straightener.straighten(*photo, parameters);
        correct = std::min(correct, seconds(start));
        if (result.empty()) throw std::runtime_error("no result");
    }
    return fmt::format("{:.6f} {:.6f} {:.6f}", load, analyze, correct);
}

} // namespace

int main(int argc, char** argv) {
    try {
        const int repeats = std::max(option(argc, argv, "--repeats", 3), 1);
        const int atOnce = std::max(option(argc, argv, "--at-once", 0), 0);

        const auto start = Clock::now();
        core::WorkFolder work("bench-straighten");
        const fs::path source = work.path() / "room24mp.jpg";
        const fs::path warm = work.path() / "warm.jpg";
        // Drawn in a child too, so the parent stays small.
        inChild([&] {
            if (!cv::imwrite(source.string(), room(6000, 4000), {cv::IMWRITE_JPEG_QUALITY, 92}) ||
                !cv::imwrite(warm.string(), room(900, 600), {cv::IMWRITE_JPEG_QUALITY, 92}))
                throw std::runtime_error("cannot write the photos");
            return std::string();
        });

        const ChildResult steps = inChild([&] { return measureSteps(source, repeats); });
        const ChildResult withRun =
            inChild([&] { return measureVariant(source, warm, work.path() / "with", true, repeats); });
        const ChildResult withoutRun =
            inChild([&] { return measureVariant(source, warm, work.path() / "without", false, repeats); });
        double highest = std::max({steps.peakMB, withRun.peakMB, withoutRun.peakMB});

        std::string_view stepText = steps.text;
        const auto stepTimes = numbers(stepText, 3);
        fmt::print("STEP straighten_load {:.3f}s\n", stepTimes[0]);
        fmt::print("STEP straighten_analyze {:.3f}s\n", stepTimes[1]);
        fmt::print("STEP straighten_correct {:.3f}s\n", stepTimes[2]);

        std::string_view withText = withRun.text;
        std::string_view withoutText = withoutRun.text;
        const auto with = numbers(withText, 2);
        const auto without = numbers(withoutText, 2);
        fmt::print("CORRECTION straighten {}\n", withText);
        fmt::print("COMPARE straighten with={:.3f}s without={:.3f}s ratio={:.2f}\n", with[0], without[0],
                   with[0] / without[0]);
        fmt::print("PEAK straighten with={:.0f}MB without={:.0f}MB ratio={:.2f}\n", with[1], without[1],
                   with[1] / without[1]);
        fmt::print("PEAK straighten_repeated with={:.0f}MB without={:.0f}MB ratio={:.2f}\n", withRun.peakMB,
                   withoutRun.peakMB, withRun.peakMB / withoutRun.peakMB);

        if (atOnce > 0) {
            const ChildResult withBatch =
                inChild([&] { return measureAtOnce(source, warm, work.path() / "with_batch", true, atOnce); });
            const ChildResult withoutBatch =
                inChild([&] { return measureAtOnce(source, warm, work.path() / "without_batch", false, atOnce); });
            std::string_view a = withBatch.text, b = withoutBatch.text;
            const double withSeconds = numbers(a, 1)[0], withoutSeconds = numbers(b, 1)[0];
            fmt::print("COMPARE straighten_{}at_once with={:.3f}s without={:.3f}s ratio={:.2f}\n", atOnce, withSeconds,
                       withoutSeconds, withSeconds / withoutSeconds);
            fmt::print("PEAK straighten_{}at_once with={:.0f}MB without={:.0f}MB ratio={:.2f}\n", atOnce,
                       withBatch.peakMB, withoutBatch.peakMB, withBatch.peakMB / withoutBatch.peakMB);
            highest = std::max({highest, withBatch.peakMB, withoutBatch.peakMB});
        }
        fmt::print("TOTAL {:.2f}s peak_rss={:.0f}MB\n", seconds(start), highest);
        return 0;
    } catch (const std::exception& e) {
        std::fputs(fmt::format("bench_straighten: {}\n", e.what()).c_str(), stderr);
        return 1;
    }
}

// A real-estate shoot through the photo edition's default preset as the app
// runs it: 32 camera photos (12 MP, 4000 x 3000 JPEGs with camera EXIF, GPS
// and XMP) on the batch queue with 8 items at once, print and web sets.
// Once for each number of threads libvips may use for one resample: one per
// core as libvips has it (with 8 items that is up to 64 pixel threads beside
// OpenCV's pool), 1, 2, and the program's share of the cores among the items
// running (image::ItemRunning). Each setting runs in its own forked child,
// so each peak is its own; the threads the child had at most are sampled
// from /proc.
//
// Prints: STEP photo_batch_<setting> <s>s cpu=<s>s peak_rss=<MB>MB threads=<n>
//         COMPARE photo_batch_vips_threads libvips=<s>s one=<s>s two=<s>s
//                 program=<s>s best=<setting>
//         PEAK photo_batch_vips_threads libvips=<MB>MB one=<MB>MB ...
//         TOTAL <s>s peak_rss=<MB>MB
// Options: --photos N (default 32), --workers N (default 8), --rounds N
//          (each setting N times, in turn; the best time kept; default 1),
//          --large-profile (instead: the program's setting with and without
//          a 40 x 30 JPEG whose colour profile is 100 MB in 1601 chunks at
//          the head of the queue, which must fail alone; prints
//          COMPARE photo_batch_large_profile with=<s>s without=<s>s).

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "batch/BatchConfiguration.h"
#include "batch/BatchItem.h"
#include "batch/BatchQueueManager.h"
#include "batch/ProcessingJob.h"
#include "core/ChildProcess.h"
#include "core/Files.h"
#include "image/picture/Resampler.h"
#include "presets/HalvanePreset.h"

#include "MeasuringChild.h"

namespace fs = std::filesystem;
using benchsupport::ChildResult;
using benchsupport::option;

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// A room photo: a lit wall with texture, door and window frames, furniture
// and sensor grain; `seed` moves the frames and the grain.
cv::Mat roomPhoto(int width, int height, int seed) {
    cv::RNG rng(static_cast<std::uint64_t>(seed) + 1);
    cv::Mat photo(height, width, CV_8UC3);
    photo.forEach<cv::Vec3b>([width, height](cv::Vec3b& p, const int* pos) {
        const double y = pos[0], x = pos[1];
        const double light = 30.0 * std::sin(x / width * 3.1) + 25.0 * y / height + 8.0 * std::sin(x / 23.0 + y / 31.0);
        p = cv::Vec3b(cv::saturate_cast<std::uint8_t>(165 + light), cv::saturate_cast<std::uint8_t>(178 + light),
                      cv::saturate_cast<std::uint8_t>(192 + light));
    });
    for (int i = 0; i < 7; ++i) {
        const int left = rng.uniform(0, width - width / 12), w = rng.uniform(width / 60, width / 12);
        cv::rectangle(photo, cv::Rect(left, 0, w, height), cv::Scalar(45, 50, 60), cv::FILLED);
        cv::rectangle(photo, cv::Rect(left + w / 3, 0, std::max(1, w / 3), height), cv::Scalar(90, 85, 80), cv::FILLED);
    }
    cv::rectangle(photo, cv::Rect(width / 6, height * 2 / 3, width / 3, height / 5), cv::Scalar(70, 110, 150),
                  cv::FILLED);
    cv::line(photo, {0, height * 3 / 4}, {width, height * 3 / 4}, cv::Scalar(60, 60, 60), 12);
    cv::Mat grain(photo.size(), CV_8UC3);
    rng.fill(grain, cv::RNG::NORMAL, 0, 5);
    cv::add(photo, grain, photo, cv::noArray(), CV_8UC3);
    return photo;
}

// The photos, written by 8 threads, then tagged like a camera's in one
// exiftool run.
std::vector<fs::path> writePhotos(const fs::path& folder, int count) {
    std::vector<fs::path> photos;
    for (int i = 0; i < count; ++i) photos.push_back(folder / fmt::format("IMG_{:04}.jpg", i + 1));
    std::atomic<int> next{0};
    std::atomic<bool> failed{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 8; ++t)
        writers.emplace_back([&] {
            for (int i = next++; i < count; i = next++)
                if (!cv::imwrite(photos[static_cast<std::size_t>(i)].string(), roomPhoto(4000, 3000, i),
                                 {cv::IMWRITE_JPEG_QUALITY, 92}))
                    failed = true;
        });
    for (auto& w : writers) w.join();
    if (failed) throw std::runtime_error("cannot write the photos");
    std::vector<std::string> argv{"exiftool", "-q", "-overwrite_original", "-Make=Canon", "-Model=Canon EOS R5",
                                  "-ExposureTime=1/125", "-FNumber=8", "-ISO=100",
                                  "-DateTimeOriginal=2024:05:06 10:00:00", "-Artist=Jo Lens",
                                  "-Copyright=(c) Maple Realty", "-GPSLatitude=47.6062", "-GPSLatitudeRef=N",
                                  "-GPSLongitude=122.3321", "-GPSLongitudeRef=W", "-XMP-exif:GPSLatitude=47.6062 N",
                                  "-XMP-xmpMM:DocumentID=uuid:shoot"};
    for (const auto& p : photos) argv.push_back(p.string());
    const auto r = core::runChildProcess(argv, true);
    if (!r.succeeded()) throw std::runtime_error("exiftool failed: " + r.output);
    return photos;
}

// The process's threads now, from /proc/self/status.
int threadsNow() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Threads:", 0) == 0) {
            int n = 0;
            const std::string_view v = std::string_view(line).substr(8);
            const auto first = v.find_first_not_of(" \t");
            if (first != std::string_view::npos) std::from_chars(v.data() + first, v.data() + v.size(), n);
            return n;
        }
    return 0;
}

// A 40 x 30 JPEG carrying a 100 MB colour profile split over 1601 APP2
// chunks (105 MB), as a hostile or broken file may.
fs::path largeProfilePhoto(const fs::path& folder) {
    std::vector<unsigned char> small;
    if (!cv::imencode(".jpg", cv::Mat(30, 40, CV_8UC3, cv::Scalar(90, 120, 150)), small))
        throw std::runtime_error("cannot encode the small photo");
    std::string chunk("\xFF\xE2\xFF\xFF", 4);
    chunk += std::string("ICC_PROFILE\0", 12);
    chunk += "\x01\xFF";
    chunk.resize(2 + 0xFFFF, '\x5A');
    std::string bytes(small.begin(), small.begin() + 2);
    for (int i = 0; i < 1601; ++i) bytes += chunk;
    bytes.append(small.begin() + 2, small.end());
    const fs::path path = folder / "large-profile.jpg";
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// The photos through the default preset on a real queue; returns the wall
// time and the most threads seen, as "<seconds> <threads>". `failing` items
// at the head of the queue must fail, and only they.
std::string runBatch(const std::vector<fs::path>& photos, const fs::path& out, int workers, int failing = 0) {
    std::vector<batch::BatchItem> items;
    for (const auto& p : photos) items.emplace_back(core::Uuid::random(), p);
    auto preset = std::make_shared<const presets::HalvanePreset>();
    batch::BatchConfiguration config(out, true, preset->defaultNamingPattern(), false, workers, false, false, {});
    batch::ProcessingJob job(core::Uuid::random(), preset->id(), preset->displayName(), items, config);

    std::atomic<bool> done{false};
    std::atomic<int> most{threadsNow()};
    std::thread sampler([&] {
        while (!done) {
            most = std::max(most.load(), threadsNow());
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    batch::BatchQueueManager manager;
    const auto start = Clock::now();
    auto report = manager.submitAndStart(job, preset).get();
    const double wall = seconds(start);
    done = true;
    sampler.join();
    if (report.successCount != static_cast<int>(photos.size()) - failing || report.failureCount != failing)
        throw std::runtime_error(fmt::format("{} of {} photos failed: {}", report.failureCount, photos.size(),
                                             report.errors.empty() ? std::string() : report.errors.front()));
    return fmt::format("{:.6f} {}", wall, most.load());
}

ChildResult inChild(const std::function<std::string()>& body) {
    return benchsupport::inChild("bench_photo_batch", body);
}

struct Setting {
    const char* name;
    int threads; // for setResampleThreads; 0: the program's share
};

} // namespace

int main(int argc, char** argv) {
    try {
        const int count = std::max(option(argc, argv, "--photos", 32), 1);
        const int workers = std::max(option(argc, argv, "--workers", 8), 1);
        const int rounds = std::max(option(argc, argv, "--rounds", 1), 1);
        const auto start = Clock::now();
        core::WorkFolder work("bench-photo-batch");
        std::vector<fs::path> photos;
        const ChildResult made = inChild([&] {
            std::string list;
            for (const auto& p : writePhotos(work.path(), count)) list += p.string() + "\n";
            return list;
        });
        for (std::size_t at = 0; at < made.text.size();) {
            const auto end = made.text.find('\n', at);
            photos.emplace_back(made.text.substr(at, end - at));
            at = end + 1;
        }

        if (benchsupport::flag(argc, argv, "--large-profile")) {
            std::vector<fs::path> queued{largeProfilePhoto(work.path())};
            queued.insert(queued.end(), photos.begin(), photos.end());
            const auto none = std::numeric_limits<double>::infinity();
            double with = none, without = none, highest = made.peakMB;
            for (int round = 0; round < rounds; ++round)
                for (const bool large : {true, false}) {
                    const ChildResult r = inChild([&] {
                        return large ? runBatch(queued, work.path() / "with", workers, 1)
                                     : runBatch(photos, work.path() / "without", workers);
                    });
                    std::string_view reported = r.text;
                    const double wall = benchsupport::numbers(reported, 2)[0];
                    (large ? with : without) = std::min(large ? with : without, wall);
                    highest = std::max(highest, r.peakMB);
                    fs::remove_all(work.path() / (large ? "with" : "without"));
                }
            fmt::print("COMPARE photo_batch_large_profile with={:.3f}s without={:.3f}s\n", with, without);
            fmt::print("TOTAL {:.2f}s peak_rss={:.0f}MB\n", seconds(start), highest);
            return 0;
        }

        const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
        const std::vector<Setting> settings{{"libvips", cores}, {"one", 1}, {"two", 2}, {"program", 0}};
        // Rounds take the settings in turn, so a load that comes and goes
        // on the machine falls on all of them; each keeps its best round.
        const auto none = std::numeric_limits<double>::infinity();
        std::vector<double> times(settings.size(), none), peaks(settings.size(), 0), cpu(settings.size(), 0);
        std::vector<int> threads(settings.size(), 0);
        double highest = made.peakMB;
        for (int round = 0; round < rounds; ++round)
            for (std::size_t i = 0; i < settings.size(); ++i) {
                const auto& s = settings[i];
                const ChildResult r = inChild([&] {
                    image::setResampleThreads(s.threads);
                    return runBatch(photos, work.path() / s.name, workers);
                });
                std::string_view reported = r.text;
                const auto values = benchsupport::numbers(reported, 2);
                const double wall = values[0];
                const int most = static_cast<int>(values[1]);
                if (wall < times[i]) {
                    times[i] = wall;
                    cpu[i] = r.cpuSeconds;
                }
                peaks[i] = std::max(peaks[i], r.peakMB);
                threads[i] = std::max(threads[i], most);
                highest = std::max(highest, r.peakMB);
                fs::remove_all(work.path() / s.name);
            }
        for (std::size_t i = 0; i < settings.size(); ++i)
            fmt::print("STEP photo_batch_{} {:.3f}s cpu={:.1f}s peak_rss={:.0f}MB threads={}\n", settings[i].name,
                       times[i], cpu[i], peaks[i], threads[i]);
        std::size_t best = 0;
        for (std::size_t i = 0; i < settings.size(); ++i)
            if (times[i] < times[best]) best = i;
        fmt::print("COMPARE photo_batch_vips_threads libvips={:.3f}s one={:.3f}s two={:.3f}s program={:.3f}s best={}\n",
                   times[0], times[1], times[2], times[3], settings[best].name);
        fmt::print("PEAK photo_batch_vips_threads libvips={:.0f}MB one={:.0f}MB two={:.0f}MB program={:.0f}MB\n",
                   peaks[0], peaks[1], peaks[2], peaks[3]);
        fmt::print("TOTAL {:.2f}s peak_rss={:.0f}MB\n", seconds(start), highest);
        return 0;
    } catch (const std::exception& e) {
        std::fputs(fmt::format("bench_photo_batch: {}\n", e.what()).c_str(), stderr);
        return 1;
    }
}

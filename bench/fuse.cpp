// Exposure fusion of three (then five) 12 MP bracket frames, ours against
// enfuse with matched weights (exposure, saturation, contrast 1; optimum 0.5,
// width 0.2; identity colour space; 9 levels; 8 bits). Each side runs as its
// own process, from JPEG files to a JPEG file, so both peaks are clean: our
// side is this program started again with "--ours". Times and peak memory
// come from wait4's resource usage of the child.
//
// Prints: COMPARE fuse ours=<s>s peer=<s>s speedup=<peer/ours>
//         PEAK fuse ours=<MiB>MiB peer=<MiB>MiB ratio=<ours/peer>
//         MATCH fuse mean_abs_diff=<of 255> (informative only: enfuse weighs
//         exposure on luminance, contrast over a window and HSL saturation,
//         so the two results differ where the frames disagree)
//         COMPARE fuse5 ..., PEAK fuse5 ..., FIVE_VS_THREE ours time=<x> peak=<x>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Files.h"
#include "image/photo/BracketMerger.h"
#include "image/picture/CoreImagePipeline.h"
#include "image/photo/MergeGate.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

struct Run {
    double seconds = 0;
    double peakMiB = 0;
};

// Starts argv (looked up in PATH, no shell), waits, and returns the wall time
// and the child's peak resident memory.
Run measure(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        throw std::runtime_error("cannot start " + argv[0]);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(argv[0] + " failed");
    Run r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return r;
}

// A 12 MP textured scene: random detail at three scales over gradients.
cv::Mat scene(int width, int height) {
    cv::RNG rng(7);
    cv::Mat base(height, width, CV_32FC3, cv::Scalar::all(0));
    for (int octave : {96, 24, 4}) {
        cv::Mat coarse(height / octave, width / octave, CV_32FC3);
        rng.fill(coarse, cv::RNG::UNIFORM, 0.0, 1.0);
        cv::Mat fine;
        cv::resize(coarse, fine, base.size(), 0, 0, cv::INTER_CUBIC);
        base += fine * (octave == 96 ? 0.5 : octave == 24 ? 0.35 : 0.15);
    }
    return base;
}

// One exposure of the scene, `stops` from the middle, as a JPEG.
void writeExposure(const cv::Mat& scene, double stops, const fs::path& file) {
    cv::Mat bgr;
    scene.convertTo(bgr, CV_8UC3, 255.0 * 0.55 * std::pow(2.0, stops), 0);
    if (!cv::imwrite(file.string(), bgr, {cv::IMWRITE_JPEG_QUALITY, 95}))
        throw std::runtime_error("cannot write " + file.string());
}

int runOurs(int argc, char** argv) {
    const fs::path out = argv[2];
    std::vector<image::BracketMerger::FrameSource> frames;
    for (int i = 3; i < argc; ++i) frames.push_back(image::BracketMerger::FrameSource::file(argv[i]));
    const image::Image fused =
        image::MergeGate::shared().run([&] { return image::BracketMerger().fuse(frames, false); });
    image::CoreImagePipeline::shared().write(fused, out, 0.9);
    return 0;
}

void compare(const std::string& name, const std::string& self, const fs::path& dir, const std::vector<fs::path>& inputs,
             Run& ours, Run& peer) {
    std::vector<std::string> mine{self, "--ours", (dir / (name + "_ours.jpg")).string()};
    std::vector<std::string> enfuse{"enfuse",
                                    "--exposure-weight=1",
                                    "--saturation-weight=1",
                                    "--contrast-weight=1",
                                    "--exposure-optimum=0.5",
                                    "--exposure-width=0.2",
                                    "--blend-colorspace=IDENTITY",
                                    "--levels=9",
                                    "--depth=8",
                                    "--compression=90",
                                    "-o",
                                    (dir / (name + "_enfuse.jpg")).string()};
    for (const auto& in : inputs) {
        mine.push_back(in.string());
        enfuse.push_back(in.string());
    }
    ours = measure(mine);
    peer = measure(enfuse);
    fmt::print("COMPARE {} ours={:.3f}s peer={:.3f}s speedup={:.2f}\n", name, ours.seconds, peer.seconds,
               peer.seconds / ours.seconds);
    fmt::print("PEAK {} ours={:.0f}MiB peer={:.0f}MiB ratio={:.2f}\n", name, ours.peakMiB, peer.peakMiB,
               ours.peakMiB / peer.peakMiB);
    // How close the two results are (mean absolute difference per channel, of 255).
    const cv::Mat a = cv::imread(mine[2]), b = cv::imread(enfuse[11]);
    if (!a.empty() && a.size() == b.size()) {
        cv::Mat diff;
        cv::absdiff(a, b, diff);
        const cv::Scalar m = cv::mean(diff);
        fmt::print("MATCH {} mean_abs_diff={:.2f}\n", name, (m[0] + m[1] + m[2]) / 3.0);
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    try {
        if (argc >= 4 && std::string(argv[1]) == "--ours") return runOurs(argc, argv);

        core::WorkFolder work("bench-fuse");
        const cv::Mat picture = scene(4000, 3000);
        std::vector<fs::path> five;
        const double stops[] = {-2, -1, 0, 1, 2};
        for (int i = 0; i < 5; ++i) {
            five.push_back(work.path() / fmt::format("frame{}.jpg", i));
            writeExposure(picture, stops[i], five.back());
        }
        const std::vector<fs::path> three{five[1], five[2], five[3]};
        const std::string self = fs::read_symlink("/proc/self/exe").string();

        Run ours3, peer3, ours5, peer5;
        compare("fuse", self, work.path(), three, ours3, peer3);
        compare("fuse5", self, work.path(), five, ours5, peer5);
        fmt::print("FIVE_VS_THREE ours time={:.2f} peak={:.2f}\n", ours5.seconds / ours3.seconds,
                   ours5.peakMiB / ours3.peakMiB);
        return 0;
    } catch (const std::exception& e) {
        std::fputs(fmt::format("bench_fuse: {}\n", e.what()).c_str(), stderr);
        return 1;
    }
}

// Packs four 4096 x 4096 grayscale maps (AO, roughness, metallic, height)
// into one Unreal ORM texture and writes it as PNG, against ImageMagick's
// `convert-im6.q16 AO Rough Metal Height -channel RGBA -combine out.png` on
// the same files. Both outputs are compared byte for byte afterwards.
// Prints: COMPARE pack_orm ours=<s>s peer=<s>s speedup=<peer/ours>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "core/ChildProcess.h"
#include "core/Files.h"
#include "image/texture/ChannelPacker.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// A map that compresses like a scanned material: soft blotches plus grain.
void writeMap(const fs::path& path, int side, unsigned seed) {
    cv::RNG rng(seed);
    cv::Mat coarse(side / 64, side / 64, CV_8UC1);
    rng.fill(coarse, cv::RNG::UNIFORM, 0, 256);
    cv::Mat map;
    cv::resize(coarse, map, cv::Size(side, side), 0, 0, cv::INTER_CUBIC);
    cv::Mat grain(side, side, CV_8UC1);
    rng.fill(grain, cv::RNG::NORMAL, 0, 6);
    cv::add(map, grain, map);
    cv::imwrite(path.string(), map);
}

} // namespace

int main() {
    constexpr int kSide = 4096;
    core::WorkFolder work("quorvel-bench-pack-orm");
    const fs::path ao = work.path() / "Rock_AO.png", rough = work.path() / "Rock_Roughness.png",
                   metal = work.path() / "Rock_Metallic.png", height = work.path() / "Rock_Height.png";
    writeMap(ao, kSide, 1);
    writeMap(rough, kSide, 2);
    writeMap(metal, kSide, 3);
    writeMap(height, kSide, 4);

    const fs::path oursOut = work.path() / "ours_ORM.png";
    const auto oursStart = Clock::now();
    image::ChannelPacker packer;
    const auto sources = packer.discoverChannels(ao);
    if (!sources || sources->maps.size() != 4) {
        std::fputs("pack_orm: the four maps were not recognised\n", stderr);
        return 1;
    }
    const auto size = packer.sourceSize(*sources);
    const auto packed = packer.pack(*sources, image::EngineProfile::unrealORM, size.width, size.height);
    const double packSeconds = since(oursStart);
    packed.writePNG(oursOut);
    const double ours = since(oursStart);
    std::fputs(fmt::format("STEP pack_orm_decode_and_pack {:.3f}s\n", packSeconds).c_str(), stdout);
    std::fputs(fmt::format("STEP pack_orm_write_png {:.3f}s\n", ours - packSeconds).c_str(), stdout);

    const fs::path peerOut = work.path() / "peer_ORM.png";
    const auto peerStart = Clock::now();
    const auto peer = core::runChildProcess({"convert-im6.q16", ao.string(), rough.string(), metal.string(),
                                             height.string(), "-channel", "RGBA", "-combine", peerOut.string()},
                                            true);
    const double peerSeconds = since(peerStart);
    if (!peer.succeeded()) {
        std::fputs(("pack_orm: ImageMagick failed: " + peer.output + "\n").c_str(), stderr);
        return 1;
    }

    const cv::Mat a = cv::imread(oursOut.string(), cv::IMREAD_UNCHANGED);
    const cv::Mat b = cv::imread(peerOut.string(), cv::IMREAD_UNCHANGED);
    const bool same = a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
    std::fputs(fmt::format("CHECK pack_orm identical_pixels={} ours_bytes={} peer_bytes={}\n", same ? "yes" : "no",
                           fs::file_size(oursOut), fs::file_size(peerOut))
                   .c_str(),
               stdout);
    std::fputs(fmt::format("COMPARE pack_orm ours={:.3f}s peer={:.3f}s speedup={:.2f}\n", ours, peerSeconds,
                           peerSeconds / ours)
                   .c_str(),
               stdout);
    return 0;
}

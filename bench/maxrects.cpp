// Sprite-sheet page layout: the same 1000 random rectangles (8-128 px,
// padding 2) packed by our layout and by npm's maxrects-packer 2.7.4 (run
// under Node, installed into a temporary folder), sheet limits 1024, 2048
// and 4096, all pages allowed.
// Prints per limit: COMPARE pack_<limit> ours=<s>s peer=<s>s speedup=<x>
// and OCCUPANCY pack_<limit> ours=<f> peer=<f> pages_ours=<n> pages_peer=<n>;
// then COMPARE pack over all three limits.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "core/ChildProcess.h"
#include "core/Files.h"
#include "core/Json.h"
#include "core/Numbers.h"
#include "core/Text.h"
#include "image/sprite/SpriteSheetCompiler.h"

namespace {

using Clock = std::chrono::steady_clock;
using Compiler = image::SpriteSheetCompiler;

constexpr int kRuns = 7;
constexpr int kPadding = 2;

struct Result {
    double seconds = 0;   // best of kRuns
    double occupancy = 0; // frame area / page area
    int pages = 0;
};

Result ours(const std::vector<Compiler::LayoutFrame>& frames, int limit) {
    Compiler::Options o;
    o.padding = kPadding;
    o.extrude = 0;
    o.maxSheetSize = limit;
    o.allowRotation = false;
    Result r;
    r.seconds = 1e30;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = Clock::now();
        const auto layout = Compiler::layoutPages(frames, o, true);
        r.seconds = std::min(r.seconds, std::chrono::duration<double>(Clock::now() - start).count());
        double used = 0, area = 0;
        for (const auto& f : frames) used += double(f.width) * f.height;
        for (const auto& p : layout.pages) area += double(p.width) * p.height;
        r.occupancy = used / area;
        r.pages = static_cast<int>(layout.pages.size());
    }
    return r;
}

constexpr const char* kPeerScript = R"(
import { readFileSync } from 'node:fs';
import { performance } from 'node:perf_hooks';
const [modulePath, rectsPath, runs, padding] = process.argv.slice(2);
const { MaxRectsPacker } = await import(modulePath);
const rects = JSON.parse(readFileSync(rectsPath, 'utf8'));
const used = rects.reduce((s, r) => s + r.width * r.height, 0);
for (const limit of [1024, 2048, 4096]) {
  let best = Infinity, occupancy = 0, pages = 0;
  for (let run = 0; run < Number(runs); ++run) {
    const input = rects.map(r => ({ width: r.width, height: r.height }));
    const start = performance.now();
    const packer = new MaxRectsPacker(limit, limit, Number(padding),
      { smart: true, pot: true, square: false, allowRotation: false, border: 0 });
    packer.addArray(input);
    best = Math.min(best, (performance.now() - start) / 1000);
    const area = packer.bins.reduce((s, b) => s + b.width * b.height, 0);
    occupancy = used / area;
    pages = packer.bins.length;
  }
  console.log(`${limit} ${best} ${occupancy} ${pages}`);
}
)";

struct PeerLine {
    int limit = 0;
    Result result;
};

// Installs and runs the peer; empty (with a printed reason) when npm or
// node is missing or the install fails.
std::vector<PeerLine> peer(const std::vector<Compiler::LayoutFrame>& frames) {
    core::WorkFolder work("bench-maxrects");
    core::Json rects = core::Json::array();
    for (const auto& f : frames) rects.push_back({{"width", f.width}, {"height", f.height}});
    core::writeFileAtomically(work.path() / "rects.json", core::dumpJson(rects));
    core::writeFileAtomically(work.path() / "peer.mjs", kPeerScript);
    try {
        const auto install = core::runChildProcess(
            {"npm", "install", "--prefix", work.path().string(), "maxrects-packer@2.7.4", "--no-audit", "--no-fund"}, true);
        if (!install.succeeded()) {
            fmt::print("PEER maxrects-packer skipped: npm install failed\n{}\n", install.output);
            return {};
        }
        // The package's "main" breaks require() under Node 20; its ES module works.
        const auto module = work.path() / "node_modules/maxrects-packer/dist/maxrects-packer.mjs";
        const auto run = core::runChildProcess({"node", (work.path() / "peer.mjs").string(), module.string(),
                                                (work.path() / "rects.json").string(), fmt::format("{}", kRuns), fmt::format("{}", kPadding)},
                                               true);
        if (!run.succeeded()) {
            fmt::print("PEER maxrects-packer skipped: node failed\n{}\n", run.output);
            return {};
        }
        std::vector<PeerLine> out;
        for (const auto& line : core::split(run.output, '\n')) {
            const auto parts = core::split(line, ' ', false);
            if (parts.size() != 4) continue;
            PeerLine p;
            p.limit = static_cast<int>(core::parseInt(parts[0]).value_or(0));
            p.result.seconds = core::parseDouble(parts[1]).value_or(0);
            p.result.occupancy = core::parseDouble(parts[2]).value_or(0);
            p.result.pages = static_cast<int>(core::parseInt(parts[3]).value_or(0));
            out.push_back(p);
        }
        return out;
    } catch (const core::ChildProcessError& e) {
        fmt::print("PEER maxrects-packer skipped: npm or node is not installed ({})\n", e.what());
        return {};
    }
}

} // namespace

int main() {
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> side(8, 128);
    std::vector<std::string> names;
    std::vector<Compiler::LayoutFrame> frames;
    for (int i = 0; i < 1000; ++i) names.push_back(fmt::format("r{}", i));
    for (int i = 0; i < 1000; ++i) frames.push_back({names[static_cast<std::size_t>(i)], side(rng), side(rng)});

    const auto peers = peer(frames);
    double oursTotal = 0, peerTotal = 0;
    for (const int limit : {1024, 2048, 4096}) {
        const Result mine = ours(frames, limit);
        oursTotal += mine.seconds;
        const auto it = std::find_if(peers.begin(), peers.end(), [&](const PeerLine& p) { return p.limit == limit; });
        if (it == peers.end()) {
            fmt::print("STEP pack_{} {:.6f}s\n", limit, mine.seconds);
            fmt::print("OCCUPANCY pack_{} ours={:.4f} pages_ours={}\n", limit, mine.occupancy, mine.pages);
            continue;
        }
        peerTotal += it->result.seconds;
        fmt::print("COMPARE pack_{} ours={:.6f}s peer={:.6f}s speedup={:.2f}\n", limit, mine.seconds, it->result.seconds,
                   it->result.seconds / mine.seconds);
        fmt::print("OCCUPANCY pack_{} ours={:.4f} peer={:.4f} pages_ours={} pages_peer={}\n", limit, mine.occupancy,
                   it->result.occupancy, mine.pages, it->result.pages);
    }
    if (peerTotal > 0)
        fmt::print("COMPARE pack ours={:.6f}s peer={:.6f}s speedup={:.2f}\n", oursTotal, peerTotal, peerTotal / oursTotal);
    return 0;
}

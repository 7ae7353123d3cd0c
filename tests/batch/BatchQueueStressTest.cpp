#include <fstream>
#include <map>
#include <random>
#include <set>
#include <thread>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "QueueTestSupport.h"
#include "batch/BatchSkip.h"
#include "support/TestSupport.h"

namespace {

using namespace queuetest;
using batch::BatchItem;
using batch::ProcessingContext;
using batch::ProcessingStatus;

constexpr int kItems = 100;
constexpr int kBound = 8;
constexpr int kReportsPerItem = 3;

// Many short items with random durations; each preset call reports progress
// and log lines from a thread of its own. Every seventh item is skipped and
// every eleventh fails.
TEST(QueueStress, HundredItemsBoundEightLoseNothing) {
    Recorder recorder;
    batch::BatchQueueManager manager;
    recorder.attach(manager);

    std::vector<BatchItem> items;
    for (int i = 0; i < kItems; ++i) items.emplace_back(core::Uuid::random(), fmt::format("/nowhere/{}.wav", i));
    // The output folder cannot be made (a file is in the way): the run goes on.
    testsupport::TempDir dir;
    std::ofstream(dir / "blocker") << "x";
    batch::BatchConfiguration config(dir / "blocker" / "out", true, "{name}", false, kBound, false, true, {});
    config.maxConcurrentTasks = kBound;
    batch::ProcessingJob job(core::Uuid::random(), "p", "P", items, config);

    std::vector<int> delaysMicros(kItems);
    std::mt19937 random(20261209);
    for (auto& d : delaysMicros) d = std::uniform_int_distribution<int>(0, 1500)(random);

    auto preset = std::make_shared<FunctionPreset>([&](const BatchItem& item, const ProcessingContext& ctx) {
        const int index = ctx.itemIndex - 1;
        std::thread reporter([&ctx, index] {
            for (int k = 1; k <= kReportsPerItem; ++k) {
                ctx.onProgressUpdate(0.3 * k, fmt::format("step {}", k));
                ctx.log(fmt::format("item {} step {}", index, k));
            }
        });
        std::this_thread::sleep_for(std::chrono::microseconds(delaysMicros[static_cast<std::size_t>(index)]));
        reporter.join();
        if (index % 7 == 3) throw batch::BatchSkip(fmt::format("skip {}", index));
        if (index % 11 == 5) throw std::runtime_error(fmt::format("fail {}", index));
        return std::vector<fs::path>{fs::path("/out") / (item.originalFileName + ".m4a")};
    });

    auto future = manager.submitAndStart(job, preset);
    ASSERT_EQ(future.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    batch::ExecutionReport report = future.get();

    int skips = 0, failures = 0;
    for (int i = 0; i < kItems; ++i) {
        if (i % 7 == 3) ++skips;
        else if (i % 11 == 5) ++failures;
    }
    EXPECT_EQ(report.totalProcessed, kItems);
    EXPECT_EQ(report.skippedCount, skips);
    EXPECT_EQ(report.failureCount, failures);
    EXPECT_EQ(report.successCount, kItems - skips - failures);
    EXPECT_EQ(report.outputFiles.size(), static_cast<std::size_t>(report.successCount));
    EXPECT_EQ(report.errors.size(), static_cast<std::size_t>(failures));
    EXPECT_LE(preset->maxInFlight(), kBound);
    EXPECT_GE(preset->maxInFlight(), 2); // the window does run items side by side

    // In flight as the listeners see it: started minus finished.
    int inFlight = 0, peak = 0;
    std::map<core::Uuid, std::vector<StatusEvent>> perItem;
    for (const auto& e : recorder.statusEvents()) {
        perItem[e.itemID].push_back(e);
        if (e.status == ProcessingStatus::processing && e.progress == 0.1) peak = std::max(peak, ++inFlight);
        if (batch::isTerminal(e.status)) --inFlight;
    }
    EXPECT_LE(peak, kBound);
    EXPECT_EQ(inFlight, 0);

    // Every item: its start, its three reports, then exactly one end.
    ASSERT_EQ(perItem.size(), static_cast<std::size_t>(kItems));
    for (int i = 0; i < kItems; ++i) {
        const auto& events = perItem[job.items[static_cast<std::size_t>(i)].id];
        ASSERT_EQ(events.size(), static_cast<std::size_t>(kReportsPerItem + 2)) << "item " << i;
        EXPECT_EQ(events.front().progress, 0.1);
        std::multiset<double> reports;
        for (std::size_t k = 1; k + 1 < events.size(); ++k) {
            EXPECT_EQ(events[k].status, ProcessingStatus::processing);
            reports.insert(events[k].progress);
        }
        EXPECT_EQ(reports, (std::multiset<double>{0.3, 0.6, 0.3 * 3 > 0.99 ? 0.99 : 0.3 * 3}));
        const ProcessingStatus end = i % 7 == 3    ? ProcessingStatus::skipped
                                     : i % 11 == 5 ? ProcessingStatus::failed
                                                   : ProcessingStatus::completed;
        EXPECT_EQ(events.back().status, end) << "item " << i;
    }

    // Log: two start lines, every preset line, one line per skip or failure, the end line.
    auto logs = recorder.logTexts();
    EXPECT_EQ(logs.size(), static_cast<std::size_t>(2 + kItems * kReportsPerItem + skips + failures + 1));
    std::set<std::string> presetLines;
    for (const auto& l : logs) {
        EXPECT_FALSE(l.starts_with("<no prefix>")) << l;
        if (l.starts_with("item ")) presetLines.insert(l);
    }
    EXPECT_EQ(presetLines.size(), static_cast<std::size_t>(kItems * kReportsPerItem));
    EXPECT_TRUE(logs.back().starts_with("Batch complete in "));

    auto stored = manager.activeJobs().get().at(job.id);
    EXPECT_EQ(stored.completedItemsCount(), report.successCount);
    EXPECT_EQ(stored.failedItemsCount(), failures);
    EXPECT_DOUBLE_EQ(stored.overallProgress(), 1.0);
}

} // namespace

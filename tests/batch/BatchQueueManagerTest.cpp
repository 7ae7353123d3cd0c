#include <cmath>
#include <fstream>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "QueueTestSupport.h"
#include "batch/BatchSkip.h"
#include "core/StopSignal.h"
#include "core/Numbers.h"
#include "support/TestSupport.h"

namespace {

using namespace queuetest;
using batch::BatchConfiguration;
using batch::BatchItem;
using batch::BatchQueueManager;
using batch::ExecutionReport;
using batch::ProcessingContext;
using batch::ProcessingJob;
using batch::ProcessingStatus;

constexpr auto kTimeout = std::chrono::seconds(20);

class QueueManager : public ::testing::Test {
protected:
    void SetUp() override { recorder.attach(manager); }

    ProcessingJob makeJob(int items, int bound, std::vector<std::int64_t> sizes = {}) {
        std::vector<BatchItem> list;
        for (int i = 0; i < items; ++i) {
            fs::path file = dir / (fmt::format("item{}.wav", i));
            if (static_cast<std::size_t>(i) < sizes.size() && sizes[i] > 0)
                std::ofstream(file, std::ios::binary) << std::string(static_cast<std::size_t>(sizes[i]), 'x');
            list.emplace_back(core::Uuid::random(), file);
        }
        BatchConfiguration config(dir / "out", true, "{name}", false, 1, false, true, {});
        config.maxConcurrentTasks = bound; // unclamped on purpose
        return ProcessingJob(core::Uuid::random(), "job.preset", "Job Preset", std::move(list), config);
    }

    ExecutionReport run(const ProcessingJob& job, std::shared_ptr<const batch::BatchPreset> preset) {
        auto future = manager.submitAndStart(job, std::move(preset));
        EXPECT_EQ(future.wait_for(kTimeout), std::future_status::ready);
        return future.get();
    }

    std::map<core::Uuid, ProcessingJob> jobs() { return manager.activeJobs().get(); }

    static std::string startLine(const ProcessingJob& job) {
        return "Starting batch job [" + job.id.text().substr(0, 8) + "] for preset: Test Preset";
    }

    testsupport::TempDir dir;
    Recorder recorder; // outlives the manager's handle
    BatchQueueManager manager;
};

std::shared_ptr<FunctionPreset> writing(const fs::path& folder) {
    return std::make_shared<FunctionPreset>([folder](const BatchItem& item, const ProcessingContext&) {
        return std::vector<fs::path>{folder / (item.originalFileName + ".out")};
    });
}

void expectZeroReport(const ExecutionReport& report) {
    EXPECT_EQ(report.presetID, "test.preset"); // the preset's, not the job's
    EXPECT_EQ(report.presetName, "Test Preset");
    EXPECT_EQ(report.totalProcessed, 0);
    EXPECT_EQ(report.successCount + report.failureCount + report.skippedCount, 0);
    EXPECT_EQ(report.bytesProcessed, 0);
    EXPECT_TRUE(report.outputFiles.empty());
    EXPECT_TRUE(report.errors.empty());
    EXPECT_GE(report.durationSeconds, 0);
}

TEST_F(QueueManager, EmptyJobLogsStartLinesAndEndsWithZeros) {
    ProcessingJob job = makeJob(0, 4);
    ExecutionReport report = run(job, writing(dir.path()));
    expectZeroReport(report);
    EXPECT_EQ(report.throughputMegabytesPerSec(), 0);
    auto logs = recorder.logTexts();
    ASSERT_EQ(logs.size(), 3u);
    EXPECT_EQ(logs[0], startLine(job));
    EXPECT_EQ(logs[1], "Discovered 0 items. Max concurrency: 4");
    // The line carries the run's own duration, which a loaded machine can make more than 5 ms.
    EXPECT_EQ(logs[2], fmt::format("Batch complete in {}s. Success: 0, Failures: 0, Skipped: 0. Throughput: 0.00 MB/s",
                                   core::formatFixed(report.durationSeconds, 2)));
    EXPECT_TRUE(fs::is_directory(dir / "out")); // the output folder is made
    EXPECT_FALSE(manager.isProcessing().get());
    EXPECT_EQ(manager.completedReports().get(), std::vector<ExecutionReport>{report});
}

class QueueManagerBound : public QueueManager, public ::testing::WithParamInterface<int> {};

TEST_P(QueueManagerBound, NoPositiveBoundStartsNothing) {
    ProcessingJob job = makeJob(3, GetParam());
    auto preset = writing(dir.path());
    ExecutionReport report = run(job, preset);
    expectZeroReport(report);
    EXPECT_EQ(preset->maxInFlight(), 0);
    EXPECT_TRUE(recorder.statusEvents().empty());
    auto logs = recorder.logTexts();
    ASSERT_EQ(logs.size(), 3u);
    EXPECT_EQ(logs[1], fmt::format("Discovered 3 items. Max concurrency: {}", GetParam()));
    auto stored = jobs();
    for (const auto& item : stored.at(job.id).items) EXPECT_EQ(item.status, ProcessingStatus::pending);
}

INSTANTIATE_TEST_SUITE_P(ZeroAndNegative, QueueManagerBound, ::testing::Values(0, -2));

TEST_F(QueueManager, BoundOneRunsStrictlyInListOrder) {
    ProcessingJob job = makeJob(5, 1);
    std::mutex m;
    std::vector<int> order;
    auto preset = std::make_shared<FunctionPreset>([&](const BatchItem&, const ProcessingContext& ctx) {
        std::lock_guard lock(m);
        order.push_back(ctx.itemIndex);
        EXPECT_EQ(ctx.totalItems, 5);
        return std::vector<fs::path>{};
    });
    ExecutionReport report = run(job, preset);
    EXPECT_EQ(report.successCount, 5);
    EXPECT_EQ(preset->maxInFlight(), 1);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5}));
    // Each item starts only after the previous one's result was handled.
    std::vector<std::pair<core::Uuid, ProcessingStatus>> seen;
    for (const auto& e : recorder.statusEvents()) seen.emplace_back(e.itemID, e.status);
    ASSERT_EQ(seen.size(), 10u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(seen[2 * i], std::make_pair(job.items[i].id, ProcessingStatus::processing));
        EXPECT_EQ(seen[2 * i + 1], std::make_pair(job.items[i].id, ProcessingStatus::completed));
    }
}

TEST_F(QueueManager, EveryItemSeesTheJobsSourcesInJobOrder) {
    ProcessingJob job = makeJob(6, 3);
    std::mutex m;
    std::vector<std::vector<fs::path>> seen;
    auto preset = std::make_shared<FunctionPreset>([&](const BatchItem& item, const ProcessingContext& ctx) {
        std::lock_guard lock(m);
        EXPECT_TRUE(ctx.jobSourcePaths);
        if (ctx.jobSourcePaths) {
            seen.push_back(*ctx.jobSourcePaths);
            EXPECT_EQ(ctx.jobSourcePaths->at(ctx.itemIndex - 1), item.sourceURL);
        }
        return std::vector<fs::path>{};
    });
    run(job, preset);
    ASSERT_EQ(seen.size(), 6u);
    std::vector<fs::path> expected;
    for (const auto& item : job.items) expected.push_back(item.sourceURL);
    for (const auto& list : seen) EXPECT_EQ(list, expected);
}

TEST_F(QueueManager, BoundAboveTheCountStartsEveryItemAtOnce) {
    ProcessingJob job = makeJob(4, 16);
    std::mutex m;
    std::condition_variable cv;
    int inside = 0;
    auto preset = std::make_shared<FunctionPreset>([&](const BatchItem&, const ProcessingContext&) {
        std::unique_lock lock(m);
        ++inside;
        cv.notify_all();
        // Returns only once all four are inside at the same time.
        if (!cv.wait_for(lock, std::chrono::seconds(10), [&] { return inside == 4; }))
            throw std::runtime_error("not all items ran at once");
        return std::vector<fs::path>{};
    });
    ExecutionReport report = run(job, preset);
    EXPECT_EQ(report.successCount, 4);
    EXPECT_EQ(preset->maxInFlight(), 4);
}

TEST_F(QueueManager, CancelWhileItemsRunLogsAtOnceAndOnceAndLeavesTheRestPending) {
    ProcessingJob job = makeJob(6, 2);
    Gate gate;
    auto preset = std::make_shared<FunctionPreset>([&](const BatchItem&, const ProcessingContext&) {
        gate.wait();
        return std::vector<fs::path>{};
    });
    auto future = manager.submitAndStart(job, preset);
    ASSERT_TRUE(recorder.waitFor([](const std::vector<Event>& events) {
        int started = 0;
        for (const auto& e : events)
            if (auto* s = std::get_if<StatusEvent>(&e)) started += s->status == ProcessingStatus::processing;
        return started == 2;
    }));
    manager.cancel().get();
    EXPECT_FALSE(manager.isProcessing().get()); // cleared at once, items still running
    // Both lines come at once, while the two items still run.
    EXPECT_EQ(recorder.logTexts().size(), 4u);
    gate.open();
    ASSERT_EQ(future.wait_for(kTimeout), std::future_status::ready);
    ExecutionReport report = future.get();
    EXPECT_EQ(report.successCount, 2);
    EXPECT_EQ(report.totalProcessed, 2);

    auto logs = recorder.logTexts();
    ASSERT_EQ(logs.size(), 5u);
    EXPECT_EQ(logs[2], "Cancellation requested.");
    EXPECT_EQ(logs[3], "Batch cancelled by user. Waiting for running items to finish.");
    EXPECT_TRUE(logs[4].starts_with("Batch complete in ")) << logs[4];
    EXPECT_NE(logs[4].find("s. Success: 2, Failures: 0, Skipped: 0. Throughput: 0.00 MB/s"), std::string::npos)
        << logs[4];

    // The cancellation line comes before the first result, and only once.
    auto events = recorder.events();
    std::size_t firstCompleted = events.size(), cancelLine = events.size();
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (auto* s = std::get_if<StatusEvent>(&events[i]); s && s->status == ProcessingStatus::completed)
            firstCompleted = std::min(firstCompleted, i);
        if (auto* l = std::get_if<LogEvent>(&events[i]); l && l->line.ends_with("Waiting for running items to finish."))
            cancelLine = i;
    }
    EXPECT_LT(cancelLine, firstCompleted);

    auto stored = jobs().at(job.id).items;
    for (std::size_t i = 0; i < stored.size(); ++i) {
        EXPECT_EQ(stored[i].status, i < 2 ? ProcessingStatus::completed : ProcessingStatus::pending) << i;
        if (i >= 2) {
            EXPECT_TRUE(recorder.statusEvents(stored[i].id).empty());
        }
    }

    // The flag does not carry over into the next run.
    ExecutionReport next = run(makeJob(3, 1), writing(dir.path()));
    EXPECT_EQ(next.successCount, 3);
}

TEST_F(QueueManager, CancelWithNoRunOnlyLogsItsLine) {
    manager.cancel().get();
    auto logs = recorder.logTexts();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0], "Cancellation requested.");
}

TEST_F(QueueManager, OutputsThenCompletedAndFilesInTheReport) {
    ProcessingJob job = makeJob(2, 1, {3000, 0});
    auto preset = std::make_shared<FunctionPreset>([&](const BatchItem& item, const ProcessingContext& ctx) {
        if (item.id == job.items[1].id) return std::vector<fs::path>{}; // success without files
        return std::vector<fs::path>{ctx.configuration.outputDirectory / "a_01.wav",
                                     ctx.configuration.outputDirectory / "a_01.mp3"};
    });
    ExecutionReport report = run(job, preset);
    EXPECT_EQ(report.outputFiles, (std::vector<std::string>{"a_01.wav", "a_01.mp3"}));
    EXPECT_EQ(report.bytesProcessed, 3000);
    EXPECT_EQ(report.successCount, 2);

    auto events = recorder.events();
    std::vector<std::string> kinds;
    for (const auto& e : events) {
        if (auto* s = std::get_if<StatusEvent>(&e)) {
            if (s->itemID != job.items[0].id) continue;
            kinds.push_back(std::string(batch::rawValue(s->status)));
            EXPECT_FALSE(s->message.has_value());
        } else if (auto* o = std::get_if<OutputEvent>(&e)) {
            kinds.push_back("output");
            if (o->itemID == job.items[0].id) {
                EXPECT_EQ(o->files.size(), 2u);
            }
        }
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"Processing", "output", "Completed", "output"}));

    auto stored = jobs().at(job.id);
    EXPECT_TRUE(stored.items[0].completedAt.has_value());
    EXPECT_EQ(stored.items[0].progress, 1.0);
    EXPECT_FALSE(stored.finishedAt.has_value());
}

// How a preset ends an item that does not succeed, and what the queue shows.
struct FailureCase {
    const char* name;
    std::function<void()> raise;
    ProcessingStatus status;
    const char* text;
    const char* logPrefix;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class QueueManagerFailure : public QueueManager, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(QueueManagerFailure, StatusBeforeTheLogLine) {
    const FailureCase& c = GetParam();
    ProcessingJob job = makeJob(1, 1, {2048});
    auto preset = std::make_shared<FunctionPreset>([&](const BatchItem&, const ProcessingContext&) -> std::vector<fs::path> {
        c.raise();
        return {};
    });
    ExecutionReport report = run(job, preset);
    const bool skipped = c.status == ProcessingStatus::skipped;
    const bool failed = c.status == ProcessingStatus::failed;
    EXPECT_EQ(report.skippedCount, skipped ? 1 : 0);
    EXPECT_EQ(report.failureCount, failed ? 1 : 0);
    EXPECT_EQ(report.totalProcessed, skipped || failed ? 1 : 0); // a stopped item has no outcome
    EXPECT_EQ(report.bytesProcessed, 2048); // counted whatever the outcome
    EXPECT_EQ(report.errors, failed ? std::vector<std::string>{c.text} : std::vector<std::string>{});
    // A stopped item carries no error text: nothing went wrong with it.
    const auto message = c.status == ProcessingStatus::cancelled ? std::nullopt : std::optional<std::string>(c.text);

    const std::string expectedLine = std::string(c.logPrefix) + job.items[0].id.text().substr(0, 6) + ": " + c.text;
    auto events = recorder.events();
    std::size_t statusAt = events.size(), lineAt = events.size();
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (auto* s = std::get_if<StatusEvent>(&events[i]); s && s->status == c.status) {
            statusAt = i;
            EXPECT_EQ(s->progress, 1.0);
            EXPECT_EQ(s->message, message);
        }
        if (auto* l = std::get_if<LogEvent>(&events[i]); l && l->line.substr(11) == expectedLine) lineAt = i;
    }
    ASSERT_LT(lineAt, events.size()) << "missing line: " << expectedLine;
    EXPECT_LT(statusAt, lineAt);
    auto item = jobs().at(job.id).items[0];
    EXPECT_EQ(item.status, c.status);
    EXPECT_EQ(item.errorMessage, message);
    EXPECT_FALSE(item.completedAt.has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, QueueManagerFailure,
    ::testing::Values(
        FailureCase{"Skip", [] { throw batch::BatchSkip("Covered by another item"); }, ProcessingStatus::skipped,
                    "Covered by another item", "Skipped item "},
        FailureCase{"EmptySkip", [] { throw batch::BatchSkip(""); }, ProcessingStatus::skipped, "", "Skipped item "},
        FailureCase{"EngineError", [] { throw core::Error("Could not read audio from a.wav"); },
                    ProcessingStatus::failed, "Could not read audio from a.wav", "Error processing item "},
        FailureCase{"StdError", [] { throw std::runtime_error("disk full"); }, ProcessingStatus::failed, "disk full",
                    "Error processing item "},
        FailureCase{"Anything", [] { throw 42; }, ProcessingStatus::failed, "The operation couldn\u2019t be completed.",
                    "Error processing item "},
        FailureCase{"StoppedByAQuit", [] { throw core::Stopped(); }, ProcessingStatus::cancelled,
                    "The application is quitting.", "Stopped item "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(QueueManager, ProgressIsCappedNotFloored) {
    ProcessingJob job = makeJob(1, 1);
    auto preset = std::make_shared<FunctionPreset>([](const BatchItem&, const ProcessingContext& ctx) {
        ctx.onProgressUpdate(0.5, "halfway");
        ctx.onProgressUpdate(1.0, std::nullopt);
        ctx.onProgressUpdate(7.0, std::nullopt);
        ctx.onProgressUpdate(-0.25, std::nullopt);
        ctx.onProgressUpdate(std::nan(""), "not a number");
        ctx.log("preset says hi");
        return std::vector<fs::path>{};
    });
    run(job, preset);
    auto events = recorder.statusEvents(job.items[0].id);
    ASSERT_EQ(events.size(), 7u);
    const std::vector<double> expected = {0.1, 0.5, 0.99, 0.99, -0.25};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(events[i].status, ProcessingStatus::processing);
        EXPECT_EQ(events[i].progress, expected[i]);
        EXPECT_FALSE(events[i].message.has_value()); // the message is dropped
    }
    EXPECT_TRUE(std::isnan(events[5].progress));
    EXPECT_EQ(events[6].status, ProcessingStatus::completed);
    auto logs = recorder.logTexts();
    EXPECT_NE(std::find(logs.begin(), logs.end(), "preset says hi"), logs.end());
    for (const auto& l : logs) EXPECT_EQ(l.find("halfway"), std::string::npos) << l;
}

TEST_F(QueueManager, LateProgressIsDroppedAndLateLogsStillArrive) {
    ProcessingJob job = makeJob(1, 1);
    std::mutex m;
    std::optional<ProcessingContext> kept;
    auto preset = std::make_shared<FunctionPreset>([&](const BatchItem&, const ProcessingContext& ctx) {
        std::lock_guard lock(m);
        kept = ctx;
        return std::vector<fs::path>{};
    });
    run(job, preset);
    const auto before = recorder.statusEvents().size();
    kept->onProgressUpdate(0.3, std::nullopt);
    kept->log("late line");
    jobs(); // posted after the two calls from this thread, so applied after them
    EXPECT_EQ(recorder.statusEvents().size(), before);
    auto item = jobs().at(job.id).items[0];
    EXPECT_EQ(item.status, ProcessingStatus::completed);
    EXPECT_EQ(item.progress, 1.0);
    EXPECT_EQ(recorder.logTexts().back(), "late line");
}

TEST_F(QueueManager, CallablesDoNothingOnceTheQueueIsGone) {
    std::optional<ProcessingContext> kept;
    Recorder localRecorder;
    {
        BatchQueueManager local;
        localRecorder.attach(local);
        auto preset = std::make_shared<FunctionPreset>([&](const BatchItem&, const ProcessingContext& ctx) {
            kept = ctx;
            return std::vector<fs::path>{};
        });
        auto future = local.submitAndStart(makeJob(1, 1), preset);
        ASSERT_EQ(future.wait_for(kTimeout), std::future_status::ready);
    }
    // Without a run under way the handle's destructor takes the state with
    // it, so the callables have nothing left to post to.
    const auto before = localRecorder.events().size();
    for (int i = 0; i < 20; ++i) {
        kept->onProgressUpdate(0.5, std::nullopt);
        kept->log("nobody listens");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(localRecorder.events().size(), before);
}

TEST_F(QueueManager, StatusUpdatesForUnknownItemsStillReachListeners) {
    // A resubmission under the same id replaces the stored copy while the
    // first run's items are still running: their events still go out.
    ProcessingJob first = makeJob(2, 2);
    Gate gate;
    auto slow = std::make_shared<FunctionPreset>([&](const BatchItem&, const ProcessingContext&) {
        gate.wait();
        return std::vector<fs::path>{};
    });
    auto firstRun = manager.submitAndStart(first, slow);
    ASSERT_TRUE(recorder.waitFor([](const std::vector<Event>& events) {
        int started = 0;
        for (const auto& e : events) started += std::holds_alternative<StatusEvent>(e);
        return started == 2;
    }));

    ProcessingJob second(first.id, "job.preset", "Job Preset", {BatchItem(core::Uuid::random(), dir / "other.wav")},
                         first.configuration);
    ExecutionReport secondReport = run(second, writing(dir.path()));
    EXPECT_EQ(secondReport.successCount, 1);
    auto stored = jobs().at(first.id);
    ASSERT_EQ(stored.items.size(), 1u);
    EXPECT_EQ(stored.items[0].id, second.items[0].id);
    EXPECT_EQ(jobs().size(), 1u);

    gate.open();
    ASSERT_EQ(firstRun.wait_for(kTimeout), std::future_status::ready);
    EXPECT_EQ(firstRun.get().successCount, 2);
    EXPECT_EQ(recorder.statusEvents(first.items[0].id).back().status, ProcessingStatus::completed);
    EXPECT_EQ(recorder.statusEvents(first.items[1].id).back().status, ProcessingStatus::completed);
    EXPECT_EQ(manager.completedReports().get().size(), 2u);
}

TEST_F(QueueManager, RunResetsItemsAndLeavesTheCallersJobAlone) {
    ProcessingJob job = makeJob(2, 2);
    job.items[0].status = ProcessingStatus::failed;
    job.items[0].progress = 1.0;
    job.items[0].errorMessage = "old failure";
    std::mutex m;
    std::vector<BatchItem> handed;
    auto preset = std::make_shared<FunctionPreset>([&](const BatchItem& item, const ProcessingContext& ctx) {
        std::lock_guard lock(m);
        handed.push_back(item);
        EXPECT_EQ(ctx.jobID, job.id);
        EXPECT_EQ(ctx.configuration, job.configuration);
        return std::vector<fs::path>{};
    });
    run(job, preset);
    ASSERT_EQ(handed.size(), 2u);
    for (const auto& item : handed) {
        EXPECT_EQ(item.status, ProcessingStatus::pending);
        EXPECT_EQ(item.progress, 0);
        EXPECT_FALSE(item.errorMessage.has_value());
    }
    EXPECT_EQ(job.items[0].status, ProcessingStatus::failed);
    EXPECT_EQ(job.items[0].errorMessage, "old failure");
}

TEST_F(QueueManager, ThrowingListenersDoNotBreakTheQueue) {
    BatchQueueManager queue;
    queue.addStatusListener([](auto&&...) { throw std::runtime_error("status listener"); });
    queue.addLogListener([](const std::string&) { throw 1; });
    queue.addOutputListener([](auto&&...) { throw std::runtime_error("output listener"); });
    Recorder after;
    after.attach(queue);
    ProcessingJob job = makeJob(3, 2);
    auto future = queue.submitAndStart(job, writing(dir.path()));
    ASSERT_EQ(future.wait_for(kTimeout), std::future_status::ready);
    EXPECT_EQ(future.get().successCount, 3);
    EXPECT_EQ(after.statusEvents().size(), 6u);
    EXPECT_EQ(after.logTexts().size(), 3u);
    int outputs = 0;
    for (const auto& e : after.events()) outputs += std::holds_alternative<OutputEvent>(e);
    EXPECT_EQ(outputs, 3);
}

TEST_F(QueueManager, ReportCountsBytesOfEveryFinishedItem) {
    ProcessingJob job = makeJob(3, 3, {1000, 0, 500});
    auto preset = std::make_shared<FunctionPreset>([&](const BatchItem& item, const ProcessingContext&) -> std::vector<fs::path> {
        if (item.id == job.items[2].id) throw std::runtime_error("broken");
        return {};
    });
    ExecutionReport report = run(job, preset);
    EXPECT_EQ(report.bytesProcessed, 1500);
    EXPECT_EQ(report.totalProcessed, 3);
    EXPECT_EQ(report.errors, std::vector<std::string>{"broken"});
    auto logs = recorder.logTexts();
    EXPECT_NE(logs.back().find("Success: 2, Failures: 1, Skipped: 0. Throughput: "), std::string::npos) << logs.back();
}

} // namespace

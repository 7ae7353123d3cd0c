#include "batch/BatchQueueManager.h"

#include <chrono>
#include <system_error>
#include <thread>
#include <variant>

#include <fmt/format.h>

#include "batch/BatchSkip.h"
#include "core/Numbers.h"
#include "core/SerialExecutor.h"
#include "core/StopSignal.h"

namespace batch {

namespace fs = std::filesystem;

namespace {

// The description of an error that carries none of its own.
constexpr const char* kGenericErrorText = "The operation couldn\u2019t be completed.";

struct Failure {
    enum class Kind { failed, skipped, stopped };
    Kind kind = Kind::failed;
    std::string text;
};

// What one child hands back: the item, the files or the error, the item's size.
struct ChildResult {
    std::size_t index = 0;
    core::Uuid itemID;
    std::variant<std::vector<fs::path>, Failure> outcome;
    std::int64_t bytes = 0;
};

std::string lastPathComponent(const fs::path& path) {
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return fs::path(text).filename().string();
}

template <typename Fn> void guarded(Fn&& fn) {
    try {
        fn();
    } catch (...) {
        // A listener's failure is its own; the queue goes on.
    }
}

} // namespace

// The working state of one submission; touched only on the executor.
struct Run {
    ProcessingJob job; // the run's own copy, items reset
    std::shared_ptr<const BatchPreset> preset;
    std::size_t nextIndex = 0;
    int inFlight = 0;
    int successCount = 0;
    int failureCount = 0;
    int skippedCount = 0;
    std::int64_t bytesProcessed = 0;
    std::vector<fs::path> outputs;
    std::vector<std::string> errors;
    // The worker thread of every running child, joined when its result is
    // handled (by then it only has to return).
    std::map<std::size_t, std::thread> workers;
    std::chrono::steady_clock::time_point startTime;
    bool cancellationLogged = false;
    std::promise<ExecutionReport> promise;
    std::shared_ptr<const std::vector<fs::path>> sourcePaths;
    // The files the run's items have claimed and the work they share, both
    // shared by all of them.
    std::shared_ptr<OutputClaims> claims;
    std::shared_ptr<SharedWork> sharedWork = std::make_shared<SharedWork>();

    Run(ProcessingJob job, std::shared_ptr<const BatchPreset> preset)
        : job(std::move(job)), preset(std::move(preset)) {
        auto paths = std::make_shared<std::vector<fs::path>>();
        paths->reserve(this->job.items.size());
        for (const auto& item : this->job.items) paths->push_back(item.sourceURL);
        claims = std::make_shared<OutputClaims>(this->job.configuration.outputDirectory,
                                                this->job.configuration.namingPattern, *paths);
        sourcePaths = std::move(paths);
    }
};

struct BatchQueueManager::Core {
    std::map<core::Uuid, ProcessingJob> activeJobs;
    std::vector<ExecutionReport> completedReports;
    bool isProcessing = false;
    bool isCancelled = false;
    std::vector<StatusListener> statusListeners;
    std::vector<LogListener> logListeners;
    std::vector<OutputListener> outputListeners;
    // The runs under way, told of a cancel the moment it comes.
    std::vector<std::weak_ptr<Run>> runs;
    std::weak_ptr<Core> weakSelf;
    // Declared last so it is destroyed first, while the state is still there.
    core::SerialExecutor executor;

    // Everything below runs on the executor.
    void log(const std::string& text);
    void updateItemStatus(const core::Uuid& jobID, const core::Uuid& itemID, ProcessingStatus status,
                          double progress, const std::optional<std::string>& error);
    void start(const std::shared_ptr<Run>& run);
    void startChild(const std::shared_ptr<Run>& run, std::size_t index);
    void handleResult(const std::shared_ptr<Run>& run, ChildResult result);
    void finish(const std::shared_ptr<Run>& run);
    void logCancellation(Run& run);
    ProcessingContext makeContext(const std::shared_ptr<Run>& run, std::size_t index);
};

void BatchQueueManager::Core::log(const std::string& text) {
    const std::string line = timedLine(text);
    for (const auto& listener : logListeners) guarded([&] { listener(line); });
}

void BatchQueueManager::Core::updateItemStatus(const core::Uuid& jobID, const core::Uuid& itemID,
                                               ProcessingStatus status, double progress,
                                               const std::optional<std::string>& error) {
    auto job = activeJobs.find(jobID);
    if (job != activeJobs.end()) {
        for (auto& item : job->second.items) {
            if (item.id != itemID) continue;
            // A finished item never goes back; a late progress report is dropped.
            if (isTerminal(item.status) && !isTerminal(status)) return;
            item.status = status;
            item.progress = progress;
            if (error) item.errorMessage = error;
            if (status == ProcessingStatus::completed) item.completedAt = core::Clock::now();
            break;
        }
    }
    for (const auto& listener : statusListeners)
        guarded([&] { listener(jobID, itemID, status, progress, error); });
}

ProcessingContext BatchQueueManager::Core::makeContext(const std::shared_ptr<Run>& run, std::size_t index) {
    const core::Uuid jobID = run->job.id;
    const core::Uuid itemID = run->job.items[index].id;
    std::weak_ptr<Core> weak = weakSelf;

    ProcessingContext context;
    context.jobID = jobID;
    context.configuration = run->job.configuration;
    context.itemIndex = static_cast<int>(index) + 1;
    context.totalItems = run->job.totalItems();
    context.jobSourcePaths = run->sourcePaths;
    context.claimant = {run->claims, index};
    context.sharedWork = run->sharedWork;
    context.onProgressUpdate = [weak, jobID, itemID](double fraction, std::optional<std::string>) {
        auto strong = weak.lock();
        if (!strong) return;
        // No lower clamp: negative and NaN fractions pass unchanged.
        const double shown = fraction > 0.99 ? 0.99 : fraction;
        strong->executor.post([weak, jobID, itemID, shown] {
            if (auto self = weak.lock())
                self->updateItemStatus(jobID, itemID, ProcessingStatus::processing, shown, std::nullopt);
        });
    };
    context.log = [weak](std::string line) {
        auto strong = weak.lock();
        if (!strong) return;
        strong->executor.post([weak, line = std::move(line)] {
            if (auto self = weak.lock()) self->log(line);
        });
    };
    return context;
}

void BatchQueueManager::Core::startChild(const std::shared_ptr<Run>& run, std::size_t index) {
    const BatchItem& item = run->job.items[index];
    updateItemStatus(run->job.id, item.id, ProcessingStatus::processing, 0.1, std::nullopt);
    ++run->inFlight;

    std::shared_ptr<Core> self = weakSelf.lock();
    auto work = [self, run, index, item, context = makeContext(run, index), preset = run->preset]() mutable {
        ChildResult result{index, item.id, std::vector<fs::path>{}, item.fileSize};
        try {
            result.outcome = preset->process(item, context);
        } catch (const BatchSkip& skip) {
            result.outcome = Failure{Failure::Kind::skipped, skip.reason};
        } catch (const core::Stopped& stop) {
            result.outcome = Failure{Failure::Kind::stopped, stop.what()};
        } catch (const core::Error& error) {
            result.outcome = Failure{Failure::Kind::failed, error.what()};
        } catch (const std::exception& error) {
            result.outcome = Failure{Failure::Kind::failed, error.what()};
        } catch (...) {
            result.outcome = Failure{Failure::Kind::failed, kGenericErrorText};
        }
        // The context's callables must not outlive the item on this thread.
        context = ProcessingContext{};
        // This thread keeps its own reference until post() has returned: the
        // closure may run, and drop its reference, before post() is done.
        self->executor.post([self, run = std::move(run), result = std::move(result)]() mutable {
            self->handleResult(run, std::move(result));
        });
    };
    try {
        run->workers.emplace(index, std::thread(std::move(work)));
    } catch (const std::system_error& error) {
        // No thread to be had: the item fails like any other, later on the executor.
        executor.post([self = weakSelf.lock(), run,
                       result = ChildResult{index, item.id, Failure{Failure::Kind::failed, error.what()},
                                            item.fileSize}]() mutable {
            self->handleResult(run, std::move(result));
        });
    }
}

void BatchQueueManager::Core::start(const std::shared_ptr<Run>& run) {
    ProcessingJob& job = run->job;
    for (auto& item : job.items) {
        item.status = ProcessingStatus::pending;
        item.progress = 0;
        item.errorMessage.reset();
    }
    activeJobs.insert_or_assign(job.id, job);
    isProcessing = true;
    isCancelled = false;
    std::erase_if(runs, [](const auto& r) { return r.expired(); });
    runs.push_back(run);

    log("Starting batch job [" + job.id.text().substr(0, 8) + "] for preset: " + run->preset->displayName());
    log(fmt::format("Discovered {} items. Max concurrency: {}", job.items.size(),
                    job.configuration.maxConcurrentTasks));
    run->startTime = std::chrono::steady_clock::now();

    std::error_code ignored;
    fs::create_directories(job.configuration.outputDirectory, ignored);

    const auto bound = job.configuration.maxConcurrentTasks;
    const std::size_t first =
        bound < 1 ? 0 : std::min(job.items.size(), static_cast<std::size_t>(bound));
    for (std::size_t i = 0; i < first; ++i) startChild(run, i);
    run->nextIndex = first;
    if (run->inFlight == 0) finish(run);
}

void BatchQueueManager::Core::handleResult(const std::shared_ptr<Run>& run, ChildResult result) {
    --run->inFlight;
    if (auto worker = run->workers.extract(result.index); worker && worker.mapped().joinable())
        worker.mapped().join();
    run->bytesProcessed += result.bytes;
    const core::Uuid& jobID = run->job.id;
    const std::string prefix = result.itemID.text().substr(0, 6);

    if (auto* files = std::get_if<std::vector<fs::path>>(&result.outcome)) {
        ++run->successCount;
        run->outputs.insert(run->outputs.end(), files->begin(), files->end());
        for (const auto& listener : outputListeners) guarded([&] { listener(result.itemID, *files); });
        updateItemStatus(jobID, result.itemID, ProcessingStatus::completed, 1.0, std::nullopt);
    } else {
        const auto& failure = std::get<Failure>(result.outcome);
        if (failure.kind == Failure::Kind::stopped) {
            // Stopped by a quit: no outcome of the item's own, so it counts
            // nowhere and carries no error text.
            updateItemStatus(jobID, result.itemID, ProcessingStatus::cancelled, 1.0, std::nullopt);
            log("Stopped item " + prefix + ": " + failure.text);
        } else if (failure.kind == Failure::Kind::skipped) {
            ++run->skippedCount;
            updateItemStatus(jobID, result.itemID, ProcessingStatus::skipped, 1.0, failure.text);
            log("Skipped item " + prefix + ": " + failure.text);
        } else {
            ++run->failureCount;
            run->errors.push_back(failure.text);
            updateItemStatus(jobID, result.itemID, ProcessingStatus::failed, 1.0, failure.text);
            log("Error processing item " + prefix + ": " + failure.text);
        }
    }

    if (isCancelled) logCancellation(*run);
    if (!isCancelled && run->nextIndex < run->job.items.size()) {
        startChild(run, run->nextIndex);
        ++run->nextIndex;
    }
    if (run->inFlight == 0) finish(run);
}

void BatchQueueManager::Core::logCancellation(Run& run) {
    if (run.cancellationLogged) return;
    log("Batch cancelled by user. Waiting for running items to finish.");
    run.cancellationLogged = true;
}

void BatchQueueManager::Core::finish(const std::shared_ptr<Run>& run) {
    const double duration =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - run->startTime).count();
    ExecutionReport report;
    report.id = core::Uuid::random();
    report.presetID = run->preset->id();
    report.presetName = run->preset->displayName();
    report.totalProcessed = run->successCount + run->failureCount + run->skippedCount;
    report.successCount = run->successCount;
    report.failureCount = run->failureCount;
    report.skippedCount = run->skippedCount;
    report.bytesProcessed = run->bytesProcessed;
    report.durationSeconds = duration;
    report.timestamp = core::Clock::now();
    for (const auto& file : run->outputs) report.outputFiles.push_back(lastPathComponent(file));
    report.errors = run->errors;

    completedReports.push_back(report);
    isProcessing = false;
    log(fmt::format("Batch complete in {}s. Success: {}, Failures: {}, Skipped: {}. Throughput: {} MB/s",
                    core::formatFixed(duration, 2), report.successCount, report.failureCount,
                    report.skippedCount, core::formatFixed(report.throughputMegabytesPerSec(), 2)));
    run->promise.set_value(std::move(report));
}

BatchQueueManager::BatchQueueManager()
    : core_(new Core, [](Core* core) {
          // The last reference may be dropped by a closure on the executor
          // itself, which cannot join its own thread: delete elsewhere then.
          if (core->executor.isCurrent())
              std::thread([core] { delete core; }).detach();
          else
              delete core;
      }) {
    core_->weakSelf = core_;
}

BatchQueueManager::~BatchQueueManager() {
    // Let what is already queued run first, so that without a run under way
    // this handle drops the last reference and the state goes away here and
    // now. A run still going keeps the state until it ends.
    if (!core_->executor.isCurrent()) core_->executor.submit([] {}).wait();
}

std::future<std::map<core::Uuid, ProcessingJob>> BatchQueueManager::activeJobs() const {
    return core_->executor.submit([self = core_] { return self->activeJobs; });
}

std::future<std::vector<ExecutionReport>> BatchQueueManager::completedReports() const {
    return core_->executor.submit([self = core_] { return self->completedReports; });
}

std::future<bool> BatchQueueManager::isProcessing() const {
    return core_->executor.submit([self = core_] { return self->isProcessing; });
}

std::future<void> BatchQueueManager::addStatusListener(StatusListener listener) {
    return core_->executor.submit(
        [self = core_, listener = std::move(listener)]() mutable { self->statusListeners.push_back(std::move(listener)); });
}

std::future<void> BatchQueueManager::addLogListener(LogListener listener) {
    return core_->executor.submit(
        [self = core_, listener = std::move(listener)]() mutable { self->logListeners.push_back(std::move(listener)); });
}

std::future<void> BatchQueueManager::addOutputListener(OutputListener listener) {
    return core_->executor.submit(
        [self = core_, listener = std::move(listener)]() mutable { self->outputListeners.push_back(std::move(listener)); });
}

std::string BatchQueueManager::timedLine(const std::string& text) {
    return "[" + core::localClockText(core::Clock::now()) + "] " + text;
}

std::future<void> BatchQueueManager::log(std::string text) {
    return core_->executor.submit([self = core_, text = std::move(text)] { self->log(text); });
}

std::future<ExecutionReport> BatchQueueManager::submitAndStart(ProcessingJob job,
                                                               std::shared_ptr<const BatchPreset> preset) {
    auto run = std::make_shared<Run>(std::move(job), std::move(preset));
    auto future = run->promise.get_future();
    core_->executor.post([self = core_, run] { self->start(run); });
    return future;
}

std::future<void> BatchQueueManager::cancel() {
    return core_->executor.submit([self = core_] {
        self->isCancelled = true;
        self->isProcessing = false;
        self->log("Cancellation requested.");
        for (const auto& weak : self->runs)
            if (auto run = weak.lock(); run && run->inFlight > 0) self->logCancellation(*run);
    });
}

} // namespace batch

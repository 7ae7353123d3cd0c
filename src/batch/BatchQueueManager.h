#pragma once

#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "batch/BatchItem.h"
#include "batch/BatchPreset.h"
#include "batch/ExecutionReport.h"
#include "batch/ProcessingJob.h"
#include "core/Uuid.h"

namespace batch {

// Runs jobs through a preset with at most maxConcurrentTasks items in flight.
//
// An actor: all state lives on a serial executor of its own, and every public
// call posts a closure there and returns at once (a future where a result is
// awaited; never wait for one on the executor itself, i.e. from a listener).
// Calls made from one thread are applied in the order made. Presets run on
// worker threads; listeners are called on the executor, in registration
// order, each guarded so a throwing listener cannot break the queue.
//
// An item whose preset throws core::Stopped (the application quits mid-run)
// ends cancelled, without error text, and counts as neither success, failure
// nor skip.
//
// Destroying the manager does not stop a run under way: the run keeps the
// queue's state alive until it has ended (call cancel() first to stop it
// from starting further items).
class BatchQueueManager {
public:
    // job id, item id, status, progress, message (failed/skipped only)
    using StatusListener = std::function<void(const core::Uuid& jobID, const core::Uuid& itemID,
                                              ProcessingStatus status, double progress,
                                              const std::optional<std::string>& message)>;
    // one complete line, already prefixed with "[HH:mm:ss] "
    using LogListener = std::function<void(const std::string& line)>;
    // item id, the files its preset returned, in the order returned
    using OutputListener = std::function<void(const core::Uuid& itemID,
                                              const std::vector<std::filesystem::path>& files)>;

    BatchQueueManager();
    ~BatchQueueManager();
    BatchQueueManager(const BatchQueueManager&) = delete;
    BatchQueueManager& operator=(const BatchQueueManager&) = delete;

    // Snapshots of the state, read on the executor.
    std::future<std::map<core::Uuid, ProcessingJob>> activeJobs() const;
    std::future<std::vector<ExecutionReport>> completedReports() const;
    std::future<bool> isProcessing() const;

    std::future<void> addStatusListener(StatusListener listener);
    std::future<void> addLogListener(LogListener listener);
    std::future<void> addOutputListener(OutputListener listener);

    // Hands "[HH:mm:ss] " + text to every log listener.
    std::future<void> log(std::string text);
    // "[HH:mm:ss] " (the local time now) + text: a complete log line.
    static std::string timedLine(const std::string& text);

    // Starts a run; the future gets its report once every started item has
    // finished (also after a cancel). Never fails.
    std::future<ExecutionReport> submitAndStart(ProcessingJob job,
                                                std::shared_ptr<const BatchPreset> preset);

    // No further item is started; running items finish as usual.
    std::future<void> cancel();

private:
    struct Core;
    std::shared_ptr<Core> core_;
};

} // namespace batch

#pragma once

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "batch/BatchConfiguration.h"
#include "batch/BatchItem.h"
#include "batch/BatchQueueManager.h"
#include "batch/FileIngest.h"
#include "batch/ProcessingJob.h"
#include "core/NaturalCollator.h"
#include "core/Numbers.h"
#include "core/StopSignal.h"
#include "core/Text.h"
#include "core/Uuid.h"
#include "presets/PresetSettingsCodec.h"
#include "presets/Vertical.h"
#include "ui/UiTexts.h"
#include "ui/UpdateChecker.h"
#include "ui/WorkspacePorts.h"

namespace ui {

namespace fs = std::filesystem;

// Observer notifications of the view model's published fields.
enum class WorkspaceField {
    preset,
    namingPattern,
    outputDirectory,
    queueItems,
    selection,
    isProcessing,
    overallProgress,
    logLines,
    itemOutputs,
};

// The state of an edition's window and the driver of its batch, generic over
// the edition's preset type P. Everything here runs on the GUI thread; the
// queue's events arrive through the poster. Settings are restored once when
// the model is made, and every change of the preset, the naming pattern or
// the output folder saves them 0.4 s later (a newer change replaces the
// pending save; flushPendingSave() writes it at once, e.g. at quit).
template <typename P> class StandaloneViewModel {
public:
    struct Ports {
        Poster post;
        Scheduler* scheduler = nullptr;
        SettingsStore* settings = nullptr;
        DesktopPorts desktop;
    };
    using Observer = std::function<void(WorkspaceField)>;

    static constexpr std::size_t kLogCap = 500;
    static constexpr double kSaveDelaySeconds = 0.4;

    StandaloneViewModel(P preset, presets::Vertical vertical, std::shared_ptr<UpdateChecker> updates,
                        Ports ports)
        : preset_(preset), vertical_(vertical), updates_(std::move(updates)), ports_(std::move(ports)),
          queueManager_(std::make_unique<batch::BatchQueueManager>()) {
        restore(preset);
        registerListeners();
        if (updates_) updates_->checkInBackground();
    }

    ~StandaloneViewModel() {
        if (saveToken_ && ports_.scheduler) ports_.scheduler->cancel(*saveToken_);
    }
    StandaloneViewModel(const StandaloneViewModel&) = delete;
    StandaloneViewModel& operator=(const StandaloneViewModel&) = delete;

    void setObserver(Observer observer) { observer_ = std::move(observer); }
    // The open panels and the file manager, set once the window exists.
    void setDesktop(DesktopPorts desktop) { ports_.desktop = std::move(desktop); }

    // --- published fields ---
    const P& preset() const { return preset_; }
    const std::string& namingPattern() const { return namingPattern_; }
    const fs::path& outputDirectory() const { return outputDirectory_; }
    const std::vector<batch::BatchItem>& queueItems() const { return queueItems_; }
    const std::set<core::Uuid>& selection() const { return selection_; }
    bool isProcessing() const { return isProcessing_; }
    double overallProgress() const { return overallProgress_; }
    const std::vector<std::string>& logLines() const { return logLines_; }
    const std::map<core::Uuid, std::vector<fs::path>>& itemOutputs() const { return itemOutputs_; }
    presets::Vertical vertical() const { return vertical_; }
    UpdateChecker* updates() const { return updates_.get(); }
    batch::BatchQueueManager& queueManager() { return *queueManager_; }
    // True from start() until the run's report has come back (also after a
    // cancel): no second run may start meanwhile.
    bool isRunInFlight() const { return runInFlight_; }
    // A cancelled run that is winding down: its report is not back yet.
    bool isStopping() const { return runInFlight_ && !isProcessing_; }

    int runnableCount() const {
        return static_cast<int>(std::count_if(queueItems_.begin(), queueItems_.end(), [](const auto& i) {
            return i.status == batch::ProcessingStatus::pending || i.status == batch::ProcessingStatus::failed;
        }));
    }

    // --- setters (each one schedules a save, also for an equal value) ---
    void setPreset(P preset) {
        preset_ = std::move(preset);
        notify(WorkspaceField::preset);
        saveSoon();
    }
    // An in-place edit from the option panel.
    void editPreset(const std::function<void(P&)>& edit) {
        edit(preset_);
        notify(WorkspaceField::preset);
        saveSoon();
    }
    void setNamingPattern(std::string pattern) {
        namingPattern_ = std::move(pattern);
        notify(WorkspaceField::namingPattern);
        saveSoon();
    }
    void setOutputDirectory(fs::path folder) {
        outputDirectory_ = std::move(folder);
        notify(WorkspaceField::outputDirectory);
        saveSoon();
    }
    void setSelection(std::set<core::Uuid> selection) {
        selection_ = std::move(selection);
        notify(WorkspaceField::selection);
    }

    // --- operations ---
    void ingest(const std::vector<fs::path>& urls) {
        std::set<fs::path> queued;
        for (const auto& item : queueItems_) queued.insert(item.sourceURL.lexically_normal());
        bool changed = false;
        const std::set<std::string> extensions = preset_.supportedExtensions();
        for (const auto& url : batch::FileIngest::expand(urls, extensions)) {
            if (queued.count(url.lexically_normal())) continue;
            queueItems_.emplace_back(core::Uuid::random(), url);
            changed = true;
        }
        if (changed) notify(WorkspaceField::queueItems);
        if (auto left = unsupportedFiles(urls, extensions); !left.empty()) logNow(leftOutLine(left));
    }

    void browse() {
        if (!ports_.desktop.chooseInputs) return;
        auto chosen = ports_.desktop.chooseInputs();
        if (!chosen.empty()) ingest(chosen);
    }

    // The folder variant of browse(): the chosen folder is expanded like a drop.
    void browseFolder() {
        if (!ports_.desktop.chooseInputFolder) return;
        if (auto folder = ports_.desktop.chooseInputFolder()) ingest({*folder});
    }

    void chooseOutputDirectory() {
        if (!ports_.desktop.chooseFolder) return;
        if (auto folder = ports_.desktop.chooseFolder(outputDirectory_)) setOutputDirectory(*folder);
    }

    void start() {
        if (isProcessing_ || runInFlight_) return;
        std::set<core::Uuid> runnable;
        for (const auto& item : queueItems_)
            if (item.status == batch::ProcessingStatus::pending || item.status == batch::ProcessingStatus::failed)
                runnable.insert(item.id);
        if (runnable.empty()) return;
        try {
            batch::BatchConfiguration::prepareOutputDirectory(outputDirectory_);
        } catch (const std::exception& error) {
            if (ports_.desktop.alert) ports_.desktop.alert(texts::kOutputFolderUnusable, error.what());
            return;
        }

        std::vector<batch::BatchItem> jobItems;
        for (auto& item : queueItems_) {
            if (!runnable.count(item.id)) continue;
            item.status = batch::ProcessingStatus::pending;
            item.progress = 0;
            item.errorMessage.reset();
            jobItems.push_back(item);
        }
        notify(WorkspaceField::queueItems);
        isProcessing_ = true;
        runInFlight_ = true;
        notify(WorkspaceField::isProcessing);

        batch::BatchConfiguration configuration(
            outputDirectory_, true, namingPattern_.empty() ? preset_.defaultNamingPattern() : namingPattern_, false,
            core::activeProcessorCount(), false, true, {});
        batch::ProcessingJob job(core::Uuid::random(), preset_.id(), preset_.displayName(), std::move(jobItems),
                                 std::move(configuration));
        auto future = queueManager_->submitAndStart(std::move(job), std::make_shared<const P>(preset_));
        waitOffThread(std::move(future), [this](batch::ExecutionReport report) {
            runInFlight_ = false;
            isProcessing_ = false;
            notify(WorkspaceField::isProcessing);
            logNow(fmt::format("Done in {}s: {} finished, {} failed, {} skipped.",
                               core::formatFixed(report.durationSeconds, 1), report.successCount,
                               report.failureCount, report.skippedCount));
        });
    }

    void cancel() {
        waitOffThread(queueManager_->cancel(), [this](bool) {
            isProcessing_ = false;
            notify(WorkspaceField::isProcessing);
        });
    }

    // Quitting mid-run: no further item starts, and the process-wide stop
    // is raised, which ends the programs running for the batch and the
    // in-process steps at their next block, packet or frame. The running
    // items end cancelled (removing their work folders) and the report
    // comes back soon. Unlike cancel(), running items don't finish.
    void stopForQuit() {
        if (!runInFlight_) return;
        if (isProcessing_) cancel();
        core::requestStop();
    }

    void revealOutput() {
        std::error_code ec;
        fs::create_directories(outputDirectory_, ec); // a failure still shows the folder
        if (ports_.desktop.reveal) ports_.desktop.reveal({outputDirectory_});
    }

    void reveal(const batch::BatchItem& item) {
        std::vector<fs::path> existing;
        if (auto it = itemOutputs_.find(item.id); it != itemOutputs_.end()) {
            for (const auto& f : it->second) {
                std::error_code ec;
                if (fs::exists(f, ec)) existing.push_back(f);
            }
        }
        if (existing.empty()) existing.push_back(item.sourceURL);
        if (ports_.desktop.reveal) ports_.desktop.reveal(existing);
    }

    // Takes its ids by value: callers may pass selection() itself.
    void remove(std::set<core::Uuid> ids) {
        if (isProcessing_) return;
        std::erase_if(queueItems_, [&](const auto& i) { return ids.count(i.id) > 0; });
        for (const auto& id : ids) selection_.erase(id);
        notify(WorkspaceField::queueItems);
        notify(WorkspaceField::selection);
    }

    void clearFinished() {
        std::erase_if(queueItems_, [](const auto& i) {
            return i.status == batch::ProcessingStatus::completed || i.status == batch::ProcessingStatus::skipped;
        });
        notify(WorkspaceField::queueItems);
    }

    void resetSettings(const P& preset) {
        setPreset(preset);
        setNamingPattern(preset.defaultNamingPattern());
    }

    void log(const std::string& line) {
        logLines_.push_back(line);
        if (logLines_.size() > kLogCap)
            logLines_.erase(logLines_.begin(), logLines_.begin() + static_cast<long>(logLines_.size() - kLogCap));
        notify(WorkspaceField::logLines);
    }

    // Writes a pending save now (the application calls this when it quits).
    void flushPendingSave() {
        if (!saveToken_) return;
        if (ports_.scheduler) ports_.scheduler->cancel(*saveToken_);
        saveToken_.reset();
        writeSettings();
    }

    // Files named directly or found in named folders (hidden entries and
    // packages passed over, a named link to a folder followed) whose
    // extension the preset does not take, in the file manager's order.
    static std::vector<fs::path> unsupportedFiles(const std::vector<fs::path>& urls,
                                                  const std::set<std::string>& extensions) {
        auto unsupported = [&](const fs::path& p) {
            const std::string name = p.filename().string();
            if (name.empty() || name.front() == '.') return false;
            std::string ext = p.extension().string();
            if (!ext.empty()) ext.erase(0, 1);
            return !extensions.count(core::toLower(ext));
        };
        std::vector<fs::path> found;
        for (const auto& url : urls) {
            std::error_code ec;
            const auto status = fs::symlink_status(url, ec);
            if (ec) continue;
            const auto linked = batch::FileIngest::droppedFolderLink(url, status);
            if (status.type() == fs::file_type::regular) {
                if (unsupported(url)) found.push_back(url);
            } else if (status.type() == fs::file_type::directory || linked) {
                const fs::path folder = linked ? *linked : url;
                fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
                for (; !ec && it != end; it.increment(ec)) {
                    const std::string name = it->path().filename().string();
                    const bool hidden = !name.empty() && name.front() == '.';
                    std::error_code typeError;
                    const auto type = it->symlink_status(typeError).type();
                    if (type == fs::file_type::directory) {
                        if (hidden || batch::FileIngest::isPackageName(it->path())) it.disable_recursion_pending();
                    } else if (!typeError && type == fs::file_type::regular && unsupported(it->path())) {
                        found.push_back(it->path());
                    }
                }
            }
        }
        const core::NaturalCollator collator;
        std::stable_sort(found.begin(), found.end(), [&](const fs::path& a, const fs::path& b) {
            return collator.compare(a.native(), b.native()) < 0;
        });
        return found;
    }

    // "Left out 3 unsupported files: a.txt, b.doc, c.zip." naming ten at
    // most, then "and N more".
    static std::string leftOutLine(const std::vector<fs::path>& files) {
        constexpr std::size_t kNamed = 10;
        std::string names;
        for (std::size_t i = 0; i < files.size() && i < kNamed; ++i)
            names += (i == 0 ? "" : ", ") + files[i].filename().string();
        const std::string more = files.size() > kNamed ? fmt::format(" and {} more", files.size() - kNamed) : "";
        return fmt::format("Left out {} unsupported file{}: {}{}.", files.size(), files.size() == 1 ? "" : "s",
                           names, more);
    }

private:
    void notify(WorkspaceField f) {
        if (observer_) observer_(f);
    }

    // The model's own lines carry the time like the queue's.
    void logNow(const std::string& text) { log(batch::BatchQueueManager::timedLine(text)); }

    // Waits for a queue future on a thread of its own and hands the result
    // to `done` on the GUI thread, if the model still exists by then.
    template <typename T, typename Done> void waitOffThread(std::future<T> future, Done done) {
        std::weak_ptr<int> alive = alive_;
        Poster post = ports_.post;
        std::thread([future = std::move(future), alive, post, done = std::move(done)]() mutable {
            future.wait();
            auto shared = std::make_shared<std::future<T>>(std::move(future));
            post([alive, shared, done]() mutable {
                if (!alive.lock()) return;
                if constexpr (std::is_void_v<T>) {
                    shared->get();
                    done(true);
                } else {
                    done(shared->get());
                }
            });
        }).detach();
    }

    void registerListeners() {
        std::weak_ptr<int> alive = alive_;
        Poster post = ports_.post;
        auto* self = this;
        queueManager_->addStatusListener([alive, post, self](const core::Uuid&, const core::Uuid& itemID,
                                                             batch::ProcessingStatus status, double progress,
                                                             const std::optional<std::string>& message) {
            post([alive, self, itemID, status, progress, message] {
                if (alive.lock()) self->applyStatus(itemID, status, progress, message);
            });
        });
        queueManager_->addLogListener([alive, post, self](const std::string& line) {
            post([alive, self, line] {
                if (alive.lock()) self->log(line);
            });
        });
        queueManager_->addOutputListener([alive, post, self](const core::Uuid& itemID,
                                                             const std::vector<fs::path>& files) {
            post([alive, self, itemID, files] {
                if (!alive.lock()) return;
                self->itemOutputs_[itemID] = files;
                self->notify(WorkspaceField::itemOutputs);
            });
        });
    }

    void applyStatus(const core::Uuid& id, batch::ProcessingStatus status, double progress,
                     const std::optional<std::string>& message) {
        auto it = std::find_if(queueItems_.begin(), queueItems_.end(), [&](const auto& i) { return i.id == id; });
        if (it == queueItems_.end()) return;
        it->status = status;
        it->progress = std::isnan(progress) ? 0.0 : std::clamp(progress, 0.0, 1.0);
        it->errorMessage = message;
        notify(WorkspaceField::queueItems);
        updateProgress();
    }

    void updateProgress() {
        double sum = 0;
        int touched = 0;
        for (const auto& i : queueItems_) {
            if (i.status == batch::ProcessingStatus::pending && !(i.progress > 0)) continue;
            ++touched;
            sum += batch::isTerminal(i.status) ? 1.0 : i.progress;
        }
        overallProgress_ = touched == 0 ? 0.0 : std::clamp(sum / touched, 0.0, 1.0);
        notify(WorkspaceField::overallProgress);
    }

    void restore(const P& given) {
        if (ports_.settings) {
            if (auto stored = ports_.settings->stringMap("settings")) {
                try {
                    auto made = presets::PresetSettingsCodec::makePreset(vertical_, *stored, false);
                    if (auto* typed = dynamic_cast<P*>(made.get())) preset_ = *typed;
                } catch (...) {
                    // keep the given preset
                }
            }
        }
        std::optional<std::string> pattern = ports_.settings ? ports_.settings->text("namingPattern") : std::nullopt;
        namingPattern_ = pattern ? *pattern : given.defaultNamingPattern();
        std::optional<std::string> folder = ports_.settings ? ports_.settings->text("outputDirectory") : std::nullopt;
        if (folder && !folder->empty())
            outputDirectory_ = fs::path(*folder);
        else
            outputDirectory_ = batch::BatchConfiguration::defaultConfiguration().outputDirectory;
    }

    void saveSoon() {
        if (!ports_.scheduler) return;
        if (saveToken_) ports_.scheduler->cancel(*saveToken_);
        std::weak_ptr<int> alive = alive_;
        saveToken_ = ports_.scheduler->schedule(kSaveDelaySeconds, [alive, this] {
            if (!alive.lock()) return;
            saveToken_.reset();
            writeSettings();
        });
    }

    void writeSettings() {
        if (!ports_.settings) return;
        ports_.settings->setStringMap("settings",
                                      presets::PresetSettingsCodec::encode(static_cast<const batch::BatchPreset&>(preset_)));
        ports_.settings->setText("namingPattern", namingPattern_);
        ports_.settings->setText("outputDirectory", outputDirectory_.string());
    }

    P preset_;
    std::string namingPattern_;
    fs::path outputDirectory_;
    std::vector<batch::BatchItem> queueItems_;
    std::set<core::Uuid> selection_;
    bool isProcessing_ = false;
    bool runInFlight_ = false;
    double overallProgress_ = 0;
    std::vector<std::string> logLines_;
    std::map<core::Uuid, std::vector<fs::path>> itemOutputs_;
    presets::Vertical vertical_;
    std::shared_ptr<UpdateChecker> updates_;
    Ports ports_;
    std::optional<Scheduler::Token> saveToken_;
    Observer observer_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    // Declared last: destroyed first, so its executor stops before the
    // fields its listeners reach are gone.
    std::unique_ptr<batch::BatchQueueManager> queueManager_;
};

} // namespace ui

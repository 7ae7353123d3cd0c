#pragma once

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "batch/BatchItem.h"
#include "ui/StandaloneViewModel.h"

namespace ui {

// What the window needs of the view model, without knowing the edition's
// preset type. WorkspaceAdapter<P> forwards to StandaloneViewModel<P>.
class Workspace {
public:
    virtual ~Workspace() = default;
    virtual const std::vector<batch::BatchItem>& queueItems() const = 0;
    virtual const std::set<core::Uuid>& selection() const = 0;
    virtual void setSelection(std::set<core::Uuid> ids) = 0;
    virtual bool isProcessing() const = 0;
    // From start() until the run's report is back (also after a cancel).
    virtual bool isRunInFlight() const = 0;
    // A cancelled run winding down: no new run may start yet.
    virtual bool isStopping() const = 0;
    virtual double overallProgress() const = 0;
    virtual int runnableCount() const = 0;
    virtual const std::vector<std::string>& logLines() const = 0;
    virtual const std::string& namingPattern() const = 0;
    virtual void setNamingPattern(std::string pattern) = 0;
    virtual const std::filesystem::path& outputDirectory() const = 0;
    virtual UpdateChecker* updates() const = 0;

    virtual void ingest(const std::vector<std::filesystem::path>& urls) = 0;
    virtual void browse() = 0;
    virtual void browseFolder() = 0;
    virtual void chooseOutputDirectory() = 0;
    virtual void start() = 0;
    virtual void cancel() = 0;
    virtual void revealOutput() = 0;
    virtual void reveal(const batch::BatchItem& item) = 0;
    virtual void remove(std::set<core::Uuid> ids) = 0;
    virtual void clearFinished() = 0;
    virtual void resetToDefaults() = 0;
    virtual void flushPendingSave() = 0;
    // Quitting mid-run: see StandaloneViewModel::stopForQuit().
    virtual void stopForQuit() = 0;
    virtual void setObserver(std::function<void(WorkspaceField)> observer) = 0;
};

template <typename P> class WorkspaceAdapter : public Workspace {
public:
    WorkspaceAdapter(StandaloneViewModel<P>& model, P defaultPreset)
        : model_(model), defaultPreset_(std::move(defaultPreset)) {}

    StandaloneViewModel<P>& model() { return model_; }

    const std::vector<batch::BatchItem>& queueItems() const override { return model_.queueItems(); }
    const std::set<core::Uuid>& selection() const override { return model_.selection(); }
    void setSelection(std::set<core::Uuid> ids) override { model_.setSelection(std::move(ids)); }
    bool isProcessing() const override { return model_.isProcessing(); }
    bool isRunInFlight() const override { return model_.isRunInFlight(); }
    bool isStopping() const override { return model_.isStopping(); }
    double overallProgress() const override { return model_.overallProgress(); }
    int runnableCount() const override { return model_.runnableCount(); }
    const std::vector<std::string>& logLines() const override { return model_.logLines(); }
    const std::string& namingPattern() const override { return model_.namingPattern(); }
    void setNamingPattern(std::string pattern) override { model_.setNamingPattern(std::move(pattern)); }
    const std::filesystem::path& outputDirectory() const override { return model_.outputDirectory(); }
    UpdateChecker* updates() const override { return model_.updates(); }
    void ingest(const std::vector<std::filesystem::path>& urls) override { model_.ingest(urls); }
    void browse() override { model_.browse(); }
    void browseFolder() override { model_.browseFolder(); }
    void chooseOutputDirectory() override { model_.chooseOutputDirectory(); }
    void start() override { model_.start(); }
    void cancel() override { model_.cancel(); }
    void revealOutput() override { model_.revealOutput(); }
    void reveal(const batch::BatchItem& item) override { model_.reveal(item); }
    void remove(std::set<core::Uuid> ids) override { model_.remove(std::move(ids)); }
    void clearFinished() override { model_.clearFinished(); }
    // "Reset All Settings" restores the preset the edition started with.
    void resetToDefaults() override { model_.resetSettings(defaultPreset_); }
    void flushPendingSave() override { model_.flushPendingSave(); }
    void stopForQuit() override { model_.stopForQuit(); }
    void setObserver(std::function<void(WorkspaceField)> observer) override { model_.setObserver(std::move(observer)); }

private:
    StandaloneViewModel<P>& model_;
    P defaultPreset_;
};

} // namespace ui

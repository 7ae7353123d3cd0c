#include "ui/StandaloneViewModel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>

#include <gtest/gtest.h>

#include "core/StopSignal.h"
#include "episode/AudioVideoPipeline.h"
#include "episode/DecoderPool.h"
#include "episode/Transcriber.h"
#include "presets/QuorvelPreset.h"
#include "support/TestSupport.h"
#include "WorkspaceFakes.h"

namespace fs = std::filesystem;
using batch::ProcessingStatus;
using uitest::FakePoster;
using uitest::FakeScheduler;
using uitest::Script;
using uitest::ScriptedPreset;
using uitest::untimed;
using Model = ui::StandaloneViewModel<ScriptedPreset>;

namespace {

struct Workspace {
    testsupport::TempDir dir;
    FakePoster poster;
    FakeScheduler scheduler;
    ui::MemorySettingsStore store;
    std::shared_ptr<Script> script = std::make_shared<Script>();
    std::unique_ptr<Model> model;

    Workspace() {
        Model::Ports ports;
        ports.post = poster.poster();
        ports.scheduler = &scheduler;
        ports.settings = &store;
        model = std::make_unique<Model>(ScriptedPreset(script), presets::Vertical::quorvel, nullptr, ports);
    }
    fs::path file(const std::string& name) {
        fs::path p = dir / name;
        fs::create_directories(p.parent_path());
        std::ofstream(p) << "x";
        return p;
    }
    bool waitIdle() {
        return poster.pumpUntil([this] { return !model->isRunInFlight(); });
    }
    ProcessingStatus statusOf(const std::string& name) {
        for (const auto& i : model->queueItems())
            if (i.sourceURL.filename() == name) return i.status;
        ADD_FAILURE() << "no item " << name;
        return ProcessingStatus::cancelled;
    }
};

} // namespace

TEST(StandaloneViewModel, IngestSkipsFilesAlreadyQueued) {
    Workspace w;
    auto a = w.file("show/a.wav");
    w.file("show/b.mp3");
    w.file("show/notes.txt");
    w.model->ingest({a, a});
    ASSERT_EQ(w.model->queueItems().size(), 1u);
    w.model->ingest({w.dir / "show"});
    ASSERT_EQ(w.model->queueItems().size(), 2u);
    EXPECT_EQ(w.model->queueItems()[0].sourceURL.filename(), "a.wav");
    EXPECT_EQ(w.model->queueItems()[1].sourceURL.filename(), "b.mp3");
    EXPECT_EQ(w.model->queueItems()[1].status, ProcessingStatus::pending);
}

TEST(StandaloneViewModel, LeftOutFilesAreNamedUpToTen) {
    Workspace w;
    for (int i = 1; i <= 12; ++i) w.file(fmt::format("in/notes {}.txt", i));
    w.file("in/keep.wav");
    w.model->ingest({w.dir / "in"});
    ASSERT_EQ(w.model->queueItems().size(), 1u);
    ASSERT_EQ(w.model->logLines().size(), 1u);
    EXPECT_EQ(untimed(w.model->logLines()[0]),
              "Left out 12 unsupported files: notes 1.txt, notes 2.txt, notes 3.txt, notes 4.txt, notes 5.txt, "
              "notes 6.txt, notes 7.txt, notes 8.txt, notes 9.txt, notes 10.txt and 2 more.");
}

// Tests run as root, so a folder that can't be written is one the system
// refuses whoever asks: a process's /proc entry, or one under a file.
TEST(StandaloneViewModel, AnUnwritableOutputFolderStartsNothingAndSaysWhy) {
    for (const auto& [folderName, said] : std::vector<std::pair<std::string, std::string>>{
             {"/proc/self", "Could not write in the folder {}: No such file or directory"},
             {"notes.txt/out", "Could not create the folder {}: Not a directory"}}) {
        Workspace w;
        const fs::path folder = folderName.front() == '/' ? fs::path(folderName) : w.dir / folderName;
        w.file("notes.txt");
        std::vector<std::pair<std::string, std::string>> alerts;
        ui::DesktopPorts desktop;
        desktop.alert = [&](const std::string& message, const std::string& informative) {
            alerts.emplace_back(message, informative);
        };
        w.model->setDesktop(desktop);
        w.model->setOutputDirectory(folder);
        w.model->ingest({w.file("a.wav")});
        w.model->start();
        ASSERT_EQ(alerts.size(), 1u) << folderName;
        EXPECT_EQ(alerts[0].first, ui::texts::kOutputFolderUnusable);
        EXPECT_EQ(alerts[0].second, fmt::format(fmt::runtime(said), folder.string()));
        EXPECT_FALSE(w.model->isProcessing());
        EXPECT_FALSE(w.model->isRunInFlight());
        w.poster.pumpFor(50);
        EXPECT_TRUE(w.script->processed.empty());
        EXPECT_TRUE(w.model->logLines().empty()); // the queue was never asked
        EXPECT_EQ(w.statusOf("a.wav"), ProcessingStatus::pending);
    }
}

TEST(StandaloneViewModel, BuildingTheModelSchedulesNoSave) {
    Workspace w;
    EXPECT_EQ(w.scheduler.scheduled, 0);
    EXPECT_EQ(w.store.writes, 0);
    EXPECT_EQ(w.model->namingPattern(), "{name}_scripted");
    EXPECT_EQ(w.model->outputDirectory().filename(), "BatchOutput");
}

TEST(StandaloneViewModel, BurstOfEditsGivesOneWriteAfterTheLast) {
    Workspace w;
    w.model->setNamingPattern("a");
    w.scheduler.advance(0.1);
    w.model->setNamingPattern("ab");
    w.scheduler.advance(0.1);
    w.model->setNamingPattern("abc");
    w.scheduler.advance(0.39);
    EXPECT_EQ(w.store.writes, 0);
    w.scheduler.advance(0.02);
    EXPECT_EQ(w.store.texts.at("namingPattern"), "abc");
    EXPECT_EQ(w.store.writes, 3); // the three keys, once
    EXPECT_EQ(w.scheduler.pendingCount(), 0u);
}

TEST(StandaloneViewModel, PendingSaveIsFlushedAtQuit) {
    Workspace w;
    w.model->setOutputDirectory(w.dir / "out");
    EXPECT_EQ(w.store.writes, 0);
    w.model->flushPendingSave();
    EXPECT_EQ(w.store.texts.at("outputDirectory"), (w.dir / "out").string());
    EXPECT_EQ(w.scheduler.pendingCount(), 0u);
}

TEST(StandaloneViewModel, RunsOnlyPendingAndFailedItemsAndResetsFailures) {
    Workspace w;
    w.script->failNames = {"b.wav"};
    w.model->ingest({w.file("a.wav"), w.file("b.wav")});
    w.model->start();
    ASSERT_TRUE(w.waitIdle());
    EXPECT_EQ(w.statusOf("a.wav"), ProcessingStatus::completed);
    EXPECT_EQ(w.statusOf("b.wav"), ProcessingStatus::failed);
    EXPECT_EQ(w.model->queueItems()[1].errorMessage, "scripted failure");
    ASSERT_TRUE(w.poster.pumpUntil([&] { return !w.model->logLines().empty() &&
                                               w.model->logLines().back().find("Done in ") != std::string::npos; }));
    EXPECT_NE(w.model->logLines().back().find(": 1 finished, 1 failed, 0 skipped."), std::string::npos);
    // The queue's lines and the model's own (both summaries) carry the time.
    ASSERT_GE(w.model->logLines().size(), 4u);
    for (const auto& line : w.model->logLines()) EXPECT_NE(untimed(line), line);
    EXPECT_TRUE(untimed(w.model->logLines().back()).starts_with("Done in "));

    w.script->failNames.clear();
    w.model->ingest({w.file("c.wav")});
    w.model->start();
    // Reset happens before the job is built.
    EXPECT_FALSE(w.model->queueItems()[1].errorMessage.has_value());
    EXPECT_EQ(w.model->queueItems()[1].progress, 0.0);
    ASSERT_TRUE(w.waitIdle());
    // Items of one run may start in any order (several run at once).
    auto processed = w.script->processed;
    ASSERT_EQ(processed.size(), 4u);
    std::sort(processed.begin(), processed.begin() + 2);
    std::sort(processed.begin() + 2, processed.end());
    EXPECT_EQ(processed, (std::vector<std::string>{"a.wav", "b.wav", "b.wav", "c.wav"}));
    EXPECT_EQ(w.statusOf("b.wav"), ProcessingStatus::completed);
}

TEST(StandaloneViewModel, EmptyPatternFallsBackToThePresetDefault) {
    Workspace w;
    w.model->setNamingPattern("");
    w.model->ingest({w.file("a.wav")});
    w.model->start();
    ASSERT_TRUE(w.waitIdle());
    ASSERT_EQ(w.script->patterns.size(), 1u);
    EXPECT_EQ(w.script->patterns[0], "{name}_scripted");
}

TEST(StandaloneViewModel, StartWithNothingRunnableDoesNothing) {
    Workspace w;
    w.model->start();
    EXPECT_FALSE(w.model->isProcessing());
    w.poster.pumpFor(50);
    EXPECT_TRUE(w.model->logLines().empty());
}

TEST(StandaloneViewModel, LogKeepsTheLast500Lines) {
    Workspace w;
    for (int i = 1; i <= 600; ++i) {
        w.model->log(fmt::format("line {}", i));
        if (i == 501) {
            ASSERT_EQ(w.model->logLines().size(), 500u);
            EXPECT_EQ(w.model->logLines().front(), "line 2");
        }
    }
    EXPECT_EQ(w.model->logLines().front(), "line 101");
    EXPECT_EQ(w.model->logLines().back(), "line 600");
}

TEST(StandaloneViewModel, OverallProgressCountsTouchedItemsOnly) {
    Workspace w;
    w.model->ingest({w.file("a.wav"), w.file("b.wav")});
    w.model->start();
    ASSERT_TRUE(w.waitIdle());
    w.model->ingest({w.file("c.wav"), w.file("d.wav")});
    EXPECT_DOUBLE_EQ(w.model->overallProgress(), 1.0);
    w.script->holdItems = true;
    w.model->start();
    ASSERT_TRUE(w.poster.pumpUntil([&] {
        return w.statusOf("c.wav") == ProcessingStatus::processing && w.statusOf("d.wav") == ProcessingStatus::processing;
    }));
    // Two completed, two at 0.1.
    EXPECT_NEAR(w.model->overallProgress(), (1 + 1 + 0.1 + 0.1) / 4, 1e-9);
    w.script->release();
    ASSERT_TRUE(w.waitIdle());
}

TEST(StandaloneViewModel, CancelThenStartDoesNotStartASecondRunWhileTheFirstFinishes) {
    Workspace w;
    w.script->holdItems = true;
    w.model->ingest({w.file("a.wav")});
    w.model->start();
    ASSERT_TRUE(w.poster.pumpUntil([&] { return w.statusOf("a.wav") == ProcessingStatus::processing; }));
    w.model->cancel();
    ASSERT_TRUE(w.poster.pumpUntil([&] { return !w.model->isProcessing(); }));
    // Said at once, while the item still runs.
    ASSERT_TRUE(w.poster.pumpUntil([&] {
        return !w.model->logLines().empty() &&
               untimed(w.model->logLines().back()) == "Batch cancelled by user. Waiting for running items to finish.";
    }));
    EXPECT_EQ(w.statusOf("a.wav"), ProcessingStatus::processing);
    w.model->ingest({w.file("b.wav")});
    w.model->start(); // refused: the first run has not returned its report
    EXPECT_FALSE(w.model->isProcessing());
    w.script->release();
    ASSERT_TRUE(w.waitIdle());
    EXPECT_EQ(w.script->processed, (std::vector<std::string>{"a.wav"}));
    EXPECT_EQ(w.statusOf("b.wav"), ProcessingStatus::pending);
    w.model->start();
    ASSERT_TRUE(w.waitIdle());
    EXPECT_EQ(w.script->processed, (std::vector<std::string>{"a.wav", "b.wav"}));
}

TEST(StandaloneViewModel, RemoveIsRefusedWhileProcessingAndClearFinishedKeepsFailures) {
    Workspace w;
    w.script->failNames = {"b.wav"};
    w.model->ingest({w.file("a.wav"), w.file("b.wav")});
    w.script->holdItems = true;
    w.model->start();
    std::set<core::Uuid> all;
    for (const auto& i : w.model->queueItems()) all.insert(i.id);
    w.model->remove(all);
    EXPECT_EQ(w.model->queueItems().size(), 2u);
    w.script->release();
    ASSERT_TRUE(w.waitIdle());
    w.model->clearFinished();
    ASSERT_EQ(w.model->queueItems().size(), 1u);
    EXPECT_EQ(w.model->queueItems()[0].sourceURL.filename(), "b.wav");
}

TEST(StandaloneViewModel, RevealFallsBackToTheSourceWhenOutputsAreGone) {
    Workspace w;
    std::vector<std::vector<fs::path>> shown;
    Model::Ports ports;
    ports.post = w.poster.poster();
    ports.scheduler = &w.scheduler;
    ports.desktop.reveal = [&](const std::vector<fs::path>& files) { shown.push_back(files); };
    Model model(ScriptedPreset(w.script), presets::Vertical::quorvel, nullptr, ports);
    auto src = w.file("a.wav");
    model.ingest({src});
    model.start();
    ASSERT_TRUE(w.poster.pumpUntil([&] { return !model.isRunInFlight() && !model.itemOutputs().empty(); }));
    model.reveal(model.queueItems()[0]);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], std::vector<fs::path>{src});
    fs::remove(src);
    model.reveal(model.queueItems()[0]);
    EXPECT_EQ(shown[1], std::vector<fs::path>{src}); // nothing left: the source alone
}

TEST(StandaloneViewModel, RestoresSettingsLenientlyThroughTheCodec) {
    FakePoster poster;
    FakeScheduler scheduler;
    ui::MemorySettingsStore store;
    presets::QuorvelPreset given;
    auto stored = presets::PresetSettingsCodec::encode(given);
    ASSERT_FALSE(stored.empty());
    stored["show"] = "Restored Show";
    stored["noSuchOption"] = "1";
    store.maps["settings"] = stored;
    store.texts["namingPattern"] = "";
    store.texts["outputDirectory"] = "";
    ui::StandaloneViewModel<presets::QuorvelPreset>::Ports ports;
    ports.post = poster.poster();
    ports.scheduler = &scheduler;
    ports.settings = &store;
    ui::StandaloneViewModel<presets::QuorvelPreset> model(given, presets::Vertical::quorvel, nullptr, ports);
    auto restored = presets::PresetSettingsCodec::encode(model.preset());
    EXPECT_EQ(restored.at("show"), "Restored Show"); // the unknown key did not stop the others
    restored["show"] = stored["show"] = presets::PresetSettingsCodec::encode(given).at("show");
    stored.erase("noSuchOption");
    EXPECT_EQ(restored, stored);
    EXPECT_EQ(model.namingPattern(), "");                         // a stored empty pattern stays empty
    EXPECT_EQ(model.outputDirectory().filename(), "BatchOutput"); // an empty folder falls back
    EXPECT_EQ(scheduler.scheduled, 0);
}

TEST(StandaloneViewModel, EngineProgressIsClampedBeforeDisplay) {
    for (double reported : {std::nan(""), -0.5, 0.5}) {
        Workspace w;
        w.script->holdItems = true;
        w.script->reportProgress = reported;
        w.model->ingest({w.file("a.wav")});
        w.model->start();
        const double expected = std::isnan(reported) || reported < 0 ? 0.0 : 0.5;
        // The queue passes NaN and negative values through; the model shows 0.
        ASSERT_TRUE(w.poster.pumpUntil([&] {
            const auto& item = w.model->queueItems()[0];
            return item.status == ProcessingStatus::processing && item.progress != 0.1;
        })) << reported;
        EXPECT_EQ(w.model->queueItems()[0].progress, expected) << reported;
        EXPECT_GE(w.model->overallProgress(), 0.0);
        EXPECT_LE(w.model->overallProgress(), 1.0);
        w.script->release();
        ASSERT_TRUE(w.waitIdle());
    }
}

namespace {

// The real pipeline, held at the start of an episode's clean-up until the
// test lets it go, so that a quit made meanwhile lands inside the clean-up.
class HeldAtCleanup : public episode::EpisodePipeline {
public:
    std::vector<fs::path> processMultiFormat(const episode::MultiFormatExportRequest& request, Progress onProgress,
                                             Log onLog) const override {
        auto held = [this, onProgress](double fraction, const std::string& message) {
            if (onProgress) onProgress(fraction, message);
            if (message == "Analysing and cleaning up audio...") gate_->hold();
        };
        return episode::AudioVideoPipeline::shared().processMultiFormat(request, held, onLog);
    }
    bool producesMP3() const override { return episode::AudioVideoPipeline::shared().producesMP3(); }

    bool reached() const { return gate_->reached; }
    void release() const { gate_->release(); }

private:
    struct Gate {
        std::mutex mutex;
        std::condition_variable changed;
        std::atomic<bool> reached{false};
        bool released = false;
        void hold() {
            std::unique_lock lock(mutex);
            reached = true;
            changed.wait_for(lock, std::chrono::seconds(30), [this] { return released; });
        }
        void release() {
            std::lock_guard lock(mutex);
            released = true;
            changed.notify_all();
        }
    };
    std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
};

} // namespace

namespace {

// One episode run by the real podcast preset (clean-up, transcript, RSS file
// and audiogram) through the view model, with its work folders in a
// temporary folder of the test, to be quit mid-run.
struct QuitMidEpisode {
    testsupport::TempDir dir;
    std::optional<testsupport::ScopedTmpDir> tmp;
    const testsupport::StopLoweredAtExit lower;
    FakePoster poster;
    FakeScheduler scheduler;
    ui::MemorySettingsStore store;
    std::unique_ptr<ui::StandaloneViewModel<presets::QuorvelPreset>> model;

    explicit QuitMidEpisode(std::shared_ptr<const episode::EpisodePipeline> pipeline = nullptr) {
        fs::create_directory(dir / "tmp");
        tmp.emplace(dir / "tmp");
        presets::QuorvelPreset preset;
        if (pipeline) preset.setPipeline(std::move(pipeline));
        ui::StandaloneViewModel<presets::QuorvelPreset>::Ports ports;
        ports.post = poster.poster();
        ports.scheduler = &scheduler;
        ports.settings = &store;
        model = std::make_unique<ui::StandaloneViewModel<presets::QuorvelPreset>>(preset, presets::Vertical::quorvel,
                                                                                  nullptr, ports);
        model->setOutputDirectory(dir / "out");
    }
    void start(const fs::path& episode) {
        model->ingest({episode});
        model->start();
    }
    // The item ended stopped by the quit, neither failed nor blaming a
    // program it never got to start, and left no work folder.
    void expectStoppedAndNothingLeft() {
        ASSERT_TRUE(poster.pumpUntil([&] { return !model->isRunInFlight(); }, std::chrono::seconds(30)));
        const auto& item = model->queueItems().at(0);
        EXPECT_EQ(item.status, ProcessingStatus::cancelled);
        EXPECT_EQ(item.errorMessage, std::nullopt);
        const std::string stopped = "Stopped item " + item.id.text().substr(0, 6) + ": The application is quitting.";
        EXPECT_TRUE(std::any_of(model->logLines().begin(), model->logLines().end(),
                                [&](const std::string& line) { return untimed(line) == stopped; }));
        for (const auto& line : model->logLines()) EXPECT_EQ(line.find("Could not start"), std::string::npos) << line;
        EXPECT_TRUE(fs::is_empty(dir / "tmp")); // the work folder is removed
    }
};

} // namespace

// Quitting mid-run stops an episode inside its in-process clean-up: the item
// ends cancelled and its work folder is gone.
TEST(StandaloneViewModel, QuitDuringTheCleanUpStopsTheEpisodeAndLeavesNothing) {
    auto pipeline = std::make_shared<HeldAtCleanup>();
    QuitMidEpisode run(pipeline);
    testsupport::makeAudio(run.dir / "episode.wav", "sine=frequency=440:sample_rate=48000:duration=3");
    run.start(run.dir / "episode.wav");
    ASSERT_TRUE(run.poster.pumpUntil([&] { return pipeline->reached(); }));
    run.model->stopForQuit();
    pipeline->release();
    run.expectStoppedAndNothingLeft();
    for (const auto& line : run.model->logLines())
        EXPECT_EQ(line.find(" LUFS -> "), std::string::npos) << line; // the clean-up did not finish
    EXPECT_TRUE(!fs::exists(run.dir / "out") || fs::is_empty(run.dir / "out")); // no master: it stopped before
}

// A quit while the shared decoders recognise the episode's speech stops the
// recognition inside its utterance, and the episode with it.
TEST(StandaloneViewModel, QuitDuringTheTranscriptionStopsTheEpisodeAndLeavesNothing) {
    if (!episode::Transcriber::isSupported()) GTEST_SKIP() << "speech model not installed";
    QuitMidEpisode run;
    testsupport::runTool({"espeak-ng", "-s", "150", "-w", (run.dir / "episode.wav").string(),
                          "Today we build a small wooden boat in a garage and we start with the plans and the timber "
                          "then cut the frames and set them up and steam the planks so that they bend"});
    const auto& pool = episode::DecoderPool::shared(episode::Transcriber::SpeechModel::installed());
    run.start(run.dir / "episode.wav");
    // Decoders are made only for the recognition: once one is loaded, its
    // first utterance is being decoded.
    for (int i = 0; i < 6000 && pool.decodersMade() == 0 && run.model->isRunInFlight(); ++i) run.poster.pumpFor(5);
    ASSERT_GT(pool.decodersMade(), 0u);
    run.model->stopForQuit();
    run.expectStoppedAndNothingLeft();
}

#include "episode/EpisodePipeline.h"

#include <mutex>

#include <fmt/format.h>

#include "core/Error.h"

namespace episode {

namespace {

class UnavailablePipeline final : public EpisodePipeline {
public:
    std::vector<std::filesystem::path> processMultiFormat(const MultiFormatExportRequest&, Progress,
                                                          Log) const override {
        throw core::Error("The episode pipeline is not available.");
    }
    bool producesMP3() const override { return false; }
};

struct Registry {
    std::mutex lock;
    std::shared_ptr<EpisodePipeline> current = std::make_shared<UnavailablePipeline>();
    // Every pipeline ever registered, so references handed out stay valid.
    std::vector<std::shared_ptr<EpisodePipeline>> kept;
};

Registry& registry() {
    static Registry* r = new Registry(); // lives for the whole process
    return *r;
}

} // namespace

std::string masterSuffix(const audio::LoudnessTarget& target) {
    if (target.acx) return "_Master_ACX.wav";
    return fmt::format("_Master_{:.0f}LUFS.wav", target.integratedLUFS);
}

EpisodePipeline& sharedEpisodePipeline() { return *sharedEpisodePipelinePointer(); }

std::shared_ptr<EpisodePipeline> sharedEpisodePipelinePointer() {
    auto& r = registry();
    std::lock_guard guard(r.lock);
    return r.current;
}

void setSharedEpisodePipeline(std::shared_ptr<EpisodePipeline> pipeline) {
    if (!pipeline) return;
    auto& r = registry();
    std::lock_guard guard(r.lock);
    r.kept.push_back(r.current);
    r.current = std::move(pipeline);
}

} // namespace episode

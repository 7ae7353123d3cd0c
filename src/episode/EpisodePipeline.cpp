#include "episode/EpisodePipeline.h"

#include <mutex>

#include <fmt/format.h>

#include "episode/AudioVideoPipeline.h"

namespace episode {

namespace {

struct Registry {
    std::mutex lock;
    // The real pipeline until something (a test) registers another one.
    std::shared_ptr<EpisodePipeline> current = AudioVideoPipeline::sharedPointer();
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

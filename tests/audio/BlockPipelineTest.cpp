#include <gtest/gtest.h>

#include <stdexcept>

#include "audio/BlockPipeline.h"

using audio::AudioBlock;
using audio::BlockPipeline;

namespace {
AudioBlock blockOf(float value)
{
    AudioBlock b;
    b.samples = {value};
    b.frames = 1;
    return b;
}
} // namespace

TEST(BlockPipeline, ConsumerSeesEveryBlockInOrder)
{
    std::vector<float> seen;
    BlockPipeline pipe([&](AudioBlock& b) { seen.push_back(b.samples[0]); }, 2);
    for (int i = 0; i < 1000; ++i) {
        auto b = blockOf(static_cast<float>(i));
        pipe.push(b);
        EXPECT_EQ(b.frames, 0u);
        EXPECT_TRUE(b.samples.empty());
    }
    pipe.finish();
    ASSERT_EQ(seen.size(), 1000u);
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(seen[static_cast<std::size_t>(i)], static_cast<float>(i));
}

TEST(BlockPipeline, ConsumerFailureReachesTheProducer)
{
    int consumed = 0;
    BlockPipeline pipe(
        [&](AudioBlock& b) {
            if (b.samples[0] == 3) throw std::runtime_error("disk full");
            ++consumed;
        },
        1);
    bool thrown = false;
    try {
        for (int i = 0; i < 100; ++i) {
            auto b = blockOf(static_cast<float>(i));
            pipe.push(b);
        }
        pipe.finish();
    } catch (const std::runtime_error& e) {
        thrown = true;
        EXPECT_STREQ(e.what(), "disk full");
    }
    EXPECT_TRUE(thrown);
    EXPECT_EQ(consumed, 3);   // nothing after the failing block
}

TEST(BlockPipeline, AbandonedPipelineStopsCleanly)
{
    int consumed = 0;
    {
        BlockPipeline pipe([&](AudioBlock&) { ++consumed; }, 8);
        for (int i = 0; i < 5; ++i) {
            auto b = blockOf(1);
            pipe.push(b);
        }
    }
    EXPECT_LE(consumed, 5);
}

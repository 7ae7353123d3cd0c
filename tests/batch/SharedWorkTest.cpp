// Work that several items of a run depend on, asked for from eight threads
// at once: done once per key, its result or its error handed to everyone.

#include <atomic>
#include <barrier>
#include <latch>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "batch/SharedWork.h"

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 50;

struct WorkFailed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What one thread got for each key it asked for.
struct Seen {
    std::shared_ptr<const std::string> shared;
    std::string sharedError;
    std::string failingError;
    std::shared_ptr<const std::string> own;
    std::string ownError;
};

// One round: a fresh SharedWork and what each thread got from it.
struct Round {
    batch::SharedWork work;
    std::map<std::string, std::atomic<int>> runs; // how often each key's work ran
    std::latch asking{kThreads};
    std::vector<Seen> seen = std::vector<Seen>(kThreads);

    Round() {
        runs["sheet"];
        runs["broken"];
        for (int t = 0; t < kThreads; ++t) runs[fmt::format("own {}", t)];
    }
};

// Thread t's part in a round: it asks for the same two keys as every other
// thread, one whose work succeeds and one whose work fails, in an order of
// its own, then for a key of its own (even threads' work succeeds, odd
// threads' fails). The successful shared work holds on until every thread
// has begun asking, so the others wait for it.
void ask(Round& round, int t) {
    Seen& mine = round.seen[static_cast<std::size_t>(t)];
    const auto shared = [&] {
        try {
            mine.shared = round.work.once<std::string>("sheet", [&] {
                ++round.runs.at("sheet");
                round.asking.wait();
                return std::string("the sheet");
            });
        } catch (const std::exception& e) {
            mine.sharedError = e.what();
        }
    };
    const auto failing = [&] {
        try {
            round.work.once<std::string>("broken", [&]() -> std::string {
                ++round.runs.at("broken");
                throw WorkFailed("no sheet");
            });
        } catch (const WorkFailed& e) {
            mine.failingError = e.what();
        }
    };
    round.asking.count_down();
    if (t % 2) {
        failing();
        shared();
    } else {
        shared();
        failing();
    }
    const std::string key = fmt::format("own {}", t);
    try {
        mine.own = round.work.once<std::string>(key, [&] {
            ++round.runs.at(key);
            if (t % 2) throw WorkFailed(key + " failed");
            return key + " done";
        });
    } catch (const WorkFailed& e) {
        mine.ownError = e.what();
    }
}

// Eight threads go through the rounds together, each round starting when
// all of them have finished the one before.
TEST(SharedWork, EightThreadsEachKeyDoneOnceAndEveryoneGetsItsOutcome) {
    std::vector<std::unique_ptr<Round>> rounds;
    for (int r = 0; r < kRounds; ++r) rounds.push_back(std::make_unique<Round>());
    std::barrier start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (auto& round : rounds) {
                start.arrive_and_wait();
                ask(*round, t);
            }
        });
    for (auto& thread : threads) thread.join();

    for (int r = 0; r < kRounds; ++r) {
        const Round& round = *rounds[static_cast<std::size_t>(r)];
        for (const auto& [key, count] : round.runs) EXPECT_EQ(count.load(), 1) << key << ", round " << r;
        const auto& first = round.seen[0].shared;
        ASSERT_NE(first, nullptr) << round.seen[0].sharedError;
        EXPECT_EQ(*first, "the sheet");
        for (int t = 0; t < kThreads; ++t) {
            const Seen& s = round.seen[static_cast<std::size_t>(t)];
            // One result object for all, not a copy each.
            EXPECT_EQ(s.shared, first) << t;
            EXPECT_EQ(s.sharedError, "") << t;
            EXPECT_EQ(s.failingError, "no sheet") << t;
            if (t % 2) {
                EXPECT_EQ(s.own, nullptr) << t;
                EXPECT_EQ(s.ownError, fmt::format("own {} failed", t));
            } else {
                ASSERT_NE(s.own, nullptr) << t << " " << s.ownError;
                EXPECT_EQ(*s.own, fmt::format("own {} done", t));
            }
        }
    }
}

} // namespace

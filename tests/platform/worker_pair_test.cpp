#include "platform/worker_pair.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <new>
#include <thread>
#include <vector>

#include "platform/processor.h"
#include "platform/worker_split.h"

namespace rq43::platform {
namespace {

TEST(WorkerPairTest, BothHalvesRunConcurrentlyAndFinishBeforeReturn) {
    // Each half waits for the other, which only completes if they really run at the same time.
    std::atomic<int> arrived{0};
    int done[2] = {0, 0};
    bool ran = RunWorkerPair([&](int worker) {
        arrived.fetch_add(1);
        while (arrived.load() < 2) std::this_thread::yield();
        done[worker] = worker + 1;
    });
    ASSERT_TRUE(ran);
    EXPECT_EQ(done[0], 1);
    EXPECT_EQ(done[1], 2);
}

TEST(WorkerPairTest, AHalfsExceptionReachesTheCallerAfterBothEnd) {
    std::atomic<bool> otherFinished{false};
    EXPECT_THROW((void)RunWorkerPair([&](int worker) {
                     if (worker == 0) throw std::bad_alloc();
                     otherFinished = true;
                 }),
                 std::bad_alloc);
    EXPECT_TRUE(otherFinished.load());
}

// A stage claimed by both the helper and the caller would run a half twice; one claimed by neither would
// never return. Many short stages make the helper and the caller meet at every point of the hand-off.
TEST(WorkerPairTest, EveryStageRunsEachHalfExactlyOnce) {
    WorkerPair pair;
    constexpr int kStages = 3000;
    int runs[2] = {0, 0};
    std::atomic<int> perStage[2];
    for (int stage = 0; stage < kStages; ++stage) {
        perStage[0] = perStage[1] = 0;
        ASSERT_TRUE(pair.Run([&](int worker) {
            perStage[worker].fetch_add(1);
            ++runs[worker];
        }));
        ASSERT_EQ(perStage[0].load(), 1) << "stage " << stage;
        ASSERT_EQ(perStage[1].load(), 1) << "stage " << stage;
    }
    EXPECT_EQ(runs[0] + runs[1], 2 * kStages);
}

// Work handed to the next stage is done once, by the time Finish returns, and never carried into a later
// stage, where what it refers to may be gone; with no stage, or no workers, Finish does it.
TEST(WorkerPairTest, WorkBesideTheNextStageIsDoneOnceByFinish) {
    WorkerPair pair;
    for (WorkerPair* workers : {&pair, static_cast<WorkerPair*>(nullptr)}) {
        for (const bool stage : {true, false}) {
            std::atomic<int> done{0};
            std::atomic<int> units{0};
            {
                BesideNextStage beside(workers, [&] { done.fetch_add(1); });
                if (stage) RunUnits(workers, 64, [&](uint32_t, int) { units.fetch_add(1); });
                beside.Finish();
                EXPECT_EQ(done.load(), 1);
            }
            RunUnits(workers, 8, [&](uint32_t, int) { units.fetch_add(1); });
            EXPECT_EQ(done.load(), 1);
            EXPECT_EQ(units.load(), stage ? 72 : 8);
        }
    }
}

// Bands split at the middle and a worker done with its half takes the other's last units: a take from
// both ends of one half must never hand out a unit twice or skip one, whichever worker is slowed, for odd
// counts and counts too small to split.
TEST(WorkerPairTest, BandsRunEachUnitExactlyOnceWhicheverWorkerLags) {
    WorkerPair pair;
    for (WorkerPair* workers : {&pair, static_cast<WorkerPair*>(nullptr)}) {
        for (int slow = 0; slow < 2; ++slow) {
            for (uint32_t units : {0u, 1u, 2u, 3u, 7u, 30u}) {
                std::vector<std::atomic<int>> runs(units);
                RunBands(workers, units, [&](uint32_t unit, int worker) {
                    if (worker == slow) std::this_thread::sleep_for(std::chrono::microseconds(200));
                    runs[unit].fetch_add(1);
                });
                for (uint32_t k = 0; k < units; ++k)
                    ASSERT_EQ(runs[k].load(), 1) << units << " units, unit " << k;
            }
        }
    }
}

// Work either half may need first is done once, and done before either half goes on, whichever arrives
// first; with the halves run in turn on one thread, the first does it and nothing waits.
TEST(WorkerPairTest, ASharedStepIsDoneOnceBeforeEitherHalfGoesOn) {
    WorkerPair pair;
    for (WorkerPair* workers : {&pair, static_cast<WorkerPair*>(nullptr)}) {
        for (int slow = 0; slow < 2; ++slow) {
            SharedStep step;
            std::atomic<int> done{0};
            int seen[2] = {0, 0};
            RunHalves(workers, [&](int half) {
                if (half == slow) std::this_thread::sleep_for(std::chrono::microseconds(200));
                step.Ensure([&] {
                    std::this_thread::sleep_for(std::chrono::microseconds(100));
                    done.fetch_add(1);
                });
                seen[half] = done.load();
            });
            EXPECT_EQ(done.load(), 1);
            EXPECT_EQ(seen[0], 1);
            EXPECT_EQ(seen[1], 1);
        }
    }
}

// A shared step that runs out of memory fails the stage instead of leaving the other half waiting on it.
TEST(WorkerPairTest, ASharedStepThatThrowsFailsTheStage) {
    WorkerPair pair;
    for (WorkerPair* workers : {&pair, static_cast<WorkerPair*>(nullptr)}) {
        SharedStep step;
        EXPECT_THROW(RunHalves(workers,
                               [&](int) {
                                   step.Ensure([] {
                                       std::this_thread::sleep_for(std::chrono::microseconds(100));
                                       throw std::bad_alloc();
                                   });
                               }),
                     std::bad_alloc);
    }
}

TEST(ProcessorTest, OverridesAreHonouredAndUndone) {
    EXPECT_GE(ProcessorCount(), 1u);
    OverrideProcessorCount(2);
    EXPECT_EQ(ProcessorCount(), 2u);
    OverrideProcessorCount(0);
    OverrideTimeStampCounter([]() -> uint64_t { return 77; });
    EXPECT_EQ(ReadTimeStampCounter(), 77u);
    OverrideTimeStampCounter(nullptr);
    const uint64_t before = ReadTimeStampCounter();  // the processor's own again: it moves
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_GT(ReadTimeStampCounter(), before);
}

}  // namespace
}  // namespace rq43::platform

// Stage work split into units that write disjoint data, shared by the two workers when there are any,
// otherwise done in order on the caller's thread. The results are the same either way.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <thread>
#include <utility>

#include "platform/worker_pair.h"

namespace rq43::platform {

// Both halves; `workers` null for one thread. Work left beside this stage runs before half 1, on its
// worker.
inline void RunHalves(WorkerPair* workers, const std::function<void(int half)>& half) {
    std::function<void()>* beside = workers != nullptr ? std::exchange(workers->beside, nullptr) : nullptr;
    const std::function<void(int)> withBeside = [&](int h) {
        if (h == 1) (*beside)();
        half(h);
    };
    const std::function<void(int)>& halves = beside != nullptr ? withBeside : half;
    if (workers != nullptr && workers->Run(halves)) return;
    halves(0);
    halves(1);
}

// Serial work that has to be done by some point, handed to the next stage of `workers` to be done beside
// it: the worker of half 1 does it first, and in a stage split into units the other worker meanwhile takes
// more of them. Finish() does it on the caller if no stage has; either way it is done exactly once, and
// done when Finish returns. An exception it throws in a stage leaves that stage as a half's would.
class BesideNextStage {
  public:
    BesideNextStage(WorkerPair* workers, std::function<void()> work)
        : workers_(workers), work_(std::move(work)), run_([this] {
              work_();
              done_ = true;
          }) {
        if (workers_ != nullptr) workers_->beside = &run_;
    }
    ~BesideNextStage() { Withdraw(); }
    BesideNextStage(const BesideNextStage&) = delete;
    BesideNextStage& operator=(const BesideNextStage&) = delete;

    void Finish() {
        Withdraw();
        if (!done_) run_();
    }

  private:
    void Withdraw() {
        if (workers_ != nullptr && workers_->beside == &run_) workers_->beside = nullptr;
    }

    WorkerPair* workers_;
    std::function<void()> work_;
    std::function<void()> run_;
    bool done_ = false;  // written by a stage's worker, read once the stage has ended
};

// unit(k, worker) for every k below `units`, each exactly once. Units are taken in increasing order as
// each worker becomes free, so a worker slowed by the machine simply takes fewer, and a unit may wait for
// the progress of one taken before it.
inline void RunUnits(WorkerPair* workers, uint32_t units,
                     const std::function<void(uint32_t unit, int worker)>& unit) {
    std::atomic<uint32_t> next{0};
    RunHalves(workers, [&](int worker) {
        for (uint32_t k = next.fetch_add(1, std::memory_order_relaxed); k < units;
             k = next.fetch_add(1, std::memory_order_relaxed)) {
            unit(k, worker);
        }
    });
}

// unit(k, worker) for every k below `units`, each exactly once, for units independent of each other and
// laid out down the picture: worker 0 owns the top half, worker 1 the bottom half, each taken downwards; a
// worker done with its own half takes the other's last units. Stages that run this way over the same rows
// split the picture at about the same place, so each worker mostly reads back rows it has just written
// itself, from its own cache, instead of the other core's.
inline void RunBands(WorkerPair* workers, uint32_t units,
                     const std::function<void(uint32_t unit, int worker)>& unit) {
    if (workers == nullptr) {  // one thread: in order, as the rows lie in memory
        for (uint32_t k = 0; k < units; ++k) unit(k, 0);
        return;
    }
    // Each half's units not yet taken, [first, end) packed as end << 32 | first.
    std::atomic<uint64_t> left[2] = {uint64_t{units / 2} << 32, uint64_t{units} << 32 | units / 2};
    // The next unit of `half`, from its front or its back, or false once it has none.
    auto take = [&](int half, bool front, uint32_t& k) {
        uint64_t range = left[half].load(std::memory_order_relaxed);
        for (;;) {
            const auto first = static_cast<uint32_t>(range), end = static_cast<uint32_t>(range >> 32);
            if (first >= end) return false;
            const uint64_t rest = front ? range + 1 : range - (uint64_t{1} << 32);
            if (left[half].compare_exchange_weak(range, rest, std::memory_order_relaxed)) {
                k = front ? first : end - 1;
                return true;
            }
        }
    };
    RunHalves(workers, [&](int worker) {
        uint32_t k = 0;
        while (take(worker, true, k)) unit(k, worker);
        while (take(1 - worker, false, k)) unit(k, worker);
    });
}

// Work that either half of a stage may need first: the first to ask does it, the other waits until it is
// done. A half waits only for work already begun, so this holds too when one thread runs both halves in
// turn; the wait is as short as the work, so yielding is enough. If the work throws (std::bad_alloc), both
// halves throw it: the other would otherwise wait for it for ever.
class SharedStep {
  public:
    template <typename Work>
    void Ensure(const Work& work) {
        int untouched = kUntouched;
        if (state_.compare_exchange_strong(untouched, kRunning, std::memory_order_acquire)) {
            try {
                work();
            } catch (...) {
                failure_ = std::current_exception();
                state_.store(kFailed, std::memory_order_release);
                throw;
            }
            state_.store(kDone, std::memory_order_release);
            return;
        }
        int state;
        while ((state = state_.load(std::memory_order_acquire)) == kRunning) std::this_thread::yield();
        if (state == kFailed) std::rethrow_exception(failure_);
    }

  private:
    static constexpr int kUntouched = 0, kRunning = 1, kDone = 2, kFailed = 3;
    std::atomic<int> state_{kUntouched};
    std::exception_ptr failure_;  // written before kFailed is stored
};

// Which units of a RunUnits call have finished, for units that read what earlier ones wrote. A unit waits
// only for units handed out before it, already running on the other worker, so every wait ends; it is
// short, so yielding is enough.
class FinishedUnits {
  public:
    explicit FinishedUnits(uint32_t units) : done_(std::make_unique<std::atomic<bool>[]>(units)) {
        for (uint32_t k = 0; k < units; ++k) done_[k].store(false, std::memory_order_relaxed);
    }
    void Finish(uint32_t unit) { done_[unit].store(true, std::memory_order_release); }
    void WaitFor(uint32_t unit) const {
        while (!done_[unit].load(std::memory_order_acquire)) std::this_thread::yield();
    }

  private:
    std::unique_ptr<std::atomic<bool>[]> done_;
};

}  // namespace rq43::platform

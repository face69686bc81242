// Codec work spread over instances: items arrive in stream order and fall into runs, each run
// beginning where the stream depends on nothing before it (a key frame); each instance, on a thread of
// its own, codes whole runs, and the results come back in stream order. With one instance it is the
// plain sequential loop.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace rq43::cli {

// A codec instance made before the pipeline starts, so that what the codec refuses fails before any thread
// does. The first instance thread to ask takes it; the others make their own.
template <typename Instance>
class FirstInstance {
  public:
    explicit FirstInstance(std::unique_ptr<Instance> made) : made(std::move(made)) {}
    // Only before the pipeline starts: the instance made.
    const Instance* operator->() const { return made.get(); }
    template <typename Make>
    std::unique_ptr<Instance> TakeOr(Make&& make) {
        {
            std::lock_guard lock(mutex);
            if (made) return std::move(made);
        }
        return make();
    }

  private:
    std::mutex mutex;
    std::unique_ptr<Instance> made;
};

template <typename In, typename Out>
class RunPipeline {
  public:
    using Coder = std::function<Out(In&)>;

    // `makeCoder` is called once on each instance's thread and makes what it codes with. At most
    // `maxBuffered` items (not fewer than two per instance) wait between Add and being written.
    RunPipeline(int instances, size_t maxBuffered, std::function<Coder()> makeCoder)
        : maxBuffered(std::max<size_t>(maxBuffered, 2 * static_cast<size_t>(instances))),
          makeCoder(std::move(makeCoder)) {
        for (int i = 0; i < instances; ++i) workers.emplace_back([this] { Work(); });
    }
    ~RunPipeline() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        for (std::thread& t : workers) t.join();
    }
    RunPipeline(const RunPipeline&) = delete;
    RunPipeline& operator=(const RunPipeline&) = delete;

    // Hands over the next item, opening a new run when `startsRun`. Waits while too many are buffered,
    // passing finished results to `write` (on this thread) meanwhile. Rethrows an instance's failure.
    template <typename Write>
    void Add(In item, bool startsRun, Write&& write) {
        std::unique_lock lock(mutex);
        if (startsRun || runs.empty()) {
            if (!runs.empty()) runs.back()->closed = true;
            runs.push_back(std::make_shared<Run>());
            pending.push_back(runs.back());
        }
        runs.back()->inputs.push_back(std::move(item));
        ++buffered;
        changed.notify_all();
        for (;;) {
            Drain(lock, write);
            if (buffered < maxBuffered) return;
            changed.wait(lock);
        }
    }

    // Closes the last run and passes every remaining result to `write`.
    template <typename Write>
    void Finish(Write&& write) {
        std::unique_lock lock(mutex);
        if (!runs.empty()) runs.back()->closed = true;
        changed.notify_all();
        while (!runs.empty()) {
            Drain(lock, write);
            if (!runs.empty()) changed.wait(lock);
        }
    }

  private:
    struct Run {
        std::deque<In> inputs;
        bool closed = false;  // no more inputs will come
        std::deque<Out> outputs;
        bool done = false;
        std::exception_ptr failure;
    };

    template <typename Write>
    void Drain(std::unique_lock<std::mutex>& lock, Write& write) {
        while (!runs.empty()) {
            Run& run = *runs.front();
            if (!run.outputs.empty()) {
                Out out = std::move(run.outputs.front());
                run.outputs.pop_front();
                --buffered;
                changed.notify_all();
                lock.unlock();
                write(out);
                lock.lock();
                continue;
            }
            if (run.failure) std::rethrow_exception(run.failure);
            if (!run.done) return;
            runs.pop_front();
        }
    }

    void Work() {
        Coder code;
        std::exception_ptr startFailure;
        try {
            code = makeCoder();
        } catch (...) {
            startFailure = std::current_exception();
        }
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return stopping || !pending.empty(); });
            if (stopping) return;
            std::shared_ptr<Run> run = pending.front();
            pending.pop_front();
            try {
                if (startFailure) std::rethrow_exception(startFailure);
                for (;;) {
                    changed.wait(lock, [&] { return stopping || !run->inputs.empty() || run->closed; });
                    if (stopping) return;
                    if (run->inputs.empty()) break;
                    In item = std::move(run->inputs.front());
                    run->inputs.pop_front();
                    lock.unlock();
                    Out out = code(item);
                    lock.lock();
                    run->outputs.push_back(std::move(out));
                    changed.notify_all();
                }
            } catch (...) {
                if (!lock.owns_lock()) lock.lock();
                run->failure = std::current_exception();
            }
            run->done = true;
            changed.notify_all();
        }
    }

    const size_t maxBuffered;
    const std::function<Coder()> makeCoder;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::shared_ptr<Run>> runs;     // in stream order, until written
    std::deque<std::shared_ptr<Run>> pending;  // not yet taken by an instance
    size_t buffered = 0;                       // items handed over and not yet written
    bool stopping = false;
    std::vector<std::thread> workers;  // last: they start once everything above exists
};

}  // namespace rq43::cli

#include "runtime/Worker.h"

#include <system_error>
#include <unistd.h>

namespace rt {

namespace worker_detail {

bool TJob::Claim() {
    std::lock_guard<std::mutex> guard(Lock);
    if (State != kQueued) return false;
    State = kRunning;
    return true;
}

bool TJob::RunOnce(const std::function<void()>& ended) {
    if (!Claim()) return false;
    Execute();
    if (ended) ended();
    {
        std::lock_guard<std::mutex> guard(Lock);
        State = kDone;
    }
    Finished.notify_all();
    return true;
}

void TJob::Wait() {
    std::unique_lock<std::mutex> guard(Lock);
    Finished.wait(guard, [this] { return State == kDone || State == kCancelled; });
}

bool TJob::WaitFor(std::chrono::milliseconds time) {
    std::unique_lock<std::mutex> guard(Lock);
    return Finished.wait_for(guard, time, [this] { return State == kDone || State == kCancelled; });
}

void TJob::Cancel() {
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (State != kQueued) return;
        State = kCancelled;
    }
    Finished.notify_all();
}

bool TJob::Cancelled() const {
    std::lock_guard<std::mutex> guard(Lock);
    return State == kCancelled;
}

} // namespace worker_detail

TWorker::TWorker(unsigned threads) : Owner(::getpid()) {
    try {
        Pool->reserve(threads);
    } catch (...) {
        return; // no room even for the threads' handles: none, the callers run everything
    }
    for (unsigned i = 0; i < threads; ++i) {
        // A thread on its way in counts as idle at once: work handed over meanwhile waits
        // for it, as it would for a thread that waits already.
        {
            std::lock_guard<std::mutex> guard(Lock);
            ++Idle;
        }
        try {
            Pool->emplace_back([this] { Loop(); });
        } catch (...) {
            std::lock_guard<std::mutex> guard(Lock);
            --Idle;
            break; // the system gives no more: fewer threads, the callers run the rest
        }
    }
}

TWorker::~TWorker() {
    if (::getpid() != Owner) { // a forked child: the threads are the parent's, not its own
        (void)Pool.release();
        return;
    }
    std::deque<std::shared_ptr<worker_detail::TJob>> left;
    {
        std::lock_guard<std::mutex> guard(Lock);
        Stopping = true;
        left.swap(Queue);
    }
    Changed.notify_all();
    // Work no thread took runs where its result is asked for.
    for (auto& t : *Pool) t.join();
}

void TWorker::Push(std::shared_ptr<worker_detail::TJob> job) {
    // A child forked from the process has none of its threads (and maybe a lock held by
    // one): its work runs where its result is asked for.
    if (::getpid() != Owner) return;
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (Pool->empty() || Stopping) return; // runs where its result is asked for
        Queue.push_back(std::move(job));
    }
    Changed.notify_one();
}

bool TWorker::PushIfIdle(std::shared_ptr<worker_detail::TJob> job) {
    if (::getpid() != Owner) return false;
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (Stopping || Idle <= Queue.size()) return false;
        Queue.push_back(std::move(job));
    }
    Changed.notify_one();
    return true;
}

void TWorker::Loop() {
    std::unique_lock<std::mutex> guard(Lock);
    for (;;) {
        Changed.wait(guard, [this] { return Stopping || !Queue.empty(); });
        --Idle;
        if (Queue.empty()) return;
        std::shared_ptr<worker_detail::TJob> job = std::move(Queue.front());
        Queue.pop_front();
        guard.unlock();
        // Idle again before the one waiting for the work hears that it ended, so that the
        // work it hands over next finds the thread free.
        const auto idle = [this] {
            std::lock_guard<std::mutex> relock(Lock);
            ++Idle;
        };
        const bool ran = job->RunOnce(idle);
        job.reset();
        guard.lock();
        if (!ran) ++Idle;
    }
}

TWorker& TWorker::Shared() {
    // Never destroyed: at exit its threads may still wait in work that no one will end.
    static TWorker* shared = new TWorker([] {
        const unsigned cores = std::thread::hardware_concurrency();
        return cores > 1 ? cores - 1 : 1u;
    }());
    return *shared;
}

} // namespace rt

#pragma once
// A fixed set of threads that run the work handed to them, in turn. Each piece of work
// gives back its result or its exception as a value through its task. A thread that cannot
// be started means fewer threads: work that no thread has taken runs on the thread that
// asks for its result, so that nothing waits for a thread that is not there.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace rt {

namespace worker_detail {

// What a task and the worker share: the work, whether it has been taken, and its outcome.
class TJob {
public:
    virtual ~TJob() = default;
    // Runs the work unless someone else took it or it was cancelled; ended, before anyone
    // waiting hears of it. Answers whether it ran the work.
    bool RunOnce(const std::function<void()>& ended = nullptr);
    // Takes the work from the queue's hands: false once a thread has it.
    bool Claim();
    void Wait();
    // Whether the work ended within the time given.
    bool WaitFor(std::chrono::milliseconds time);
    void Cancel();
    bool Cancelled() const;

protected:
    virtual void Execute() = 0;

private:
    mutable std::mutex Lock;
    std::condition_variable Finished;
    enum { kQueued, kRunning, kDone, kCancelled } State = kQueued;
};

template <class T> class TTypedJob : public TJob {
public:
    explicit TTypedJob(std::function<T()> work) : Work(std::move(work)) {}
    T Take() {
        // The exception leaves the job: its last owner is then the thread that handles it,
        // not whichever thread drops the job last.
        if (Error) std::rethrow_exception(std::exchange(Error, nullptr));
        if constexpr (!std::is_void_v<T>) return std::move(*Result);
    }

protected:
    void Execute() override {
        try {
            if constexpr (std::is_void_v<T>)
                Work();
            else
                Result.emplace(Work());
        } catch (...) {
            Error = std::current_exception();
        }
        Work = nullptr;
    }

private:
    std::function<T()> Work;
    std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> Result{};
    std::exception_ptr Error;
};

} // namespace worker_detail

// The result of work handed to a worker. Get waits for it (or runs it here when no thread
// has taken it) and answers its value or raises its exception. A task dropped unasked
// cancels work not yet started and waits for work that has.
template <class T> class TTask {
public:
    TTask() = default;
    explicit TTask(std::shared_ptr<worker_detail::TTypedJob<T>> job) : Job(std::move(job)) {}
    TTask(TTask&&) noexcept = default;
    TTask& operator=(TTask&& other) noexcept {
        Drop();
        Job = std::move(other.Job);
        return *this;
    }
    ~TTask() { Drop(); }

    bool Valid() const { return Job != nullptr; }
    // Whether the work has ended, waiting for it at most the time given; for a caller that
    // keeps its own events running meanwhile. Only for work a thread has taken (TryStart).
    bool WaitFor(std::chrono::milliseconds time) { return Job->WaitFor(time); }
    T Get() {
        auto job = std::move(Job);
        job->RunOnce();
        job->Wait();
        return job->Take();
    }

private:
    void Drop() noexcept {
        if (!Job) return;
        Job->Cancel();
        Job->Wait();
        Job.reset();
    }
    std::shared_ptr<worker_detail::TTypedJob<T>> Job;
};

class TWorker {
public:
    // Starts up to threads threads; as many as the system gives.
    explicit TWorker(unsigned threads);
    // Joins the threads; work no thread has taken runs where its result is asked for.
    ~TWorker();
    TWorker(const TWorker&) = delete;
    TWorker& operator=(const TWorker&) = delete;

    unsigned Threads() const { return unsigned(Pool->size()); }

    // Hands work over; it runs on a thread of the worker, or where its result is asked for.
    template <class F> auto Run(F work) -> TTask<std::invoke_result_t<F>> {
        using T = std::invoke_result_t<F>;
        auto job = std::make_shared<worker_detail::TTypedJob<T>>(std::move(work));
        Push(job);
        return TTask<T>(std::move(job));
    }
    // Hands work over only when a thread is idle to start it now; an empty task otherwise.
    // For work that must run beside the caller (a producer the caller waits on).
    template <class F> auto TryStart(F work) -> TTask<std::invoke_result_t<F>> {
        using T = std::invoke_result_t<F>;
        auto job = std::make_shared<worker_detail::TTypedJob<T>>(std::move(work));
        if (!PushIfIdle(job)) return {};
        return TTask<T>(std::move(job));
    }

    // The process's worker: a thread for each core but the caller's, at least one.
    static TWorker& Shared();

private:
    void Push(std::shared_ptr<worker_detail::TJob> job);
    bool PushIfIdle(std::shared_ptr<worker_detail::TJob> job);
    void Loop();

    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<std::shared_ptr<worker_detail::TJob>> Queue;
    unsigned Idle = 0;
    bool Stopping = false;
    const int Owner; // the process whose threads these are
    std::unique_ptr<std::vector<std::thread>> Pool = std::make_unique<std::vector<std::thread>>();
};

} // namespace rt

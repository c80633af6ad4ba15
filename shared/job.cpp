#include "shared/job.h"

#include <atomic>
#include <utility>

namespace tovra::jobs {

// What the worker and the window thread share. The lock guards the queue and `posted`; the
// cancel event is manual-reset, so every wait of the work sees it.
struct Job::Shared {
    Shared() {
        InitializeCriticalSection(&lock);
        cancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        tasksReady = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    }
    ~Shared() {
        DeleteCriticalSection(&lock);
        if (cancel) CloseHandle(cancel);
        if (tasksReady) CloseHandle(tasksReady);
    }
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;

    CRITICAL_SECTION lock;
    HANDLE cancel = nullptr;
    HANDLE tasksReady = nullptr;  // for RunToEnd without a window
    std::deque<std::function<void()>> tasks;
    bool posted = false;    // a message is on its way to the owner
    bool finished = false;  // the work has returned (its last task is queued)
    // The cancel as a flag too: the work asks at every step, and an event's state is a call
    // into the system (under Wine a round trip to its server).
    std::atomic<bool> cancelled{false};
};

namespace {

class Lock {
public:
    explicit Lock(CRITICAL_SECTION& cs) : cs_(cs) { EnterCriticalSection(&cs_); }
    ~Lock() { LeaveCriticalSection(&cs_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    CRITICAL_SECTION& cs_;
};

}  // namespace

bool JobContext::Cancelled() const { return job_.shared_->cancelled.load(std::memory_order_relaxed); }

bool JobContext::WaitCancelled(DWORD ms) const { return WaitForSingleObject(job_.shared_->cancel, ms) == WAIT_OBJECT_0; }

void JobContext::Post(std::function<void()> show) { job_.Enqueue(std::move(show)); }

std::optional<int> JobContext::Ask(std::function<int()> ask) {
    if (Cancelled()) return std::nullopt;
    // One question, shared by the work and its task: the task owns its copy of `ask`, so a work
    // that is cancelled while the question is on the screen may return at once.
    struct Question {
        HANDLE answered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::optional<int> answer;  // under the job's lock
        ~Question() {
            if (answered) CloseHandle(answered);
        }
    };
    auto question = std::make_shared<Question>();
    if (!question->answered) return std::nullopt;
    std::shared_ptr<Job::Shared> shared = job_.shared_;
    job_.Enqueue([question, shared, ask = std::move(ask)] {
        // Cancelled before its turn: never asked.
        if (WaitForSingleObject(shared->cancel, 0) == WAIT_OBJECT_0) return;
        int answer = ask();
        {
            Lock lock(shared->lock);
            question->answer = answer;
        }
        SetEvent(question->answered);
    });
    HANDLE waits[] = {question->answered, shared->cancel};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) return std::nullopt;
    Lock lock(shared->lock);
    return question->answer;
}

HANDLE JobContext::CancelEvent() const { return job_.shared_->cancel; }

Job::Job(HWND owner, UINT message) : owner_(owner), message_(message), shared_(std::make_shared<Shared>()) {}

Job::~Job() { Stop(); }

DWORD WINAPI Job::ThreadMain(void* param) {
    auto* job = static_cast<Job*>(param);
    JobContext context(*job);
    job->work_(context);
    std::shared_ptr<Shared> shared = job->shared_;
    Job* self = job;
    job->Enqueue([self] {
        // The work is over: its thread ends by itself; `done` is the last task of the job.
        self->running_ = false;
        if (self->thread_) {
            WaitForSingleObject(self->thread_, INFINITE);
            CloseHandle(self->thread_);
            self->thread_ = nullptr;
        }
        std::function<void()> done = std::move(self->done_);
        self->done_ = nullptr;
        if (done) done();
    });
    {
        Lock lock(shared->lock);
        shared->finished = true;
    }
    SetEvent(shared->tasksReady);
    return 0;
}

bool Job::Start(Work work, std::function<void()> done) {
    if (running_ || thread_) return false;
    ResetEvent(shared_->cancel);
    shared_->cancelled = false;
    {
        Lock lock(shared_->lock);
        shared_->tasks.clear();
        shared_->finished = false;
        shared_->posted = false;
    }
    work_ = std::move(work);
    done_ = std::move(done);
    running_ = true;
    thread_ = CreateThread(nullptr, 0, &Job::ThreadMain, this, 0, nullptr);
    if (!thread_) {
        running_ = false;
        done_ = nullptr;
        return false;
    }
    return true;
}

void Job::Cancel() {
    shared_->cancelled = true;
    if (shared_->cancel) SetEvent(shared_->cancel);
}

void Job::Stop() {
    Cancel();
    if (thread_) {
        // The work may be waiting for a question to be dropped: drop the queue until it ends.
        for (;;) {
            {
                Lock lock(shared_->lock);
                shared_->tasks.clear();
            }
            if (WaitForSingleObject(thread_, 5) == WAIT_OBJECT_0) break;
        }
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    Lock lock(shared_->lock);
    shared_->tasks.clear();
    running_ = false;
    done_ = nullptr;
}

void Job::Enqueue(std::function<void()> task) {
    bool post = false;
    {
        Lock lock(shared_->lock);
        shared_->tasks.push_back(std::move(task));
        if (!shared_->posted) {
            shared_->posted = true;
            post = true;
        }
    }
    SetEvent(shared_->tasksReady);
    if (post && owner_) PostMessageW(owner_, message_, 0, 0);
}

size_t Job::RunTasks() {
    size_t ran = 0;
    for (;;) {
        std::function<void()> task;
        {
            Lock lock(shared_->lock);
            if (shared_->tasks.empty()) {
                shared_->posted = false;
                return ran;
            }
            task = std::move(shared_->tasks.front());
            shared_->tasks.pop_front();
        }
        task();
        ++ran;
        // A task may have stopped the job (Exit): what is left was dropped with it.
        if (!running_ && !thread_) {
            Lock lock(shared_->lock);
            if (shared_->tasks.empty()) shared_->posted = false;
        }
    }
}

void Job::RunToEnd() {
    while (running_) {
        WaitForSingleObject(shared_->tasksReady, 50);
        RunTasks();
    }
}

}  // namespace tovra::jobs

// Long work off the window thread. A job runs its work on a worker thread of its own; what the
// window must show is handed to the window thread as small tasks, run there in order when the
// window's procedure passes the job's message on; a question the work asks of the user is asked
// on the window thread while the work waits for the answer. Nothing but the window's own message
// loop runs the tasks, so no handler is ever entered again from inside another.
//
// Built on XP's primitives only: CreateThread, events and a critical section.
#pragma once
#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace tovra::jobs {

class Job;

// What the work sees of its job.
class JobContext {
public:
    // True once the job was cancelled (Exit, the window closing): the work should end promptly.
    bool Cancelled() const;
    // Runs `show` on the window thread, in order with every other task; does not wait.
    void Post(std::function<void()> show);
    // Runs `ask` on the window thread and waits for its answer (a message box's, say). Nothing
    // when the job is cancelled first: then the work goes on at once, and `ask` is not run if its
    // turn has not come. `ask` is kept by the task, so it must not refer to the work's own
    // variables.
    std::optional<int> Ask(std::function<int()> ask);
    // Waits up to `ms` for the job to be cancelled: true when it was (a sleep that Exit ends).
    bool WaitCancelled(DWORD ms) const;
    // Signalled once the job is cancelled, for the work's own waits (a process it started).
    HANDLE CancelEvent() const;

private:
    friend class Job;
    explicit JobContext(Job& job) : job_(job) {}
    Job& job_;
};

class Job {
public:
    using Work = std::function<void(JobContext&)>;

    // Tasks are announced to `owner` by posting `message` (its wParam and lParam are 0); the
    // owner's window procedure then calls RunTasks(). Without an owner (tests) the tasks wait
    // until RunTasks() is called.
    Job(HWND owner, UINT message);
    // Cancels the work and waits for its thread; tasks not yet run are dropped.
    ~Job();
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    // Starts `work` on a new thread; `done` runs on the window thread after the work's last
    // task. False while a job runs or when no thread could be made.
    bool Start(Work work, std::function<void()> done = {});
    // Asks the work to end; it finishes its current step, posts nothing more to be asked, and
    // its `done` still runs.
    void Cancel();
    // Cancels and waits until the thread has ended; the tasks left are dropped, `done` included.
    void Stop();
    // True from Start until `done` has run (or the job was stopped).
    bool Running() const { return running_; }

    // On the window thread: runs the tasks posted so far, in order. Returns how many ran.
    size_t RunTasks();
    // Waits (tests, without a window) until the work has ended, running its tasks meanwhile on
    // the calling thread, which must be the window thread.
    void RunToEnd();

private:
    friend class JobContext;
    struct Shared;
    static DWORD WINAPI ThreadMain(void* param);
    void Enqueue(std::function<void()> task);

    HWND owner_;
    UINT message_;
    std::shared_ptr<Shared> shared_;
    HANDLE thread_ = nullptr;
    bool running_ = false;
    Work work_;
    std::function<void()> done_;
};

}  // namespace tovra::jobs

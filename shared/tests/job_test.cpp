// The job layer: work on its own thread, its tasks on the window thread in order, questions
// answered there while the work waits, and a prompt end on cancel.
#include "shared/job.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

namespace {

using tovra::jobs::Job;
using tovra::jobs::JobContext;

TEST(JobTest, TasksRunInOrderOnTheWindowThreadAndDoneComesLast) {
    const DWORD windowThread = GetCurrentThreadId();
    Job job(nullptr, 0);
    std::vector<std::string> seen;
    std::atomic<DWORD> workThread{0};
    ASSERT_TRUE(job.Start(
        [&](JobContext& context) {
            workThread = GetCurrentThreadId();
            for (int i = 0; i < 100; ++i) {
                context.Post([&seen, i, windowThread] {
                    EXPECT_EQ(GetCurrentThreadId(), windowThread);
                    seen.push_back(std::to_string(i));
                });
            }
        },
        [&] { seen.push_back("done"); }));
    EXPECT_TRUE(job.Running());
    EXPECT_FALSE(job.Start([](JobContext&) {})) << "a second job while one runs";
    job.RunToEnd();
    EXPECT_FALSE(job.Running());
    EXPECT_NE(workThread.load(), windowThread);
    ASSERT_EQ(seen.size(), 101u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[i], std::to_string(i));
    EXPECT_EQ(seen.back(), "done");
    // Over: the next job may start.
    EXPECT_TRUE(job.Start([](JobContext&) {}));
    job.RunToEnd();
}

TEST(JobTest, AQuestionIsAskedOnTheWindowThreadWhileTheWorkWaits) {
    const DWORD windowThread = GetCurrentThreadId();
    Job job(nullptr, 0);
    std::vector<std::string> order;
    ASSERT_TRUE(job.Start([&](JobContext& context) {
        std::optional<int> answer = context.Ask([windowThread] {
            EXPECT_EQ(GetCurrentThreadId(), windowThread);
            return 42;
        });
        ASSERT_TRUE(answer.has_value());
        context.Post([&order, a = *answer] { order.push_back("after " + std::to_string(a)); });
    }));
    job.RunToEnd();
    EXPECT_EQ(order, std::vector<std::string>{"after 42"});
}

TEST(JobTest, ACancelledQuestionIsNeverAsked) {
    Job job(nullptr, 0);
    std::atomic<bool> result{true};
    bool asked = false;
    HANDLE queued = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(job.Start([&](JobContext& context) {
        context.Post([queued] { SetEvent(queued); });
        result = context.Ask([&asked] {
            asked = true;
            return 1;
        }).has_value();
    }));
    // The question is queued behind the first task; cancel before the window thread gets to it.
    Sleep(50);
    job.Cancel();
    job.RunToEnd();
    EXPECT_FALSE(result.load());
    EXPECT_FALSE(asked);
    CloseHandle(queued);
}

// Exit while the work's question is on the screen: the work goes on at once, and the answer,
// when it comes, reaches nobody.
TEST(JobTest, CancelWhileAQuestionIsShownLetsTheWorkGoOn) {
    Job job(nullptr, 0);
    std::atomic<bool> gotAnswer{true};
    std::atomic<bool> workEnded{false};
    ASSERT_TRUE(job.Start([&](JobContext& context) {
        gotAnswer = context.Ask([&job, &workEnded] {
            job.Cancel();  // as Exit would, from inside the box's own loop
            const DWORD start = GetTickCount();
            while (!workEnded && GetTickCount() - start < 5000) Sleep(1);
            return IDYES;
        }).has_value();
        workEnded = true;
    }));
    job.RunToEnd();
    EXPECT_TRUE(workEnded.load());
    EXPECT_FALSE(gotAnswer.load());
}

TEST(JobTest, StopEndsTheWorkPromptlyAndDropsWhatIsLeft) {
    Job job(nullptr, 0);
    bool done = false;
    std::atomic<int> steps{0};
    ASSERT_TRUE(job.Start(
        [&](JobContext& context) {
            while (!context.Cancelled()) {
                ++steps;
                context.Post([] {});
                context.WaitCancelled(1);
            }
        },
        [&] { done = true; }));
    while (steps < 10) Sleep(1);
    const DWORD start = GetTickCount();
    job.Stop();
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_FALSE(job.Running());
    EXPECT_EQ(job.RunTasks(), 0u) << "tasks of a stopped job ran";
    EXPECT_FALSE(done);
}

// With a window: the job's message reaches the window procedure, which runs the tasks.
Job* g_job = nullptr;
LRESULT CALLBACK JobWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_APP + 7 && g_job) {
        g_job->RunTasks();
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

TEST(JobTest, TheOwnersMessageLoopRunsTheTasks) {
    WNDCLASSW cls{};
    cls.lpfnWndProc = JobWindowProc;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.lpszClassName = L"TovraJobTest";
    RegisterClassW(&cls);
    HWND window = CreateWindowExW(0, cls.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, cls.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    Job job(window, WM_APP + 7);
    g_job = &job;
    int shown = 0;
    bool done = false;
    ASSERT_TRUE(job.Start(
        [](JobContext& context) {
            for (int i = 0; i < 1000; ++i) context.Post([] {});
        },
        [&] { done = true; }));
    // The posts are announced once until the tasks are run, not once each.
    MSG m;
    const DWORD start = GetTickCount();
    while (!done && GetTickCount() - start < 10000) {
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT) == WAIT_OBJECT_0) {
            while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
                if (m.message == WM_APP + 7) ++shown;
                DispatchMessageW(&m);
            }
        }
    }
    EXPECT_TRUE(done);
    EXPECT_LT(shown, 1000) << "one message for every task";
    g_job = nullptr;
    DestroyWindow(window);
}

}  // namespace

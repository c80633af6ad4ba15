// The runtime's post-XP imports are answered inside the program: linked the way the programs are
// linked, this executable imports none of them, and the thread library's timed waits still work.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "shared/compat.h"

namespace {

// "DLL!function" for every by-name import of this executable, read from its own image.
std::vector<std::string> OwnImports() {
    std::vector<std::string> names;
    const auto* base = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return names;
    for (const auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name;
         ++d) {
        const std::string dll = reinterpret_cast<const char*>(base + d->Name);
        const DWORD lookup = d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk;
        for (const auto* t = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + lookup); t->u1.AddressOfData; ++t) {
            if (IMAGE_SNAP_BY_ORDINAL(t->u1.Ordinal)) continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + t->u1.AddressOfData);
            names.push_back(dll + "!" + reinterpret_cast<const char*>(byName->Name));
        }
    }
    return names;
}

#if defined(__MINGW32__)
#if defined(_WIN64)
#define TOVRA_TEST_IMPORT_NAME "__imp_GetTickCount64"
#else
#define TOVRA_TEST_IMPORT_NAME "__imp__GetTickCount64@0"
#endif
using TickCountFn = ULONGLONG(WINAPI*)();
extern "C" TickCountFn const tovraTestImpGetTickCount64 __asm__(TOVRA_TEST_IMPORT_NAME);
#endif

TEST(RuntimeImportsTest, TimedWaitsOfTheThreadLibraryWork) {
    // Both go through the thread library's timed waits, the users of the 64-bit tick count.
    std::timed_mutex held;
    held.lock();
    bool got = true;
    std::thread other([&] { got = held.try_lock_for(std::chrono::milliseconds(30)); });
    other.join();
    EXPECT_FALSE(got) << "a held mutex was taken";
    held.unlock();

    std::mutex m;
    std::condition_variable cv;
    bool ready = false;
    std::thread signaller([&] {
        std::lock_guard<std::mutex> lock(m);
        ready = true;
        cv.notify_one();
    });
    {
        std::unique_lock<std::mutex> lock(m);
        EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return ready; }));
    }
    signaller.join();
}

TEST(RuntimeImportsTest, NoImportThatWindowsXpLacks) {
    const std::vector<std::string> imports = OwnImports();
    ASSERT_FALSE(imports.empty());
    for (const std::string& name : imports) {
        for (const char* newer : {"!GetTickCount64", "!CompareStringOrdinal", "!InetNtopW", "!ChangeWindowMessageFilter"}) {
            EXPECT_EQ(name.find(newer), std::string::npos) << name;
        }
    }
}

#if defined(__MINGW32__)
TEST(RuntimeImportsTest, TheRuntimeReadsTheSuitesTickCount) {
    ASSERT_NE(tovraTestImpGetTickCount64, nullptr);
    for (bool xp : {false, true}) {
        SCOPED_TRACE(xp ? "XP path" : "newer path");
        tovra::compat::ForceXpPaths(xp);
        const ULONGLONG before = tovra::compat::TickCount64();
        const ULONGLONG runtime = tovraTestImpGetTickCount64();
        const ULONGLONG after = tovra::compat::TickCount64();
        EXPECT_LE(before, runtime);
        EXPECT_LE(runtime, after);
    }
    tovra::compat::ForceXpPaths(false);
}
#endif

}  // namespace

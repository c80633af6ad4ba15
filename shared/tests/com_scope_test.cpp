// The suite's one owner of a thread's COM or OLE initialisation.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>

#include <thread>

#include "shared/win_handles.h"

namespace {

using tovra::ComScope;

// Runs f on a thread of its own, so no other test's apartment is involved.
template <typename F>
void OnFreshThread(F f) {
    std::thread t(f);
    t.join();
}

// Whether the thread has no apartment left: a new initialisation is then the first (S_OK).
bool ApartmentGone() {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(hr)) CoUninitialize();
    return hr == S_OK;
}

TEST(ComScopeTest, EachFlavourIsBalancedByItsOwnEnd) {
    const struct {
        const char* name;
        ComScope::Flavour outer, inner;
    } cases[] = {{"OLE then COM", ComScope::Ole, ComScope::Com},
                 {"COM then OLE", ComScope::Com, ComScope::Ole},
                 {"OLE twice", ComScope::Ole, ComScope::Ole}};
    for (const auto& c : cases) {
        OnFreshThread([&] {
            {
                ComScope outer(c.outer);
                EXPECT_EQ(outer.result(), S_OK) << c.name;
                {
                    // S_FALSE as a rule; Wine's OleInitialize on a COM thread says S_OK.
                    ComScope inner(c.inner);
                    EXPECT_TRUE(inner.ok()) << c.name;
                }
                // The inner end left the outer one standing: a nested one still says S_FALSE.
                ComScope again(ComScope::Com);
                EXPECT_EQ(again.result(), S_FALSE) << c.name;
            }
            EXPECT_TRUE(ApartmentGone()) << c.name << ": an initialisation was left over";
        });
    }
}

TEST(ComScopeTest, AFailedInitialisationEndsNothing) {
    OnFreshThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        {
            ComScope ole(ComScope::Ole);  // OLE wants a single-threaded apartment
            EXPECT_EQ(ole.result(), RPC_E_CHANGED_MODE);
            EXPECT_FALSE(ole.ok());
        }
        // The thread's own initialisation is still there, once.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
        CoUninitialize();
        CoUninitialize();
        EXPECT_TRUE(ApartmentGone());
    });
}

TEST(ComScopeTest, TheModelCanBeChosen) {
    OnFreshThread([] {
        {
            ComScope mta(COINIT_MULTITHREADED);
            EXPECT_EQ(mta.result(), S_OK);
            ComScope sta(ComScope::Com);  // apartment-threaded on a multithreaded thread
            EXPECT_EQ(sta.result(), RPC_E_CHANGED_MODE);
        }
        EXPECT_TRUE(ApartmentGone());
    });
}

}  // namespace

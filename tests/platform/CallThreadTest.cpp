// The helper thread of the blocking calls: every way out of the wait waits for the call first.

#include "platform/CallThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>

namespace {

// A wait that only waits, as a window's loop would between its events.
void JustWait(CCompletion& done) {
    done.WaitFor(0.01);
}

}  // namespace

TEST(CallThread, ReturnsWhenTheCallHasEndedAndRethrowsWhatItThrew) {
    CCallThread calls;
    int result = 0;
    calls.RunAndWait([&] { result = 42; }, JustWait, [] {});
    EXPECT_EQ(result, 42);

    EXPECT_THROW(
        calls.RunAndWait([] { throw std::runtime_error("the call's own"); }, JustWait, [] {}),
        std::runtime_error);
    // The thread takes the next call after an error.
    calls.RunAndWait([&] { result = 7; }, JustWait, [] {});
    EXPECT_EQ(result, 7);
}

// An exception that leaves the wait while the call runs (a failed pump, a probe that could not
// start): the call is cancelled and waited for before the exception goes on, so it never runs
// on into a frame that has returned, and the next call does not take its end for its own.
TEST(CallThread, AnExceptionFromTheWaitCancelsTheCallAndWaitsForItsEnd) {
    CCallThread calls;
    CCompletion started;
    CCompletion cancelled;
    std::atomic<bool> callEnded{false};
    std::atomic<bool> endedBeforeReturn{false};
    const auto call = [&] {
        started.Set();
        // Held until the cancel comes, as a statement waits for its server.
        while (!cancelled.WaitFor(60)) {
        }
        callEnded = true;
        throw std::runtime_error("cancelled by the client");
    };
    const auto failingWait = [&](CCompletion& done) {
        if (started.WaitFor(60) && !done.IsSet()) {
            throw std::bad_alloc();
        }
    };
    try {
        calls.RunAndWait(call, failingWait, [&] { cancelled.Set(); });
        ADD_FAILURE() << "the wait's exception was lost";
    } catch (const std::bad_alloc&) {
        endedBeforeReturn = callEnded.load();
    }
    EXPECT_TRUE(endedBeforeReturn);

    // The next call's end is its own.
    std::string second;
    calls.RunAndWait([&] { second = "second"; }, JustWait, [] {});
    EXPECT_EQ(second, "second");
}

TEST(CallThread, ASecondCallWhileOneRunsIsAProgrammingError) {
    CCallThread calls;
    CCompletion release;
    bool nestedRan = false;
    const auto nestingWait = [&](CCompletion&) {
        calls.RunAndWait([&] { nestedRan = true; }, JustWait, [] {});
    };
    EXPECT_THROW(
        calls.RunAndWait([&] { release.WaitFor(60); }, nestingWait, [&] { release.Set(); }),
        std::logic_error);
    EXPECT_FALSE(nestedRan);
    int after = 0;
    calls.RunAndWait([&] { after = 1; }, JustWait, [] {});
    EXPECT_EQ(after, 1);
}

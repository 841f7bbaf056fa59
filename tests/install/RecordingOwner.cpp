#include "tests/install/RecordingOwner.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/Clock.h"
#include "tests/support/TestSupport.h"

void CRecordingLabel::SetVisible(bool visible) {
    CPlainLabel::SetVisible(visible);
    visibilityChanges.push_back(visible);
}

void CRecordingLabel::SetCaption(const std::string& caption) {
    CPlainLabel::SetCaption(caption);
    captions.push_back(caption);
}

void CRecordingBar::SetMaximum(int maximum) {
    CPlainProgressBar::SetMaximum(maximum);
    maximums.push_back(maximum);
}

void CRecordingOwner::MarkLastLine(const std::string& suffix) {
    if (journal.empty()) {
        journal.emplace_back();
    }
    journal.back() += suffix;
}

void CRecordingOwner::PumpMessages() {
    ++pumps;
    const double begin = MonotonicSeconds();
    if (whilePumping) {
        whilePumping();
    }
    if (pumpSeconds > 0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(pumpSeconds));
    }
    pumpTimes.emplace_back(begin, MonotonicSeconds());
}

void CRecordingOwner::RunBlocking(const std::function<void()>& call) {
    ++blockingCalls;
    m_calls.RunAndWait(
        call,
        [this](CCompletion& done) {
            if (!done.WaitFor(CPumpThrottle::kInterval)) {
                PumpMessages();
            }
        },
        [] {});
}

void CRecordingOwner::StopIfRequested() {
    if (stopAfterChecks > 0 && ++stopChecks == stopAfterChecks) {
        throw CRunStopped(CRunStopped::Reason::Interrupted, "stopped");
    }
}

double CRecordingOwner::LongestWorkWithoutPump(double start, double end) const {
    double longest = 0;
    double workSince = start;
    for (const auto& [begin, finish] : pumpTimes) {
        if (begin < start || finish > end) {
            continue;  // pumps of other operations
        }
        longest = std::max(longest, begin - workSince);
        workSince = finish;
    }
    return std::max(longest, end - workSince);
}

void CDisconnectingOwner::PumpMessages() {
    CRecordingOwner::PumpMessages();
    if (!disconnected && StatementRuns(m_database, kHeldRowText)) {
        // The session's attachment only: ended with the holder's, the row would be free and
        // the statement could commit before its own attachment goes.
        ExecuteStatements(m_database, {std::string("DELETE FROM MON$ATTACHMENTS WHERE "
                                                   "MON$ATTACHMENT_ID IN (SELECT MON$ATTACHMENT_ID "
                                                   "FROM MON$STATEMENTS WHERE MON$STATE = 1 AND "
                                                   "MON$SQL_TEXT CONTAINING '") +
                                       kHeldRowText + "')"});
        disconnected = true;
    }
}

std::vector<std::string> HeldRowTable() {
    return {"CREATE TABLE HELD_ROW (ID INTEGER NOT NULL PRIMARY KEY, N INTEGER)",
            "INSERT INTO HELD_ROW VALUES (1, 0)"};
}

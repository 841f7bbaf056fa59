#pragma once
// Whether a server still answers while one of the session's calls has been silent for long. A
// call may rightly take long (an index on a large table, a lock wait, a large document), so
// silence alone is no fault: after `silenceSeconds` a second connection asks the server, and only
// a server that does not answer that within its connect timeout ends the run.

#include <future>
#include <optional>

#include "install/Status.h"

class CGlobDB;

class CSilenceWatch {
  public:
    // Starts watching a call begun at `startedAt` (MonotonicSeconds()).
    CSilenceWatch(CGlobDB& session, double silenceSeconds, double startedAt);
    // A probe still on its way is waited for by the future's destructor (its connect timeout
    // bounds it).
    ~CSilenceWatch() = default;
    CSilenceWatch(const CSilenceWatch&) = delete;
    CSilenceWatch& operator=(const CSilenceWatch&) = delete;

    // Looks at the probe at `now`: starts one when the call has been silent long enough, takes
    // its answer when it has come. The run's stop when the server did not answer.
    std::optional<CRunStopped> Look(double now);
    // Whether a probe is still on its way after waiting up to `seconds` for it.
    bool ProbeRunning(double seconds);

  private:
    CGlobDB& m_session;
    double m_silenceSeconds;
    double m_startedAt;
    double m_answeredAt;  // the server was last known to answer
    std::future<bool> m_probe;
};

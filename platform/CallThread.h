#pragma once
// One helper thread for the blocking database calls of a run. The window's thread hands a call
// over and keeps processing its messages until the call is done, so that the window answers
// while the database works, and the driver still reads as one sequence of steps. The session is
// used by one thread at a time: only ever by the call in hand.

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

// A flag that one thread sets and another waits for, with a hook that wakes a waiting event loop.
class CCompletion {
  public:
    bool IsSet() const;
    // Waits until the flag is set or `seconds` pass; true when it is set.
    bool WaitFor(double seconds);
    // `wake` is called on the setting thread when the flag is set, or at once when it is set
    // already. Cleared with an empty function; once that returns, no call of the old one is in
    // progress or to come.
    void OnSet(std::function<void()> wake);
    void Set();
    void Reset();

  private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::function<void()> m_wake;
    bool m_set = false;
};

class CCallThread {
  public:
    CCallThread();
    ~CCallThread();  // waits for the call in hand, then ends the thread
    CCallThread(const CCallThread&) = delete;
    CCallThread& operator=(const CCallThread&) = delete;

    // Runs `call` on the helper thread and returns once it has ended, rethrowing what it threw.
    // Meanwhile `wait` is called on this thread with the call's completion, again and again
    // until the call has ended: it answers the window and looks for reasons to stop, in slices.
    // Whatever leaves `wait` by an exception first has `cancel` end the call, and the call is
    // waited for before the exception goes on: a call never outlives the frame that waits for it.
    // A second call while one runs (from inside `wait`) is a programming error: std::logic_error.
    void RunAndWait(std::function<void()> call, const std::function<void(CCompletion&)>& wait,
                    const std::function<void()>& cancel);

  private:
    void Loop();
    void WaitForEnd();
    // Frees the thread for the next call; returns what the call threw.
    std::exception_ptr EndCall();

    std::mutex m_mutex;
    std::condition_variable m_wakeUp;
    std::function<void()> m_call;
    std::exception_ptr m_error;
    CCompletion m_done;
    bool m_busy = false;  // a call is in hand: from RunAndWait's start to its return
    bool m_stopping = false;
    std::thread m_thread;  // last: started once everything it uses exists
};

#include "platform/CallThread.h"

#include <chrono>
#include <stdexcept>
#include <utility>

bool CCompletion::IsSet() const {
    std::lock_guard lock(m_mutex);
    return m_set;
}

bool CCompletion::WaitFor(double seconds) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::duration<double>(seconds),
                              [this] { return m_set; });
}

void CCompletion::OnSet(std::function<void()> wake) {
    std::lock_guard lock(m_mutex);
    m_wake = std::move(wake);
    if (m_set && m_wake) {
        m_wake();
    }
}

void CCompletion::Set() {
    std::lock_guard lock(m_mutex);
    m_set = true;
    m_changed.notify_all();
    // Under the lock: whoever clears the hook waits for this call to end.
    if (m_wake) {
        m_wake();
    }
}

void CCompletion::Reset() {
    std::lock_guard lock(m_mutex);
    m_set = false;
}

CCallThread::CCallThread() : m_thread([this] { Loop(); }) {}

CCallThread::~CCallThread() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wakeUp.notify_one();
    m_thread.join();
}

void CCallThread::RunAndWait(std::function<void()> call,
                             const std::function<void(CCompletion&)>& wait,
                             const std::function<void()>& cancel) {
    {
        std::lock_guard lock(m_mutex);
        if (m_busy) {
            throw std::logic_error("CCallThread::RunAndWait: a call is already in progress");
        }
        m_busy = true;
        m_done.Reset();
        m_call = std::move(call);
        m_error = nullptr;
    }
    m_wakeUp.notify_one();
    try {
        while (!m_done.IsSet()) {
            wait(m_done);
        }
    } catch (...) {
        try {
            cancel();
        } catch (...) {
            // The call is waited for all the same; what ended the wait is what goes on.
        }
        WaitForEnd();
        EndCall();  // what the cancelled call threw is the consequence, not the cause
        throw;
    }
    WaitForEnd();
    if (const std::exception_ptr error = EndCall()) {
        std::rethrow_exception(error);
    }
}

void CCallThread::WaitForEnd() {
    while (!m_done.WaitFor(60)) {
    }
}

std::exception_ptr CCallThread::EndCall() {
    std::lock_guard lock(m_mutex);
    m_busy = false;
    return std::exchange(m_error, nullptr);
}

void CCallThread::Loop() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wakeUp.wait(lock, [this] { return m_stopping || m_call; });
        if (!m_call) {
            return;  // stopping with nothing in hand
        }
        std::function<void()> call = std::exchange(m_call, nullptr);
        lock.unlock();
        std::exception_ptr error;
        try {
            call();
        } catch (...) {
            error = std::current_exception();
        }
        call = nullptr;  // what the call captured goes before the caller hears of its end
        lock.lock();
        m_error = error;
        m_done.Set();
    }
}

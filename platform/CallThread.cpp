#include "platform/CallThread.h"

#include <chrono>
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

void CCallThread::Start(std::function<void()> call) {
    m_done.Reset();
    {
        std::lock_guard lock(m_mutex);
        m_call = std::move(call);
        m_error = nullptr;
    }
    m_wakeUp.notify_one();
}

void CCallThread::Finish() {
    m_done.WaitFor(0);
    std::exception_ptr error;
    {
        std::lock_guard lock(m_mutex);
        error = std::exchange(m_error, nullptr);
    }
    if (error) {
        std::rethrow_exception(error);
    }
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

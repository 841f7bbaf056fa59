#include "app/SilenceWatch.h"

#include <chrono>
#include <string>

#include "db/Uglobdb.h"

CSilenceWatch::CSilenceWatch(CGlobDB& session, double silenceSeconds, double startedAt)
    : m_session(session),
      m_silenceSeconds(silenceSeconds),
      m_startedAt(startedAt),
      m_answeredAt(startedAt) {}

std::optional<CRunStopped> CSilenceWatch::Look(double now) {
    if (!m_probe.valid()) {
        if (now - m_answeredAt >= m_silenceSeconds) {
            m_probe = std::async(std::launch::async, [this] { return m_session.ServerAnswers(); });
        }
        return std::nullopt;
    }
    if (m_probe.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        return std::nullopt;
    }
    if (m_probe.get()) {
        m_answeredAt = now;
        return std::nullopt;
    }
    return CRunStopped(CRunStopped::Reason::ServerSilent,
                       "error: сервер бази даних не відповідає понад " +
                           std::to_string(static_cast<int>(now - m_startedAt)) +
                           " с. Запустіть програму оновлення ще раз, коли сервер відповідатиме: "
                           "вона продовжить оновлення");
}

bool CSilenceWatch::ProbeRunning(double seconds) {
    return m_probe.valid() &&
           m_probe.wait_for(std::chrono::duration<double>(seconds)) != std::future_status::ready;
}

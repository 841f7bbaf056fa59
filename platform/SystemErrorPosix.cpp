#include "platform/SystemError.h"

#include <cerrno>
#include <cstring>

CSystemError::CSystemError(int code, const std::string& what)
    : std::runtime_error(what), m_code(code) {}

std::string SystemMessage(int code) {
    // strerror_r in its GNU form may return a static string instead of filling the buffer.
    char buffer[256] = {};
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    return strerror_r(code, buffer, sizeof buffer);
#else
    if (strerror_r(code, buffer, sizeof buffer) != 0) {
        return "Unknown error " + std::to_string(code);
    }
    return buffer;
#endif
}

int LastSystemError() {
    return errno;
}

void ThrowLastError(const std::string& context) {
    const int code = errno;
    throw CSystemError(code, context + ": " + SystemMessage(code));
}

#pragma once
// Errors of the operating system, carrying the system's error code and its message text.

#include <stdexcept>
#include <string>

class CSystemError : public std::runtime_error {
  public:
    CSystemError(int code, const std::string& what);
    int Code() const { return m_code; }

  private:
    int m_code;
};

// The system's message text for an error code (strerror on POSIX, FormatMessage on Windows).
std::string SystemMessage(int code);

// The calling thread's last error code (errno; GetLastError on Windows).
int LastSystemError();

// Throws CSystemError for the calling thread's last error (errno; GetLastError on Windows),
// prefixed by `context`.
[[noreturn]] void ThrowLastError(const std::string& context);

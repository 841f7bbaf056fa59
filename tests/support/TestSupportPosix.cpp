// The POSIX side of the test helpers.

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "platform/SystemError.h"
#include "tests/support/TestSupport.h"

const char kScratchPrefix[] = "tessara-test-";
const int kErrorFileNotFound = ENOENT;
const int kErrorPathNotFound = ENOENT;

void MakeReadOnly(const std::string& path) {
    if (chmod(path.c_str(), 0444) != 0) {
        ThrowLastError("Cannot make " + path + " read-only");
    }
}

bool RunningUnderWine() {
    return false;
}

CEnvironmentVariable::CEnvironmentVariable(const std::string& name, const std::string& value)
    : m_name(name) {
    if (const char* old = std::getenv(name.c_str())) {
        m_old = old;
    }
    setenv(name.c_str(), value.c_str(), 1);
}

CEnvironmentVariable::~CEnvironmentVariable() {
    if (m_old) {
        setenv(m_name.c_str(), m_old->c_str(), 1);
    } else {
        unsetenv(m_name.c_str());
    }
}

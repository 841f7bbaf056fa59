#include "tests/windows/WindowsTestSupport.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/Paths.h"
#include "platform/SystemError.h"
#include "platform/Utf16.h"

namespace fs = std::filesystem;

namespace {

fs::path WidePath(const std::string& path) {
    return fs::path(ToUtf16(path));
}

}  // namespace

CScratchDir::CScratchDir() {
    static std::atomic<int> counter{0};
    m_path = TempPath() + "tessara-тест-" + std::to_string(GetCurrentProcessId()) + "-" +
             std::to_string(counter++);
    fs::remove_all(WidePath(m_path));
    if (!CreateDirectoryW(ToUtf16(m_path).c_str(), nullptr)) {
        ThrowLastError("Cannot create " + m_path);
    }
}

CScratchDir::~CScratchDir() {
    std::error_code error;
    fs::remove_all(WidePath(m_path), error);
}

std::string CScratchDir::File(const std::string& name) const {
    return m_path + "\\" + name;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(WidePath(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        throw std::runtime_error("Cannot write " + path);
    }
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(WidePath(path), std::ios::binary);
    if (!in) {
        throw std::runtime_error("Cannot read " + path);
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool PathExists(const std::string& path) {
    return GetFileAttributesW(ToUtf16(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> DirectoryNames(const std::string& dir) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(WidePath(dir))) {
        names.push_back(ToUtf8(entry.path().filename().wstring()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string TestProgram(const std::string& name) {
    const std::string self = ExecutablePath();
    return self.substr(0, self.find_last_of('\\') + 1) + name;
}

CStartedProgram::CStartedProgram(const std::string& path, const std::string& arguments) {
    std::wstring commandLine = L"\"" + ToUtf16(path) + L"\" " + ToUtf16(arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(ToUtf16(path).c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &started)) {
        ThrowLastError("Cannot start " + path);
    }
    CloseHandle(started.hThread);
    m_process.Reset(started.hProcess);
}

int CStartedProgram::WaitForExit(unsigned milliseconds) {
    if (!m_process.IsValid() || WaitForSingleObject(m_process.Get(), milliseconds) != 0) {
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(m_process.Get(), &code);
    return static_cast<int>(code);
}

void CStartedProgram::Stop() {
    if (m_process.IsValid()) {
        TerminateProcess(m_process.Get(), 1);
        WaitForSingleObject(m_process.Get(), 10000);
        m_process.Reset();
    }
}

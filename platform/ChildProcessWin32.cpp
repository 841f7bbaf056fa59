#include "platform/ChildProcess.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/SystemError.h"
#include "platform/Utf16.h"
#include "platform/Win32Handle.h"

namespace {

using Clock = std::chrono::steady_clock;

// A handle the child inherits (only the ones named in its start attributes).
SECURITY_ATTRIBUTES Inheritable() {
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.bInheritHandle = TRUE;
    return attributes;
}

CWin32Handle OpenNullDevice() {
    SECURITY_ATTRIBUTES inherit = Inheritable();
    CWin32Handle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                                 nullptr));
    if (!nul.IsValid()) {
        ThrowLastError("Cannot open the null device");
    }
    return nul;
}

// A pipe whose writing end the child inherits; the reading end stays with us.
std::pair<CFile, CWin32Handle> MakePipe(const std::string& name) {
    SECURITY_ATTRIBUTES inherit = Inheritable();
    HANDLE reader = nullptr;
    HANDLE writer = nullptr;
    if (!CreatePipe(&reader, &writer, &inherit, 0)) {
        ThrowLastError("Cannot create a pipe for " + name);
    }
    CFile readerFile = CFile::Adopt(reader, name);
    CWin32Handle writerHandle(writer);
    if (!SetHandleInformation(reader, HANDLE_FLAG_INHERIT, 0)) {
        ThrowLastError("Cannot create a pipe for " + name);
    }
    return {std::move(readerFile), std::move(writerHandle)};
}

// A job that kills its processes when its last handle closes: when the updater ends, however it
// ends, the archiver it started ends with it instead of writing on into a work directory that
// the next run empties and fills again.
CWin32Handle MakeKillingJob() {
    CWin32Handle job(CreateJobObjectW(nullptr, nullptr));
    if (!job.IsValid()) {
        ThrowLastError("Cannot create a job object");
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits)) {
        ThrowLastError("Cannot set up a job object");
    }
    return job;
}

// The start attributes that let the child inherit exactly `handles` and nothing else this
// process may have made inheritable meanwhile.
class CInheritedHandles {
  public:
    explicit CInheritedHandles(std::vector<HANDLE> handles) : m_handles(std::move(handles)) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        m_buffer.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_buffer.data());
        if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) {
            ThrowLastError("Cannot prepare the start of a program");
        }
        m_list = list;
        if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, m_handles.data(),
                                       m_handles.size() * sizeof(HANDLE), nullptr, nullptr)) {
            ThrowLastError("Cannot prepare the start of a program");
        }
    }
    ~CInheritedHandles() {
        if (m_list != nullptr) {
            DeleteProcThreadAttributeList(m_list);
        }
    }
    CInheritedHandles(const CInheritedHandles&) = delete;
    CInheritedHandles& operator=(const CInheritedHandles&) = delete;

    LPPROC_THREAD_ATTRIBUTE_LIST List() const { return m_list; }

  private:
    std::vector<HANDLE> m_handles;  // the list points into it
    std::vector<char> m_buffer;
    LPPROC_THREAD_ATTRIBUTE_LIST m_list = nullptr;
};

std::wstring FullPath(const std::string& path) {
    const std::wstring wide = ToUtf16(path);
    const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    if (size == 0 || length == 0 || length >= size) {
        return wide;  // CreateProcessW then gives the reason
    }
    full.resize(length);
    return full;
}

}  // namespace

struct CChildProcess::Impl {
    CWin32Handle job;
    CWin32Handle process;

    // The captured streams, each read by a thread of its own: an anonymous pipe cannot be
    // waited for together with the process, and a child blocked on a full pipe never ends.
    std::mutex mutex;
    std::condition_variable changed;
    std::string text[2];
    bool ended[2] = {true, true};
    std::thread readers[2];

    ~Impl() {
        if (process.IsValid()) {
            // Waited for as CChildProcess::Wait waits, its output dropped.
            std::string dropped;
            int exitCode = 0;
            Wait(false, Clock::time_point(), exitCode, dropped, dropped);
        }
        job.Reset();  // kills what still runs in it, which closes the pipes the readers wait on
        for (std::thread& reader : readers) {
            if (reader.joinable()) {
                reader.join();
            }
        }
    }

    void StartReader(int index, CFile pipe) {
        ended[index] = false;
        try {
            readers[index] = std::thread([this, index, pipe = std::move(pipe)]() mutable {
                char buffer[64 * 1024];
                for (;;) {
                    size_t got = 0;
                    try {
                        got = pipe.Read(buffer, sizeof buffer);
                    } catch (const CSystemError&) {
                        // A stream that cannot be read is taken as ended.
                    }
                    const std::lock_guard<std::mutex> lock(mutex);
                    text[index].append(buffer, got);
                    if (got == 0) {
                        ended[index] = true;
                        changed.notify_all();
                        return;
                    }
                }
            });
        } catch (...) {
            ended[index] = true;  // no reader: waiting must not wait for this stream
            throw;
        }
    }

    // Adds to `output` and `errors` what the readers got since the last call; true when both
    // streams have ended by the deadline.
    bool ReadStreams(bool limited, Clock::time_point deadline, std::string& output,
                     std::string& errors) {
        std::unique_lock<std::mutex> lock(mutex);
        const auto bothEnded = [this] { return ended[0] && ended[1]; };
        const bool done = limited ? changed.wait_until(lock, deadline, bothEnded)
                                  : (changed.wait(lock, bothEnded), true);
        output.append(text[0], output.size());
        errors.append(text[1], errors.size());
        return done;
    }

    // Reads the captured streams until both end, then waits for the process and takes its exit
    // code; false when the deadline (if `limited`) comes first.
    bool Wait(bool limited, Clock::time_point deadline, int& exitCode, std::string& output,
              std::string& errors) {
        if (!ReadStreams(limited, deadline, output, errors)) {
            return false;
        }
        DWORD timeout = INFINITE;
        if (limited) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            timeout = static_cast<DWORD>(std::clamp<int64_t>(left.count(), 0, INFINITE - 1));
        }
        if (WaitForSingleObject(process.Get(), timeout) != WAIT_OBJECT_0) {
            return false;
        }
        DWORD code = 0;
        GetExitCodeProcess(process.Get(), &code);
        exitCode = static_cast<int>(code);
        process.Reset();
        return true;
    }
};

void CChildProcess::ImplDeleter::operator()(Impl* impl) const noexcept {
    delete impl;
}

void CChildProcess::Start(const std::string& programPath, const std::string& commandLine,
                          const std::string& currentDirectory, Output output) {
    m_impl.reset(new Impl);  // one process per object: the previous one is waited for first
    m_exitCode = -1;
    m_output.clear();
    m_errors.clear();

    const CWin32Handle nul = OpenNullDevice();
    CFile outputReader;
    CFile errorsReader;
    CWin32Handle outputWriter;
    CWin32Handle errorsWriter;
    std::vector<HANDLE> inherited = {nul.Get()};
    if (output == Output::Capture) {
        std::tie(outputReader, outputWriter) = MakePipe("standard output");
        std::tie(errorsReader, errorsWriter) = MakePipe("standard error");
        inherited.push_back(outputWriter.Get());
        inherited.push_back(errorsWriter.Get());
    }
    const CInheritedHandles handles(inherited);
    m_impl->job = MakeKillingJob();

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.StartupInfo.hStdInput = nul.Get();
    startup.StartupInfo.hStdOutput = output == Output::Capture ? outputWriter.Get() : nul.Get();
    startup.StartupInfo.hStdError = output == Output::Capture ? errorsWriter.Get() : nul.Get();
    startup.lpAttributeList = handles.List();

    // The program is exactly the file named: lpApplicationName is never searched for, and a
    // relative one is taken from our current directory, not the child's.
    const std::wstring program = FullPath(programPath);
    std::wstring line =
        ToUtf16(commandLine.empty() ? BuildCommandLine({programPath}) : commandLine);
    const std::wstring directory = ToUtf16(currentDirectory);
    PROCESS_INFORMATION started{};
    // Suspended until it is in the job, so that nothing it starts escapes the job.
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup.StartupInfo,
                        &started)) {
        const auto code = static_cast<int>(GetLastError());
        const std::string what = !currentDirectory.empty() && !DirectoryExists(currentDirectory)
                                     ? "Cannot change to directory \"" + currentDirectory + "\""
                                     : "Cannot start \"" + programPath + "\"";
        throw CSystemError(code, what + ": " + SystemMessage(code));
    }
    const CWin32Handle thread(started.hThread);
    m_impl->process.Reset(started.hProcess);
    // Windows 7 refuses a job inside another job (a program started by some launchers runs in
    // one): the child then runs without the guarantee rather than not at all.
    AssignProcessToJobObject(m_impl->job.Get(), started.hProcess);
    if (ResumeThread(started.hThread) == static_cast<DWORD>(-1)) {
        const auto code = static_cast<int>(GetLastError());
        TerminateProcess(started.hProcess, 1);
        m_impl->process.Reset();
        throw CSystemError(code, "Cannot start \"" + programPath + "\": " + SystemMessage(code));
    }
    // Only the child writes into the pipes now; they end when it (and what it started) does.
    outputWriter.Reset();
    errorsWriter.Reset();
    if (output == Output::Capture) {
        m_impl->StartReader(0, std::move(outputReader));
        m_impl->StartReader(1, std::move(errorsReader));
    }
}

bool CChildProcess::Wait(int milliseconds) {
    if (!m_impl || !m_impl->process.IsValid()) {
        return true;  // never started, or already collected
    }
    const bool limited = milliseconds >= 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    return m_impl->Wait(limited, deadline, m_exitCode, m_output, m_errors);
}

void CChildProcess::Terminate() {
    if (m_impl && m_impl->process.IsValid()) {
        TerminateJobObject(m_impl->job.Get(), 1);  // the process and everything it started
    }
}

std::string FindInPath(const std::string& name) {
    const DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    std::wstring path(size, L'\0');
    const DWORD length = size == 0 ? 0 : GetEnvironmentVariableW(L"PATH", path.data(), size);
    path.resize(length < size ? length : 0);
    // As cmd.exe finds a program: the name as given, and with ".exe" when it has no extension.
    std::vector<std::string> names = {name};
    if (ExtractFileName(name).find('.') == std::string::npos) {
        names.push_back(name + ".exe");
    }
    const std::string directories = ToUtf8(path);
    size_t begin = 0;
    while (begin <= directories.size()) {
        const size_t end = std::min(directories.find(';', begin), directories.size());
        std::string dir = directories.substr(begin, end - begin);
        dir.erase(std::remove(dir.begin(), dir.end(), '"'), dir.end());
        begin = end + 1;
        if (dir.empty()) {
            continue;
        }
        for (const std::string& candidate : names) {
            const std::string full = PathJoin(dir, candidate);
            if (FileExists(full)) {
                return full;
            }
        }
    }
    return std::string();
}

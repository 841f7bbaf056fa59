#include "tests/windows/UpdaterTestSupport.h"

#include <windows.h>

#include <stdexcept>

#include "platform/ChildProcess.h"
#include "platform/SystemError.h"
#include "platform/Utf16.h"

ProgramRun RunProgram(const std::string& program, const std::string& arguments,
                      const std::string& directory) {
    CChildProcess child;
    child.Start(program, "\"" + program + "\" " + arguments, directory,
                CChildProcess::Output::Capture);
    child.Wait();  // the test's timeout ends a program that hangs
    return {child.ExitCode(), child.CapturedOutput(), child.CapturedErrors()};
}

CPackedUpdater* CPackedUpdaterTest::s_packed = nullptr;

CPackedUpdater::CPackedUpdater() {
    const std::string package238 = dir.File("пакет 238");
    for (const std::string& subdirectory : {package238, package238 + "\\Reports"}) {
        if (!CreateDirectoryW(ToUtf16(subdirectory).c_str(), nullptr)) {
            ThrowLastError("Cannot create " + subdirectory);
        }
    }
    WriteFile(package238 + "\\up.2026.05.03.lsql", "insert into t values (1);\r\n");
    WriteFile(package238 + "\\up.99.238.lsql", "update versions set data = 238;\r\n");
    WriteFile(package238 + "\\Reports\\list.fr3", "template of 238");
    WriteFile(package238 + "\\tessara.exe", "program of 238");
    package239 = dir.File("239.rar");
    WriteFile(package239, std::string("Rar!\x1A\x07\x00 stands for package 239", 32));

    path = dir.File("оновлення.exe");
    const ProgramRun packed =
        RunProgram(BuiltProgram("tessara-pack"),
                   "--updater \"" + BuiltProgram("tessara-updater") + "\" --out \"" + path +
                       "\" 238=\"" + package238 + "\" 239=\"" + package239 + "\"",
                   dir.Path());
    if (packed.exitCode != 0) {
        error =
            "tessara-pack.exe ended with " + std::to_string(packed.exitCode) + ": " + packed.errors;
    }
}

void CSuiteDir::Install(const std::string& updater) {
    if (!CopyFileW(ToUtf16(updater).c_str(), ToUtf16(Updater()).c_str(), FALSE)) {
        ThrowLastError("Cannot copy " + updater);
    }
}

void CSuiteDir::WriteConfig(const std::string& text) {
    WriteFile(File("lib.ini"), text);
}

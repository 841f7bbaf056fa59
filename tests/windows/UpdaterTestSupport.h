#pragma once
// Helpers of the tests that run the built tessara-updater.exe and tessara-pack.exe: a packed
// updater, a suite directory around a copy of it, and programs run to their end with their
// output captured.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/windows/WindowsTestSupport.h"

struct ProgramRun {
    int exitCode = -1;
    std::string output;
    std::string errors;
};

// Runs `program` with `arguments` (a command line after the quoted program path) in
// `directory` and waits for its end.
ProgramRun RunProgram(const std::string& program, const std::string& arguments,
                      const std::string& directory);

// The built updater packed by the built tessara-pack.exe with package 238 from a directory
// (scripts, a program, a report template) and 239 from an archive file.
struct CPackedUpdater {
    CPackedUpdater();

    CTempDir dir;
    std::string path;        // the packed updater
    std::string package239;  // the archive file embedded as 239_RAR
    std::string error;       // why packing failed; empty when it worked
};

// A fixture whose tests share one packed updater, packed once per test process (ctest starts
// one for each test).
class CPackedUpdaterTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { s_packed = new CPackedUpdater(); }
    static void TearDownTestSuite() {
        delete s_packed;
        s_packed = nullptr;
    }
    static CPackedUpdater* s_packed;
};

// A suite's installation directory holding a copy of an updater as tessara-updater.exe.
class CSuiteDir {
  public:
    void Install(const std::string& updater);
    void WriteConfig(const std::string& text);  // lib.ini

    const std::string& Path() const { return m_dir.Path(); }
    std::string File(const std::string& name) const { return m_dir.File(name); }
    std::string Updater() const { return m_dir.File("tessara-updater.exe"); }

  private:
    CTempDir m_dir;
};

// Files in use and links that Wine hides, on Windows: a loaded library replaced by moving it
// aside, a file that another process holds open waited for until it lets go, and a Unix link to a
// file (which Wine shows as the file itself) refused where only the file itself may be opened.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/SystemError.h"
#include "platform/Utf16.h"
#include "tests/windows/WindowsTestSupport.h"

TEST(WindowsFilesInUse, ALoadedLibraryIsMovedAsideAndReplaced) {
    CTempDir scratch;
    const std::string library = scratch.File("fbclient.dll");
    ASSERT_TRUE(CopyFileReplace(PathJoin(ProgramDirectory(), "not_a_client.dll"), library).Ok());
    HMODULE loaded = LoadLibraryW(ToUtf16(library).c_str());
    ASSERT_NE(loaded, nullptr) << GetLastError();
    WriteFile(scratch.File("new.dll"), "new library");

    const CopyResult result = CopyFileReplace(scratch.File("new.dll"), library);
    ASSERT_TRUE(result.Ok()) << result.code << " " << result.message;
    EXPECT_EQ(ReadFile(library), "new library");
    EXPECT_EQ(OriginalOfMovedAside(result.movedAside), library);
    // Still loaded, from the file moved aside.
    EXPECT_NE(GetProcAddress(loaded, "isc_attach_database_not_here"), nullptr);
    FreeLibrary(loaded);

    const std::vector<MovedAsideFile> cleaned = CleanUpMovedAside(scratch.Path());
    ASSERT_EQ(cleaned.size(), 1u);
    EXPECT_EQ(cleaned[0].fate, MovedAsideFile::Fate::Removed) << cleaned[0].error;
    EXPECT_EQ(DirectoryEntries(scratch.Path()),
              (std::vector<std::string>{"fbclient.dll", "new.dll"}));
}

// Another process holds the target open sharing nothing (a virus scanner, the suite on another
// workstation) and lets go while the replacement waits: the copy goes through.
TEST(WindowsFilesInUse, AHeldFileIsWaitedForUntilItIsReleased) {
    CTempDir scratch;
    const std::string target = scratch.File("tessara.exe");
    WriteFile(target, "old");
    WriteFile(scratch.File("new.exe"), "new");
    const std::string release = scratch.File("release");
    CStartedProgram holder(BuiltProgram("test_helper"),
                           "hold \"" + target + "\" \"" + release + "\"");
    ASSERT_EQ(WaitUntilHeld(target, holder), "");

    int calls = 0;
    const CopyResult result = CopyFileReplace(scratch.File("new.exe"), target, [&] {
        // The first call follows the one block; the later ones come while the copy waits.
        if (++calls == 3) {
            WriteFile(release, "");
        }
    });
    ASSERT_TRUE(result.Ok()) << result.code << " " << result.message;
    EXPECT_GE(calls, 3);
    EXPECT_EQ(ReadFile(target), "new");
    EXPECT_EQ(result.movedAside, "");
    EXPECT_EQ(holder.WaitForExit(10000), 0);
    EXPECT_EQ(DirectoryEntries(scratch.Path()),
              (std::vector<std::string>{"new.exe", "release", "tessara.exe"}));
}

// The run record and the kept logs are opened as the files themselves: under Wine a Unix link to
// a file looks like the file, and a link pointing nowhere like nothing at all.
TEST(WindowsFileLinks, AUnixLinkToAFileIsRefusedAndNothingIsWrittenThroughIt) {
    CTempDir scratch;
    const std::string suite = scratch.File("suite");
    ASSERT_TRUE(MakeDirectory(suite));
    const std::string outside = scratch.File("outside.log");
    WriteFile(outside, "someone else's");
    const std::string link = suite + "\\tessara-updater.log";
    const std::string dangling = suite + "\\kept.log";
    const std::string nowhere = scratch.File("nowhere.log");
    WriteFile(nowhere, "");
    if (!MakeUnixFileLink(link, outside) || !MakeUnixFileLink(dangling, nowhere)) {
        GTEST_SKIP() << "not Wine: Unix links are made only there";
    }
    ASSERT_TRUE(DeleteFileW(ToUtf16(nowhere).c_str()));
    EXPECT_EQ(InspectEntry(link), EntryKind::Link);
    // Pointing nowhere, it is shown as nothing: only creating a file there tells.
    EXPECT_EQ(InspectEntry(dangling), EntryKind::Missing);
    for (const std::string& path : {link, dangling}) {
        for (const CFile::Mode mode : {CFile::Mode::Append, CFile::Mode::ReadRegular}) {
            if (path == dangling && mode == CFile::Mode::ReadRegular) {
                continue;  // missing to a reader, as it should be
            }
            try {
                CFile file(path, mode);
                FAIL() << "opened through the link " << path;
            } catch (const CSystemError& error) {
                EXPECT_EQ(std::string(error.what()),
                          "Cannot open \"" + path + "\": it is a link (a reparse point)");
            }
        }
    }
    EXPECT_EQ(ReadFile(outside), "someone else's");
    EXPECT_FALSE(PathExists(nowhere));

    // A file reached through a linked directory is the file itself.
    const std::string linkedSuite = scratch.File("linked suite");
    ASSERT_TRUE(MakeLink(linkedSuite, suite));
    const std::string record = linkedSuite + "\\record.log";
    {
        CFile file(record, CFile::Mode::Append);
        file.WriteAll("line\n", 5);
    }
    EXPECT_EQ(InspectEntry(record), EntryKind::Regular);
    EXPECT_EQ(ReadFile(suite + "\\record.log"), "line\n");
}

// The Win32 halves of the platform layer under Windows (or Wine): system messages, UTF-16 text,
// the program's own path, the temp path, the process list and SHA-256.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/Processes.h"
#include "platform/Sha256.h"
#include "platform/SystemCodePage.h"
#include "platform/SystemError.h"
#include "platform/Utf16.h"
#include "tests/windows/WindowsTestSupport.h"

namespace {

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

TEST(Utf16, RoundTripsEveryPlane) {
    const std::string texts[] = {"", "lib.kvr", "Оновлення завершене успішно", "Ґ є і ї ’",
                                 "\xF0\x9F\x93\xA6 package"};  // U+1F4E6 needs a surrogate pair
    for (const std::string& text : texts) {
        EXPECT_EQ(ToUtf8(ToUtf16(text)), text);
    }
    EXPECT_EQ(ToUtf16("Оновить"), L"Оновить");
    EXPECT_EQ(ToUtf16("\xF0\x9F\x93\xA6").size(), 2u);
    // Bytes that are not UTF-8 (here a stray continuation byte) show as U+FFFD, not as nothing.
    EXPECT_EQ(ToUtf16("a\x80z"), L"a\xFFFDz");
    EXPECT_NE(ToUtf16("\xCF\xF0\xEE").find(L'\xFFFD'), std::wstring::npos);  // Windows-1251
}

TEST(SystemError, CarriesTheCodeAndTheSystemText) {
    const std::string message = SystemMessage(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(message.empty());
    // Windows ends its texts with ".\r\n"; ours end like strerror's.
    EXPECT_NE(message.back(), '\n');
    EXPECT_NE(message.back(), '.');
    EXPECT_NE(message, SystemMessage(ERROR_ACCESS_DENIED));
    EXPECT_EQ(SystemMessage(0x3FFFFF00), "Unknown error " + std::to_string(0x3FFFFF00));

    SetLastError(ERROR_ACCESS_DENIED);
    try {
        ThrowLastError("Cannot open \"C:\\звіт.fr3\"");
        FAIL() << "no exception";
    } catch (const CSystemError& error) {
        EXPECT_EQ(error.Code(), ERROR_ACCESS_DENIED);
        EXPECT_EQ(std::string(error.what()),
                  "Cannot open \"C:\\звіт.fr3\": " + SystemMessage(ERROR_ACCESS_DENIED));
    }
}

TEST(Paths, ExecutablePathNamesThisProgram) {
    const std::string exe = ExecutablePath();
    ASSERT_GT(exe.size(), 3u);
    EXPECT_EQ(exe.substr(1, 2), ":\\");
    EXPECT_TRUE(PathExists(exe));
    const std::string name = exe.substr(exe.find_last_of('\\') + 1);
    EXPECT_EQ(name, "test_windows_platform.exe");
}

TEST(Paths, FileDirAndNameSplitAtEitherSeparator) {
    EXPECT_EQ(ExtractFileDir("C:\\Tessara\\lib.ini"), "C:\\Tessara");
    EXPECT_EQ(ExtractFileDir("C:/Tessara/out.exe"), "C:/Tessara");
    EXPECT_EQ(ExtractFileDir("C:\\lib.ini"), "C:\\");
    EXPECT_EQ(ExtractFileDir("C:/lib.ini"), "C:/");
    EXPECT_EQ(ExtractFileDir("lib.ini"), "");
    EXPECT_EQ(ExtractFileName("C:\\Tessara/Звіти\\list.fr3"), "list.fr3");
    EXPECT_EQ(ExtractFileName("C:/Tessara/out.exe"), "out.exe");
}

TEST(Paths, TempPathFollowsTmpAndEndsWithOneBackslash) {
    CScratchDir scratch;
    const std::string cyrillic = scratch.File("тимчасові файли");
    ASSERT_TRUE(CreateDirectoryW(ToUtf16(cyrillic).c_str(), nullptr));
    {
        CEnvironmentVariable tmp(L"TMP", ToUtf16(cyrillic));
        EXPECT_EQ(TempPath(), cyrillic + "\\");
    }
    {
        CEnvironmentVariable tmp(L"TMP", ToUtf16(cyrillic + "\\"));
        EXPECT_EQ(TempPath(), cyrillic + "\\");
    }
    const std::string usual = TempPath();
    ASSERT_FALSE(usual.empty());
    EXPECT_EQ(usual.back(), '\\');
    EXPECT_NE(usual.substr(usual.size() - 2), "\\\\");
}

// A copy of the helper program under a chosen image name, started and ended by the test.
TEST(Processes, SnapshotSeesAProgramOfThisPrefixByItsWholeName) {
    CScratchDir dir;
    // Unique to this test process, so programs of other tests cannot disturb the absent cases.
    const std::string stem = "tsr" + std::to_string(GetCurrentProcessId());
    const std::string name = stem + ".exe";
    ASSERT_FALSE(IsProcessRunning(name));
    for (const std::string& copy : {name, stem + "-суміжна.exe"}) {
        ASSERT_TRUE(CopyFileW(ToUtf16(TestProgram("test_helper.exe")).c_str(),
                              ToUtf16(dir.File(copy)).c_str(), FALSE));
    }
    {
        CStartedProgram program(dir.File(name), "sleep 60000");
        EXPECT_TRUE(Contains(RunningImageNames(), name));
        EXPECT_TRUE(IsProcessRunning(name));
        EXPECT_TRUE(IsProcessRunning("TSR" + std::to_string(GetCurrentProcessId()) + ".EXE"));
        EXPECT_FALSE(IsProcessRunning(stem));
        EXPECT_FALSE(IsProcessRunning("x" + name));
        EXPECT_FALSE(IsProcessRunning(name + "1"));
        program.Stop();
        EXPECT_FALSE(IsProcessRunning(name));
    }
    {
        // Case is ignored beyond ASCII, as Windows does for file names.
        CStartedProgram program(dir.File(stem + "-суміжна.exe"), "sleep 60000");
        EXPECT_TRUE(Contains(RunningImageNames(), stem + "-суміжна.exe"));
        EXPECT_TRUE(IsProcessRunning(stem + "-СУМІЖНА.EXE"));
    }
    EXPECT_TRUE(Contains(RunningImageNames(), "test_windows_platform.exe"));
}

TEST(Sha256, KnownDigestsInAnyChunking) {
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // A million 'a' (a standard test vector) fed in uneven pieces across block boundaries.
    const std::string million(1000000, 'a');
    CSha256 pieces;
    for (size_t done = 0, step = 1; done < million.size(); step = step * 3 + 1) {
        const size_t chunk = std::min(step, million.size() - done);
        pieces.Update(million.data() + done, chunk);
        done += chunk;
    }
    EXPECT_EQ(pieces.FinishHex(),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_THROW(pieces.Update("a", 1), std::logic_error);
    EXPECT_THROW(pieces.FinishHex(), std::logic_error);
}

TEST(IniFile, SettingsInTheSystemCodePageReadAsUtf8) {
    // The suite writes lib.ini in the ANSI code page: 0xE9 is "é" in Windows-1252 (Wine's code
    // page in the C locale) and "й" in Windows-1251 (a Ukrainian Windows).
    const std::string expected =
        GetACP() == 1251 ? "C:\\Caf\xD0\xB9\\lib.gdb" : "C:\\Caf\xC3\xA9\\lib.gdb";
    ASSERT_TRUE(GetACP() == 1251 || GetACP() == 1252) << GetACP();
    CScratchDir dir;
    WriteBytes(dir.File("lib.ini"), "[Common]\r\nPathBaseGDB=C:\\Caf\xE9\\lib.gdb\r\n");
    EXPECT_EQ(CIniFile(dir.File("lib.ini")).ReadString("Common", "PathBaseGDB", ""), expected);

    // A file already in UTF-8 stays as it is.
    WriteBytes(dir.File("utf8.ini"), "[Common]\r\nPathBaseGDB=C:\\Тессара\\lib.gdb\r\n");
    EXPECT_EQ(CIniFile(dir.File("utf8.ini")).ReadString("Common", "PathBaseGDB", ""),
              "C:\\Тессара\\lib.gdb");
}

TEST(SystemCodePage, ConsoleProgramsTextInTheOemCodePageReadsAsUtf8) {
    // 0x82 is "é" in code page 437 (Wine's OEM code page in the C locale) and "В" in 866 (a
    // Ukrainian Windows); the archiver writes its messages into the pipe so.
    ASSERT_TRUE(GetOEMCP() == 437 || GetOEMCP() == 866) << GetOEMCP();
    EXPECT_EQ(FromConsoleCodePage("caf\x82"), GetOEMCP() == 866 ? "caf\xD0\x92" : "caf\xC3\xA9");
    EXPECT_EQ(FromConsoleCodePage("Тессара"), "Тессара");  // already UTF-8
    EXPECT_EQ(FromConsoleCodePage(""), "");
}

// What only the Win32 halves of the platform layer have (the portable behaviour is in
// tests/platform): UTF-16 text, Windows' error codes and texts, drive paths and either
// separator, the TMP variable, names compared as Windows compares them, and code pages.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/Processes.h"
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

TEST(Paths, ExecutablePathIsADrivePath) {
    const std::string exe = ExecutablePath();
    ASSERT_GT(exe.size(), 3u);
    EXPECT_EQ(exe.substr(1, 2), ":\\");
    EXPECT_EQ(ProgramFileName("rar"), "rar.exe");
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
    CTempDir scratch;
    const std::string cyrillic = scratch.File("тимчасові файли");
    ASSERT_TRUE(CreateDirectoryW(ToUtf16(cyrillic).c_str(), nullptr));
    {
        CEnvironmentVariable tmp("TMP", cyrillic);
        EXPECT_EQ(TempPath(), cyrillic + "\\");
    }
    {
        CEnvironmentVariable tmp("TMP", cyrillic + "\\");
        EXPECT_EQ(TempPath(), cyrillic + "\\");
    }
    const std::string usual = TempPath();
    ASSERT_FALSE(usual.empty());
    EXPECT_EQ(usual.back(), '\\');
    EXPECT_NE(usual.substr(usual.size() - 2), "\\\\");
}

TEST(Processes, NamesCompareWithoutCaseBeyondAsciiAsWindowsComparesFileNames) {
    CTempDir dir;
    // Unique to this test process, so programs of other tests cannot disturb the checks.
    const std::string name = "tsr" + std::to_string(GetCurrentProcessId()) + "-суміжна.exe";
    ASSERT_TRUE(CopyFileW(ToUtf16(BuiltProgram("test_helper")).c_str(),
                          ToUtf16(dir.File(name)).c_str(), FALSE));
    CStartedProgram program(dir.File(name), "sleep 60000");
    EXPECT_TRUE(Contains(RunningImageNames(), name));
    EXPECT_TRUE(IsProcessRunning("TSR" + std::to_string(GetCurrentProcessId()) + "-СУМІЖНА.EXE"));
    EXPECT_TRUE(SameImageName("ї.exe", "Ї.EXE"));
    EXPECT_FALSE(SameImageName("ї.exe", "і.exe"));
}

TEST(IniFile, SettingsInTheSystemCodePageReadAsUtf8) {
    // The suite writes lib.ini in the ANSI code page: 0xE9 is "é" in Windows-1252 (Wine's code
    // page in the C locale) and "й" in Windows-1251 (a Ukrainian Windows).
    const std::string expected =
        GetACP() == 1251 ? "C:\\Caf\xD0\xB9\\lib.gdb" : "C:\\Caf\xC3\xA9\\lib.gdb";
    ASSERT_TRUE(GetACP() == 1251 || GetACP() == 1252) << GetACP();
    CTempDir dir;
    WriteFile(dir.File("lib.ini"), "[Common]\r\nPathBaseGDB=C:\\Caf\xE9\\lib.gdb\r\n");
    EXPECT_EQ(CIniFile(dir.File("lib.ini")).ReadString("Common", "PathBaseGDB", ""), expected);

    // A file already in UTF-8 stays as it is.
    WriteFile(dir.File("utf8.ini"), "[Common]\r\nPathBaseGDB=C:\\Тессара\\lib.gdb\r\n");
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

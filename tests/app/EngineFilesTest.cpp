#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include <ibase.h>

#include "app/EngineFiles.h"
#include "db/DbError.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "tests/support/TestSupport.h"

namespace {

constexpr uint16_t kAmd64 = 0x8664;
constexpr uint16_t kI386 = 0x014c;

// The head of a Windows library: a DOS header pointing at a PE header with `machine`.
std::string PeFile(uint16_t machine) {
    std::string bytes(0x48, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    bytes[0x3c] = 0x40;
    bytes.replace(0x40, 4, std::string("PE\0\0", 4));
    bytes[0x44] = static_cast<char>(machine & 0xff);
    bytes[0x45] = static_cast<char>(machine >> 8);
    return bytes + std::string(200, 'x');
}

// A suite directory with the client and every engine file the embedded default needs.
struct EngineFolder {
    CTempDir dir;
    EngineFolder() {
        MakeDirectory(dir.File("plugins"));
        MakeDirectory(dir.File("intl"));
        for (const char* name : {"fbclient.dll", "icuuc72.dll", "icuin72.dll", "icudt72.dll"}) {
            WriteFile(dir.File(name), PeFile(kAmd64));
        }
        WriteFile(PathJoin(dir.File("plugins"), "engine12.dll"), PeFile(kAmd64));
        WriteFile(PathJoin(dir.File("intl"), "fbintl.dll"), PeFile(kAmd64));
        WriteFile(PathJoin(dir.File("intl"), "fbintl.conf"), "<intl_module fbintl>\n");
        WriteFile(dir.File("firebird.msg"), "messages");
    }
    std::string Path(const std::string& relative) const {
        std::string path = dir.Path();
        size_t start = 0;
        while (start <= relative.size()) {
            const size_t end = std::min(relative.find('/', start), relative.size());
            path = PathJoin(path, relative.substr(start, end - start));
            start = end + 1;
        }
        return path;
    }
};

}  // namespace

TEST(EngineFiles, CompleteFolderHasNoProblem) {
    EngineFolder folder;
    EXPECT_EQ(EmbeddedEngineProblem(folder.dir.Path()), "");
    // Another ICU version than the test engine's is as good: the engine probes versions.
    for (const char* name : {"icuuc72.dll", "icuin72.dll", "icudt72.dll"}) {
        std::string renamed = name;
        renamed.replace(5, 2, "52");
        ASSERT_TRUE(RenameFile(folder.dir.File(name), folder.dir.File(renamed)));
    }
    EXPECT_EQ(EmbeddedEngineProblem(folder.dir.Path()), "");
}

TEST(EngineFiles, NamesTheMissingFile) {
    for (const char* relative : {"plugins/engine12.dll", "intl/fbintl.dll", "intl/fbintl.conf",
                                 "icuin72.dll", "icudt72.dll"}) {
        SCOPED_TRACE(relative);
        EngineFolder folder;
        ASSERT_TRUE(RemoveFile(folder.Path(relative)));
        EXPECT_EQ(EmbeddedEngineProblem(folder.dir.Path()), "немає файлу " + folder.Path(relative));
    }
    // No ICU at all: the pattern of the names, since no version is known.
    EngineFolder folder;
    ASSERT_TRUE(RemoveFile(folder.Path("icuuc72.dll")));
    EXPECT_EQ(EmbeddedEngineProblem(folder.dir.Path()),
              "немає бібліотек ICU (" + folder.Path("icuuc*.dll") + ", icuin*.dll, icudt*.dll)");
}

TEST(EngineFiles, NamesALibraryOfAnotherBitnessOrNoLibraryAtAll) {
    EngineFolder folder;
    WriteFile(folder.Path("plugins/engine12.dll"), PeFile(kI386));
    EXPECT_EQ(EmbeddedEngineProblem(folder.dir.Path()),
              folder.Path("plugins/engine12.dll") + " зібраний для 32-розрядної Windows, а " +
                  folder.Path("fbclient.dll") + " для 64-розрядної Windows");

    // A 32-bit client with 64-bit ICU: the ICU library is named.
    EngineFolder older;
    for (const char* relative : {"fbclient.dll", "plugins/engine12.dll", "intl/fbintl.dll"}) {
        WriteFile(older.Path(relative), PeFile(kI386));
    }
    EXPECT_EQ(EmbeddedEngineProblem(older.dir.Path()),
              older.Path("icuuc72.dll") + " зібраний для 64-розрядної Windows, а " +
                  older.Path("fbclient.dll") + " для 32-розрядної Windows");

    // Cut short before its PE header, or a text file under the library's name.
    for (const std::string& bytes : {PeFile(kAmd64).substr(0, 0x42), std::string("not a DLL")}) {
        EngineFolder damaged;
        WriteFile(damaged.Path("intl/fbintl.dll"), bytes);
        EXPECT_EQ(EmbeddedEngineProblem(damaged.dir.Path()),
                  damaged.Path("intl/fbintl.dll") + " пошкоджений: це не бібліотека Windows");
    }
}

TEST(EngineFiles, LocalDatabaseIsOneWithoutServerOrConnectionString) {
    struct Case {
        int32_t type;
        std::string server;
        std::string path;
        bool local;
    };
    const std::vector<Case> cases = {
        {0, "", "C:\\Тессара\\lib.gdb", true},
        {0, "dbhost", "C:\\Тессара\\lib.gdb", true},  // the server name counts only for type 1
        {1, " \t", "C:\\Тессара\\lib.gdb", true},     // no server name: the client opens it
        {0, "", "lib.gdb", true},
        {0, "", "/srv/lib.gdb", true},
        {1, "dbhost", "C:\\Тессара\\lib.gdb", false},
        {0, "", "dbhost:C:\\Тессара\\lib.gdb", false},
        {0, "", "dbhost/3051:/srv/lib.gdb", false},
        {0, "", "\\\\dbhost\\Тессара\\lib.gdb", false},
        {0, "", "inet://dbhost/lib.gdb", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.server + " " + c.path);
        EXPECT_EQ(IsLocalDatabase(CConfig{c.path, c.server, c.type}), c.local);
    }
}

TEST(EngineFiles, ConnectChecksTheEngineOnlyForTheSuitesOwnClient) {
    EngineFolder folder;
    ASSERT_TRUE(RemoveFile(folder.Path("intl/fbintl.conf")));
    const CConfig local{folder.Path("lib.gdb"), "", 0};
    int connects = 0;
    const auto connect = [&] { ++connects; };
    try {
        ConnectSuiteDatabase(local, folder.dir.Path(), connect);
        FAIL() << "connected without intl/fbintl.conf";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Локальну базу даних " + folder.Path("lib.gdb") +
                      " не відкрити: серед файлів Firebird комплексу немає файлу " +
                      folder.Path("intl/fbintl.conf") +
                      ". Оновлення нічого не змінило. Відновіть файли Firebird у каталозі " +
                      folder.dir.Path() +
                      " (перевстановіть ПК Тессара) та перезапустіть оновлення!");
    }
    EXPECT_EQ(connects, 0);

    // Through a server the engine beside the client is not used; nor is it without a client of
    // the suite's own (the system's client and its engine are found elsewhere).
    ConnectSuiteDatabase(CConfig{folder.Path("lib.gdb"), "dbhost", 1}, folder.dir.Path(), connect);
    EXPECT_EQ(connects, 1);
    ASSERT_TRUE(RemoveFile(folder.Path("fbclient.dll")));
    ConnectSuiteDatabase(local, folder.dir.Path(), connect);
    EXPECT_EQ(connects, 2);
}

TEST(EngineFiles, DatabaseOpenByAnotherProgramIsSaidInTheInterfacesWords) {
    EngineFolder folder;
    const CConfig local{"C:\\Тессара\\lib.gdb", "", 0};
    const CConfig server{"C:\\Тессара\\lib.gdb", "dbhost", 1};
    struct Case {
        CConfig config;
        CDbError error;
        bool saidOurWay;
    };
    const CDbError sharing("I/O error during \"CreateFile (open)\"",
                           {isc_io_error, isc_io_open_err}, 32);
    const std::vector<Case> cases = {
        {local, sharing, true},
        {local, CDbError("lock violation", {isc_io_error}, 33), true},
        {local, CDbError("access denied", {isc_io_error, isc_io_open_err}, 5), false},
        {local, CDbError("no I/O error", {isc_random}, 32), false},
        {server, sharing, false},  // a server's own files are none of the client's concern
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error.what());
        try {
            ConnectSuiteDatabase(c.config, folder.dir.Path(), [&] { throw c.error; });
            FAIL() << "the connection's error was lost";
        } catch (const CDbError& error) {
            EXPECT_FALSE(c.saidOurWay);
            EXPECT_STREQ(error.what(), c.error.what());
        } catch (const std::runtime_error& error) {
            EXPECT_TRUE(c.saidOurWay);
            EXPECT_EQ(std::string(error.what()),
                      "Базу даних C:\\Тессара\\lib.gdb відкрила інша програма цього комп'ютера (ПК "
                      "Тессара, інша програма оновлення, архівування): поки вона працює з базою, "
                      "оновлення неможливе. Оновлення нічого не змінило. Закрийте цю програму та "
                      "перезапустіть оновлення!");
        }
    }
}

#include <gtest/gtest.h>

#include "platform/FileSearch.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "tests/support/TestSupport.h"

namespace {

void Touch(const std::string& path) {
    CFile(path, CFile::Mode::WriteTruncate).Close();
}

}  // namespace

TEST(MatchesMask, WindowsWildcards) {
    struct Case {
        const char* mask;
        const char* name;
        bool matches;
    };
    const Case cases[] = {
        {"*.lsql", "up.99.238.lsql", true},
        {"*.lsql", "UP.2026.05.03.LSQL", true},
        {"*.LSQL", "up.1.lsql", true},
        {"*.lsql", "up.99.238.l~lsql", false},
        {"*.lsql", "up.lsql.bak", false},
        {"*.lsql", "lsql", false},
        {"*.r", "18619.r", true},
        {"*.r", "18619.~r", false},
        {"*.r", "18619.rr", false},
        {"*.u", "18619.U", true},
        {"*.blo", "INFO_DOC.NOTE.ID 10.blo", true},
        {"*.exe", "tessara.exe", true},
        {"*.exe", "tessara.exe1", false},
        {"?.exe", "a.exe", true},
        {"?.exe", "ab.exe", false},
        {"?.exe", ".exe", false},
        {"a*b*c", "aXbYbZc", true},
        {"a*b*c", "aXbYbZ", false},
        {"*", "anything", true},
        {"*.*", "noextension", true},
        {"*.*", "many.dots.in.name", true},
        {"*.*", ".", true},
        {"*.*", "..", true},
        {"*.*", ".hidden", true},
        {"readme.*", "readme", true},
        {"readme.*", "README.TXT", true},
        {"readme.*", "readmes", false},
        {"exact", "EXACT", true},
        {"exact", "exactly", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MatchesMask(c.mask, c.name), c.matches) << c.mask << " vs " << c.name;
    }
}

TEST(ListFiles, ListsMatchingEntriesOfEveryKindSorted) {
    CTempDir dir;
    for (const char* name : {"up.9.lsql", "up.10.lsql", "UP.2026.05.03.LSQL", ".hidden.lsql",
                             "up.1.l~lsql", "notes.txt", "18619.r"}) {
        Touch(dir.File(name));
    }
    ASSERT_TRUE(MakeDirectory(dir.File("folder.lsql")));
    Touch(PathJoin(dir.File("folder.lsql"), "inner.lsql"));  // subdirectories are not searched

    std::vector<std::string> list;
    ListFiles(dir.Path(), "*.lsql", list);
    // Digits compare as characters; upper and lower case sort together.
    const std::vector<std::string> expected = {
        dir.File(".hidden.lsql"), dir.File("folder.lsql"), dir.File("up.10.lsql"),
        dir.File("UP.2026.05.03.LSQL"), dir.File("up.9.lsql")};
    EXPECT_EQ(list, expected);

    // The list is appended to and then sorted as a whole.
    std::vector<std::string> combined = {dir.File("zzz"), dir.File("AAA")};
    ListFiles(dir.Path(), "*.r", combined);
    EXPECT_EQ(combined,
              (std::vector<std::string>{dir.File("18619.r"), dir.File("AAA"), dir.File("zzz")}));

    // A directory given with its trailing separator gets no second one.
    std::vector<std::string> withSlash;
    ListFiles(dir.Path() + kPathSeparator, "*.r", withSlash);
    EXPECT_EQ(withSlash, std::vector<std::string>{dir.File("18619.r")});
}

TEST(ListFiles, CaseIsIgnoredForAsciiLettersOnlyAndQuestionMarksTakeOneCharacter) {
    CTempDir dir;
    // No two names differ in the case of Cyrillic letters alone: Windows would take them for
    // one file.
    for (const char* name :
         {"ЗВІТ.fr3", "Звіти.FR3", "Звіт.FR3.bak", "18619.u", "18619.~u", "1861.~u", "readme"}) {
        Touch(dir.File(name));
    }
    const auto listed = [&](const std::string& mask) {
        std::vector<std::string> list;
        ListFiles(dir.Path(), mask, list);
        return list;
    };
    EXPECT_EQ(listed("звіт.*"), std::vector<std::string>{});
    EXPECT_EQ(listed("ЗВІТ.*"), std::vector<std::string>{dir.File("ЗВІТ.fr3")});
    // Sorted by bytes with ASCII letters lower-cased.
    EXPECT_EQ(listed("*.fr3"),
              (std::vector<std::string>{dir.File("ЗВІТ.fr3"), dir.File("Звіти.FR3")}));
    EXPECT_EQ(listed("?????.~u"), std::vector<std::string>{dir.File("18619.~u")});
    EXPECT_EQ(listed("readme.*"), std::vector<std::string>{dir.File("readme")});
}

TEST(ListFiles, StarDotStarTakesEverythingIncludingDotEntries) {
    CTempDir dir;
    Touch(dir.File("b"));
    Touch(dir.File("A.txt"));
    ASSERT_TRUE(MakeDirectory(dir.File("sub")));
    std::vector<std::string> list;
    ListFiles(dir.Path(), "*.*", list);
    const std::vector<std::string> expected = {dir.File("."), dir.File(".."), dir.File("A.txt"),
                                               dir.File("b"), dir.File("sub")};
    EXPECT_EQ(list, expected);
}

TEST(ListFiles, MissingDirectoryAddsNothing) {
    CTempDir dir;
    std::vector<std::string> list = {"/kept"};
    ListFiles(dir.File("absent"), "*.*", list);
    ListFiles(PathJoin(dir.File("absent"), "deeper"), "*.lsql", list);
    EXPECT_EQ(list, std::vector<std::string>{"/kept"});
}

TEST(SortPaths, ComparesLowerCasedBytes) {
    std::vector<std::string> paths = {
        "/w/up.9.lsql", "/w/Reports/b.fr3", "/w/tessara.exe",   "/w/X",
        "/w/a.exe",     "/w/UP.10.lsql",    "/w/reports/A.fr3", "/w/x"};
    SortPathsCaseInsensitive(paths);
    // Names equal but for case keep their order.
    const std::vector<std::string> expected = {"/w/a.exe",
                                               "/w/reports/A.fr3",
                                               "/w/Reports/b.fr3",
                                               "/w/tessara.exe",
                                               "/w/UP.10.lsql",
                                               "/w/up.9.lsql",
                                               "/w/X",
                                               "/w/x"};
    EXPECT_EQ(paths, expected);
}

#include <gtest/gtest.h>

#include "app/Config.h"
#include "app/ErrorText.h"
#include "tests/support/TestSupport.h"

TEST(Config, MissingFileOrSectionGivesTheLocalDefaultDatabase) {
    CTempDir dir;
    const CConfig missing = ReadConfig(dir.File("lib.ini"), dir.Path());
    EXPECT_EQ(missing.databasePath, dir.Path() + "/lib.gdb");
    EXPECT_EQ(missing.serverName, "");
    EXPECT_EQ(missing.serverType, 0);

    WriteFile(dir.File("lib.ini"), "[Other]\r\nPathBaseGDB=/x.gdb\r\nTypeServer=1\r\n");
    const CConfig noSection = ReadConfig(dir.File("lib.ini"), dir.Path());
    EXPECT_EQ(noSection.databasePath, dir.Path() + "/lib.gdb");
    EXPECT_EQ(noSection.serverType, 0);
}

TEST(Config, ReadsTheThreeKeysOfCommon) {
    CTempDir dir;
    WriteFile(dir.File("lib.ini"),
              "[common]\r\npathbasegdb = \"/data/base.gdb\" \r\nNameServer= dbhost \r\n"
              "TypeServer=0x1\r\n");
    const CConfig config = ReadConfig(dir.File("lib.ini"), dir.Path());
    EXPECT_EQ(config.databasePath, "/data/base.gdb");
    EXPECT_EQ(config.serverName, "dbhost");
    EXPECT_EQ(config.serverType, 1);
}

TEST(Config, EmptyPathAndGarbageServerTypeTakeTheDefaults) {
    CTempDir dir;
    WriteFile(dir.File("lib.ini"), "[Common]\nPathBaseGDB=\nNameServer=host\nTypeServer=abc\n");
    const CConfig config = ReadConfig(dir.File("lib.ini"), dir.Path());
    EXPECT_EQ(config.databasePath, dir.Path() + "/lib.gdb");
    EXPECT_EQ(config.serverName, "host");
    EXPECT_EQ(config.serverType, 0);
}

TEST(Config, ProgramDirectoryAtTheRootGivesNoDoubledSeparator) {
    // The configuration path and the default database are joined with the root as they are.
    const CConfig config = ReadConfig("/nonexistent-dir-for-test/lib.ini", "/");
    EXPECT_EQ(config.databasePath, "/lib.gdb");
}

TEST(FullStop, AddedOnlyAfterCharactersBeyondTheFullStop) {
    EXPECT_EQ(WithFullStop("No such file or directory"), "No such file or directory.");
    EXPECT_EQ(WithFullStop("Done."), "Done.");
    EXPECT_EQ(WithFullStop("Stop!"), "Stop!");          // '!' comes before '.'
    EXPECT_EQ(WithFullStop("value (1)"), "value (1)");  // ')' comes before '.'
    EXPECT_EQ(WithFullStop("a-"), "a-");                // '-' comes before '.'
    EXPECT_EQ(WithFullStop("path/"), "path/.");         // '/' comes after '.'
    EXPECT_EQ(WithFullStop("code 1"), "code 1.");
    EXPECT_EQ(WithFullStop("Помилка"), "Помилка.");  // a UTF-8 letter ends in a high byte
    EXPECT_EQ(WithFullStop(""), "");
}

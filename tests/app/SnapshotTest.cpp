// The pieces of the snapshot and the undo that need no database: the console options, the
// manifest, the names beside the database, and lib.ini rewritten with the restored database.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Config.h"
#include "app/Snapshot.h"
#include "app/Undo.h"
#include "tests/support/TestSupport.h"

TEST(ConsoleOptions, TasksAndTheirCombinations) {
    struct Case {
        std::vector<std::string> arguments;
        LaunchMode mode;
        ConsoleTask task;
        bool noSnapshot;
        bool undoWindow;  // with a display: the window undoes
    };
    const Case cases[] = {
        {{"--console"}, LaunchMode::Console, ConsoleTask::Update, false, false},
        {{"--console", "--no-snapshot"}, LaunchMode::Console, ConsoleTask::Update, true, false},
        {{"--no-snapshot", "--console"}, LaunchMode::Console, ConsoleTask::Update, true, false},
        {{"--plan"}, LaunchMode::Console, ConsoleTask::Plan, false, false},
        {{"--console", "--plan"}, LaunchMode::Console, ConsoleTask::Plan, false, false},
        {{"--undo"}, LaunchMode::Console, ConsoleTask::Undo, false, true},
        {{"--undo", "--console"}, LaunchMode::Console, ConsoleTask::Undo, false, false},
        // The window takes its snapshot setting from lib.ini only.
        {{"--no-snapshot"}, LaunchMode::Invalid, ConsoleTask::Update, false, false},
        {{"--plan", "--undo"}, LaunchMode::Invalid, ConsoleTask::Update, false, false},
        {{"--undo", "--no-snapshot"}, LaunchMode::Invalid, ConsoleTask::Update, false, false},
        {{"--plan", "--plan"}, LaunchMode::Invalid, ConsoleTask::Update, false, false},
        {{"--undo", "--help"}, LaunchMode::Invalid, ConsoleTask::Update, false, false},
    };
    for (const Case& c : cases) {
        const std::string name = ::testing::PrintToString(c.arguments);
        EXPECT_EQ(ParseArguments(c.arguments), c.mode) << name;
        const ConsoleOptions options = ParseConsoleOptions(c.arguments);
        EXPECT_EQ(options.task, c.task) << name;
        EXPECT_EQ(options.noSnapshot, c.noSnapshot) << name;
        EXPECT_EQ(UndoInWindow(options, true), c.undoWindow) << name;
        EXPECT_FALSE(UndoInWindow(options, false)) << name;
    }
}

TEST(Snapshot, ManifestReadsBackWhatWasWrittenAndRefusesADamagedOne) {
    SnapshotManifest manifest;
    manifest.stamp = "2026-05-03_142205";
    manifest.version = 237;
    manifest.server = "localhost/3050";
    manifest.database = "C:\\Data\\lib.gdb";
    manifest.backup = "C:\\Data\\lib.v237.2026-05-03_142205.tessara-snapshot.fbk";
    manifest.files = {"tessara.exe", "Reports/list.fr3"};
    manifest.restoredInto = "C:\\Data\\lib.v237.2026-05-03_142205.gdb";
    manifest.undoneDatabase = "C:\\Data\\lib.gdb";
    manifest.undone = true;
    const SnapshotManifest read = ParseManifest(ManifestText(manifest));
    EXPECT_EQ(read.stamp, manifest.stamp);
    EXPECT_EQ(read.version, manifest.version);
    EXPECT_EQ(read.server, manifest.server);
    EXPECT_EQ(read.database, manifest.database);
    EXPECT_EQ(read.backup, manifest.backup);
    EXPECT_EQ(read.files, manifest.files);
    EXPECT_EQ(read.restoredInto, manifest.restoredInto);
    EXPECT_EQ(read.undoneDatabase, manifest.undoneDatabase);
    EXPECT_TRUE(read.undone);

    for (const std::string damaged :
         {"", "version=237\ndatabase=/d/lib.gdb\n", "version=x\ndatabase=a\nbackup=b\n",
          "version=-1\ndatabase=a\nbackup=b\n", "database=a\nbackup=b\n",
          "version=99999999999\ndatabase=a\nbackup=b\n"}) {
        EXPECT_THROW(ParseManifest(damaged), std::runtime_error) << damaged;
    }
}

TEST(Snapshot, NamesBesideTheDatabase) {
    struct Case {
        std::string database;
        std::string beside;
    };
    const Case cases[] = {
        {"/srv/tessara/lib.gdb", "/srv/tessara/lib.v237.2026-05-03_142205"},
        {"C:\\Data\\lib.gdb", "C:\\Data\\lib.v237.2026-05-03_142205"},
        {"/srv/db.d/lib", "/srv/db.d/lib.v237.2026-05-03_142205"},
        // A database that an undo restored keeps one version and time in its name.
        {"/srv/lib.v236.2026-04-01_101010.gdb", "/srv/lib.v237.2026-05-03_142205"},
        {"/srv/lib.v2x6.2026-04-01_101010.gdb",
         "/srv/lib.v2x6.2026-04-01_101010.v237.2026-05-03_142205"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BesideDatabase(c.database, 237, "2026-05-03_142205"), c.beside) << c.database;
    }
    SnapshotManifest manifest;
    manifest.database = "/srv/tessara/lib.gdb";
    manifest.version = 237;
    manifest.stamp = "2026-05-03_142205";
    EXPECT_EQ(RestoredDatabasePath(manifest), "/srv/tessara/lib.v237.2026-05-03_142205.gdb");
}

TEST(Config, TheRestoredDatabaseReplacesPathBaseGdbAndNothingElse) {
    struct Case {
        std::string before;
        std::string after;
    };
    const Case cases[] = {
        {"[Common]\r\nTypeServer=1\r\nPathBaseGDB=/d/lib.gdb\r\nNameServer=srv\r\n",
         "[Common]\r\nTypeServer=1\r\nPathBaseGDB=/d/new.gdb\r\nNameServer=srv\r\n"},
        {"[Other]\nPathBaseGDB=x\n[common]\nTypeServer=0\n",
         "[Other]\nPathBaseGDB=x\n[common]\nTypeServer=0\nPathBaseGDB=/d/new.gdb\n"},
        {"[Common]\r\n  pathbasegdb = old\r\n[Updater]\r\nSnapshot=0\r\n",
         "[Common]\r\nPathBaseGDB=/d/new.gdb\r\n[Updater]\r\nSnapshot=0\r\n"},
        {"[Common]\nTypeServer=0\n[Updater]\nSnapshot=1",
         "[Common]\nTypeServer=0\nPathBaseGDB=/d/new.gdb\n[Updater]\nSnapshot=1\n"},
        {"", "[Common]\nPathBaseGDB=/d/new.gdb\n"},
    };
    CTempDir dir;
    const std::string ini = dir.File("lib.ini");
    for (const Case& c : cases) {
        WriteFile(ini, c.before);
        WriteDatabasePath(ini, "/d/new.gdb");
        EXPECT_EQ(ReadFile(ini), c.after) << c.before;
        EXPECT_EQ(ReadConfig(ini, dir.Path()).databasePath, "/d/new.gdb") << c.before;
    }
}

TEST(Config, SnapshotSettingOfTheUpdaterSection) {
    CTempDir dir;
    const std::string ini = dir.File("lib.ini");
    for (const auto& [text, on] :
         std::vector<std::pair<std::string, bool>>{{"[Common]\nTypeServer=0\n", true},
                                                   {"[Updater]\nSnapshot=0\n", false},
                                                   {"[updater]\nsnapshot = 0\n", false},
                                                   {"[Updater]\nSnapshot=1\n", true},
                                                   {"[Common]\nSnapshot=0\n", true}}) {
        WriteFile(ini, text);
        EXPECT_EQ(ReadConfig(ini, dir.Path()).snapshot, on) << text;
    }
}

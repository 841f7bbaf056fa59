#pragma once
// The names of the suite's files and programs that the updater works with.

// The suite's configuration file in the program directory, and the database file a blank
// PathBaseGDB stands for.
inline constexpr char kConfigFileName[] = "lib.ini";
inline constexpr char kDefaultDatabaseName[] = "lib.gdb";
// The suite's main program; no update while it runs. The name is the Windows one everywhere:
// on Linux the suite runs under Wine, whose processes carry it.
inline constexpr char kSuiteImageName[] = "tessara.exe";
// The archiver in the program directory, as a program name: its file is
// ProgramFileName(kArchiverProgram), "rar" on Linux and "rar.exe" on Windows.
inline constexpr char kArchiverProgram[] = "rar";
// Name of the work directory under the temp path, the same for every run.
inline constexpr char kWorkDirectoryName[] = "lib.kvr";

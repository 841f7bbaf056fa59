#pragma once
// --undo: the suite back at the newest snapshot, the database and the program files.
//
// A client cannot rename or remove a file on a database server, and even a local database file
// cannot be replaced while the suite may open it. So the undo never touches the database being
// undone: the engine that holds it restores the snapshot into a new file beside it, the undo
// opens that file and checks that it holds the snapshot's version, and only then makes it the
// suite's database by replacing lib.ini (PathBaseGDB) as a whole. At every moment lib.ini names
// a database that opens, and the database being undone stays where it was, named in the
// journal, until the administrator removes it. Each step is noted in the snapshot's manifest
// before it is taken, so an undo killed at any point is finished by running --undo again.

#include <iosfwd>
#include <string>

#include "app/FormDriver.h"
#include "app/Snapshot.h"
#include "app/StartupPaths.h"

// The database an undo of `manifest` restores into: beside the snapshot's database, named by
// its version and time, with the database's own ending ("lib.v237.2026-05-03_142205.gdb"); the
// second and later attempts add their number ("lib.v237.2026-05-03_142205-2.gdb").
std::string RestoredDatabasePath(const SnapshotManifest& manifest);

// The caption of the window's button when the window undoes (--undo without --console).
inline constexpr char kUndoButtonCaption[] = "Скасувати оновлення";

// The window's driver for --undo: the same window as an update's, whose journal shows the
// checks and the snapshot it would go back to, and whose button then undoes.
FormDriverFactory UndoDriverFactory(const StartupPaths& paths);

// Runs --undo for the suite at `paths` with the journal on `out` and messages on `err`; returns
// the exit status (0 undone, 1 failed part way, 2 not started, 3 no snapshot, 5 interrupted).
int RunUndo(const StartupPaths& paths, std::ostream& out, std::ostream& err);

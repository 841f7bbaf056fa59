#pragma once
// Installs the database content of an unpacked package: scripts, ".r" documents, ".u" documents,
// blob files, in that order, renaming every handled file.

#include <string>

#include "install/Status.h"

class CDatabase;
class CPackageLedger;

// The name a handled file gets ("x.lsql" -> "x.l~lsql", "1.r" -> "1.~r", "1.u" -> "1.~u",
// "a.blo" -> "a.~blo").
std::string HandledName(const std::string& path, int cut, const std::string& ending);

// Installs into `database` and returns the number of files found in the four passes, showing
// the progress in `view`. With a ledger (kept in the same database), the scripts' statements are
// marked in it and those it already has are passed over (install/ScriptRunner.h); the documents
// and blob files, whose storing can be repeated without harm, are all stored again.
int InstallDatabaseContents(CDatabase& database, IOwner& owner, const std::string& workDir,
                            const ProgressView& view, CPackageLedger* ledger = nullptr);

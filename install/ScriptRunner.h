#pragma once
// SQL script files (".lsql"): read line by line (install/ScriptFile.h), split into statements
// (install/StatementSplitter.h), each statement executed and committed by itself, failures
// logged.

#include <string>

#include "install/Status.h"

class CDatabase;
class CPackageLedger;

// Runs one script against `database`. `startTime` is the TimeOfDay() at which the script phase
// of the package began. `fileLabel` is not used. Always returns 0.
//
// With a ledger (kept in the same database), every statement is marked applied in its own
// transaction, and the statements the ledger already has for this script (a run that was cut
// short) are passed over, so that each statement takes effect once across runs. An error that
// leaves the database unusable (lost connection, I/O error) goes up as CDbError instead of being
// logged: the run stops, and the next one takes that statement again.
int RunScript(CDatabase& database, IOwner& owner, const std::string& scriptPath,
              IProgressBar* overallBar, IProgressBar* scriptBar, ILabel* fileLabel,
              double startTime, ILabel* timeLabel, CPackageLedger* ledger = nullptr);
// The same against the session's database, GlobDB().
int RunScript(IOwner& owner, const std::string& scriptPath, IProgressBar* overallBar,
              IProgressBar* scriptBar, ILabel* fileLabel, double startTime, ILabel* timeLabel,
              CPackageLedger* ledger = nullptr);

#pragma once
// SQL script files (".lsql"): read line by line (install/ScriptFile.h), split into statements
// (install/StatementSplitter.h), each statement executed and committed by itself, failures
// logged.

#include <string>

#include "install/Status.h"

class CDatabase;
class CPackageLedger;

// Runs one script against `database`, showing its progress in `view` (the script's and the
// pass's bars and the time left; `startTime` is the TimeOfDay() at which the script pass began).
//
// The window's thread reads and splits the script; the statements are executed in batches, each
// batch one blocking call that runs statements back to back for a short while, every statement
// still in its own transaction. With a ledger (kept in the same database), every statement is
// marked applied within that transaction, and the statements the ledger already has for this
// script (a run that was cut short) are passed over, so that each statement takes effect once
// across runs. A statement the server refuses is logged and the script goes on; an error that
// leaves the database unusable (lost connection, I/O error) goes up as CDbError instead: the run
// stops, and the next one takes that statement again.
void RunScript(CDatabase& database, IOwner& owner, const std::string& scriptPath,
               const ProgressView& view, double startTime, CPackageLedger* ledger = nullptr);

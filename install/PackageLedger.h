#pragma once
// What the database remembers of the package being installed, so that a run cut short (the
// process killed, the machine restarted, the server stopped, the disk full) is continued by the
// next run instead of being repeated.
//
// The ledger is a table of the updater's own, UPD$LEDGER, created when a package begins and
// dropped when the package is complete. It holds one row naming the package (number and
// SHA-256) and one row for every script statement applied. A statement's row is written in the
// statement's own transaction, so the two are committed together or not at all: whatever
// stopped a run, even a power failure in the middle of a commit, the rows say exactly which
// statements took effect, and none is ever applied twice or skipped.

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>

class CDatabase;
class CSqlStatement;

struct LedgerPackage {
    int32_t number = 0;
    std::string sha256;  // 64 lower-case hex digits
};

class CPackageLedger {
  public:
    // Works in the database's default transaction; every call but the Mark ones runs in a
    // transaction of its own. Database errors propagate as CDbError.
    explicit CPackageLedger(CDatabase& database);
    ~CPackageLedger();
    CPackageLedger(const CPackageLedger&) = delete;
    CPackageLedger& operator=(const CPackageLedger&) = delete;

    // True when the database holds the ledger's table: a package was begun and not finished,
    // or a completed one left its table behind (ClearLeftover).
    bool TableExists();
    // The package a run began and did not finish; nullopt when there is none.
    std::optional<LedgerPackage> Unfinished();
    // Opens the ledger of `package`: a new one, or the unfinished one when it is this package.
    // Throws std::runtime_error when another package is unfinished.
    void Begin(const LedgerPackage& package);
    // Reads the ledger without changing it, for a look before a run: true when `number` is the
    // unfinished package, after which Applied and Failed answer from its rows as after Begin.
    bool Inspect(int32_t number);
    // The highest statement of the script (by file name) that earlier runs marked done, and
    // those of them that the server refused. A package begun anew has none, and no query is
    // made for it.
    int32_t Applied(const std::string& script);
    std::set<int32_t> Failed(const std::string& script);
    // Marks statement `ordinal` (counted from 1) of the script applied, in the transaction that
    // is active now: the statement's own, so that both are committed or neither.
    void Mark(const std::string& script, int32_t ordinal);
    // Mark for a statement that an earlier run marked failed: that mark goes in the same
    // transaction.
    void MarkRetried(const std::string& script, int32_t ordinal);
    // Marks statement `ordinal` done but refused by the server, in the transaction that is
    // active now (one of its own: the statement's was rolled back). A continued run tries it
    // again: a refusal may have been passing, such as a row that another connection held.
    void MarkFailed(const std::string& script, int32_t ordinal);
    // The package is complete: its row goes first (from then on no run takes it for
    // unfinished), then the table with the statements' rows. Returns why the table was not
    // dropped (another connection has it in use), empty when it was: the package is complete
    // all the same, and the next run clears what is left (ClearLeftover).
    std::string Finish();
    // A ledger that a completed package left behind (its table without a package row, since
    // Finish could not drop it): drops the table. nullopt when there is none, or the package in
    // it is unfinished.
    struct Leftover {
        int32_t package = 0;     // the package its statements' rows name; 0 when it has none
        std::string notDropped;  // why the table could not be dropped; empty when it was
    };
    std::optional<Leftover> ClearLeftover();

  private:
    // Drops the table; returns the error that prevented it, empty when it went.
    std::string DropTable();
    // Inserts the statement's row: its ordinal, or the negative ordinal of a failed one.
    void Insert(const std::string& script, int32_t number);
    // Runs `statement` (text with the parameter :ordinal, prepared once per script) in the
    // active transaction.
    void RunForScript(std::unique_ptr<CSqlStatement>& statement, const std::string& script,
                      const std::string& text, int32_t ordinal);

    CDatabase& m_database;
    int32_t m_package = 0;
    bool m_continued = false;                 // Begin found this package unfinished
    std::string m_markScript;                 // the script that the statements are prepared for
    std::unique_ptr<CSqlStatement> m_mark;    // prepared once per script, run per statement
    std::unique_ptr<CSqlStatement> m_unfail;  // the same for a failed mark that goes
};

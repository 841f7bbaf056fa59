#include "install/ScriptRunner.h"

#include <cstdint>
#include <exception>
#include <set>
#include <string_view>

#include "db/Database.h"
#include "db/DbError.h"
#include "db/Statement.h"
#include "db/Uglobdb.h"
#include "install/PackageLedger.h"
#include "install/ScriptFile.h"
#include "install/StatementSplitter.h"
#include "install/UpdateLog.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Text.h"

namespace {

const char* const kNoTerminatorMessage = "Statement has no terminator and was not executed";

// Executes the statements of one script, each in its own transaction, marking each in the
// ledger (when there is one) within that transaction.
class CStatementExecutor {
  public:
    CStatementExecutor(CDatabase& database, IOwner& owner, const std::string& script,
                       CPackageLedger* ledger)
        : m_owner(owner),
          m_script(script),
          m_ledger(ledger),
          m_database(database),
          m_statement(m_database) {
        m_statement.SetParamCheck(false);  // ":NEW.ID" and the like reach the server unchanged
    }

    // A failure is logged and rolled back. A lost database goes up: the statement is then
    // neither applied nor marked, and the next run takes it again. `retried`: an earlier run
    // marked the statement failed.
    void Execute(std::string text, int32_t ordinal, bool retried) {
        CTransaction& transaction = m_database.DefaultTransaction();
        try {
            m_statement.SetText(std::move(text));  // the one copy of the text from here on
            m_owner.RunBlocking([&] {
                RunInOwnTransaction(transaction, [&] {
                    MarkApplied(ordinal, retried);
                    m_statement.Execute();
                });
            });
            return;
        } catch (const CRunStopped&) {
            throw;  // neither applied nor marked: the next run takes the statement again
        } catch (const CDbError& error) {
            if (IsLostDatabase(error)) {
                throw;
            }
            AppendFailure(m_owner, m_statement.Text(), error.what());
        } catch (const std::exception& error) {
            AppendFailure(m_owner, m_statement.Text(), error.what());
        }
        // The rollback took the mark with it; a failed statement is done all the same for
        // this run (it is in the log), so it gets a transaction of its own for its failed mark,
        // unless an earlier run gave it one.
        if (m_ledger != nullptr && !retried) {
            m_owner.RunBlocking([&] {
                RunInOwnTransaction(transaction, [&] { m_ledger->MarkFailed(m_script, ordinal); });
            });
        }
    }

  private:
    void MarkApplied(int32_t ordinal, bool retried) {
        if (m_ledger == nullptr) {
            return;
        }
        if (retried) {
            m_ledger->MarkRetried(m_script, ordinal);
        } else {
            m_ledger->Mark(m_script, ordinal);
        }
    }

    IOwner& m_owner;
    const std::string& m_script;
    CPackageLedger* m_ledger;
    CDatabase& m_database;
    CSqlStatement m_statement;
};

// The bars and the time estimate of a script, brought up to date only when the window is about
// to paint them: setting them after every line of a long script costs more than the script's
// own work in the window.
class CScriptProgress {
  public:
    CScriptProgress(IProgressBar* scriptBar, IProgressBar* overallBar, double startTime,
                    ILabel* timeLabel)
        : m_scriptBar(scriptBar),
          m_overallBar(overallBar),
          m_startTime(startTime),
          m_timeLabel(timeLabel),
          m_overallStart(overallBar != nullptr ? overallBar->Position() : 0) {}

    // Client commands step the bars but leave the time estimate alone.
    void LineDone(bool statementLine) {
        ++m_lines;
        m_estimateDue = m_estimateDue || statementLine;
    }

    // Each bar is where one step per line would have put it (never beyond its maximum).
    void Show() {
        if (m_scriptBar != nullptr) {
            m_scriptBar->SetPosition(m_lines);  // the phase began at 0
        }
        if (m_overallBar != nullptr) {
            m_overallBar->SetPosition(m_overallStart + m_lines);
            if (m_estimateDue) {
                UpdateTimeEstimate(m_overallBar, m_startTime, m_timeLabel);
            }
        }
        m_estimateDue = false;
    }

  private:
    IProgressBar* m_scriptBar;
    IProgressBar* m_overallBar;
    double m_startTime;
    ILabel* m_timeLabel;
    int m_overallStart;
    int m_lines = 0;
    bool m_estimateDue = false;
};

}  // namespace

int RunScript(CDatabase& database, IOwner& owner, const std::string& scriptPath,
              IProgressBar* overallBar, IProgressBar* scriptBar, ILabel* /*fileLabel*/,
              double startTime, ILabel* timeLabel, CPackageLedger* ledger) {
    if (scriptBar != nullptr) {
        StartPhase(scriptBar, static_cast<int>(CountScriptLines(scriptPath)));
    }
    CScriptReader reader(scriptPath);
    std::string_view line;
    if (!reader.NextLine(line)) {
        return 0;  // an empty script touches no log
    }

    // Every run of a script starts a fresh log; the path stays set for the later installers.
    const std::string logPath = scriptPath + ".log";
    owner.SetCurrentLogPath(logPath);
    if (FileExists(logPath)) {
        RemoveFile(logPath);
    }

    const std::string script = ExtractFileName(scriptPath);
    int32_t applied = 0;
    // Refused statements of an earlier run are tried again in their place.
    std::set<int32_t> failed;
    if (ledger != nullptr) {
        owner.RunBlocking([&] {
            applied = ledger->Applied(script);
            failed = ledger->Failed(script);
        });
    }
    if (applied > 0) {
        owner.AppendLine(applied < static_cast<int32_t>(CountScriptStatements(scriptPath))
                             ? "Продовження з інструкції " + std::to_string(applied + 1)
                             : std::string("Усі інструкції сценарію вже виконано") +
                                   (failed.empty()
                                        ? ""
                                        : "; повтор відхилених: " + std::to_string(failed.size())));
    }
    CStatementExecutor executor(database, owner, script, ledger);
    CStatementSplitter splitter;
    CScriptProgress progress(scriptBar, overallBar, startTime, timeLabel);
    CPumpThrottle throttle(owner);
    do {
        const bool statementLine =
            splitter.Feed(line, reader.LongLine()) == CStatementSplitter::LineKind::StatementLine;
        reader.ReleaseLine();  // the statement holds what it needs of the line
        if (splitter.Completed()) {
            const auto ordinal = static_cast<int32_t>(splitter.CompletedCount());
            const bool retried = failed.contains(ordinal);
            if (ordinal > applied || retried) {
                executor.Execute(splitter.TakeStatement(), ordinal, retried);
            }
        }
        progress.LineDone(statementLine);
        if (throttle.Due()) {
            progress.Show();
            throttle.Pump();
        }
    } while (reader.NextLine(line));
    progress.Show();

    // A last statement without its terminator is not executed, but it must not vanish unseen.
    if (!splitter.Tail().empty()) {
        std::string tail(splitter.Tail());
        EndLinesWithCrLf(tail);
        AppendFailure(owner, tail, kNoTerminatorMessage);
    }
    return 0;
}

int RunScript(IOwner& owner, const std::string& scriptPath, IProgressBar* overallBar,
              IProgressBar* scriptBar, ILabel* fileLabel, double startTime, ILabel* timeLabel,
              CPackageLedger* ledger) {
    return RunScript(GlobDB()->GetDatabase(), owner, scriptPath, overallBar, scriptBar, fileLabel,
                     startTime, timeLabel, ledger);
}

#include "install/ScriptRunner.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "db/Database.h"
#include "db/DbError.h"
#include "db/Statement.h"
#include "install/PackageLedger.h"
#include "install/ScriptFile.h"
#include "install/StatementSplitter.h"
#include "install/UpdateLog.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Text.h"

namespace {

const char* const kNoTerminatorMessage = "Statement has no terminator and was not executed";

// A batch ends at this many statements, or once its texts hold this much (a statement of
// megabytes is a batch of its own), so that the window's thread reads ahead only a little.
constexpr size_t kBatchStatements = 256;
constexpr size_t kBatchTextBytes = 1024 * 1024;
// One blocking call runs the statements of a batch back to back for this long at most (seconds),
// then returns, so that the bars and the time left follow the statements executed.
constexpr double kBatchCallSeconds = 0.02;

// A statement read from the script and not yet executed.
struct PendingStatement {
    std::string text;
    int32_t ordinal = 0;   // counted from 1 in the script
    bool retried = false;  // an earlier run marked it failed
    int linesRead = 0;     // the script's lines up to the one that ended it
};

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

    // Runs the statements of `batch` from `next` on, on the blocking call's thread, until all
    // have run, kBatchCallSeconds have passed or one is refused. Returns the index after the
    // last statement that ran; `failure` then has the refused statement's error. A stop of the
    // run, a lost database and anything but a database error go up: the statement in hand is
    // then neither applied nor marked, and the next run takes it again.
    size_t Run(std::vector<PendingStatement>& batch, size_t next,
               std::optional<std::string>& failure) {
        const double started = MonotonicSeconds();
        do {
            m_owner.StopIfRequested();
            PendingStatement& statement = batch[next++];
            try {
                m_statement.SetText(std::move(statement.text));  // the one copy from here on
                RunInOwnTransaction(m_database.DefaultTransaction(), [&] {
                    MarkApplied(statement.ordinal, statement.retried);
                    m_statement.Execute();
                });
            } catch (const CDbError& error) {
                if (IsLostDatabase(error)) {
                    throw;
                }
                failure = error.what();
                break;
            }
        } while (next < batch.size() && MonotonicSeconds() - started < kBatchCallSeconds);
        return next;
    }

    // Logs the statement that Run found refused. The rollback took its mark with it; a failed
    // statement is done all the same for this run (it is in the log), so it gets a transaction
    // of its own for its failed mark, unless an earlier run gave it one.
    void RecordFailure(const PendingStatement& statement, const std::string& error) {
        AppendFailure(m_owner, m_statement.Text(), error);
        if (m_ledger != nullptr && !statement.retried) {
            m_owner.RunBlocking([&] {
                RunInOwnTransaction(m_database.DefaultTransaction(),
                                    [&] { m_ledger->MarkFailed(m_script, statement.ordinal); });
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
    CScriptProgress(const ProgressView& view, double startTime)
        : m_view(view),
          m_startTime(startTime),
          m_overallStart(view.overall != nullptr ? view.overall->Position() : 0) {}

    // The lines up to `lines` are done with; `statements`: statements were executed among them
    // (client commands step the bars but leave the time estimate alone).
    void DoneThrough(int lines, bool statements) {
        m_lines = lines;
        m_estimateDue = m_estimateDue || statements;
    }

    // Each bar is where one step per line done would have put it (never beyond its maximum).
    void Show() {
        if (m_view.script != nullptr) {
            m_view.script->SetPosition(m_lines);  // the phase began at 0
        }
        if (m_view.overall != nullptr) {
            m_view.overall->SetPosition(m_overallStart + m_lines);
            if (m_estimateDue) {
                UpdateTimeEstimate(m_view.overall, m_startTime, m_view.timeLeft);
            }
        }
        m_estimateDue = false;
    }

  private:
    ProgressView m_view;
    double m_startTime;
    int m_overallStart;
    int m_lines = 0;
    bool m_estimateDue = false;
};

// The statements read and not yet executed, with what their execution shows.
class CStatementBatch {
  public:
    CStatementBatch(IOwner& owner, CStatementExecutor& executor, CScriptProgress& progress)
        : m_owner(owner), m_executor(executor), m_progress(progress) {}

    void Add(PendingStatement statement) {
        m_textBytes += statement.text.size();
        m_statements.push_back(std::move(statement));
    }
    bool Empty() const { return m_statements.empty(); }
    bool Full() const {
        return m_statements.size() >= kBatchStatements || m_textBytes >= kBatchTextBytes;
    }

    // Executes the statements in order, a blocking call at a time; a refused one is logged and
    // marked before the next one runs.
    void Execute() {
        size_t next = 0;
        while (next < m_statements.size()) {
            std::optional<std::string> failure;
            m_owner.RunBlocking([&] { next = m_executor.Run(m_statements, next, failure); });
            const PendingStatement& last = m_statements[next - 1];
            if (failure) {
                m_executor.RecordFailure(last, *failure);
            }
            m_progress.DoneThrough(last.linesRead, true);
            m_progress.Show();
        }
        m_statements.clear();
        m_textBytes = 0;
    }

  private:
    IOwner& m_owner;
    CStatementExecutor& m_executor;
    CScriptProgress& m_progress;
    std::vector<PendingStatement> m_statements;
    size_t m_textBytes = 0;
};

}  // namespace

void RunScript(CDatabase& database, IOwner& owner, const std::string& scriptPath,
               const ProgressView& view, double startTime, CPackageLedger* ledger) {
    if (view.script != nullptr) {
        StartPhase(view.script, static_cast<int>(CountScriptLines(scriptPath)));
    }
    CScriptReader reader(scriptPath);
    std::string_view line;
    if (!reader.NextLine(line)) {
        return;  // an empty script touches no log
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
    CScriptProgress progress(view, startTime);
    CStatementBatch batch(owner, executor, progress);
    CPumpThrottle throttle(owner);
    int lines = 0;
    do {
        const bool statementLine =
            splitter.Feed(line, reader.LongLine()) == CStatementSplitter::LineKind::StatementLine;
        reader.ReleaseLine();  // the statement holds what it needs of the line
        ++lines;
        if (splitter.Completed()) {
            const auto ordinal = static_cast<int32_t>(splitter.CompletedCount());
            const bool retried = failed.contains(ordinal);
            if (ordinal > applied || retried) {
                batch.Add({splitter.TakeStatement(), ordinal, retried, lines});
            }
        }
        if (batch.Full()) {
            batch.Execute();
        } else if (batch.Empty()) {
            // Nothing waits to be executed: the lines read are done with.
            progress.DoneThrough(lines, statementLine);
        }
        if (throttle.Due()) {
            progress.Show();
            throttle.Pump();
        }
    } while (reader.NextLine(line));
    batch.Execute();
    progress.DoneThrough(lines, false);
    progress.Show();

    // A last statement without its terminator is not executed, but it must not vanish unseen.
    if (!splitter.Tail().empty()) {
        std::string tail(splitter.Tail());
        EndLinesWithCrLf(tail);
        AppendFailure(owner, tail, kNoTerminatorMessage);
    }
}

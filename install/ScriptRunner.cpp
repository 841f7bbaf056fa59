#include "install/ScriptRunner.h"

#include <exception>
#include <string_view>

#include "db/Database.h"
#include "db/Statement.h"
#include "db/Uglobdb.h"
#include "install/StatementSplitter.h"
#include "install/UpdateLog.h"
#include "platform/FileSystem.h"

namespace {

const char* const kNoTerminatorMessage = "Statement has no terminator and was not executed";

// The statement text as the log shows it: each of its LF-separated lines followed by CR LF.
std::string LogText(std::string_view statement) {
    std::string text;
    if (statement.empty()) {
        return text;
    }
    text.reserve(statement.size() + 16);
    for (char c : statement) {
        if (c == '\n') {
            text += "\r\n";
        } else {
            text += c;
        }
    }
    text += "\r\n";
    return text;
}

// Runs one statement in its own transaction; a failure is logged and rolled back, never raised.
void ExecuteStatement(IOwner& owner, CSqlStatement& statement, CTransaction& transaction,
                      std::string_view text) {
    try {
        statement.SetText(std::string(text));
        RunInOwnTransaction(transaction, [&] { statement.Execute(); });
    } catch (const std::exception& error) {
        AppendFailure(owner, LogText(text), error.what());
    }
}

}  // namespace

std::vector<std::string> ReadScriptLines(const std::string& path) {
    const std::string bytes = ReadWholeFile(path);
    std::string_view text(bytes);
    if (const size_t nul = text.find('\0'); nul != std::string_view::npos) {
        text = text.substr(0, nul);
    }

    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(pos));  // a last line without a line end
            break;
        }
        lines.emplace_back(text.substr(pos, end - pos));
        pos = end + 1;
        if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') {
            ++pos;  // CR LF is one line end
        }
    }
    return lines;
}

int RunScript(IOwner& owner, const std::string& scriptPath, IProgressBar* overallBar,
              IProgressBar* scriptBar, ILabel* /*fileLabel*/, double startTime, ILabel* timeLabel) {
    const std::vector<std::string> lines = ReadScriptLines(scriptPath);
    StartPhase(scriptBar, static_cast<int>(lines.size()));
    if (lines.empty()) {
        return 0;
    }

    // Every run of a script starts a fresh log; the path stays set for the later installers.
    const std::string logPath = scriptPath + ".log";
    owner.SetCurrentLogPath(logPath);
    if (FileExists(logPath)) {
        DeleteFile(logPath);
    }

    CDatabase& database = GlobDB()->GetDatabase();
    CSqlStatement statement(database);
    statement.SetParamCheck(false);  // ":NEW.ID" and the like must reach the server unchanged
    CStatementSplitter splitter;

    for (const std::string& line : lines) {
        const bool statementLine =
            splitter.Feed(line) == CStatementSplitter::LineKind::StatementLine;
        if (splitter.Completed()) {
            ExecuteStatement(owner, statement, database.DefaultTransaction(), splitter.Statement());
        }
        StepBar(scriptBar);
        StepBar(overallBar);
        // Client commands step the bars but leave the time estimate alone.
        if (statementLine) {
            UpdateTimeEstimate(overallBar, startTime, timeLabel);
        }
        owner.PumpMessages();
    }

    // A last statement without its terminator is not executed, but it must not vanish unseen.
    if (!splitter.Tail().empty()) {
        AppendFailure(owner, LogText(splitter.Tail()), kNoTerminatorMessage);
    }
    return 0;
}

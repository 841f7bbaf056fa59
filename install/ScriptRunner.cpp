#include "install/ScriptRunner.h"

#include <exception>
#include <string_view>

#include "db/Database.h"
#include "db/Statement.h"
#include "db/Uglobdb.h"
#include "install/UpdateLog.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace {

const char* const kNoTerminatorMessage = "Statement has no terminator and was not executed";

// ASCII-only, case-insensitive prefix test; other bytes compare as they are.
bool StartsWithNoCase(std::string_view text, std::string_view upperPrefix) {
    if (text.size() < upperPrefix.size()) {
        return false;
    }
    for (size_t i = 0; i < upperPrefix.size(); ++i) {
        if (UpperAscii(text[i]) != upperPrefix[i]) {
            return false;
        }
    }
    return true;
}

bool ContainsNoCase(std::string_view text, std::string_view upperNeedle) {
    for (size_t i = 0; i + upperNeedle.size() <= text.size(); ++i) {
        if (StartsWithNoCase(text.substr(i), upperNeedle)) {
            return true;
        }
    }
    return false;
}

// The new terminator of a "SET TERM" line: after the first "M"/"m", the first character that is
// neither a space nor "M"/"m". The last character (the old terminator) is never examined; when
// nothing qualifies, the last character examined is taken.
char TerminatorOf(std::string_view line) {
    char result = line.empty() ? ';' : line.front();
    bool metM = false;
    for (size_t i = 0; i + 1 < line.size(); ++i) {
        const char c = line[i];
        result = c;
        const bool isM = c == 'M' || c == 'm';
        if (!metM) {
            metM = isM;
        } else if (c != ' ' && !isM) {
            break;
        }
    }
    return result;
}

// The statement text as the log shows it: each of its LF-separated lines followed by CR LF.
std::string LogText(const std::string& statement) {
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
                      const std::string& text) {
    try {
        statement.SetText(text);
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

    char terminator = ';';
    std::string pending;  // always trimmed: its pieces joined by single LF characters
    CDatabase& database = GlobDB()->GetDatabase();
    CSqlStatement statement(database);
    statement.SetParamCheck(false);  // ":NEW.ID" and the like must reach the server unchanged

    for (const std::string& line : lines) {
        const std::string_view trimmed = TrimControl(line);

        // Client commands of the interactive tool are never sent. "SET TERM" is one wherever
        // it stands; other "SET " lines only between statements, since inside a statement they
        // are its SET clauses (UPDATE, procedure bodies). "SET GENERATOR" and
        // "SET STATISTICS" are server statements.
        if (StartsWithNoCase(trimmed, "SET ") && !StartsWithNoCase(trimmed, "SET G") &&
            !StartsWithNoCase(trimmed, "SET STATISTICS")) {
            const bool setTerm = ContainsNoCase(trimmed, "SET TERM");
            if (setTerm || pending.empty()) {
                if (setTerm) {
                    terminator = TerminatorOf(trimmed);
                }
                StepBar(scriptBar);
                StepBar(overallBar);
                owner.PumpMessages();
                continue;
            }
        }

        // pending := TrimControl(pending + LF + line): as both are trimmed, a blank line adds
        // nothing and otherwise the line is appended after one LF.
        const bool onlyTerminator = trimmed.size() == 1 && trimmed.front() == terminator;
        if (!onlyTerminator && !trimmed.empty()) {
            if (!pending.empty()) {
                pending += '\n';
            }
            pending += trimmed;
        }

        if (!trimmed.empty() && trimmed.back() == terminator) {
            if (trimmed.size() >= 2) {
                pending.pop_back();  // the terminator the appended line ended with
            }
            ExecuteStatement(owner, statement, database.DefaultTransaction(), pending);
            pending.clear();
        }

        StepBar(scriptBar);
        if (overallBar) {
            StepBar(overallBar);
            UpdateTimeEstimate(overallBar, startTime, timeLabel);
        }
        owner.PumpMessages();
    }

    // A last statement without its terminator is not executed, but it must not vanish unseen.
    if (!pending.empty()) {
        AppendFailure(owner, LogText(pending), kNoTerminatorMessage);
    }
    return 0;
}

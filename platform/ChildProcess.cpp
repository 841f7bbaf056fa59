// The command-line half of the child processes: the same rules on every system.

#include "platform/ChildProcess.h"

#include <stdexcept>
#include <utility>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The program name as SplitCommandLine reads it back: quotes only group, so a name with blanks
// is quoted whole and cannot hold a quote itself.
std::string QuoteProgramName(const std::string& name) {
    const bool needsQuotes =
        name.empty() || name.front() == '"' || name.find_first_of(" \t") != std::string::npos;
    if (!needsQuotes) {
        return name;
    }
    if (name.find('"') != std::string::npos) {
        throw std::invalid_argument("A program name with blanks and quotes cannot be quoted: " +
                                    name);
    }
    return '"' + name + '"';
}

// An argument in quotes: a quote inside is escaped by a backslash, and backslashes before a
// quote (the closing one included) are doubled; other backslashes stay as they are.
std::string QuoteArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
        return argument;
    }
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + '"';
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
    std::vector<std::string> args;
    size_t pos = 0;
    while (pos < commandLine.size() && IsBlank(commandLine[pos])) {
        ++pos;
    }
    if (pos >= commandLine.size()) {
        return args;
    }

    // The program name follows simpler rules, as CreateProcess reads it: up to the closing quote
    // when it starts with one, else up to the first blank; backslashes are plain characters.
    std::string program;
    if (commandLine[pos] == '"') {
        const size_t close = commandLine.find('"', pos + 1);
        program = commandLine.substr(
            pos + 1, close == std::string::npos ? std::string::npos : close - pos - 1);
        pos = close == std::string::npos ? commandLine.size() : close + 1;
    }
    while (pos < commandLine.size() && !IsBlank(commandLine[pos])) {
        program += commandLine[pos++];
    }
    args.push_back(program);

    std::string current;
    bool inArgument = false;
    bool quoted = false;
    while (pos < commandLine.size()) {
        const char c = commandLine[pos];
        if (c == '\\') {
            size_t backslashes = 0;
            while (pos < commandLine.size() && commandLine[pos] == '\\') {
                ++backslashes;
                ++pos;
            }
            inArgument = true;
            if (pos < commandLine.size() && commandLine[pos] == '"') {
                // 2n backslashes + quote: n backslashes, the quote toggles quoting;
                // 2n+1 backslashes + quote: n backslashes and a literal quote.
                current.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    current += '"';
                    ++pos;
                }
            } else {
                current.append(backslashes, '\\');
            }
        } else if (c == '"') {
            quoted = !quoted;
            inArgument = true;
            ++pos;
        } else if (IsBlank(c) && !quoted) {
            if (inArgument) {
                args.push_back(std::move(current));
                current.clear();
                inArgument = false;
            }
            ++pos;
        } else {
            current += c;
            inArgument = true;
            ++pos;
        }
    }
    if (inArgument) {
        args.push_back(std::move(current));
    }
    return args;
}

std::string BuildCommandLine(const std::vector<std::string>& args) {
    std::string commandLine;
    for (size_t i = 0; i < args.size(); ++i) {
        if (i > 0) {
            commandLine += ' ';
        }
        commandLine += i == 0 ? QuoteProgramName(args[i]) : QuoteArgument(args[i]);
    }
    return commandLine;
}

#include "install/UpdateLog.h"

#include <exception>

#include "platform/FileSystem.h"

const char* const kLogSeparator = "------------------------- error ------------------------------";

void AppendLog(IOwner& owner, bool framed, const std::string& text) {
    const std::string path = owner.CurrentLogPath();
    if (path.empty()) {
        return;  // no script has run yet: there is no log to write to
    }

    std::string block;
    if (framed) {
        block.reserve(text.size() + 140);
        block += kLogSeparator;
        block += "\r\n";
        block += text;
        block += "\r\n";
        block += kLogSeparator;
        block += "\r\n\r\n";
    }
    try {
        // Opened for every append and closed at once, so the log is complete on disk after
        // every failure even if the updater is killed later.
        CFile file(path, CFile::Mode::Append);
        const std::string& bytes = framed ? block : text;
        file.WriteAll(bytes.data(), bytes.size());
        file.Close();
    } catch (const std::exception&) {
        // A log that cannot be written must never stop an installer.
    }
}

void AppendFailure(IOwner& owner, const std::string& item, const std::string& message) {
    AppendLog(owner, false, item);
    AppendLog(owner, true, message);
}

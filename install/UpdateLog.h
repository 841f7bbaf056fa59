#pragma once
// The update log: failures of single items, appended to the owner's current log path.

#include <string>

#include "install/Status.h"

// The line that frames an error message: 25 hyphens, " error ", 30 hyphens.
extern const char* const kLogSeparator;

// Appends `text` as it is, or framed by separator lines when `framed`. Opens, writes at the end
// and closes on every call; a log that cannot be written is ignored.
void AppendLog(IOwner& owner, bool framed, const std::string& text);

// The log entry of one failed item: `item` as it is (what failed: a statement, a file), then
// `message` framed by separator lines.
void AppendFailure(IOwner& owner, const std::string& item, const std::string& message);

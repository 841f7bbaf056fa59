#pragma once
// What a piece of work costs in memory: the growth of this process's peak resident size over it,
// against what the embedded engine alone costs for the same statement.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

class CDatabase;

// The growth of the peak resident size over `work` above the resident size before it, in bytes;
// nullopt where the peak cannot be reset, or under a sanitizer, whose allocator keeps freed memory
// for a while (then a test skips). Large buffers go back to the system
// when freed (as in the updater), so that the peak shows every copy rather than heap an earlier
// one left.
std::optional<double> PeakGrowth(const std::function<void()>& work);

// A statement of at least `size` bytes: `head` followed by comment lines of 100 bytes, each line
// ended by `lineEnd` except the last (a script's statement of megabytes, mostly its comments).
std::string CommentedStatement(const std::string& head, size_t size, const std::string& lineEnd);

// The floor: what the engine alone costs to execute `text` (lines ended by CR LF, as the server
// gets them) in a transaction of its own, the text being in memory already: PeakGrowth of one
// IAttachment::execute of it. The engine keeps copies of a statement's text while it prepares
// it, which no caller can avoid.
std::optional<double> EngineExecuteGrowth(CDatabase& database, const std::string& text);

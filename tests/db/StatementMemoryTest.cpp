// How much memory a statement of megabytes costs: the wrapper holds its text once, rewritten in
// place, and passes it to the engine without a copy of its own. Measured as the growth of the
// kernel's high-water mark of this process's resident size, not by time.

#include <malloc.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <utility>

#include "tests/db/ScratchDatabase.h"

namespace {

// "VmRSS" or "VmHWM" of this process in bytes; -1 when it cannot be read.
double MemoryBytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::stod(line.substr(field.size() + 1)) * 1024.0;  // the kernel prints kB
        }
    }
    return -1;
}

// Sets the high-water mark of the resident size to the present size (Linux 4.0 and later).
bool ResetPeakMemory() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

class StatementMemoryTest : public ScratchDatabaseTest {};

// A 9 MB statement (an insert followed by 96,000 comment lines, as a script's LF-joined lines):
// setting its text costs nothing beyond its buffer, which has room for the CR LF line ends; the
// execution adds what the engine keeps while it prepares (its parser's text and the statement's
// own, about twice the size), and nothing of the wrapper's: a copy of the wrapper's would pass
// the bound.
TEST_F(StatementMemoryTest, ANineMegabyteStatementIsHeldOnceAndPassedWithoutACopy) {
    // As the updater does: buffers of megabytes go back to the system when freed, so that the
    // peak shows each copy rather than heap that an earlier one left.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    constexpr size_t kSize = 9u * 1024 * 1024;
    const std::string line = "-- " + std::string(96, 'c');
    std::string text = "insert into t (id) values (7)";
    text.reserve(kSize + kSize / 50 + 64);  // a CR per line and a CR LF at the end
    while (text.size() < kSize) {
        text += '\n';
        text += line;
    }
    const double size = static_cast<double>(text.size());

    CSqlStatement statement(m_database);
    statement.SetParamCheck(false);  // as the statement runner has it
    if (!ResetPeakMemory()) {
        GTEST_SKIP() << "the peak resident size cannot be reset here";
    }
    const double before = MemoryBytes("VmRSS");
    statement.SetText(std::move(text));
    EXPECT_LT(MemoryBytes("VmHWM") - before, 1024.0 * 1024) << "the text was copied";
    ASSERT_GT(statement.Text().size(), static_cast<size_t>(size));  // CR LF line ends

    RunInOwnTransaction(Transaction(), [&] { statement.Execute(); });
    const double growth = MemoryBytes("VmHWM") - before;
    RecordProperty("growth_mb", std::to_string(growth / 1048576));
    EXPECT_LT(growth, 2.5 * size) << "grew by " << growth / 1048576 << " MB";
    EXPECT_EQ(QueryColumn(m_path, "select id from t"), (std::vector<std::string>{"7"}));
}

}  // namespace

#include "tests/support/MemoryGrowth.h"

#include "db/Client.h"
#include "db/Database.h"
#include "platform/ProcessMemory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

std::optional<double> PeakGrowth(const std::function<void()>& work) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return std::nullopt;  // the sanitizer's allocator keeps freed memory for a while
#endif
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);  // as the updater's entry sets it
#endif
    if (!ResetPeakResident()) {
        return std::nullopt;
    }
    const int64_t before = ResidentBytes();
    work();
    const int64_t peak = PeakResidentBytes();
    if (before < 0 || peak < 0) {
        return std::nullopt;
    }
    return static_cast<double>(peak - before);
}

std::string CommentedStatement(const std::string& head, size_t size, const std::string& lineEnd) {
    const std::string line = "-- " + std::string(97 - lineEnd.size(), 'c');
    std::string text = head;
    text.reserve(size + 2 * (line.size() + lineEnd.size()));
    while (text.size() < size) {
        text += lineEnd;
        text += line;
    }
    return text;
}

std::optional<double> EngineExecuteGrowth(CDatabase& database, const std::string& text) {
    return PeakGrowth([&] {
        CTransaction& transaction = database.DefaultTransaction();
        RunInOwnTransaction(transaction, [&] {
            Guard([&] {
                CStatus status;
                transaction.AdoptAfterExecute(database.Attachment().Handle()->execute(
                    &status, transaction.Handle(), static_cast<unsigned>(text.size()), text.c_str(),
                    kSqlDialect, nullptr, nullptr, nullptr, nullptr));
            });
        });
    });
}

// Storing documents through StoreDocumentFile against a minimal loop that writes the same files
// into the same rows through the Firebird interface directly: same segment size, one
// transaction per file. Prints both times, their ratio and the peak resident memory.
//
// Usage: bench_documents [file size in MB = 5] [file count = 10] [rounds = 6] | --help
// Run it once with 5 MB files and once with 50 MB files: the peak memory should not grow.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/Arguments.h"
#include "db/Client.h"
#include "db/Database.h"
#include "db/Statement.h"
#include "db/Uglobdb.h"
#include "install/Documents.h"
#include "install/Status.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace {

constexpr size_t kSegment = 65535;

class CBenchOwner : public IOwner {
  public:
    void AppendLine(const std::string&) override {}
    void MarkLastLine(const std::string&) override {}
    void PumpMessages() override {}
    std::string CurrentLogPath() const override { return {}; }
    void SetCurrentLogPath(const std::string&) override {}
    std::string ProgramDirectory() const override { return {}; }
};

// Writes `size` deterministic bytes in blocks, so the generator itself keeps memory flat.
void WriteDocument(const std::string& path, size_t size, uint32_t seed) {
    CFile file(path, CFile::Mode::WriteTruncate);
    std::vector<char> block(1 << 20);
    while (size > 0) {
        const size_t count = std::min(size, block.size());
        for (size_t i = 0; i < count; ++i) {
            seed = seed * 1664525u + 1013904223u;
            block[i] = static_cast<char>(seed >> 24);
        }
        file.WriteAll(block.data(), count);
        size -= count;
    }
    file.Close();
}

void RunDdl(CDatabase& database, const std::string& text) {
    CSqlStatement statement(database);
    statement.SetParamCheck(false);
    statement.SetText(text);
    RunInOwnTransaction(database.DefaultTransaction(), [&] { statement.Execute(); });
}

// The reference: the client library's interface with nothing around it.
class CDirectWriter {
  public:
    explicit CDirectWriter(Firebird::IAttachment* attachment)
        : m_status(FbMaster()->getStatus()), m_attachment(attachment) {}
    ~CDirectWriter() {
        if (m_statement != nullptr) {
            m_statement->free(&m_status);
        }
        if (m_metadata != nullptr) {
            m_metadata->release();
        }
        m_status.dispose();
    }

    void Store(int32_t id, const std::string& path) {
        Firebird::ITransaction* transaction = m_attachment->startTransaction(&m_status, 0, nullptr);
        if (m_statement == nullptr) {
            const char* sql = "update ARTICLE set note_u=? where id=?";
            m_statement = m_attachment->prepare(&m_status, transaction, 0, sql, 3, 0);
            m_metadata = m_statement->getInputMetadata(&m_status);
            m_message.resize(m_metadata->getMessageLength(&m_status));
        }
        ISC_QUAD blobId{};
        Firebird::IBlob* blob =
            m_attachment->createBlob(&m_status, transaction, &blobId, 0, nullptr);
        CFile file(path, CFile::Mode::Read);
        std::vector<char> buffer(kSegment);
        while (const size_t count = file.Read(buffer.data(), buffer.size())) {
            blob->putSegment(&m_status, static_cast<unsigned>(count), buffer.data());
        }
        blob->close(&m_status);

        std::fill(m_message.begin(), m_message.end(), 0);
        *reinterpret_cast<ISC_QUAD*>(&m_message[m_metadata->getOffset(&m_status, 0)]) = blobId;
        *reinterpret_cast<int32_t*>(&m_message[m_metadata->getOffset(&m_status, 1)]) = id;
        m_statement->execute(&m_status, transaction, m_metadata, m_message.data(), nullptr,
                             nullptr);
        transaction->commit(&m_status);
    }

  private:
    Firebird::ThrowStatusWrapper m_status;
    Firebird::IAttachment* m_attachment;
    Firebird::IStatement* m_statement = nullptr;
    Firebird::IMessageMetadata* m_metadata = nullptr;
    std::vector<unsigned char> m_message;
};

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int Run(size_t fileMegabytes, int fileCount, int rounds) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(TempPath()) / ("bench_documents_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string databasePath = (dir / "bench.fdb").string();

    {
        CDatabase database;
        database.Attachment().Create(databasePath, "SYSDBA", "masterkey");
        RunDdl(database,
               "create table ARTICLE (id integer primary key, "
               "name varchar(255) character set win1251, name_u varchar(255) character set "
               "win1251, ext varchar(10), ext_u varchar(10), note blob, note_u blob)");
        for (int id = 1; id <= fileCount; ++id) {
            RunDdl(database, "insert into ARTICLE (id) values (" + std::to_string(id) + ")");
        }
    }

    std::vector<std::string> files;
    for (int id = 1; id <= fileCount; ++id) {
        files.push_back((dir / (std::to_string(id) + ".u")).string());
        WriteDocument(files.back(), fileMegabytes << 20, static_cast<uint32_t>(id));
    }

    CGlobDB session(dir.string());
    session.Connect("", databasePath, "", "");
    SetGlobDB(&session);
    if (session.GetDatabase().DefaultTransaction().IsActive()) {
        session.GetDatabase().DefaultTransaction().Commit();
    }
    CBenchOwner owner;
    CDirectWriter direct(session.GetDatabase().Attachment().Handle());

    // The machine may be busy: run several rounds, swap which of the two goes first in every
    // round so that neither profits from a warmer cache, and compare each one's best round.
    const auto timeInstaller = [&] {
        const auto start = std::chrono::steady_clock::now();
        for (const std::string& path : files) {
            StoreDocumentFile(session.GetDatabase(), owner, path);
        }
        return Seconds(start);
    };
    const auto timeDirect = [&] {
        const auto start = std::chrono::steady_clock::now();
        for (int id = 1; id <= fileCount; ++id) {
            direct.Store(id, files[static_cast<size_t>(id - 1)]);
        }
        return Seconds(start);
    };
    double bestInstaller = 1e9;
    double bestDirect = 1e9;
    for (int round = 0; round < rounds; ++round) {
        if (round % 2 == 0) {
            bestInstaller = std::min(bestInstaller, timeInstaller());
            bestDirect = std::min(bestDirect, timeDirect());
        } else {
            bestDirect = std::min(bestDirect, timeDirect());
            bestInstaller = std::min(bestInstaller, timeInstaller());
        }
    }
    SetGlobDB(nullptr);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double megabytes = static_cast<double>(fileMegabytes) * fileCount;
    std::printf("documents: %d x %zu MB = %.0f MB, best of %d rounds\n", fileCount, fileMegabytes,
                megabytes, rounds);
    std::printf("StoreDocumentFile: %.3f s (%.1f MB/s)\n", bestInstaller,
                megabytes / bestInstaller);
    std::printf("direct interface:  %.3f s (%.1f MB/s)\n", bestDirect, megabytes / bestDirect);
    std::printf("ratio: %.3f (aim <= 1.10)\n", bestInstaller / bestDirect);
    std::printf("peak resident memory: %ld KB\n", usage.ru_maxrss);

    fs::remove_all(dir);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<int> arguments = PositiveArguments(
        argc, argv, {5, 10, 6},
        "usage: bench_documents [MB (default 5)] [FILES (default 10)] [ROUNDS (default 6)]\n"
        "Stores FILES documents of MB megabytes with the document installer and with a direct\n"
        "Firebird loop; prints both times of ROUNDS rounds and the peak resident memory.\n");
    const auto fileMegabytes = static_cast<size_t>(arguments[0]);
    const int fileCount = arguments[1];
    const int rounds = arguments[2];
    try {
        return Run(fileMegabytes, fileCount, rounds);
    } catch (const Firebird::FbException& error) {
        std::fprintf(stderr, "bench_documents: %s\n", ToDbError(error.getStatus()).what());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_documents: %s\n", error.what());
    }
    return 1;
}

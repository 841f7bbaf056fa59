// bench_minimal_loader: the least work that stores a package's document and blob value files
// into their rows, straight through Firebird's C++ interface: one prepared UPDATE per kind,
// blobs written in 65,535-byte segments, one transaction per file. The benchmark compares the
// updater's document and blob phases with it.
//
//   bench_minimal_loader DATABASE PACKAGE_DIR
//
// Prints "documents <seconds>" and "blobs <seconds>".

#include <firebird/Interface.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace Firebird;

namespace {

IMaster* const g_master = fb_get_master_interface();

std::string ErrorText(const FbException& error) {
    char text[2048];
    g_master->getUtilInterface()->formatStatus(text, sizeof(text), error.getStatus());
    return text;
}

// Writes the file into a new blob of `transaction` and returns its id.
ISC_QUAD WriteBlob(ThrowStatusWrapper& status, IAttachment* attachment, ITransaction* transaction,
                   const fs::path& path) {
    ISC_QUAD id{};
    IBlob* blob = attachment->createBlob(&status, transaction, &id, 0, nullptr);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot open " + path.string());
    }
    std::vector<char> segment(65535);
    while (in) {
        in.read(segment.data(), static_cast<std::streamsize>(segment.size()));
        const auto n = static_cast<unsigned>(in.gcount());
        if (n > 0) {
            blob->putSegment(&status, n, segment.data());
        }
    }
    blob->close(&status);  // releases the interface on success
    return id;
}

// One statement with a blob parameter first and, optionally, an integer parameter second.
class CUpdate {
  public:
    CUpdate(ThrowStatusWrapper& status, IAttachment* attachment, ITransaction* transaction,
            const std::string& sql)
        : m_status(status) {
        m_statement = attachment->prepare(&status, transaction, 0, sql.c_str(), 3, 0);
        m_metadata = m_statement->getInputMetadata(&status);
        m_buffer.assign(m_metadata->getMessageLength(&status), 0);
    }
    ~CUpdate() {
        m_metadata->release();
        m_statement->free(&m_status);
    }
    void Execute(ITransaction* transaction, const ISC_QUAD& blob, int32_t key) {
        std::fill(m_buffer.begin(), m_buffer.end(), 0);
        std::memcpy(&m_buffer[m_metadata->getOffset(&m_status, 0)], &blob, sizeof(blob));
        if (m_metadata->getCount(&m_status) > 1) {
            std::memcpy(&m_buffer[m_metadata->getOffset(&m_status, 1)], &key, sizeof(key));
        }
        m_statement->execute(&m_status, transaction, m_metadata, m_buffer.data(), nullptr, nullptr);
    }

  private:
    ThrowStatusWrapper& m_status;
    IStatement* m_statement = nullptr;
    IMessageMetadata* m_metadata = nullptr;
    std::vector<unsigned char> m_buffer;
};

// "INFO_DOC.NOTE.ID 10.blo" -> "update INFO_DOC set NOTE = ? where ID=10".
std::string BlobFileStatement(const std::string& name) {
    const std::string stem = name.substr(0, name.size() - 4);
    const size_t firstDot = stem.find('.');
    const size_t secondDot = stem.find('.', firstDot + 1);
    std::string key = stem.substr(secondDot + 1);
    std::replace(key.begin(), key.end(), ' ', '=');
    return "update " + stem.substr(0, firstDot) + " set " +
           stem.substr(firstDot + 1, secondDot - firstDot - 1) + " = ? where " + key;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: bench_minimal_loader DATABASE PACKAGE_DIR\n";
        return 2;
    }
    std::vector<fs::path> plain, variant, blobs;
    for (const auto& entry : fs::directory_iterator(argv[2])) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".r") {
            plain.push_back(entry.path());
        } else if (ext == ".u") {
            variant.push_back(entry.path());
        } else if (ext == ".blo") {
            blobs.push_back(entry.path());
        }
    }
    std::sort(plain.begin(), plain.end());
    std::sort(variant.begin(), variant.end());
    std::sort(blobs.begin(), blobs.end());

    ThrowStatusWrapper status(g_master->getStatus());
    IAttachment* attachment = nullptr;
    try {
        IXpbBuilder* dpb =
            g_master->getUtilInterface()->getXpbBuilder(&status, IXpbBuilder::DPB, nullptr, 0);
        dpb->insertString(&status, isc_dpb_user_name, "SYSDBA");
        dpb->insertString(&status, isc_dpb_password, "pinewheat");
        attachment = g_master->getDispatcher()->attachDatabase(
            &status, argv[1], dpb->getBufferLength(&status), dpb->getBuffer(&status));
        dpb->dispose();

        ITransaction* transaction = attachment->startTransaction(&status, 0, nullptr);
        {
            CUpdate note(status, attachment, transaction,
                         "update ARTICLE set note = ? where id = ?");
            CUpdate noteU(status, attachment, transaction,
                          "update ARTICLE set note_u = ? where id = ?");
            transaction->commit(&status);

            const auto documentsStart = std::chrono::steady_clock::now();
            for (const auto* files : {&plain, &variant}) {
                for (const fs::path& path : *files) {
                    transaction = attachment->startTransaction(&status, 0, nullptr);
                    const ISC_QUAD blob = WriteBlob(status, attachment, transaction, path);
                    (files == &plain ? note : noteU)
                        .Execute(transaction, blob, std::stoi(path.stem().string()));
                    transaction->commit(&status);
                }
            }
            std::cout << "documents " << Seconds(documentsStart) << "\n";
        }

        const auto blobsStart = std::chrono::steady_clock::now();
        for (const fs::path& path : blobs) {
            transaction = attachment->startTransaction(&status, 0, nullptr);
            CUpdate update(status, attachment, transaction,
                           BlobFileStatement(path.filename().string()));
            const ISC_QUAD blob = WriteBlob(status, attachment, transaction, path);
            update.Execute(transaction, blob, 0);
            transaction->commit(&status);
        }
        std::cout << "blobs " << Seconds(blobsStart) << "\n";
        attachment->detach(&status);
    } catch (const FbException& error) {
        std::cerr << "bench_minimal_loader: " << ErrorText(error) << "\n";
        return 1;
    } catch (const std::exception& error) {
        std::cerr << "bench_minimal_loader: " << error.what() << "\n";
        return 1;
    }
    return 0;
}

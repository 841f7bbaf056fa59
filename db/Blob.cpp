#include "db/Blob.h"

#include <vector>

#include "db/Attachment.h"
#include "db/Client.h"
#include "db/Transaction.h"
#include "platform/FileSystem.h"

using namespace Firebird;

namespace {

// IBlob::putSegment refuses segments of 64 KiB and more.
constexpr size_t kMaxSegment = 65535;
// Segments between two progress calls: 16 make about one megabyte.
constexpr int kSegmentsPerProgress = 16;

// Owner of an open blob: cancelled unless closed, so a blob left half-written never reaches the
// database. close() and cancel() release the interface when they succeed.
class CBlob {
  public:
    explicit CBlob(IBlob* handle) : m_handle(handle) {}
    ~CBlob() {
        try {
            if (m_handle) {
                EndInterface(m_handle,
                             [](IBlob* handle, CStatus& status) { handle->cancel(&status); });
            }
        } catch (const CDbError&) {
        }
    }
    CBlob(const CBlob&) = delete;
    CBlob& operator=(const CBlob&) = delete;

    IBlob* operator->() const { return m_handle; }
    void Close(CStatus& status) {
        m_handle->close(&status);
        m_handle = nullptr;
    }

  private:
    IBlob* m_handle;
};

}  // namespace

ISC_QUAD WriteBlobFromFile(CTransaction& transaction, const std::string& path,
                           const std::function<void()>& onProgress) {
    CFile file(path, CFile::Mode::Read);
    ISC_QUAD id{};
    Guard([&] {
        CStatus status;
        CBlob blob(transaction.Attachment().Handle()->createBlob(&status, transaction.Handle(), &id,
                                                                 0, nullptr));
        std::vector<char> buffer(kMaxSegment);
        int segments = 0;
        while (const size_t count = file.Read(buffer.data(), buffer.size())) {
            blob->putSegment(&status, static_cast<unsigned>(count), buffer.data());
            if (++segments == kSegmentsPerProgress) {
                segments = 0;
                if (onProgress) {
                    onProgress();
                }
            }
        }
        blob.Close(status);
    });
    return id;
}

std::string ReadBlob(CTransaction& transaction, ISC_QUAD id) {
    return Guard([&] {
        CStatus status;
        CBlob blob(transaction.Attachment().Handle()->openBlob(&status, transaction.Handle(), &id,
                                                               0, nullptr));
        std::string bytes;
        std::vector<char> buffer(kMaxSegment);
        for (;;) {
            unsigned length = 0;
            const int result = blob->getSegment(&status, static_cast<unsigned>(buffer.size()),
                                                buffer.data(), &length);
            if (result != IStatus::RESULT_OK && result != IStatus::RESULT_SEGMENT) {
                break;
            }
            bytes.append(buffer.data(), length);
        }
        blob.Close(status);
        return bytes;
    });
}

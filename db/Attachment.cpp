#include "db/Attachment.h"

#include <string>
#include <utility>

#include "db/Client.h"

using namespace Firebird;

namespace {

enum class OpenMode { Attach, Create };

IAttachment* OpenDatabase(OpenMode mode, const std::string& connectionString,
                          const std::string& userName, const std::string& password, int pageSize,
                          const CClientIdentity& identity, int pageBuffers,
                          int connectTimeoutSeconds) {
    return Guard([&] {
        CStatus status;
        CXpb dpb(status, IXpbBuilder::DPB);
        dpb->insertString(&status, isc_dpb_user_name, userName.c_str());
        dpb->insertString(&status, isc_dpb_password, password.c_str());
        if (!identity.processName.empty()) {
            dpb->insertString(&status, isc_dpb_process_name, identity.processName.c_str());
            dpb->insertInt(&status, isc_dpb_process_id, identity.processId);
        }
        if (pageBuffers > 0) {
            // The embedded engine of Firebird 3.0.11 ignores isc_dpb_num_buffers (measured: the
            // cache stays at 2,048 pages), but takes the per-database setting from the
            // attachment's own configuration text when it opens the database.
            const std::string config = "DefaultDbCachePages = " + std::to_string(pageBuffers);
            dpb->insertString(&status, isc_dpb_config, config.c_str());
        }
        if (connectTimeoutSeconds > 0) {
            dpb->insertInt(&status, isc_dpb_connect_timeout, connectTimeoutSeconds);
        }
        if (mode == OpenMode::Create) {
            dpb->insertInt(&status, isc_dpb_page_size, pageSize);
            // Without it the engine would create a dialect 1 database.
            dpb->insertInt(&status, isc_dpb_sql_dialect, static_cast<int>(kSqlDialect));
        }
#ifdef _WIN32
        // Our paths are UTF-8. Without this tag the client on Windows reads the connection string
        // in the ANSI code page, and a Cyrillic path names another file. (On Linux the client
        // converts between UTF-8 and the process's locale, the C locale here, with or without it.)
        dpb->insertTag(&status, isc_dpb_utf8_filename);
#endif
        // The dispatcher routes a connection string to the remote or the embedded provider.
        CRef<IProvider> provider(FbMaster()->getDispatcher());
        const unsigned length = dpb->getBufferLength(&status);
        const unsigned char* buffer = dpb->getBuffer(&status);
        return mode == OpenMode::Create
                   ? provider->createDatabase(&status, connectionString.c_str(), length, buffer)
                   : provider->attachDatabase(&status, connectionString.c_str(), length, buffer);
    });
}

}  // namespace

CAttachment::~CAttachment() {
    try {
        Detach();
    } catch (const CDbError&) {
    }
}

CAttachment::CAttachment(CAttachment&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)) {}

CAttachment& CAttachment::operator=(CAttachment&& other) noexcept {
    if (this != &other) {
        try {
            Detach();
        } catch (const CDbError&) {
        }
        m_handle = std::exchange(other.m_handle, nullptr);
    }
    return *this;
}

void CAttachment::Attach(const std::string& connectionString, const std::string& userName,
                         const std::string& password, const CClientIdentity& identity,
                         int pageBuffers, int connectTimeoutSeconds) {
    Detach();
    m_handle = OpenDatabase(OpenMode::Attach, connectionString, userName, password, 0, identity,
                            pageBuffers, connectTimeoutSeconds);
}

void CAttachment::Create(const std::string& connectionString, const std::string& userName,
                         const std::string& password, int pageSize) {
    Detach();
    m_handle =
        OpenDatabase(OpenMode::Create, connectionString, userName, password, pageSize, {}, 0, 0);
}

void CAttachment::CancelCall(bool abort) {
    if (m_handle == nullptr) {
        return;
    }
    try {
        CStatus status;
        m_handle->cancelOperation(&status, abort ? fb_cancel_abort : fb_cancel_raise);
    } catch (const FbException&) {
        // Nothing in progress to cancel, or the connection is gone already.
    }
}

void CAttachment::Detach() {
    if (m_handle) {
        EndInterface(std::exchange(m_handle, nullptr),
                     [](IAttachment* handle, CStatus& status) { handle->detach(&status); });
    }
}

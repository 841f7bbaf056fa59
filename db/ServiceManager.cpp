#include "db/ServiceManager.h"

#include <functional>
#include <utility>

#include "db/Client.h"

using namespace Firebird;

namespace {

// The services manager of the embedded engine, or of the server when one is named.
std::string ServiceName(const std::string& serverName) {
    return serverName.empty() ? "service_mgr" : serverName + ":service_mgr";
}

// Starts the service whose parameter block `build` fills, then reads its output to the end: an
// error of the service comes out of the query.
void RunService(IService* service, const std::function<void(IXpbBuilder*, CStatus&)>& build) {
    if (service == nullptr) {
        throw CDbError("the services manager is not attached");
    }
    Guard([&] {
        CStatus status;
        {
            CXpb spb(status, IXpbBuilder::SPB_START);
            build(spb.operator->(), status);
            service->start(&status, spb->getBufferLength(&status), spb->getBuffer(&status));
        }
        // Without isc_spb_verbose the service says nothing while it works: the query answers an
        // empty line once it has finished, and the service's error, if any, with it.
        const unsigned char receive[] = {isc_info_svc_line};
        unsigned char buffer[1024];
        for (;;) {
            service->query(&status, 0, nullptr, sizeof receive, receive, sizeof buffer, buffer);
            if (buffer[0] != isc_info_svc_line) {
                return;
            }
            const unsigned length =
                static_cast<unsigned>(buffer[1]) | static_cast<unsigned>(buffer[2]) << 8;
            if (length == 0) {
                return;
            }
        }
    });
}

}  // namespace

CServiceManager::~CServiceManager() {
    try {
        Detach();
    } catch (const CDbError&) {
    }
}

CServiceManager::CServiceManager(CServiceManager&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)) {}

CServiceManager& CServiceManager::operator=(CServiceManager&& other) noexcept {
    if (this != &other) {
        try {
            Detach();
        } catch (const CDbError&) {
        }
        m_handle = std::exchange(other.m_handle, nullptr);
    }
    return *this;
}

void CServiceManager::Attach(const std::string& serverName, const std::string& userName,
                             const std::string& password, int connectTimeoutSeconds) {
    Detach();
    m_handle = Guard([&] {
        CStatus status;
        CXpb spb(status, IXpbBuilder::SPB_ATTACH);
        spb->insertString(&status, isc_spb_user_name, userName.c_str());
        spb->insertString(&status, isc_spb_password, password.c_str());
        if (connectTimeoutSeconds > 0) {
            spb->insertInt(&status, isc_spb_connect_timeout, connectTimeoutSeconds);
        }
#ifdef _WIN32
        // Our paths are UTF-8, as for an attachment (see Attachment.cpp).
        spb->insertTag(&status, isc_spb_utf8_filename);
#endif
        CRef<IProvider> provider(FbMaster()->getDispatcher());
        return provider->attachServiceManager(&status, ServiceName(serverName).c_str(),
                                              spb->getBufferLength(&status),
                                              spb->getBuffer(&status));
    });
}

void CServiceManager::Detach() {
    if (m_handle) {
        EndInterface(std::exchange(m_handle, nullptr),
                     [](IService* handle, CStatus& status) { handle->detach(&status); });
    }
}

void CServiceManager::Backup(const std::string& databasePath, const std::string& backupPath) {
    RunService(m_handle, [&](IXpbBuilder* spb, CStatus& status) {
        spb->insertTag(&status, isc_action_svc_backup);
        spb->insertString(&status, isc_spb_dbname, databasePath.c_str());
        spb->insertString(&status, isc_spb_bkp_file, backupPath.c_str());
    });
}

void CServiceManager::Restore(const std::string& backupPath, const std::string& databasePath,
                              bool replace) {
    RunService(m_handle, [&](IXpbBuilder* spb, CStatus& status) {
        spb->insertTag(&status, isc_action_svc_restore);
        spb->insertString(&status, isc_spb_bkp_file, backupPath.c_str());
        spb->insertString(&status, isc_spb_dbname, databasePath.c_str());
        spb->insertInt(&status, isc_spb_options,
                       replace ? isc_spb_res_replace : isc_spb_res_create);
    });
}

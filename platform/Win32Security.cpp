#include "platform/Win32Security.h"

#include <windows.h>

#include <aclapi.h>

#include <memory>
#include <vector>

#include "platform/SystemError.h"
#include "platform/Win32Handle.h"

namespace {

// One class of information about this process's access token, in a buffer of its own (the
// SIDs it holds point into it).
std::vector<BYTE> TokenInformation(TOKEN_INFORMATION_CLASS kind) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        ThrowLastError("Cannot read the access token of this process");
    }
    const CWin32Handle owner(token);
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !GetTokenInformation(token, kind, buffer.data(), size, &size)) {
        ThrowLastError("Cannot read the access token of this process");
    }
    return buffer;
}

PSID UserSid(std::vector<BYTE>& tokenUser) {
    return reinterpret_cast<TOKEN_USER*>(tokenUser.data())->User.Sid;
}

}  // namespace

bool IsOwnedByCurrentUser(void* handle) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                        nullptr, nullptr, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) {
        throw CSystemError(static_cast<int>(error), "Cannot read the owner of a file: " +
                                                        SystemMessage(static_cast<int>(error)));
    }
    const std::unique_ptr<void, decltype(&LocalFree)> freed(descriptor, &LocalFree);
    std::vector<BYTE> user = TokenInformation(TokenUser);
    std::vector<BYTE> defaultOwner = TokenInformation(TokenOwner);
    return owner != nullptr &&
           (EqualSid(owner, UserSid(user)) ||
            EqualSid(owner, reinterpret_cast<TOKEN_OWNER*>(defaultOwner.data())->Owner));
}

struct CPrivateAccess::Impl {
    std::vector<BYTE> user;
    PACL acl = nullptr;  // from SetEntriesInAclW, freed with LocalFree
    SECURITY_DESCRIPTOR descriptor{};
    SECURITY_ATTRIBUTES attributes{};
    ~Impl() {
        if (acl != nullptr) {
            LocalFree(acl);
        }
    }
};

CPrivateAccess::CPrivateAccess() : m_impl(std::make_unique<Impl>()) {
    m_impl->user = TokenInformation(TokenUser);
    EXPLICIT_ACCESS_W access{};
    access.grfAccessPermissions = FILE_ALL_ACCESS;
    access.grfAccessMode = SET_ACCESS;
    access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_USER;
    access.Trustee.ptstrName = static_cast<LPWSTR>(UserSid(m_impl->user));
    const DWORD error = SetEntriesInAclW(1, &access, nullptr, &m_impl->acl);
    if (error != ERROR_SUCCESS) {
        throw CSystemError(static_cast<int>(error), "Cannot build an access list: " +
                                                        SystemMessage(static_cast<int>(error)));
    }
    // Protected: the entries of the directory above (Users may read %TEMP% on some systems)
    // are not inherited. Owned by the user even when the process runs elevated, whose new files
    // would belong to the Administrators group: a later run of the same user without elevation
    // would take them for another user's and refuse them.
    if (!InitializeSecurityDescriptor(&m_impl->descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorOwner(&m_impl->descriptor, UserSid(m_impl->user), FALSE) ||
        !SetSecurityDescriptorDacl(&m_impl->descriptor, TRUE, m_impl->acl, FALSE) ||
        !SetSecurityDescriptorControl(&m_impl->descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
        ThrowLastError("Cannot build a security descriptor");
    }
    m_impl->attributes.nLength = sizeof m_impl->attributes;
    m_impl->attributes.lpSecurityDescriptor = &m_impl->descriptor;
    m_impl->attributes.bInheritHandle = FALSE;
}

CPrivateAccess::~CPrivateAccess() = default;

void* CPrivateAccess::Acl() const {
    return m_impl->acl;
}

void* CPrivateAccess::SecurityAttributes() const {
    return &m_impl->attributes;
}

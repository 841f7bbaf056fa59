#pragma once
// Ownership and access lists of files and directories on Windows: whether an entry belongs to
// the current user, and an access list that lets the current user alone in. For the Win32
// sources only; windows.h stays out of this header.

#include <memory>

// True when the owner of the open file or directory `handle` is the current user, or the
// owner that this process gives its new files (an elevated administrator's files belong to the
// Administrators group). Throws CSystemError when the owner cannot be read.
bool IsOwnedByCurrentUser(void* handle);

// An access list that grants the current user full access and nobody else anything, inherited
// by everything created below a directory that carries it; nothing is inherited from above.
class CPrivateAccess {
  public:
    CPrivateAccess();  // throws CSystemError
    ~CPrivateAccess();
    CPrivateAccess(const CPrivateAccess&) = delete;
    CPrivateAccess& operator=(const CPrivateAccess&) = delete;

    void* Acl() const;                 // PACL, for SetNamedSecurityInfoW
    void* SecurityAttributes() const;  // SECURITY_ATTRIBUTES*, for CreateDirectoryW/CreateFileW

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

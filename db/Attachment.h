#pragma once
// The attachment to one database.

#include <string>

namespace Firebird {
class IAttachment;
}

// Move-only; the destructor detaches and swallows errors. Errors are CDbError.
class CAttachment {
  public:
    CAttachment() = default;
    ~CAttachment();
    CAttachment(CAttachment&& other) noexcept;
    CAttachment& operator=(CAttachment&& other) noexcept;
    CAttachment(const CAttachment&) = delete;
    CAttachment& operator=(const CAttachment&) = delete;

    // Attaches with exactly the entries user name and password, in that order.
    void Attach(const std::string& connectionString, const std::string& userName,
                const std::string& password);
    // Creates a new database (tests and tools); the attachment stays open.
    void Create(const std::string& connectionString, const std::string& userName,
                const std::string& password, int pageSize = 8192);
    void Detach();  // no-op when closed
    bool IsOpen() const { return m_handle != nullptr; }
    Firebird::IAttachment* Handle() const { return m_handle; }

  private:
    Firebird::IAttachment* m_handle = nullptr;
};

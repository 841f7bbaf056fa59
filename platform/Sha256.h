#pragma once
// Incremental SHA-256 (libcrypto underneath).

#include <cstddef>
#include <memory>
#include <string>

class CSha256 {
  public:
    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    void Update(const void* data, size_t size);
    // Lower-case hex digest; the object cannot be updated afterwards.
    std::string FinishHex();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

std::string Sha256Hex(const std::string& bytes);
// Digest of a file, streamed; throws CSystemError when it cannot be read.
std::string Sha256OfFile(const std::string& path);

#pragma once
// Incremental SHA-256 (libcrypto on Linux, the CNG provider bcrypt on Windows).

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
    // The digest as 32 raw bytes, or as lower-case hex; either ends the object's use.
    std::string FinishRaw();
    std::string FinishHex();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

std::string Sha256Hex(const std::string& bytes);

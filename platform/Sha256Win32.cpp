// SHA-256 through Windows' own CNG provider (bcrypt), which every supported Windows has.

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <vector>

#include "platform/Sha256.h"

namespace {

constexpr ULONG kDigestSize = 32;

[[noreturn]] void ThrowStatus(const char* step, NTSTATUS status) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
    throw std::runtime_error(std::string("SHA-256: ") + step + " failed (status " + code + ")");
}

void Check(const char* step, NTSTATUS status) {
    if (!BCRYPT_SUCCESS(status)) {
        ThrowStatus(step, status);
    }
}

}  // namespace

struct CSha256::Impl {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::vector<UCHAR> hashObject;  // the hash state lives in memory we own
    bool finished = false;
    ~Impl() {
        if (hash != nullptr) {
            BCryptDestroyHash(hash);
        }
        if (algorithm != nullptr) {
            BCryptCloseAlgorithmProvider(algorithm, 0);
        }
    }
};

CSha256::CSha256() : m_impl(std::make_unique<Impl>()) {
    Check("opening the provider",
          BCryptOpenAlgorithmProvider(&m_impl->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0));
    DWORD objectSize = 0;
    ULONG written = 0;
    Check("querying the object size",
          BCryptGetProperty(m_impl->algorithm, BCRYPT_OBJECT_LENGTH,
                            reinterpret_cast<PUCHAR>(&objectSize), sizeof objectSize, &written, 0));
    m_impl->hashObject.resize(objectSize);
    Check("creating the hash",
          BCryptCreateHash(m_impl->algorithm, &m_impl->hash, m_impl->hashObject.data(), objectSize,
                           nullptr, 0, 0));
}

CSha256::~CSha256() = default;

void CSha256::Update(const void* data, size_t size) {
    if (m_impl->finished) {
        throw std::logic_error("SHA-256 updated after it was finished");
    }
    // BCryptHashData takes at most 4 GiB - 1 per call.
    auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));
    while (size > 0) {
        const ULONG chunk =
            static_cast<ULONG>(std::min<size_t>(size, std::numeric_limits<ULONG>::max()));
        Check("hashing", BCryptHashData(m_impl->hash, bytes, chunk, 0));
        bytes += chunk;
        size -= chunk;
    }
}

std::string CSha256::FinishRaw() {
    if (m_impl->finished) {
        throw std::logic_error("SHA-256 finished twice");
    }
    std::string digest(kDigestSize, '\0');
    Check("finishing",
          BCryptFinishHash(m_impl->hash, reinterpret_cast<PUCHAR>(digest.data()), kDigestSize, 0));
    m_impl->finished = true;
    return digest;
}

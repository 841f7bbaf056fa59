// SHA-256 through libcrypto.

#include "platform/Sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

struct CSha256::Impl {
    EVP_MD_CTX* context = nullptr;
    bool finished = false;
    ~Impl() { EVP_MD_CTX_free(context); }
};

CSha256::CSha256() : m_impl(std::make_unique<Impl>()) {
    m_impl->context = EVP_MD_CTX_new();
    if (m_impl->context == nullptr ||
        EVP_DigestInit_ex(m_impl->context, EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("Cannot initialise SHA-256");
    }
}

CSha256::~CSha256() = default;

void CSha256::Update(const void* data, size_t size) {
    if (m_impl->finished) {
        throw std::logic_error("SHA-256 updated after it was finished");
    }
    if (size > 0 && EVP_DigestUpdate(m_impl->context, data, size) != 1) {
        throw std::runtime_error("SHA-256 update failed");
    }
}

std::string CSha256::FinishRaw() {
    if (m_impl->finished) {
        throw std::logic_error("SHA-256 finished twice");
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_impl->context, digest, &length) != 1) {
        throw std::runtime_error("SHA-256 final step failed");
    }
    m_impl->finished = true;
    return std::string(reinterpret_cast<const char*>(digest), length);
}

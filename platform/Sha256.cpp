// The parts of SHA-256 that only build on the digest of each system's half.

#include "platform/Sha256.h"

#include "platform/Text.h"

std::string CSha256::FinishHex() {
    return HexEncode(FinishRaw());
}

std::string Sha256Hex(const std::string& bytes) {
    CSha256 sha;
    sha.Update(bytes.data(), bytes.size());
    return sha.FinishHex();
}

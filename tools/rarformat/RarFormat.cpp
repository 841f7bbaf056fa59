#include "tools/rarformat/RarFormat.h"

#include <array>

namespace {

std::array<uint32_t, 256> MakeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        table[n] = c;
    }
    return table;
}

}  // namespace

void CCrc32::Update(const void* data, size_t size) {
    static const std::array<uint32_t, 256> table = MakeCrcTable();
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) {
        m_state = table[(m_state ^ bytes[i]) & 0xFF] ^ (m_state >> 8);
    }
}

uint16_t RarHeaderCrc(const uint8_t* header, size_t size) {
    CCrc32 crc;
    crc.Update(header + 2, size - 2);
    return static_cast<uint16_t>(crc.Value() & 0xFFFF);
}

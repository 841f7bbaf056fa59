#pragma once
// Little-endian numbers in byte buffers, the order of every binary layout the updater and its
// tools read and write: the embedded item index, RAR 4 headers, ELF headers of our platforms.

#include <cstddef>
#include <cstdint>

// The unsigned number in the `size` bytes (at most 8) at `data`, lowest byte first.
inline uint64_t GetLittleEndian(const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    uint64_t value = 0;
    for (size_t i = size; i > 0; --i) {
        value = value << 8 | bytes[i - 1];
    }
    return value;
}

inline uint16_t GetLe16(const void* data) {
    return static_cast<uint16_t>(GetLittleEndian(data, 2));
}

inline uint32_t GetLe32(const void* data) {
    return static_cast<uint32_t>(GetLittleEndian(data, 4));
}

// Writes the lowest `size` bytes of `value` to `data`, lowest first.
inline void SetLittleEndian(void* data, uint64_t value, size_t size) {
    auto* bytes = static_cast<unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

// Appends the lowest `size` bytes of `value`, lowest first, to a std::string or a byte vector.
template <class Bytes>
void PutLittleEndian(Bytes& out, uint64_t value, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        out.push_back(static_cast<typename Bytes::value_type>((value >> (8 * i)) & 0xFF));
    }
}

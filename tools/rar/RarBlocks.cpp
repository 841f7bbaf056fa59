#include "tools/rar/RarBlocks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tools/rar/XadArchive.h"

namespace {

constexpr uint8_t kSignature[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
constexpr size_t kBaseHeaderSize = 7;  // HEAD_CRC, HEAD_TYPE, HEAD_FLAGS, HEAD_SIZE
constexpr uint8_t kFileHead = 0x74;
constexpr uint8_t kServiceHead = 0x7A;
constexpr uint8_t kEndArcHead = 0x7B;
constexpr uint16_t kLongBlock = 0x8000;  // a 32-bit data size follows the base header
constexpr uint16_t kLargeFile = 0x100;   // file header carries HIGH_PACK_SIZE

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// Standard CRC-32 (as in zip and RAR), bitwise: only headers are hashed here.
uint32_t Crc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) {
            crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
        }
    }
    return crc ^ 0xFFFFFFFFu;
}

class CReader {
  public:
    explicit CReader(const std::string& path) : m_path(path) {
        m_fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        if (m_fd < 0 || fstat(m_fd, &info) != 0) {
            const std::string text = std::strerror(errno);
            throw CArchiveError("Cannot open " + path + ": " + text);
        }
        m_size = static_cast<uint64_t>(info.st_size);
    }
    ~CReader() { close(m_fd); }
    CReader(const CReader&) = delete;
    CReader& operator=(const CReader&) = delete;

    uint64_t Size() const { return m_size; }
    void Read(uint64_t offset, uint8_t* buffer, size_t size) const {
        size_t done = 0;
        while (done < size) {
            const ssize_t got =
                pread(m_fd, buffer + done, size - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                throw CArchiveError("Cannot read " + m_path);
            }
            done += static_cast<size_t>(got);
        }
    }

  private:
    std::string m_path;
    int m_fd = -1;
    uint64_t m_size = 0;
};

}  // namespace

void CheckRar4Blocks(const std::string& archivePath) {
    const CReader reader(archivePath);
    uint8_t signature[sizeof kSignature];
    if (reader.Size() < sizeof kSignature) {
        throw CArchiveError("The archive is truncated (no RAR signature)");
    }
    reader.Read(0, signature, sizeof signature);
    if (std::memcmp(signature, kSignature, sizeof kSignature) != 0) {
        return;
    }

    uint64_t position = sizeof kSignature;
    std::vector<uint8_t> header;
    while (position != reader.Size()) {
        const std::string where = " at offset " + std::to_string(position);
        if (reader.Size() - position < kBaseHeaderSize) {
            throw CArchiveError("The archive is truncated: block header cut short" + where);
        }
        uint8_t base[kBaseHeaderSize];
        reader.Read(position, base, sizeof base);
        const uint8_t type = base[2];
        const uint16_t flags = Le16(base + 3);
        const uint16_t headerSize = Le16(base + 5);
        if (type == kEndArcHead) {
            return;  // whatever follows the end block is not part of the archive
        }
        if (headerSize < kBaseHeaderSize) {
            throw CArchiveError("The archive is damaged: invalid block header" + where);
        }
        if (reader.Size() - position < headerSize) {
            throw CArchiveError("The archive is truncated: block header cut short" + where);
        }
        header.resize(headerSize);
        reader.Read(position, header.data(), headerSize);

        uint64_t dataSize = 0;
        if (type == kFileHead || type == kServiceHead) {
            if (headerSize < 32 || ((flags & kLargeFile) && headerSize < 40)) {
                throw CArchiveError("The archive is damaged: file header too short" + where);
            }
            if (type == kFileHead &&
                (Crc32(header.data() + 2, headerSize - 2) & 0xFFFF) != Le16(header.data())) {
                throw CArchiveError("The archive is damaged: file header CRC mismatch" + where);
            }
            dataSize = Le32(header.data() + 7);
            if (flags & kLargeFile) {
                dataSize |= uint64_t(Le32(header.data() + 32)) << 32;
            }
        } else if (flags & kLongBlock) {
            if (headerSize < kBaseHeaderSize + 4) {
                throw CArchiveError("The archive is damaged: invalid block header" + where);
            }
            dataSize = Le32(header.data() + 7);
        }
        if (reader.Size() - position - headerSize < dataSize) {
            throw CArchiveError("The archive is truncated: data cut short" + where);
        }
        position += headerSize + dataSize;
    }
}

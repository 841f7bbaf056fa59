#include "tools/rar/RarBlocks.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/SystemError.h"
#include "tools/rar/XadArchive.h"
#include "tools/rarformat/RarFormat.h"

namespace {

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// The size of the data that follows a whole block header; throws for a header that is too short
// for its type or whose CRC does not match.
uint64_t BlockDataSize(const std::vector<uint8_t>& header, const std::string& where) {
    const uint8_t type = header[2];
    const uint16_t flags = Le16(header.data() + 3);
    const size_t headerSize = header.size();
    if (type == kRarFileHead || type == kRarServiceHead) {
        if (headerSize < kRarFileHeaderSize ||
            ((flags & kRarLargeFile) && headerSize < kRarLargeFileHeaderSize)) {
            throw CArchiveError("The archive is damaged: file header too short" + where);
        }
        if (type == kRarFileHead &&
            RarHeaderCrc(header.data(), headerSize) != Le16(header.data())) {
            throw CArchiveError("The archive is damaged: file header CRC mismatch" + where);
        }
        uint64_t dataSize = Le32(header.data() + 7);
        if (flags & kRarLargeFile) {
            dataSize |= uint64_t(Le32(header.data() + 32)) << 32;
        }
        return dataSize;
    }
    if (flags & kRarLongBlock) {
        if (headerSize < kRarBaseHeaderSize + 4) {
            throw CArchiveError("The archive is damaged: invalid block header" + where);
        }
        return Le32(header.data() + 7);
    }
    return 0;
}

// The walk itself; the file's own errors come as CSystemError.
void WalkBlocks(const CFile& archive) {
    const auto size = static_cast<uint64_t>(archive.Size());
    if (size < sizeof kRarSignature) {
        throw CArchiveError("The archive is truncated (no RAR signature)");
    }
    uint8_t signature[sizeof kRarSignature];
    archive.ReadAt(0, signature, sizeof signature);
    if (std::memcmp(signature, kRarSignature, sizeof kRarSignature) != 0) {
        return;
    }

    uint64_t position = sizeof kRarSignature;
    std::vector<uint8_t> header;
    while (position != size) {
        const std::string where = " at offset " + std::to_string(position);
        if (size - position < kRarBaseHeaderSize) {
            throw CArchiveError("The archive is truncated: block header cut short" + where);
        }
        uint8_t base[kRarBaseHeaderSize];
        archive.ReadAt(position, base, sizeof base);
        const uint8_t type = base[2];
        const uint16_t headerSize = Le16(base + 5);
        if (type == kRarEndArcHead) {
            return;  // whatever follows the end block is not part of the archive
        }
        if (headerSize < kRarBaseHeaderSize) {
            throw CArchiveError("The archive is damaged: invalid block header" + where);
        }
        if (size - position < headerSize) {
            throw CArchiveError("The archive is truncated: block header cut short" + where);
        }
        header.resize(headerSize);
        archive.ReadAt(position, header.data(), headerSize);
        const uint64_t dataSize = BlockDataSize(header, where);
        if (size - position - headerSize < dataSize) {
            throw CArchiveError("The archive is truncated: data cut short" + where);
        }
        position += headerSize + dataSize;
    }
}

}  // namespace

void CheckRar4Blocks(const std::string& archivePath) {
    try {
        WalkBlocks(CFile(archivePath, CFile::Mode::Read));
    } catch (const CSystemError& error) {
        throw CArchiveError(error.what());
    }
}

#include "tools/pack/Signature.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "platform/FileSystem.h"

namespace {

// PE/COFF: the DOS header points to the "PE\0\0" signature, the 20-byte file header follows,
// then the optional header, whose data directories begin at 96 (PE32) or 112 (PE32+) bytes.
// The security directory is data directory 4, a file offset and a size.
constexpr uint64_t kDosHeaderSize = 64;
constexpr uint64_t kNewHeaderPointer = 0x3C;
constexpr uint64_t kFileHeaderSize = 20;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint32_t kSecurityDirectory = 4;
constexpr uint64_t kDirectoryEntrySize = 8;
// The table is 8-byte aligned in its file: what follows it may be padding of fewer bytes.
constexpr uint64_t kTableAlignment = 8;
constexpr size_t kCopyBlock = 1024 * 1024;

uint32_t Little(const unsigned char* bytes, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = value << 8 | bytes[i];
    }
    return value;
}

// `count` bytes at `offset`, or nothing when the file is shorter.
bool ReadAt(const CFile& file, uint64_t size, uint64_t offset, unsigned char* bytes, size_t count) {
    if (offset > size || size - offset < count) {
        return false;
    }
    file.ReadAt(offset, bytes, count);
    return true;
}

}  // namespace

std::optional<CertificateTable> FindCertificateTable(const std::string& path) {
    const CFile file(path, CFile::Mode::Read);
    const auto size = static_cast<uint64_t>(file.Size());
    unsigned char dos[kDosHeaderSize];
    if (!ReadAt(file, size, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') {
        return std::nullopt;
    }
    const uint64_t pe = Little(dos + kNewHeaderPointer, 4);
    unsigned char headers[4 + kFileHeaderSize + 2];
    if (!ReadAt(file, size, pe, headers, sizeof headers) || headers[0] != 'P' ||
        headers[1] != 'E' || headers[2] != 0 || headers[3] != 0) {
        return std::nullopt;
    }
    const uint32_t optionalSize = Little(headers + 4 + 16, 2);
    const uint32_t magic = Little(headers + 4 + kFileHeaderSize, 2);
    if (magic != kMagicPe32 && magic != kMagicPe32Plus) {
        return std::nullopt;
    }
    const uint64_t optional = pe + 4 + kFileHeaderSize;
    const uint64_t countAt = magic == kMagicPe32 ? 92 : 108;
    const uint64_t directories = countAt + 4;
    const uint64_t entry = directories + kSecurityDirectory * kDirectoryEntrySize;
    unsigned char count[4];
    unsigned char security[kDirectoryEntrySize];
    if (entry + kDirectoryEntrySize > optionalSize ||
        !ReadAt(file, size, optional + countAt, count, sizeof count) ||
        Little(count, 4) <= kSecurityDirectory ||
        !ReadAt(file, size, optional + entry, security, sizeof security)) {
        return std::nullopt;
    }
    const CertificateTable table{Little(security, 4), Little(security + 4, 4), optional + entry};
    if (table.size == 0) {
        return std::nullopt;
    }
    if (table.offset < optional || table.offset > size || size - table.offset < table.size) {
        throw std::runtime_error("The certificate table of \"" + path + "\" is damaged");
    }
    if (size - table.offset - table.size >= kTableAlignment) {
        throw std::runtime_error("The certificate table of \"" + path +
                                 "\" does not end the file: data was added after signing");
    }
    return table;
}

void CopyWithoutCertificates(const std::string& from, const CertificateTable& table,
                             const std::string& to) {
    CFile source(from, CFile::Mode::Read);
    CReplacingFile target(to);
    std::vector<char> block(kCopyBlock);
    for (uint64_t at = 0; at < table.offset;) {
        const size_t count =
            static_cast<size_t>(std::min<uint64_t>(block.size(), table.offset - at));
        source.ReadAt(at, block.data(), count);
        // The security directory entry, emptied: no table any more.
        for (uint64_t i = table.entryOffset; i < table.entryOffset + kDirectoryEntrySize; ++i) {
            if (i >= at && i < at + count) {
                block[static_cast<size_t>(i - at)] = 0;
            }
        }
        target.WriteAll(block.data(), count);
        at += count;
    }
    target.Commit();
}

#include "tools/rar/RarBlocks.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/ByteOrder.h"
#include "platform/FileSystem.h"
#include "platform/SystemError.h"
#include "platform/Utf8.h"
#include "tools/rarformat/RarFormat.h"

namespace {

// File types in the mode that Unix hosts store as the attributes.
constexpr uint32_t kUnixTypeMask = 0xF000;
constexpr uint32_t kUnixRegular = 0x8000;
constexpr uint32_t kUnixDirectory = 0x4000;
// Windows: a reparse point (a link); RAR 4 archivers do not store them as such.
constexpr uint32_t kWindowsReparsePoint = 0x400;

// Reads of the headers go through a window: many small entries cost one read, while the data
// of large entries is skipped rather than read.
constexpr size_t kWindowSize = 16 * 1024;

class CWindowReader {
  public:
    CWindowReader(const CFile& file, uint64_t fileSize) : m_file(file), m_fileSize(fileSize) {}

    // `count` bytes at `offset`, which the caller has checked to lie within the file; valid
    // until the next call.
    const uint8_t* Read(uint64_t offset, size_t count) {
        if (offset < m_start || offset + count > m_start + m_length) {
            const auto length = static_cast<size_t>(
                std::min<uint64_t>(std::max(count, kWindowSize), m_fileSize - offset));
            if (m_buffer.size() < length) {
                m_buffer.resize(length);
            }
            m_file.ReadAt(offset, m_buffer.data(), length);
            m_start = offset;
            m_length = length;
        }
        return m_buffer.data() + (offset - m_start);
    }

  private:
    const CFile& m_file;
    uint64_t m_fileSize;
    std::vector<uint8_t> m_buffer;
    uint64_t m_start = 0;
    size_t m_length = 0;
};

// Where a fault lies, for its message; put together only when one is thrown.
std::string AtOffset(uint64_t position) {
    return " at offset " + std::to_string(position);
}

// The size of the data that follows a whole block header at `position`; throws for a header
// that is too short for its type or whose CRC does not match.
uint64_t BlockDataSize(const uint8_t* header, size_t headerSize, uint64_t position) {
    const uint8_t type = header[2];
    const uint16_t flags = GetLe16(header + 3);
    if (type == kRarFileHead || type == kRarServiceHead) {
        if (headerSize < kRarFileHeaderSize ||
            ((flags & kRarLargeFile) && headerSize < kRarLargeFileHeaderSize)) {
            throw CArchiveError("The archive is damaged: file header too short" +
                                AtOffset(position));
        }
        if (type == kRarFileHead && RarHeaderCrc(header, headerSize) != GetLe16(header)) {
            throw CArchiveError("The archive is damaged: file header CRC mismatch" +
                                AtOffset(position));
        }
        uint64_t dataSize = GetLe32(header + 7);
        if (flags & kRarLargeFile) {
            dataSize |= uint64_t(GetLe32(header + 32)) << 32;
        }
        return dataSize;
    }
    if (flags & kRarLongBlock) {
        if (headerSize < kRarBaseHeaderSize + 4) {
            throw CArchiveError("The archive is damaged: invalid block header" +
                                AtOffset(position));
        }
        return GetLe32(header + 7);
    }
    return 0;
}

// The entry of a whole file header whose CRC matched, or nullopt when unar's own rules decide
// what it becomes.
std::optional<ArchiveEntry> FileEntry(const uint8_t* header, size_t headerSize, uint64_t position) {
    const uint16_t flags = GetLe16(header + 3);
    const bool large = (flags & kRarLargeFile) != 0;
    const size_t nameOffset = large ? kRarLargeFileHeaderSize : kRarFileHeaderSize;
    const uint16_t nameSize = GetLe16(header + kRarNameSizeOffset);
    if (nameOffset + nameSize > headerSize) {
        throw CArchiveError("The archive is damaged: file name runs past its header" +
                            AtOffset(position));
    }
    if (flags & (kRarSplitBefore | kRarSplitAfter | kRarFileVersion)) {
        return std::nullopt;
    }
    std::optional<std::string> name = DecodeRar4Name(
        std::string_view(reinterpret_cast<const char*>(header + nameOffset), nameSize),
        (flags & kRarUnicodeName) != 0);
    if (!name) {
        return std::nullopt;
    }

    ArchiveEntry entry;
    entry.name = std::move(*name);
    entry.isDirectory = (flags & kRarDictionaryMask) == kRarDirectoryDict;
    entry.isEncrypted = (flags & kRarEncrypted) != 0;
    const uint8_t host = header[kRarHostOffset];
    const uint32_t attributes = GetLe32(header + kRarNameSizeOffset + 2);
    if (host == kRarHostUnix) {
        // Some archivers store DOS attributes here (no file type): unar then goes by the
        // directory flag alone.
        const uint32_t type = attributes & kUnixTypeMask;
        if ((type == kUnixDirectory && !entry.isDirectory) ||
            (entry.isDirectory && type != kUnixDirectory && type != 0)) {
            return std::nullopt;
        }
        // Links, devices, pipes and sockets alike: nothing an update package holds.
        entry.isLink = type != 0 && type != kUnixRegular && type != kUnixDirectory;
    } else if (host == kRarHostMsDos || host == kRarHostOs2 || host == kRarHostWin32) {
        if (((attributes & kRarAttrDirectory) != 0) != entry.isDirectory ||
            (attributes & kWindowsReparsePoint) != 0) {
            return std::nullopt;
        }
    } else {
        return std::nullopt;
    }
    // Archivers separate with '\' whatever their host; unar names the files with '/'.
    std::replace(entry.name.begin(), entry.name.end(), '\\', '/');
    if (!entry.isDirectory) {
        entry.hasSize = true;
        entry.size = GetLe32(header + 11) | (large ? uint64_t(GetLe32(header + 36)) << 32 : 0);
    }
    return entry;
}

std::optional<ArchiveListing> Walk(const CFile& archive) {
    const auto size = static_cast<uint64_t>(archive.Size());
    if (size < sizeof kRarSignature) {
        throw CArchiveError("The archive is truncated (no RAR signature)");
    }
    CWindowReader reader(archive, size);
    if (std::memcmp(reader.Read(0, sizeof kRarSignature), kRarSignature, sizeof kRarSignature) !=
        0) {
        return std::nullopt;
    }

    ArchiveListing listing;
    listing.formatName = "RAR";
    bool listable = true;
    uint64_t position = sizeof kRarSignature;
    while (position != size) {
        if (size - position < kRarBaseHeaderSize) {
            throw CArchiveError("The archive is truncated: block header cut short" +
                                AtOffset(position));
        }
        const uint8_t* base = reader.Read(position, kRarBaseHeaderSize);
        const uint8_t type = base[2];
        const uint16_t flags = GetLe16(base + 3);
        const uint16_t headerSize = GetLe16(base + 5);
        if (type == kRarEndArcHead) {
            break;  // whatever follows the end block is not part of the archive
        }
        if (headerSize < kRarBaseHeaderSize) {
            throw CArchiveError("The archive is damaged: invalid block header" +
                                AtOffset(position));
        }
        if (size - position < headerSize) {
            throw CArchiveError("The archive is truncated: block header cut short" +
                                AtOffset(position));
        }
        if (type == kRarMainHead && (flags & kRarEncryptedHeaders)) {
            listing.isEncrypted = true;  // the blocks after this one cannot be read
            return listing;
        }
        if (type == kRarMainHead && (flags & kRarVolume)) {
            listable = false;
        }
        const uint8_t* header = reader.Read(position, headerSize);
        const uint64_t dataSize = BlockDataSize(header, headerSize, position);
        if (type == kRarFileHead && listable) {
            std::optional<ArchiveEntry> entry = FileEntry(header, headerSize, position);
            if (entry) {
                listing.entries.push_back(std::move(*entry));
            } else {
                listable = false;
            }
        }
        if (size - position - headerSize < dataSize) {
            throw CArchiveError("The archive is truncated: data cut short" + AtOffset(position));
        }
        position += headerSize + dataSize;
    }
    if (!listable) {
        return std::nullopt;
    }
    return listing;
}

// RAR's compact UTF-16 name: a high byte shared by many characters, then groups of four
// two-bit codes, each taking a character from the bytes that follow (0: one byte, high byte 0;
// 1: one byte with the shared high byte; 2: two bytes, low first; 3: a run copied from the OEM
// name, optionally with a correction added to each byte and the shared high byte).
std::optional<std::u16string> DecodeCompactUtf16(std::string_view oem, std::string_view encoded) {
    const auto byteAt = [](std::string_view text, size_t i) {
        return static_cast<char16_t>(static_cast<uint8_t>(text[i]));
    };
    std::u16string out;
    size_t pos = 0;
    if (encoded.empty()) {
        return std::nullopt;
    }
    const char16_t high = static_cast<char16_t>(byteAt(encoded, pos++) << 8);
    unsigned flags = 0;
    int flagBits = 0;
    while (pos < encoded.size()) {
        if (flagBits == 0) {
            flags = byteAt(encoded, pos++);
            flagBits = 8;
            if (pos >= encoded.size()) {
                break;
            }
        }
        switch ((flags >> 6) & 3) {
            case 0:
                out += byteAt(encoded, pos++);
                break;
            case 1:
                out += static_cast<char16_t>(byteAt(encoded, pos++) | high);
                break;
            case 2:
                if (pos + 1 >= encoded.size()) {
                    return std::nullopt;
                }
                out += static_cast<char16_t>(byteAt(encoded, pos) | byteAt(encoded, pos + 1) << 8);
                pos += 2;
                break;
            default: {
                const unsigned length = byteAt(encoded, pos++);
                const bool corrected = (length & 0x80) != 0;
                if (corrected && pos >= encoded.size()) {
                    return std::nullopt;
                }
                const unsigned correction = corrected ? byteAt(encoded, pos++) : 0;
                for (unsigned k = (length & 0x7F) + 2; k > 0; --k) {
                    if (out.size() >= oem.size()) {
                        return std::nullopt;  // a run beyond the OEM name
                    }
                    const unsigned base = byteAt(oem, out.size());
                    out += corrected ? static_cast<char16_t>(((base + correction) & 0xFF) | high)
                                     : static_cast<char16_t>(base);
                }
                break;
            }
        }
        flags <<= 2;
        flagBits -= 2;
    }
    return out;
}

}  // namespace

std::optional<std::string> DecodeRar4Name(std::string_view stored, bool unicodeFlag) {
    const size_t zero = stored.find('\0');
    if (!unicodeFlag || zero == std::string_view::npos) {
        const bool ascii = std::all_of(stored.begin(), stored.end(), [](char c) {
            return c != '\0' && static_cast<uint8_t>(c) < 0x80;
        });
        if (stored.empty() || !(ascii || (unicodeFlag && IsValidUtf8(stored)))) {
            return std::nullopt;
        }
        return std::string(stored);
    }
    const std::optional<std::u16string> utf16 =
        DecodeCompactUtf16(stored.substr(0, zero), stored.substr(zero + 1));
    if (!utf16 || utf16->empty()) {
        return std::nullopt;
    }
    std::string name;
    for (size_t i = 0; i < utf16->size(); ++i) {
        char32_t code = (*utf16)[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < utf16->size() &&
            (*utf16)[i + 1] >= 0xDC00 && (*utf16)[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + ((*utf16)[++i] - 0xDC00u);
        } else if (code == 0 || (code >= 0xD800 && code <= 0xDFFF)) {
            return std::nullopt;
        }
        AppendUtf8(name, code);
    }
    return name;
}

std::optional<ArchiveListing> ReadRar4Listing(const std::string& archivePath) {
    try {
        return Walk(CFile(archivePath, CFile::Mode::Read));
    } catch (const CSystemError& error) {
        throw CArchiveError(error.what());
    }
}

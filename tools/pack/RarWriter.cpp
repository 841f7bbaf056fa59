#include "tools/pack/RarWriter.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <stdexcept>

#include "platform/ByteOrder.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/SystemError.h"
#include "platform/Utf8.h"
#include "tools/rarformat/RarFormat.h"

namespace {

constexpr size_t kBlockSize = 1 << 20;
// PACK_SIZE and UNP_SIZE are 32-bit without kRarLargeFile.
constexpr uint64_t kMaxEntrySize = 0xFFFFFFFFull;

// Little-endian header builder; the HEAD_CRC is filled in by Finish().
class CHeader {
  public:
    CHeader(uint8_t type, uint16_t flags) {
        Put16(0);  // HEAD_CRC
        Put8(type);
        Put16(flags);
        Put16(0);  // HEAD_SIZE
    }
    void Put8(uint8_t value) { m_bytes.push_back(value); }
    void Put16(uint16_t value) { PutLittleEndian(m_bytes, value, 2); }
    void Put32(uint32_t value) { PutLittleEndian(m_bytes, value, 4); }
    void PutBytes(const std::string& bytes) {
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    }

    const std::vector<uint8_t>& Finish() {
        if (m_bytes.size() > 0xFFFF) {
            throw std::runtime_error("RAR header too long");
        }
        SetLittleEndian(&m_bytes[5], m_bytes.size(), 2);
        SetLittleEndian(&m_bytes[0], RarHeaderCrc(m_bytes.data(), m_bytes.size()), 2);
        return m_bytes;
    }

  private:
    std::vector<uint8_t> m_bytes;
};

namespace fs = std::filesystem;

// Paths are UTF-8 here; on Windows a path made from a plain string would be read in the ANSI
// code page.
fs::path FsPath(const std::string& path) {
    return fs::path(std::u8string(path.begin(), path.end()));
}

std::string Utf8(const std::u8string& text) {
    return std::string(text.begin(), text.end());
}

// MS-DOS date and time of a modification time, in local time; earlier than 1980 is clamped.
uint32_t DosDateTime(time_t when) {
    const std::tm local = LocalTime(when);
    if (local.tm_year < 80) {
        return (1u << 5 | 1u) << 16;  // 1980-01-01 00:00:00
    }
    const uint32_t date =
        static_cast<uint32_t>((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
    const uint32_t time =
        static_cast<uint32_t>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    return date << 16 | time;
}

time_t ModificationTime(const std::string& path) {
    std::error_code error;
    const fs::file_time_type when = fs::last_write_time(FsPath(path), error);
    if (error) {
        throw CSystemError(error.value(),
                           "Cannot read the attributes of " + path + ": " + error.message());
    }
    return std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(when));
}

std::string StoredName(const std::string& name) {
    std::string stored = name;
    std::replace(stored.begin(), stored.end(), '/', '\\');
    if (stored.empty()) {
        throw std::runtime_error("An archive entry needs a name");
    }
    // A NUL would make the archiver read the name as RAR's compact UTF-16 encoding.
    if (!IsValidUtf8(stored) || stored.find('\0') != std::string::npos) {
        throw std::runtime_error("Archive entry name is not valid UTF-8 or holds a NUL: " + name);
    }
    return stored;
}

std::vector<uint8_t> FileHeader(const std::string& storedName, bool isDirectory, uint32_t size,
                                uint32_t crc, uint32_t dosTime) {
    const bool ascii = std::all_of(storedName.begin(), storedName.end(),
                                   [](char c) { return static_cast<uint8_t>(c) < 0x80; });
    uint16_t flags = kRarLongBlock;  // always set in file headers
    if (!ascii) {
        flags |= kRarUnicodeName;  // plain UTF-8 name bytes, no OEM name before them
    }
    if (isDirectory) {
        flags |= kRarDirectoryDict;
    }
    CHeader header(kRarFileHead, flags);
    header.Put32(size);  // PACK_SIZE
    header.Put32(size);  // UNP_SIZE
    header.Put8(kRarHostWin32);
    header.Put32(crc);
    header.Put32(dosTime);
    header.Put8(kRarUnpackVersion);
    header.Put8(kRarMethodStore);
    header.Put16(static_cast<uint16_t>(storedName.size()));
    header.Put32(isDirectory ? kRarAttrDirectory : kRarAttrArchive);
    header.PutBytes(storedName);
    return header.Finish();
}

// CRC32 and length of a whole file, read in blocks.
std::pair<uint32_t, uint64_t> ScanFile(const std::string& path, std::vector<char>& buffer) {
    CFile file(path, CFile::Mode::Read);
    CCrc32 crc;
    uint64_t length = 0;
    while (const size_t got = file.Read(buffer.data(), buffer.size())) {
        crc.Update(buffer.data(), got);
        length += got;
        if (length > kMaxEntrySize) {
            throw std::runtime_error("File too large for the archive (4 GiB or more): " + path);
        }
    }
    return {crc.Value(), length};
}

void WriteEntry(CReplacingFile& out, const RarEntry& entry, std::vector<char>& buffer) {
    const std::string storedName = StoredName(entry.storedName);
    if (entry.isDirectory) {
        const time_t when =
            entry.sourcePath.empty() ? time(nullptr) : ModificationTime(entry.sourcePath);
        const auto& header = FileHeader(storedName, true, 0, 0, DosDateTime(when));
        out.WriteAll(header.data(), header.size());
        return;
    }
    // The header carries the data's CRC, so the file is read once for it and once for copying;
    // the second pass checks that the file did not change in between.
    const auto [crc, length] = ScanFile(entry.sourcePath, buffer);
    const auto& header = FileHeader(storedName, false, static_cast<uint32_t>(length), crc,
                                    DosDateTime(ModificationTime(entry.sourcePath)));
    out.WriteAll(header.data(), header.size());

    CFile in(entry.sourcePath, CFile::Mode::Read);
    CCrc32 copied;
    uint64_t copiedLength = 0;
    while (const size_t got = in.Read(buffer.data(), buffer.size())) {
        copiedLength += got;
        if (copiedLength > length) {
            break;
        }
        copied.Update(buffer.data(), got);
        out.WriteAll(buffer.data(), got);
    }
    if (copiedLength != length || copied.Value() != crc) {
        throw std::runtime_error("File changed while it was being archived: " + entry.sourcePath);
    }
}

}  // namespace

void WriteRarStore(const std::vector<RarEntry>& entries, const std::string& archivePath) {
    // A failure never leaves a truncated archive under the requested name.
    CReplacingFile out(archivePath);
    out.WriteAll(kRarSignature, sizeof kRarSignature);
    CHeader mainHeader(kRarMainHead, 0);
    mainHeader.Put16(0);  // HighPosAV
    mainHeader.Put32(0);  // PosAV
    const auto& mainBytes = mainHeader.Finish();
    out.WriteAll(mainBytes.data(), mainBytes.size());

    std::vector<char> buffer(kBlockSize);
    for (const RarEntry& entry : entries) {
        WriteEntry(out, entry, buffer);
    }

    CHeader endHeader(kRarEndArcHead, kRarEndArcFlags);
    const auto& endBytes = endHeader.Finish();
    out.WriteAll(endBytes.data(), endBytes.size());
    out.Commit();
}

void WriteRarStoreFromDirectory(const std::string& directory, const std::string& archivePath) {
    std::vector<RarEntry> entries;
    std::error_code error;
    fs::recursive_directory_iterator it(FsPath(directory), error);
    if (error) {
        throw CSystemError(error.value(),
                           "Cannot read directory " + directory + ": " + error.message());
    }
    for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (error) {
            break;
        }
        const fs::file_status status = it->symlink_status();
        const std::string path = Utf8(it->path().u8string());
        RarEntry entry;
        entry.storedName =
            Utf8(it->path().lexically_relative(FsPath(directory)).generic_u8string());
        entry.sourcePath = path;
        if (fs::is_symlink(status)) {
            throw std::runtime_error("Links cannot be archived: " + path);
        } else if (fs::is_directory(status)) {
            entry.isDirectory = true;
        } else if (!fs::is_regular_file(status)) {
            throw std::runtime_error("Not a regular file or directory: " + path);
        }
        entries.push_back(std::move(entry));
    }
    if (error) {
        throw CSystemError(error.value(),
                           "Cannot read directory " + directory + ": " + error.message());
    }
    std::sort(entries.begin(), entries.end(),
              [](const RarEntry& a, const RarEntry& b) { return a.storedName < b.storedName; });
    WriteRarStore(entries, archivePath);
}

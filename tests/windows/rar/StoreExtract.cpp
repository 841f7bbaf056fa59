#include "tests/windows/rar/StoreExtract.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "platform/ByteOrder.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/SystemError.h"
#include "tests/windows/rar/WindowsNames.h"
#include "tools/rar/RarBlocks.h"
#include "tools/rarformat/RarFormat.h"

namespace {

constexpr size_t kBlockSize = 1024 * 1024;

// Where a file header's data lies, and what it must be.
struct StoredData {
    uint64_t offset = 0;
    uint64_t packedSize = 0;
    uint64_t size = 0;
    uint32_t crc = 0;
    uint8_t method = 0;
};

// The data of every file header in archive order. The chain was checked by ReadRar4Listing
// (no header or data runs past the end), so this walk only reads the fields.
std::vector<StoredData> FileData(const CFile& archive) {
    const auto fileSize = static_cast<uint64_t>(archive.Size());
    std::vector<StoredData> files;
    uint64_t position = sizeof kRarSignature;
    while (fileSize - position >= kRarBaseHeaderSize) {
        uint8_t base[kRarBaseHeaderSize];
        archive.ReadAt(position, base, sizeof base);
        const uint8_t type = base[2];
        const uint16_t flags = GetLe16(base + 3);
        const uint16_t headerSize = GetLe16(base + 5);
        if (type == kRarEndArcHead) {
            break;
        }
        std::vector<uint8_t> header(headerSize);
        archive.ReadAt(position, header.data(), header.size());
        uint64_t dataSize = 0;
        if (type == kRarFileHead || type == kRarServiceHead) {
            const bool large = (flags & kRarLargeFile) != 0;
            dataSize = GetLe32(&header[7]) | (large ? uint64_t(GetLe32(&header[32])) << 32 : 0);
            if (type == kRarFileHead) {
                StoredData data;
                data.offset = position + headerSize;
                data.packedSize = dataSize;
                data.size =
                    GetLe32(&header[11]) | (large ? uint64_t(GetLe32(&header[36])) << 32 : 0);
                data.crc = GetLe32(&header[16]);
                data.method = header[25];
                files.push_back(data);
            }
        } else if (flags & kRarLongBlock) {
            dataSize = GetLe32(&header[7]);
        }
        position += headerSize + dataSize;
    }
    return files;
}

// Makes the directories of `components` below `directory`, refusing a link or a file on the
// way; returns the full path.
std::string MakeDirectories(const std::string& directory, const std::vector<std::string>& parts,
                            size_t count) {
    std::string path = directory;
    for (size_t i = 0; i < count; ++i) {
        path = PathJoin(path, parts[i]);
        if (IsSymbolicLink(path)) {
            throw CArchiveError("Refusing to extract through the link \"" + path + "\"");
        }
        if (!DirectoryExists(path) && !CreatePrivateDirectory(path) && !DirectoryExists(path)) {
            throw CArchiveError("Cannot create the directory \"" + path + "\"");
        }
    }
    return path;
}

void ExtractFile(const CFile& archive, const StoredData& data, const std::string& name,
                 const std::string& target) {
    if (IsSymbolicLink(target) || DirectoryExists(target)) {
        throw CArchiveError("Refusing to replace \"" + target + "\": not a file");
    }
    CReplacingFile output(target);
    CCrc32 crc;
    std::vector<char> buffer(kBlockSize);
    for (uint64_t done = 0; done < data.size;) {
        const auto chunk = static_cast<size_t>(std::min<uint64_t>(kBlockSize, data.size - done));
        archive.ReadAt(data.offset + done, buffer.data(), chunk);
        crc.Update(buffer.data(), chunk);
        output.WriteAll(buffer.data(), chunk);
        done += chunk;
    }
    if (crc.Value() != data.crc) {
        // The temporary file goes with `output`: a damaged file never appears under its name.
        throw CDamagedArchiveError("The archive is damaged: CRC failed in \"" + name + "\"");
    }
    output.Commit();
}

}  // namespace

void ExtractStoreArchive(const std::string& archivePath, const std::string& directory) {
    std::optional<ArchiveListing> listing;
    try {
        listing = ReadRar4Listing(archivePath);
    } catch (const CArchiveError& error) {
        throw CDamagedArchiveError(error.what());
    }
    if (!listing) {
        throw CArchiveError(
            "Not an archive this archiver extracts (RAR 2.9/4.x, one volume, "
            "plain names): \"" +
            archivePath + "\"");
    }
    if (listing->isEncrypted) {
        throw CArchiveError("Refusing the archive: it is encrypted");
    }
    const CFile archive(archivePath, CFile::Mode::Read);
    const std::vector<StoredData> files = FileData(archive);
    if (files.size() != listing->entries.size()) {
        throw CDamagedArchiveError("The archive is damaged: its file headers could not be read");
    }

    // Everything is checked before the first byte is written.
    std::vector<std::vector<std::string>> names;
    for (size_t i = 0; i < files.size(); ++i) {
        const ArchiveEntry& entry = listing->entries[i];
        const std::string quoted = "\"" + entry.name + "\"";
        if (entry.isLink) {
            throw CArchiveError("Refusing the archive: entry " + quoted + " is a link");
        }
        if (entry.isEncrypted) {
            throw CArchiveError("Refusing the archive: entry " + quoted + " is encrypted");
        }
        if (!entry.isDirectory &&
            (files[i].method != kRarMethodStore || files[i].packedSize != files[i].size)) {
            throw CArchiveError("Entry " + quoted +
                                " is compressed: only stored entries are "
                                "extracted here");
        }
        names.push_back(SafeWindowsComponents(entry.name));
    }

    for (size_t i = 0; i < files.size(); ++i) {
        const std::vector<std::string>& parts = names[i];
        if (listing->entries[i].isDirectory) {
            MakeDirectories(directory, parts, parts.size());
        } else {
            const std::string parent = MakeDirectories(directory, parts, parts.size() - 1);
            ExtractFile(archive, files[i], JoinComponents(parts), PathJoin(parent, parts.back()));
        }
    }
}

// Items appended to an ELF executable: the layout of the Linux updater.

#include "platform/EmbeddedItems.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <set>
#include <utility>

#include "platform/ByteOrder.h"
#include "platform/EmbeddedIndex.h"
#include "platform/FileSystem.h"
#include "platform/Sha256.h"

// Layout of an executable with items:
//   program bytes | item 1 | item 2 | ... | index | footer
// Footer (72 bytes, little-endian): magic "TSRPKG01", program size u64, index offset u64,
// index size u64, item count u32, reserved u32 (0), SHA-256 (32 raw bytes) of the index followed
// by the first 40 bytes of the footer, so that every number of the footer is checked as well.
// Index entry: name length u16, name bytes, offset u64, size u64, SHA-256 (32 raw bytes).

namespace {

constexpr char kMagic[8] = {'T', 'S', 'R', 'P', 'K', 'G', '0', '1'};
constexpr size_t kFooterSize = 72;
constexpr size_t kChecksumOffset = 40;
constexpr uint64_t kMaxIndexSize = 16 * 1024 * 1024;

struct Footer {
    char bytes[kFooterSize];
    uint64_t programSize = 0;
    uint64_t indexOffset = 0;
    uint64_t indexSize = 0;
    uint64_t count = 0;
};

// The footer at the end of the file; nullopt for a plain program without items.
std::optional<Footer> ReadFooter(const CFile& file, uint64_t fileSize) {
    if (fileSize < kFooterSize) {
        return std::nullopt;
    }
    Footer footer;
    file.ReadAt(fileSize - kFooterSize, footer.bytes, kFooterSize);
    if (std::memcmp(footer.bytes, kMagic, sizeof kMagic) != 0) {
        return std::nullopt;
    }
    footer.programSize = GetLittleEndian(footer.bytes + 8, 8);
    footer.indexOffset = GetLittleEndian(footer.bytes + 16, 8);
    footer.indexSize = GetLittleEndian(footer.bytes + 24, 8);
    footer.count = GetLittleEndian(footer.bytes + 32, 4);
    return footer;
}

// Where the image of an ELF program ends: the furthest byte that its headers, segments and
// sections occupy, beyond the end of the file when the file was cut short. nullopt for a file
// that is no ELF program, whose end cannot be known. Bounded: tables are read only when they lie
// in the file; one that does not is where the image ends at the least.
std::optional<uint64_t> ElfImageEnd(const CFile& file, uint64_t fileSize) {
    constexpr size_t kIdentSize = 16;
    char header[64] = {};
    if (fileSize < 52) {
        return std::nullopt;
    }
    file.ReadAt(0, header, static_cast<size_t>(std::min<uint64_t>(sizeof header, fileSize)));
    if (std::memcmp(header,
                    "\x7f"
                    "ELF",
                    4) != 0 ||
        header[5] != 1) {
        return std::nullopt;  // not ELF, or big-endian (not a platform of ours)
    }
    const bool wide = header[4] == 2;
    if (!wide && header[4] != 1) {
        return std::nullopt;
    }
    const auto field = [&](size_t offset32, size_t offset64, size_t bytes32, size_t bytes64) {
        return wide ? GetLittleEndian(header + offset64, bytes64)
                    : GetLittleEndian(header + offset32, bytes32);
    };
    const uint64_t phoff = field(28, 32, 4, 8);
    const uint64_t shoff = field(32, 40, 4, 8);
    const uint64_t ehsize = field(40, 52, 2, 2);
    const uint64_t phentsize = field(42, 54, 2, 2);
    uint64_t phnum = field(44, 56, 2, 2);
    const uint64_t shentsize = field(46, 58, 2, 2);
    uint64_t shnum = field(48, 60, 2, 2);
    const size_t minPh = wide ? 56 : 32;
    const size_t minSh = wide ? 64 : 40;
    uint64_t end = std::max<uint64_t>(ehsize, kIdentSize);

    // Reads a table of `count` entries of `size` bytes at `offset`; false when it does not lie
    // in the file.
    std::string table;
    // Where a part at `offset` of `size` bytes ends, kept as the end when it lies beyond the
    // file (saturated rather than wrapped round).
    const auto beyondFile = [&](uint64_t offset, uint64_t size) {
        end = std::max(end, offset > UINT64_MAX - size ? UINT64_MAX : offset + size);
        return end > fileSize;
    };
    const auto readTable = [&](uint64_t offset, uint64_t count, uint64_t size) {
        if (count == 0) {
            return true;
        }
        if (offset > fileSize || count > (fileSize - offset) / size) {
            beyondFile(offset, count > UINT64_MAX / size ? UINT64_MAX : count * size);
            return false;
        }
        table.assign(static_cast<size_t>(count * size), '\0');
        file.ReadAt(offset, table.data(), table.size());
        end = std::max(end, offset + count * size);
        return true;
    };

    if (shoff != 0 && shentsize >= minSh) {
        // More sections than 16 bits hold, or program headers beyond 0xFFFF: the real counts
        // are in the first section header.
        if (shnum == 0 || phnum == 0xFFFF) {
            if (!readTable(shoff, 1, shentsize)) {
                return end;
            }
            shnum = shnum == 0 ? (wide ? GetLittleEndian(table.data() + 32, 8)
                                       : GetLittleEndian(table.data() + 20, 4))
                               : shnum;
            phnum = phnum == 0xFFFF ? GetLittleEndian(table.data() + (wide ? 44 : 28), 4) : phnum;
        }
        if (!readTable(shoff, shnum, shentsize)) {
            return end;
        }
        constexpr uint64_t kNoBits = 8;  // SHT_NOBITS: takes no room in the file
        for (uint64_t i = 0; i < shnum; ++i) {
            const char* entry = table.data() + i * shentsize;
            const uint64_t offset =
                wide ? GetLittleEndian(entry + 24, 8) : GetLittleEndian(entry + 16, 4);
            const uint64_t size =
                wide ? GetLittleEndian(entry + 32, 8) : GetLittleEndian(entry + 20, 4);
            if (GetLittleEndian(entry + 4, 4) != kNoBits && size > 0 && beyondFile(offset, size)) {
                return end;
            }
        }
    }
    if (phoff != 0 && phentsize >= minPh) {
        if (!readTable(phoff, phnum, phentsize)) {
            return end;
        }
        for (uint64_t i = 0; i < phnum; ++i) {
            const char* entry = table.data() + i * phentsize;
            const uint64_t offset =
                wide ? GetLittleEndian(entry + 8, 8) : GetLittleEndian(entry + 4, 4);
            const uint64_t size =
                wide ? GetLittleEndian(entry + 32, 8) : GetLittleEndian(entry + 16, 4);
            if (size > 0 && beyondFile(offset, size)) {
                return end;
            }
        }
    }
    return end;
}

// Checks that the footer's numbers describe an index that lies inside the file, right before
// the footer, and can hold the stated number of entries.
void CheckFooter(const Footer& footer, uint64_t fileSize, const std::string& path) {
    const uint64_t room = fileSize - kFooterSize;
    if (footer.indexSize > kMaxIndexSize || footer.indexSize > room ||
        footer.indexOffset != room - footer.indexSize) {
        throw DamagedIndexError(path, "the index lies outside the file");
    }
    if (footer.programSize > footer.indexOffset) {
        throw DamagedIndexError(path, "the program size is out of range");
    }
    if (GetLittleEndian(footer.bytes + 36, 4) != 0) {
        throw DamagedIndexError(path, "unknown format");
    }
}

// The index bytes, checked against the checksum in the footer.
std::string ReadIndex(const CFile& file, const Footer& footer, const std::string& path) {
    std::string index(static_cast<size_t>(footer.indexSize), '\0');
    file.ReadAt(footer.indexOffset, index.data(), index.size());
    CSha256 sha;
    sha.Update(index.data(), index.size());
    sha.Update(footer.bytes, kChecksumOffset);
    if (sha.FinishRaw() != std::string_view(footer.bytes + kChecksumOffset, kItemDigestSize)) {
        throw DamagedIndexError(path, "checksum mismatch");
    }
    return index;
}

// The entries of a checked index; each must lie in the data area.
std::vector<EmbeddedItem> ParseIndex(const std::string& index, const Footer& footer,
                                     const std::string& path) {
    std::vector<EmbeddedItem> items = DecodeItemIndex(index, footer.count, path);
    for (const EmbeddedItem& item : items) {
        if (item.offset < footer.programSize || item.offset > footer.indexOffset ||
            item.size > footer.indexOffset - item.offset) {
            throw DamagedIndexError(path, "item \"" + item.name + "\" lies outside the data area");
        }
    }
    return items;
}

// Appends the file of `source` to `output` at `position`, and returns its index entry.
EmbeddedItem AppendItem(CReplacingFile& output, const ItemSource& source, uint64_t position,
                        std::vector<char>& buffer) {
    CFile file(source.path, CFile::Mode::Read);
    CSha256 sha;
    EmbeddedItem item{source.name, position, 0, {}};
    while (const size_t got = file.Read(buffer.data(), buffer.size())) {
        sha.Update(buffer.data(), got);
        output.WriteAll(buffer.data(), got);
        item.size += got;
    }
    item.sha256 = sha.FinishHex();
    return item;
}

// The footer that follows `index`, with the checksum over both.
std::string MakeFooter(uint64_t programSize, uint64_t indexOffset, const std::string& index,
                       size_t count) {
    std::string footer(kMagic, sizeof kMagic);
    PutLittleEndian(footer, programSize, 8);
    PutLittleEndian(footer, indexOffset, 8);
    PutLittleEndian(footer, index.size(), 8);
    PutLittleEndian(footer, count, 4);
    PutLittleEndian(footer, 0, 4);
    CSha256 sha;
    sha.Update(index.data(), index.size());
    sha.Update(footer.data(), footer.size());
    return footer + sha.FinishRaw();
}

}  // namespace

CEmbeddedItems::CEmbeddedItems(const std::string& executablePath) : m_path(executablePath) {
    const CFile file(executablePath, CFile::Mode::Read);
    const auto fileSize = static_cast<uint64_t>(file.Size());
    m_programSize = fileSize;
    const std::optional<Footer> footer = ReadFooter(file, fileSize);
    if (!footer) {
        // A plain program, unless bytes follow its image: then items were appended and their
        // footer is damaged or cut off, and "no packages" would be a false answer.
        const std::optional<uint64_t> imageEnd = ElfImageEnd(file, fileSize);
        if (imageEnd && *imageEnd > fileSize) {
            throw DamagedIndexError(
                executablePath, "the program ends at byte " + std::to_string(*imageEnd) +
                                    ", beyond the end of the file at " + std::to_string(fileSize) +
                                    " (the file is cut short)");
        }
        if (imageEnd && *imageEnd < fileSize) {
            throw DamagedIndexError(executablePath,
                                    std::to_string(fileSize - *imageEnd) +
                                        " bytes after the program have no valid index "
                                        "(the file may be cut short)");
        }
        return;
    }
    CheckFooter(*footer, fileSize, executablePath);
    m_items = ParseIndex(ReadIndex(file, *footer, executablePath), *footer, executablePath);
    m_programSize = footer->programSize;
}

void CEmbeddedItems::ExtractTo(const std::string& name, const std::string& outputPath,
                               const std::function<void()>& afterBlock) const {
    const EmbeddedItem& item = Get(name);
    const CFile file(m_path, CFile::Mode::Read);
    std::vector<char> buffer(static_cast<size_t>(std::min<uint64_t>(kItemBlockSize, item.size)));
    // The kernel copies the blocks where it can; the checksum is taken over the bytes read back
    // from the output, so it vouches for what landed there.
    WriteCheckedItem(
        item, outputPath,
        [&](CReplacingFile& output, uint64_t offset, size_t size) {
            output.AppendFrom(file, item.offset + offset, size, buffer.data());
            return std::string_view(buffer.data(), size);
        },
        afterBlock);
}

void WriteEmbeddedItems(const std::string& baseExecutable, const std::vector<ItemSource>& items,
                        const std::string& outputPath) {
    std::set<std::string> names;
    for (const ItemSource& item : items) {
        if (item.name.empty() || item.name.size() > kMaxItemNameLength) {
            throw std::runtime_error("Invalid embedded item name \"" + item.name + "\"");
        }
        if (!names.insert(item.name).second) {
            throw std::runtime_error("Embedded item \"" + item.name + "\" is given twice");
        }
    }

    const CEmbeddedItems existing(baseExecutable);
    const CFile base(baseExecutable, CFile::Mode::Read);
    CReplacingFile output(outputPath);
    output.TakePermissionsOf(base);
    std::vector<char> buffer(kItemBlockSize);
    uint64_t position = 0;
    while (position < existing.ProgramSize()) {
        const auto chunk = static_cast<size_t>(
            std::min<uint64_t>(buffer.size(), existing.ProgramSize() - position));
        base.ReadAt(position, buffer.data(), chunk);
        output.WriteAll(buffer.data(), chunk);
        position += chunk;
    }

    std::vector<EmbeddedItem> entries;
    for (const ItemSource& item : items) {
        entries.push_back(AppendItem(output, item, position, buffer));
        position += entries.back().size;
    }
    const std::string index = EncodeItemIndex(entries);
    if (index.size() > kMaxIndexSize) {
        throw std::runtime_error("Too many embedded items");
    }
    if (items.empty()) {
        output.Commit();  // the bare program, without an empty index
        return;
    }

    const std::string footer = MakeFooter(existing.ProgramSize(), position, index, items.size());
    output.WriteAll(index.data(), index.size());
    output.WriteAll(footer.data(), footer.size());
    output.Commit();
}

#include "platform/EmbeddedItems.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <utility>

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Sha256.h"
#include "platform/SystemError.h"
#include "platform/Text.h"

// Layout of an executable with items:
//   program bytes | item 1 | item 2 | ... | index | footer
// Footer (72 bytes, little-endian): magic "TSRPKG01", program size u64, index offset u64,
// index size u64, item count u32, reserved u32 (0), SHA-256 (32 raw bytes) of the index followed
// by the first 40 bytes of the footer, so that every number of the footer is checked as well.
// Index entry: name length u16, name bytes, offset u64, size u64, SHA-256 (32 raw bytes).

namespace {

constexpr char kMagic[8] = {'T', 'S', 'R', 'P', 'K', 'G', '0', '1'};
constexpr size_t kFooterSize = 72;
constexpr size_t kDigestSize = 32;
constexpr size_t kChecksumOffset = 40;
constexpr size_t kMinEntrySize = 2 + 1 + 8 + 8 + kDigestSize;
constexpr uint64_t kMaxIndexSize = 16 * 1024 * 1024;
constexpr size_t kMaxNameLength = 1024;
constexpr size_t kBlockSize = 1024 * 1024;

void PutLe(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

uint64_t GetLe(const char* data, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = (value << 8) | static_cast<unsigned char>(data[i]);
    }
    return value;
}

std::string RawDigest(const std::string& hex) {
    std::string raw;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        raw += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return raw;
}

// A file being written under a temporary name beside its final path. Removed unless
// Commit() renamed it into place, so a failed write never leaves a half-written output.
class CTempOutput {
  public:
    explicit CTempOutput(const std::string& finalPath) : m_finalPath(finalPath) {
        const std::string dir = ExtractFileDir(finalPath);
        m_path = PathJoin(dir.empty() ? "." : dir, "." + ExtractFileName(finalPath) + ".tmpXXXXXX");
        m_fd = mkostemp(m_path.data(), O_CLOEXEC);
        if (m_fd < 0) {
            const int code = errno;
            throw CSystemError(
                code, "Cannot create a file beside \"" + finalPath + "\": " + SystemMessage(code));
        }
    }
    ~CTempOutput() {
        if (m_fd >= 0) {
            close(m_fd);
        }
        if (!m_committed) {
            unlink(m_path.c_str());
        }
    }
    CTempOutput(const CTempOutput&) = delete;
    CTempOutput& operator=(const CTempOutput&) = delete;

    void Write(const void* data, size_t size) {
        const char* bytes = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t written = write(m_fd, bytes, size);
            if (written < 0) {
                if (errno == EINTR) {
                    continue;
                }
                Fail("Cannot write");
            }
            bytes += written;
            size -= static_cast<size_t>(written);
        }
    }

    void Commit(mode_t mode) {
        if (fchmod(m_fd, mode) != 0) {
            Fail("Cannot set the permissions of");
        }
        const int fd = std::exchange(m_fd, -1);
        if (close(fd) != 0) {
            Fail("Cannot write");
        }
        if (rename(m_path.c_str(), m_finalPath.c_str()) != 0) {
            Fail("Cannot replace");
        }
        m_committed = true;
    }

  private:
    [[noreturn]] void Fail(const std::string& action) {
        const int code = errno;
        throw CSystemError(code, action + " \"" + m_finalPath + "\": " + SystemMessage(code));
    }

    std::string m_finalPath;
    std::string m_path;
    int m_fd = -1;
    bool m_committed = false;
};

}  // namespace

CEmbeddedItems::CEmbeddedItems(const std::string& executablePath) : m_path(executablePath) {
    CFile file(executablePath, CFile::Mode::Read);
    const auto fileSize = static_cast<uint64_t>(file.Size());
    m_programSize = fileSize;
    if (fileSize < kFooterSize) {
        return;
    }
    char footer[kFooterSize];
    file.ReadAt(fileSize - kFooterSize, footer, kFooterSize);
    if (std::memcmp(footer, kMagic, sizeof kMagic) != 0) {
        return;  // a plain program without items
    }

    const auto damaged = [&](const std::string& reason) {
        return CEmbeddedItemsError("The embedded item index of \"" + executablePath +
                                   "\" is damaged: " + reason);
    };
    const uint64_t programSize = GetLe(footer + 8, 8);
    const uint64_t indexOffset = GetLe(footer + 16, 8);
    const uint64_t indexSize = GetLe(footer + 24, 8);
    const uint64_t count = GetLe(footer + 32, 4);
    const uint64_t room = fileSize - kFooterSize;
    if (indexSize > kMaxIndexSize || indexSize > room || indexOffset != room - indexSize) {
        throw damaged("the index lies outside the file");
    }
    if (programSize > indexOffset) {
        throw damaged("the program size is out of range");
    }
    if (GetLe(footer + 36, 4) != 0) {
        throw damaged("unknown format");
    }
    if (count > indexSize / kMinEntrySize) {
        throw damaged("the item count does not fit the index");
    }

    std::string index(static_cast<size_t>(indexSize), '\0');
    file.ReadAt(indexOffset, index.data(), index.size());
    CSha256 sha;
    sha.Update(index.data(), index.size());
    sha.Update(footer, kChecksumOffset);
    if (sha.FinishHex() != HexEncode({footer + kChecksumOffset, kDigestSize})) {
        throw damaged("checksum mismatch");
    }

    std::set<std::string> names;
    size_t pos = 0;
    for (uint64_t i = 0; i < count; ++i) {
        if (index.size() - pos < 2) {
            throw damaged("truncated entry");
        }
        const auto nameLength = static_cast<size_t>(GetLe(index.data() + pos, 2));
        pos += 2;
        if (nameLength == 0 || nameLength > kMaxNameLength ||
            index.size() - pos < nameLength + 16 + kDigestSize) {
            throw damaged("bad entry name");
        }
        EmbeddedItem item;
        item.name = index.substr(pos, nameLength);
        pos += nameLength;
        item.offset = GetLe(index.data() + pos, 8);
        item.size = GetLe(index.data() + pos + 8, 8);
        pos += 16;
        item.sha256 = HexEncode({index.data() + pos, kDigestSize});
        pos += kDigestSize;
        if (item.offset < programSize || item.offset > indexOffset ||
            item.size > indexOffset - item.offset) {
            throw damaged("item \"" + item.name + "\" lies outside the data area");
        }
        if (!names.insert(item.name).second) {
            throw damaged("item \"" + item.name + "\" is listed twice");
        }
        m_items.push_back(std::move(item));
    }
    if (pos != index.size()) {
        throw damaged("unexpected bytes after the last entry");
    }
    m_programSize = programSize;
}

std::vector<std::string> CEmbeddedItems::Names() const {
    std::vector<std::string> names;
    for (const EmbeddedItem& item : m_items) {
        names.push_back(item.name);
    }
    return names;
}

const EmbeddedItem* CEmbeddedItems::Find(const std::string& name) const {
    for (const EmbeddedItem& item : m_items) {
        if (item.name == name) {
            return &item;
        }
    }
    return nullptr;
}

void CEmbeddedItems::ExtractTo(const std::string& name, const std::string& outputPath) const {
    const EmbeddedItem* item = Find(name);
    if (item == nullptr) {
        throw std::runtime_error("No embedded item \"" + name + "\" in \"" + m_path + "\"");
    }
    CFile file(m_path, CFile::Mode::Read);
    CTempOutput output(outputPath);
    CSha256 sha;
    std::vector<char> buffer(static_cast<size_t>(std::min<uint64_t>(kBlockSize, item->size)));
    for (uint64_t done = 0; done < item->size;) {
        const auto chunk =
            static_cast<size_t>(std::min<uint64_t>(buffer.size(), item->size - done));
        file.ReadAt(item->offset + done, buffer.data(), chunk);
        sha.Update(buffer.data(), chunk);
        output.Write(buffer.data(), chunk);
        done += chunk;
    }
    if (sha.FinishHex() != item->sha256) {
        // The temporary file is dropped: a damaged item never appears under its output name.
        throw CEmbeddedItemsError("Embedded item " + name + " is damaged (SHA-256 mismatch)");
    }
    output.Commit(0644);
}

void WriteEmbeddedItems(const std::string& baseExecutable, const std::vector<ItemSource>& items,
                        const std::string& outputPath) {
    std::set<std::string> names;
    for (const ItemSource& item : items) {
        if (item.name.empty() || item.name.size() > kMaxNameLength) {
            throw std::runtime_error("Invalid embedded item name \"" + item.name + "\"");
        }
        if (!names.insert(item.name).second) {
            throw std::runtime_error("Embedded item \"" + item.name + "\" is given twice");
        }
    }

    const CEmbeddedItems existing(baseExecutable);
    CFile base(baseExecutable, CFile::Mode::Read);
    struct stat baseInfo {};
    if (fstat(base.Descriptor(), &baseInfo) != 0) {
        ThrowLastError("Cannot query \"" + baseExecutable + "\"");
    }

    CTempOutput output(outputPath);
    std::vector<char> buffer(kBlockSize);
    uint64_t position = 0;
    while (position < existing.ProgramSize()) {
        const auto chunk = static_cast<size_t>(
            std::min<uint64_t>(buffer.size(), existing.ProgramSize() - position));
        base.ReadAt(position, buffer.data(), chunk);
        output.Write(buffer.data(), chunk);
        position += chunk;
    }

    std::string index;
    for (const ItemSource& item : items) {
        CFile source(item.path, CFile::Mode::Read);
        CSha256 sha;
        uint64_t size = 0;
        for (;;) {
            const size_t got = source.Read(buffer.data(), buffer.size());
            if (got == 0) {
                break;
            }
            sha.Update(buffer.data(), got);
            output.Write(buffer.data(), got);
            size += got;
        }
        PutLe(index, item.name.size(), 2);
        index += item.name;
        PutLe(index, position, 8);
        PutLe(index, size, 8);
        index += RawDigest(sha.FinishHex());
        position += size;
    }
    if (index.size() > kMaxIndexSize) {
        throw std::runtime_error("Too many embedded items");
    }
    if (items.empty()) {
        output.Commit(baseInfo.st_mode & 07777);  // the bare program, without an empty index
        return;
    }

    std::string footer(kMagic, sizeof kMagic);
    PutLe(footer, existing.ProgramSize(), 8);
    PutLe(footer, position, 8);
    PutLe(footer, index.size(), 8);
    PutLe(footer, items.size(), 4);
    PutLe(footer, 0, 4);
    footer += RawDigest(Sha256Hex(index + footer));
    output.Write(index.data(), index.size());
    output.Write(footer.data(), footer.size());
    output.Commit(baseInfo.st_mode & 07777);
}

#include "platform/EmbeddedIndex.h"

#include <algorithm>
#include <set>
#include <stdexcept>
#include <utility>

#include "platform/ByteOrder.h"
#include "platform/FileSystem.h"
#include "platform/Sha256.h"
#include "platform/Text.h"

namespace {

constexpr size_t kMinEntrySize = 2 + 1 + 8 + 8 + kItemDigestSize;

int HexValue(char c) {
    const int value = HexDigitValue(c);
    if (value < 0 || (c >= 'A' && c <= 'F')) {
        throw std::invalid_argument("Not a lower-case hex digit in a SHA-256 digest");
    }
    return value;
}

}  // namespace

std::string RawDigest(const std::string& hex) {
    if (hex.size() != 2 * kItemDigestSize) {
        throw std::invalid_argument("A SHA-256 digest has 64 hex digits");
    }
    std::string raw;
    for (size_t i = 0; i < hex.size(); i += 2) {
        raw += static_cast<char>(HexValue(hex[i]) * 16 + HexValue(hex[i + 1]));
    }
    return raw;
}

CEmbeddedItemsError DamagedIndexError(const std::string& source, const std::string& reason) {
    return CEmbeddedItemsError("The embedded item index of \"" + source +
                               "\" is damaged: " + reason);
}

std::string EncodeItemIndex(const std::vector<EmbeddedItem>& items) {
    std::string index;
    for (const EmbeddedItem& item : items) {
        PutLittleEndian(index, item.name.size(), 2);
        index += item.name;
        PutLittleEndian(index, item.offset, 8);
        PutLittleEndian(index, item.size, 8);
        index += RawDigest(item.sha256);
    }
    return index;
}

std::vector<EmbeddedItem> DecodeItemIndex(std::string_view index, uint64_t count,
                                          const std::string& source) {
    if (count > index.size() / kMinEntrySize) {
        throw DamagedIndexError(source, "the item count does not fit the index");
    }
    std::vector<EmbeddedItem> items;
    std::set<std::string> names;
    size_t pos = 0;
    for (uint64_t i = 0; i < count; ++i) {
        if (index.size() - pos < 2) {
            throw DamagedIndexError(source, "truncated entry");
        }
        const auto nameLength = static_cast<size_t>(GetLittleEndian(index.data() + pos, 2));
        pos += 2;
        if (nameLength == 0 || nameLength > kMaxItemNameLength ||
            index.size() - pos < nameLength + 16 + kItemDigestSize) {
            throw DamagedIndexError(source, "bad entry name");
        }
        EmbeddedItem item;
        item.name = std::string(index.substr(pos, nameLength));
        pos += nameLength;
        item.offset = GetLittleEndian(index.data() + pos, 8);
        item.size = GetLittleEndian(index.data() + pos + 8, 8);
        pos += 16;
        item.sha256 = HexEncode(index.substr(pos, kItemDigestSize));
        pos += kItemDigestSize;
        if (!names.insert(item.name).second) {
            throw DamagedIndexError(source, "item \"" + item.name + "\" is listed twice");
        }
        items.push_back(std::move(item));
    }
    if (pos != index.size()) {
        throw DamagedIndexError(source, "unexpected bytes after the last entry");
    }
    return items;
}

void WriteCheckedItem(
    const EmbeddedItem& item, const std::string& outputPath,
    const std::function<std::string_view(CReplacingFile&, uint64_t, size_t)>& appendBlock,
    const std::function<void()>& afterBlock) {
    CReplacingFile output(outputPath);
    CSha256 sha;
    for (uint64_t done = 0; done < item.size;) {
        const auto size = static_cast<size_t>(std::min<uint64_t>(kItemBlockSize, item.size - done));
        const std::string_view block = appendBlock(output, done, size);
        sha.Update(block.data(), block.size());
        done += block.size();
        if (afterBlock) {
            afterBlock();
        }
    }
    if (sha.FinishHex() != item.sha256) {
        // The temporary file is dropped: a damaged item never appears under its output name.
        throw CEmbeddedItemsError("Embedded item " + item.name + " is damaged (SHA-256 mismatch)");
    }
    output.Commit();
}

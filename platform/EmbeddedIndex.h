#pragma once
// The index that lists embedded items, shared by the layouts that carry them (items appended to
// an executable, items as Windows resources). Per item, in stored order: name length (u16), name,
// offset (u64), size (u64) and SHA-256 (32 raw bytes); numbers are little-endian.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/EmbeddedItems.h"

class CReplacingFile;

inline constexpr size_t kMaxItemNameLength = 1024;
inline constexpr size_t kItemDigestSize = 32;

// The 32 raw bytes of a SHA-256 digest given in lower-case hex.
std::string RawDigest(const std::string& hex);

std::string EncodeItemIndex(const std::vector<EmbeddedItem>& items);

// Reads `count` entries that fill `index` exactly. A truncated entry, a bad name, a name listed
// twice or bytes after the last entry throw DamagedIndexError(source, ...).
std::vector<EmbeddedItem> DecodeItemIndex(std::string_view index, uint64_t count,
                                          const std::string& source);

// The size of the blocks in which items are written out.
inline constexpr size_t kItemBlockSize = 1024 * 1024;

// Writes `item` to `outputPath` (replacing it) block by block: `appendBlock(output, offset,
// size)` appends the bytes at `offset` from the item's start (at most kItemBlockSize) to the
// output and gives the bytes appended, whose SHA-256 is checked on the way; `afterBlock` (when
// given) is called after each block. A damaged item never appears under the output name:
// CEmbeddedItemsError names `name`.
void WriteCheckedItem(
    const EmbeddedItem& item, const std::string& outputPath,
    const std::function<std::string_view(CReplacingFile&, uint64_t, size_t)>& appendBlock,
    const std::function<void()>& afterBlock);

// "The embedded item index of "<source>" is damaged: <reason>"
CEmbeddedItemsError DamagedIndexError(const std::string& source, const std::string& reason);

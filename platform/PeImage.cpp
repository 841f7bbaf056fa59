#include "platform/PeImage.h"

#include <algorithm>
#include <stdexcept>

#include "platform/ByteOrder.h"

namespace {

// PE/COFF: the DOS header points to "PE\0\0", the 20-byte file header follows (section count
// at 2, symbol table pointer at 8, symbol count at 12, optional header size at 16), then the
// optional header with the checksum at 64, then 40-byte section headers (raw size at 16, raw
// pointer at 20). A symbol is 18 bytes; the string table after the symbols begins with its own
// size, those 4 bytes included.
constexpr size_t kNewHeaderPointer = 0x3C;
constexpr size_t kFileHeaderSize = 20;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kSymbolSize = 18;
constexpr size_t kChecksumOffset = 64;

struct Headers {
    size_t fileHeader;  // offset of the file header
    size_t optionalHeader;
    size_t sections;  // offset of the first section header
    size_t sectionCount;
};

[[noreturn]] void Damaged(const std::string& what) {
    throw std::runtime_error("Not a PE program file: " + what);
}

uint32_t Le32At(std::string_view image, size_t offset) {
    if (offset > image.size() || image.size() - offset < 4) {
        Damaged("a header lies beyond the end of the file");
    }
    return GetLe32(image.data() + offset);
}

Headers Find(std::string_view image) {
    if (image.size() < kNewHeaderPointer + 4 || image[0] != 'M' || image[1] != 'Z') {
        Damaged("no DOS header");
    }
    const size_t pe = Le32At(image, kNewHeaderPointer);
    if (Le32At(image, pe) != 0x00004550) {  // "PE\0\0"
        Damaged("no PE signature");
    }
    Headers headers{};
    headers.fileHeader = pe + 4;
    headers.optionalHeader = headers.fileHeader + kFileHeaderSize;
    const uint32_t words = Le32At(image, headers.fileHeader);
    headers.sectionCount = words >> 16;
    const size_t optionalSize = Le32At(image, headers.fileHeader + 16) & 0xFFFF;
    headers.sections = headers.optionalHeader + optionalSize;
    if (optionalSize < kChecksumOffset + 4 ||
        headers.sections + headers.sectionCount * kSectionHeaderSize > image.size()) {
        Damaged("the section headers lie beyond the end of the file");
    }
    return headers;
}

}  // namespace

CoffSymbols CoffSymbolTable(std::string_view image) {
    const Headers headers = Find(image);
    const size_t pointer = Le32At(image, headers.fileHeader + 8);
    const uint32_t count = Le32At(image, headers.fileHeader + 12);
    if (pointer == 0) {
        return {};
    }
    if (count > image.size() / kSymbolSize) {
        Damaged("the symbol table lies beyond the end of the file");
    }
    const size_t strings = pointer + count * kSymbolSize;
    const size_t stringsSize = Le32At(image, strings);
    if (stringsSize < 4 || stringsSize > image.size() - strings) {
        Damaged("bad string table size");
    }
    return {std::string(image.substr(pointer, count * kSymbolSize + stringsSize)), count};
}

void PlaceCoffSymbolTable(std::string& image, const CoffSymbols& table) {
    const Headers headers = Find(image);
    size_t end = headers.sections + headers.sectionCount * kSectionHeaderSize;
    for (size_t i = 0; i < headers.sectionCount; ++i) {
        const size_t section = headers.sections + i * kSectionHeaderSize;
        const size_t size = Le32At(image, section + 16);
        const size_t pointer = Le32At(image, section + 20);
        if (pointer != 0 && size != 0) {
            end = std::max(end, pointer + size);
        }
    }
    if (end > image.size()) {
        Damaged("a section lies beyond the end of the file");
    }
    image.resize(end);
    image.append(table.bytes);
    const bool none = table.bytes.empty();
    SetLittleEndian(image.data() + headers.fileHeader + 8, none ? 0 : end, 4);
    SetLittleEndian(image.data() + headers.fileHeader + 12, none ? 0 : table.count, 4);
}

uint32_t PeChecksum(std::string_view image) {
    const size_t field = Find(image).optionalHeader + kChecksumOffset;
    if (field % 2 != 0) {
        Damaged("the checksum lies at an odd offset");
    }
    uint64_t sum = 0;
    for (size_t i = 0; i < image.size(); i += 2) {
        if (i == field || i == field + 2) {
            continue;  // the checksum itself counts as 0 (it lies at an even offset)
        }
        uint32_t word = static_cast<unsigned char>(image[i]);
        if (i + 1 < image.size()) {
            word |= static_cast<uint32_t>(static_cast<unsigned char>(image[i + 1])) << 8;
        }
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>((sum & 0xFFFF) + image.size());
}

void SetPeChecksum(std::string& image) {
    const size_t field = Find(image).optionalHeader + kChecksumOffset;
    SetLittleEndian(image.data() + field, PeChecksum(image), 4);
}

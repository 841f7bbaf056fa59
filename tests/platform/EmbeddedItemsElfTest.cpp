// The layout of items appended to an ELF program: permission bits kept, empty items, every byte
// of the index and footer guarded, a file cut short, the end of an ELF image, a damaged item.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/EmbeddedItems.h"
#include "platform/FileSystem.h"
#include "platform/SystemError.h"
#include "tests/support/TestSupport.h"

namespace {

// Overwrites one byte of a file with its complement.
void FlipByte(const std::string& path, uint64_t offset) {
    std::string bytes = ReadWholeFile(path);
    ASSERT_LT(offset, bytes.size());
    bytes[offset] = static_cast<char>(~bytes[offset]);
    WriteFile(path, bytes);
}

// A base program (a copy of /bin/true) and some item files in a scratch directory.
class ElfItemsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_base = m_dir.File("updater");
        const CopyResult copy = CopyFileReplace("/bin/true", m_base);
        ASSERT_TRUE(copy.Ok()) << copy.message;
        m_baseSize = static_cast<uint64_t>(FileSize(m_base));
        WriteFile(m_dir.File("a.rar"), std::string("Rar!\x1A\x07\x00 first package", 21));
        WriteFile(m_dir.File("b.rar"), "second package");
        WriteFile(m_dir.File("empty.rar"), "");
    }

    CTempDir m_dir;
    std::string m_base;
    uint64_t m_baseSize = 0;
};

}  // namespace

TEST_F(ElfItemsTest, FilesShorterThanAFooterArePlainPrograms) {
    WriteFile(m_dir.File("tiny"), "MZ");
    EXPECT_EQ(CEmbeddedItems(m_dir.File("tiny")).ProgramSize(), 2u);
}

TEST_F(ElfItemsTest, AnEmptyItemAndThePermissionBitsAreKept) {
    const std::string packed = m_dir.File("packed");
    WriteEmbeddedItems(
        m_base, {{"237_RAR", m_dir.File("empty.rar")}, {"238_RAR", m_dir.File("a.rar")}}, packed);
    const CEmbeddedItems items(packed);
    EXPECT_EQ(items.Names(), (std::vector<std::string>{"237_RAR", "238_RAR"}));
    int blocks = 0;
    items.ExtractTo("237_RAR", m_dir.File("237.rar"), [&] { ++blocks; });
    EXPECT_EQ(blocks, 0);
    EXPECT_EQ(FileSize(m_dir.File("237.rar")), 0);
    struct stat info {};
    ASSERT_EQ(stat(packed.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0755u);

    // Repacked without items it is the program it was packed from, byte for byte.
    WriteEmbeddedItems(packed, {}, packed);
    EXPECT_TRUE(ReadWholeFile(packed) == ReadWholeFile(m_base));
}

TEST_F(ElfItemsTest, DamagedIndexIsAClearError) {
    const std::string packed = m_dir.File("packed");
    WriteEmbeddedItems(m_base, {{"238_RAR", m_dir.File("a.rar")}, {"239_RAR", m_dir.File("b.rar")}},
                       packed);
    const uint64_t size = static_cast<uint64_t>(FileSize(packed));
    const uint64_t dataEnd = m_baseSize + 23 + 14;

    // Every byte of the index and of the footer is guarded; without its magic the footer is
    // bytes after the program image, which no plain program has.
    for (uint64_t offset = dataEnd; offset < size; ++offset) {
        const std::string copy = m_dir.File("damaged");
        ASSERT_TRUE(CopyFileReplace(packed, copy).Ok());
        FlipByte(copy, offset);
        try {
            CEmbeddedItems items(copy);
            ADD_FAILURE() << "no error for a flipped byte at " << offset;
        } catch (const CEmbeddedItemsError& e) {
            EXPECT_NE(std::string(e.what()).find("damaged"), std::string::npos) << e.what();
        }
    }

    // A file cut short loses its footer: damage, never "no items".
    std::string bytes = ReadWholeFile(packed);
    bytes.resize(bytes.size() - 1);
    WriteFile(m_dir.File("cut"), bytes);
    try {
        CEmbeddedItems items(m_dir.File("cut"));
        ADD_FAILURE() << "a file cut short reads as a plain program";
    } catch (const CEmbeddedItemsError& e) {
        EXPECT_NE(std::string(e.what()).find("cut short"), std::string::npos) << e.what();
    }
    // Cut down to the program it was packed from, it is that program again.
    bytes.resize(m_baseSize);
    WriteFile(m_dir.File("program"), bytes);
    EXPECT_TRUE(CEmbeddedItems(m_dir.File("program")).Items().empty());

    // Garbage after a valid magic.
    WriteFile(m_dir.File("garbage"),
              std::string(100, '\xFF') + "TSRPKG01" + std::string(64, '\xFF'));
    EXPECT_THROW(CEmbeddedItems(m_dir.File("garbage")), CEmbeddedItemsError);
}

// A 32-bit ELF image made by hand: the header, one program header and a 16-byte segment, 100
// bytes in all. Offsets in the header may be set to point elsewhere.
std::string Elf32Image(uint32_t phoff = 52, uint32_t segmentOffset = 84) {
    std::string image(100, '\0');
    const auto put = [&](size_t at, uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            image[at + static_cast<size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
        }
    };
    image.replace(0, 6,
                  "\x7f"
                  "ELF\x01\x01");  // 32-bit, little-endian
    put(28, phoff, 4);
    put(40, 52, 2);  // e_ehsize
    put(42, 32, 2);  // e_phentsize
    put(44, 1, 2);   // e_phnum
    put(52 + 4, segmentOffset, 4);
    put(52 + 16, 16, 4);  // p_filesz
    return image;
}

TEST_F(ElfItemsTest, BytesAfterAnElfImageWithoutAnIndexAreDamage) {
    const std::string path = m_dir.File("elf32");
    WriteFile(path, Elf32Image());
    EXPECT_EQ(CEmbeddedItems(path).ProgramSize(), 100u);
    WriteFile(path, Elf32Image() + "x");
    EXPECT_THROW(CEmbeddedItems{path}, CEmbeddedItemsError);
    // A segment that ends at the last byte leaves no room for trailing data.
    WriteFile(path, Elf32Image(52, 85) + "x");
    EXPECT_TRUE(CEmbeddedItems(path).Items().empty());
    // Headers that point beyond the file: the file was cut inside the program image.
    WriteFile(path, Elf32Image(5000) + "trailing");
    EXPECT_THROW(CEmbeddedItems{path}, CEmbeddedItemsError);
    WriteFile(path, Elf32Image(52, 5000) + "trailing");
    EXPECT_THROW(CEmbeddedItems{path}, CEmbeddedItemsError);
    // A program that is no ELF image (a Windows one carries its packages otherwise).
    WriteFile(path, "MZ" + std::string(200, 'x'));
    EXPECT_TRUE(CEmbeddedItems(path).Items().empty());
    // A real 64-bit program and the same with one byte appended.
    WriteFile(path, ReadWholeFile(m_base) + "x");
    EXPECT_THROW(CEmbeddedItems{path}, CEmbeddedItemsError);
}

TEST_F(ElfItemsTest, DamagedItemNamesItselfAndWritesNothing) {
    const std::string packed = m_dir.File("packed");
    WriteEmbeddedItems(m_base, {{"237_RAR", m_dir.File("b.rar")}, {"238_RAR", m_dir.File("a.rar")}},
                       packed);
    FlipByte(packed, m_baseSize + 14 + 5);  // inside 238_RAR
    const CEmbeddedItems items(packed);
    const std::string out = m_dir.File("238.rar");
    WriteFile(out, "older");
    try {
        items.ExtractTo("238_RAR", out);
        FAIL() << "a damaged item was extracted";
    } catch (const CEmbeddedItemsError& e) {
        EXPECT_NE(std::string(e.what()).find("238_RAR"), std::string::npos) << e.what();
    }
    EXPECT_EQ(ReadWholeFile(out), "older");
    items.ExtractTo("237_RAR", m_dir.File("237.rar"));  // its neighbour is sound
    EXPECT_EQ(ReadWholeFile(m_dir.File("237.rar")), "second package");
    EXPECT_EQ(DirectoryEntries(m_dir.Path()),
              (std::vector<std::string>{"237.rar", "238.rar", "a.rar", "b.rar", "empty.rar",
                                        "packed", "updater"}));
}

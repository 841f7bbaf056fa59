#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/ChildProcess.h"
#include "platform/EmbeddedItems.h"
#include "platform/FileSearch.h"
#include "platform/FileSystem.h"
#include "platform/Sha256.h"
#include "platform/SystemError.h"
#include "platform/Text.h"
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
class EmbeddedItemsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_base = m_dir.File("updater");
        const CopyResult copy = CopyFileReplace("/bin/true", m_base);
        ASSERT_TRUE(copy.Ok()) << copy.message;
        m_baseSize = static_cast<uint64_t>(FileSize(m_base));
        WriteFile(m_dir.File("a.rar"), std::string("Rar!\x1A\x07\x00 first package", 23));
        WriteFile(m_dir.File("b.rar"), "second package");
        WriteFile(m_dir.File("empty.rar"), "");
    }

    CTempDir m_dir;
    std::string m_base;
    uint64_t m_baseSize = 0;
};

}  // namespace

TEST_F(EmbeddedItemsTest, PlainProgramHasNoItems) {
    const CEmbeddedItems items(m_base);
    EXPECT_TRUE(items.Items().empty());
    EXPECT_EQ(items.ProgramSize(), m_baseSize);
    EXPECT_EQ(items.Find("238_RAR"), nullptr);
    EXPECT_THROW(items.ExtractTo("238_RAR", m_dir.File("out")), std::runtime_error);
    EXPECT_THROW(CEmbeddedItems(m_dir.File("absent")), CSystemError);

    // Files shorter than a footer are programs without items as well.
    WriteFile(m_dir.File("tiny"), "MZ");
    EXPECT_EQ(CEmbeddedItems(m_dir.File("tiny")).ProgramSize(), 2u);
}

TEST_F(EmbeddedItemsTest, RoundTripWithZeroOneAndThreeItems) {
    const std::string none = m_dir.File("none");
    WriteEmbeddedItems(m_base, {}, none);
    EXPECT_TRUE(CEmbeddedItems(none).Items().empty());
    EXPECT_EQ(CEmbeddedItems(none).ProgramSize(), m_baseSize);

    const std::string one = m_dir.File("one");
    WriteEmbeddedItems(m_base, {{"238_RAR", m_dir.File("a.rar")}}, one);
    const CEmbeddedItems oneItems(one);
    EXPECT_EQ(oneItems.Names(), std::vector<std::string>{"238_RAR"});
    EXPECT_EQ(oneItems.ProgramSize(), m_baseSize);
    oneItems.ExtractTo("238_RAR", m_dir.File("238.rar"));
    EXPECT_EQ(ReadWholeFile(m_dir.File("238.rar")), ReadWholeFile(m_dir.File("a.rar")));

    // Stored order is kept, not sorted.
    const std::string three = m_dir.File("three");
    WriteEmbeddedItems(m_base,
                       {{"239_RAR", m_dir.File("b.rar")},
                        {"237_RAR", m_dir.File("empty.rar")},
                        {"238_RAR", m_dir.File("a.rar")}},
                       three);
    const CEmbeddedItems threeItems(three);
    EXPECT_EQ(threeItems.Names(), (std::vector<std::string>{"239_RAR", "237_RAR", "238_RAR"}));
    EXPECT_EQ(threeItems.ProgramSize(), m_baseSize);
    const EmbeddedItem* item = threeItems.Find("239_RAR");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->size, 14u);
    EXPECT_EQ(item->sha256, Sha256OfFile(m_dir.File("b.rar")));
    for (const auto& [name, source] : {std::pair<std::string, std::string>{"239_RAR", "b.rar"},
                                       {"237_RAR", "empty.rar"},
                                       {"238_RAR", "a.rar"}}) {
        const std::string out = m_dir.File(name + ".out");
        WriteFile(out, "an older file of that name");
        threeItems.ExtractTo(name, out);
        EXPECT_EQ(ReadWholeFile(out), ReadWholeFile(m_dir.File(source))) << name;
    }

    // The program part is untouched: it still runs, with its permission bits.
    struct stat info {};
    ASSERT_EQ(stat(three.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0755u);
    CChildProcess program;
    program.Start(three, three, m_dir.Path());
    ASSERT_TRUE(program.Wait(10000));
    EXPECT_EQ(program.ExitCode(), 0);
}

TEST_F(EmbeddedItemsTest, RepackingReplacesTheItems) {
    const std::string packed = m_dir.File("packed");
    WriteEmbeddedItems(m_base, {{"237_RAR", m_dir.File("a.rar")}, {"238_RAR", m_dir.File("b.rar")}},
                       packed);
    const std::string repacked = m_dir.File("repacked");
    WriteEmbeddedItems(packed, {{"239_RAR", m_dir.File("a.rar")}}, repacked);
    const CEmbeddedItems items(repacked);
    EXPECT_EQ(items.Names(), std::vector<std::string>{"239_RAR"});
    EXPECT_EQ(items.ProgramSize(), m_baseSize);
    EXPECT_EQ(items.Find("237_RAR"), nullptr);
    EXPECT_TRUE(ReadWholeFile(repacked).substr(0, m_baseSize) == ReadWholeFile(m_base));
    items.ExtractTo("239_RAR", m_dir.File("239.rar"));
    EXPECT_EQ(ReadWholeFile(m_dir.File("239.rar")), ReadWholeFile(m_dir.File("a.rar")));
    // Packing in place works too, and an empty item list leaves the bare program.
    WriteEmbeddedItems(repacked, {}, repacked);
    EXPECT_TRUE(CEmbeddedItems(repacked).Items().empty());
    EXPECT_TRUE(ReadWholeFile(repacked) == ReadWholeFile(m_base));
}

TEST_F(EmbeddedItemsTest, BadInputLeavesNoOutput) {
    const std::string out = m_dir.File("out");
    EXPECT_THROW(WriteEmbeddedItems(m_base, {{"238_RAR", m_dir.File("absent.rar")}}, out),
                 CSystemError);
    EXPECT_THROW(
        WriteEmbeddedItems(
            m_base, {{"238_RAR", m_dir.File("a.rar")}, {"238_RAR", m_dir.File("b.rar")}}, out),
        std::runtime_error);
    EXPECT_THROW(WriteEmbeddedItems(m_base, {{"", m_dir.File("a.rar")}}, out), std::runtime_error);
    EXPECT_THROW(
        WriteEmbeddedItems(m_base, {{"238_RAR", m_dir.File("a.rar")}}, m_dir.File("absent/out")),
        CSystemError);
    EXPECT_THROW(WriteEmbeddedItems(m_dir.File("absent"), {}, out), CSystemError);
    EXPECT_FALSE(FileExists(out));

    // A failed repack keeps the previous output as it was.
    WriteEmbeddedItems(m_base, {{"238_RAR", m_dir.File("a.rar")}}, out);
    const std::string before = ReadWholeFile(out);
    EXPECT_THROW(WriteEmbeddedItems(m_base, {{"239_RAR", m_dir.File("absent.rar")}}, out),
                 CSystemError);
    EXPECT_TRUE(ReadWholeFile(out) == before);
    EXPECT_EQ(DirectoryEntries(m_dir.Path()),
              (std::vector<std::string>{"a.rar", "b.rar", "empty.rar", "out", "updater"}));
}

TEST_F(EmbeddedItemsTest, DamagedIndexIsAClearError) {
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

TEST_F(EmbeddedItemsTest, BytesAfterAnElfImageWithoutAnIndexAreDamage) {
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

TEST_F(EmbeddedItemsTest, DamagedItemNamesItselfAndWritesNothing) {
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

TEST_F(EmbeddedItemsTest, LargeItemsStreamThrough) {
    // 20 MB with a pattern that a block-boundary mistake would disturb.
    const std::string large = m_dir.File("large.rar");
    {
        CFile file(large, CFile::Mode::WriteTruncate);
        std::string block(1000003, '\0');
        for (int i = 0; i < 20; ++i) {
            for (size_t j = 0; j < block.size(); ++j) {
                block[j] = static_cast<char>((j * 31 + static_cast<size_t>(i)) & 0xFF);
            }
            file.WriteAll(block.data(), block.size());
        }
        file.Close();
    }
    const std::string packed = m_dir.File("packed");
    WriteEmbeddedItems(m_base, {{"238_RAR", m_dir.File("a.rar")}, {"239_RAR", large}}, packed);
    const CEmbeddedItems items(packed);
    ASSERT_NE(items.Find("239_RAR"), nullptr);
    EXPECT_EQ(items.Find("239_RAR")->size, 20u * 1000003u);
    int blocks = 0;
    items.ExtractTo("239_RAR", m_dir.File("239.rar"), [&] { ++blocks; });
    EXPECT_EQ(Sha256OfFile(m_dir.File("239.rar")), Sha256OfFile(large));
    EXPECT_EQ(FileSize(m_dir.File("239.rar")), FileSize(large));
    // A call after every block of 1 MiB, the short last one included: the caller's window is
    // pumped between them.
    EXPECT_EQ(blocks, 20);

    // A short item is one block, an empty one none.
    WriteEmbeddedItems(
        m_base, {{"238_RAR", m_dir.File("a.rar")}, {"237_RAR", m_dir.File("empty.rar")}}, packed);
    const CEmbeddedItems small(packed);
    blocks = 0;
    small.ExtractTo("238_RAR", m_dir.File("238.rar"), [&] { ++blocks; });
    EXPECT_EQ(blocks, 1);
    small.ExtractTo("237_RAR", m_dir.File("237.rar"), [&] { ++blocks; });
    EXPECT_EQ(blocks, 1);
    EXPECT_EQ(FileSize(m_dir.File("237.rar")), 0);
}

TEST(Sha256, KnownDigests) {
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    CSha256 incremental;
    incremental.Update("a", 1);
    incremental.Update("bc", 2);
    EXPECT_EQ(incremental.FinishHex(), Sha256Hex("abc"));
    EXPECT_THROW(incremental.Update("d", 1), std::logic_error);
    CSha256 raw;
    raw.Update("abc", 3);
    const std::string digest = raw.FinishRaw();
    EXPECT_EQ(digest.size(), 32u);
    EXPECT_EQ(HexEncode(digest), Sha256Hex("abc"));
    EXPECT_THROW(raw.FinishRaw(), std::logic_error);
}

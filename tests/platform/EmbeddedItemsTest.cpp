// Packages carried by the program, in whatever layout the system gives them (appended to an ELF
// file, resources of a Windows program): written, listed in stored order, read back with their
// SHA-256 checked, replaced, and refused input that leaves nothing behind. The base program is
// a copy of the test helper, so a packed program can be run to show that it still works.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/EmbeddedItems.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Sha256.h"
#include "platform/SystemError.h"
#include "platform/Text.h"
#include "tests/support/TestSupport.h"

namespace {

class EmbeddedItemsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_base = Program("оновлювач");
        const CopyResult copy = CopyFileReplace(BuiltProgram("test_helper"), m_base);
        ASSERT_TRUE(copy.Ok()) << copy.message;
        m_baseSize = static_cast<uint64_t>(FileSize(m_base));
        WriteFile(m_dir.File("a.rar"), std::string("Rar!\x1A\x07\x00 first package", 21));
        WriteFile(m_dir.File("b.rar"), "second package");
    }

    // A program file in the scratch directory, named as the system names programs.
    std::string Program(const std::string& name) const { return m_dir.File(ProgramFileName(name)); }

    // The exit code of `program` asked to end with 7.
    static int Run(const std::string& program) {
        CChildProcess child;
        child.Start(program, BuildCommandLine({program, "exit", "7"}), "");
        EXPECT_TRUE(child.Wait(30000));
        return child.ExitCode();
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
}

TEST_F(EmbeddedItemsTest, RoundTripWithZeroOneAndThreeItems) {
    const std::string none = Program("none");
    WriteEmbeddedItems(m_base, {}, none);
    EXPECT_TRUE(CEmbeddedItems(none).Items().empty());
    EXPECT_EQ(CEmbeddedItems(none).ProgramSize(), m_baseSize);

    const std::string one = Program("one");
    WriteEmbeddedItems(m_base, {{"238_RAR", m_dir.File("a.rar")}}, one);
    const CEmbeddedItems oneItems(one);
    EXPECT_EQ(oneItems.Names(), std::vector<std::string>{"238_RAR"});
    EXPECT_EQ(oneItems.ProgramSize(), m_baseSize);
    oneItems.ExtractTo("238_RAR", m_dir.File("238.rar"));
    EXPECT_EQ(ReadWholeFile(m_dir.File("238.rar")), ReadWholeFile(m_dir.File("a.rar")));

    // Stored order is kept, not sorted.
    const std::string three = Program("three");
    WriteEmbeddedItems(m_base,
                       {{"239_RAR", m_dir.File("b.rar")},
                        {"237_RAR", m_dir.File("a.rar")},
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
                                       {"237_RAR", "a.rar"},
                                       {"238_RAR", "a.rar"}}) {
        const std::string out = m_dir.File(name + ".out");
        WriteFile(out, "an older file of that name");
        threeItems.ExtractTo(name, out);
        EXPECT_EQ(ReadWholeFile(out), ReadWholeFile(m_dir.File(source))) << name;
    }

    // The program itself is untouched: it still runs.
    EXPECT_EQ(Run(three), 7);
}

TEST_F(EmbeddedItemsTest, RepackingReplacesTheItems) {
    const std::string packed = Program("packed");
    WriteEmbeddedItems(m_base, {{"237_RAR", m_dir.File("a.rar")}, {"238_RAR", m_dir.File("b.rar")}},
                       packed);
    const std::string repacked = Program("repacked");
    WriteEmbeddedItems(packed, {{"239_RAR", m_dir.File("a.rar")}}, repacked);
    const CEmbeddedItems items(repacked);
    EXPECT_EQ(items.Names(), std::vector<std::string>{"239_RAR"});
    EXPECT_EQ(items.ProgramSize(), m_baseSize);
    EXPECT_EQ(items.Find("237_RAR"), nullptr);
    items.ExtractTo("239_RAR", m_dir.File("239.rar"));
    EXPECT_EQ(ReadWholeFile(m_dir.File("239.rar")), ReadWholeFile(m_dir.File("a.rar")));

    // Packing in place works too, and an empty item list leaves the bare program.
    WriteEmbeddedItems(repacked, {}, repacked);
    EXPECT_TRUE(CEmbeddedItems(repacked).Items().empty());
    EXPECT_EQ(CEmbeddedItems(repacked).ProgramSize(), m_baseSize);
    EXPECT_EQ(Run(repacked), 7);
}

TEST_F(EmbeddedItemsTest, BadInputLeavesNoOutput) {
    const std::string out = Program("out");
    EXPECT_THROW(WriteEmbeddedItems(m_base, {{"238_RAR", m_dir.File("absent.rar")}}, out),
                 CSystemError);
    EXPECT_THROW(
        WriteEmbeddedItems(
            m_base, {{"238_RAR", m_dir.File("a.rar")}, {"238_RAR", m_dir.File("b.rar")}}, out),
        std::runtime_error);
    EXPECT_THROW(WriteEmbeddedItems(m_base, {{"", m_dir.File("a.rar")}}, out), std::runtime_error);
    EXPECT_THROW(WriteEmbeddedItems(m_base, {{"238_RAR", m_dir.File("a.rar")}},
                                    PathJoin(m_dir.File("absent"), "out")),
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
              (std::vector<std::string>{"a.rar", "b.rar", ExtractFileName(out),
                                        ExtractFileName(m_base)}));
}

TEST_F(EmbeddedItemsTest, LargeItemsStreamThroughInBlocks) {
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
    const std::string packed = Program("packed");
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
    // A short item is one block.
    blocks = 0;
    items.ExtractTo("238_RAR", m_dir.File("238.rar"), [&] { ++blocks; });
    EXPECT_EQ(blocks, 1);
}

TEST(Sha256, KnownDigestsInAnyChunking) {
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // A million 'a' (a standard test vector) fed in uneven pieces across block boundaries.
    const std::string million(1000000, 'a');
    CSha256 pieces;
    for (size_t done = 0, step = 1; done < million.size(); step = step * 3 + 1) {
        const size_t chunk = std::min(step, million.size() - done);
        pieces.Update(million.data() + done, chunk);
        done += chunk;
    }
    EXPECT_EQ(pieces.FinishHex(),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_THROW(pieces.Update("a", 1), std::logic_error);
    EXPECT_THROW(pieces.FinishHex(), std::logic_error);
    CSha256 raw;
    raw.Update("abc", 3);
    const std::string digest = raw.FinishRaw();
    EXPECT_EQ(digest.size(), 32u);
    EXPECT_EQ(HexEncode(digest), Sha256Hex("abc"));
    EXPECT_THROW(raw.FinishRaw(), std::logic_error);
}

// The RAR STORE writer, checked byte by byte against the RAR 4 layout: headers, CRCs, streaming
// of large files, directory archives and failures that must leave no archive behind.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>

#include "tests/support/TestSupport.h"
#include "tests/tools/ToolRunner.h"
#include "tools/pack/RarWriter.h"

namespace {

// Bitwise CRC-32, kept apart from the writer's table version on purpose.
uint32_t Crc32(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= static_cast<uint8_t>(c);
        for (int k = 0; k < 8; ++k) {
            crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
        }
    }
    return ~crc;
}

uint32_t Le(const std::string& bytes, size_t at, int width) {
    uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = value << 8 | static_cast<uint8_t>(bytes.at(at + static_cast<size_t>(i)));
    }
    return value;
}

struct ParsedEntry {
    uint16_t flags = 0;
    uint32_t packSize = 0;
    uint32_t unpSize = 0;
    uint8_t hostOs = 0;
    uint32_t fileCrc = 0;
    uint8_t unpVer = 0;
    uint8_t method = 0;
    uint32_t attr = 0;
    std::string name;
    std::string data;
};

// Walks the archive as a reader would, checking the fixed blocks and every header CRC.
std::vector<ParsedEntry> ParseArchive(const std::string& bytes) {
    const std::string marker("Rar!\x1A\x07\x00", 7);
    // Main and end blocks exactly as the RAR archiver writes them (CRCs included).
    const std::string mainHeader("\xCF\x90\x73\x00\x00\x0D\x00\x00\x00\x00\x00\x00\x00", 13);
    const std::string endBlock("\xC4\x3D\x7B\x00\x40\x07\x00", 7);
    EXPECT_EQ(bytes.substr(0, 7), marker);
    EXPECT_EQ(bytes.substr(7, 13), mainHeader);
    EXPECT_EQ(bytes.substr(bytes.size() - 7), endBlock);

    std::vector<ParsedEntry> entries;
    size_t at = 20;
    while (at < bytes.size() - 7) {
        const uint32_t headSize = Le(bytes, at + 5, 2);
        EXPECT_EQ(static_cast<uint8_t>(bytes.at(at + 2)), 0x74);
        EXPECT_EQ(Le(bytes, at, 2), Crc32(bytes.substr(at + 2, headSize - 2)) & 0xFFFF);
        ParsedEntry entry;
        entry.flags = static_cast<uint16_t>(Le(bytes, at + 3, 2));
        entry.packSize = Le(bytes, at + 7, 4);
        entry.unpSize = Le(bytes, at + 11, 4);
        entry.hostOs = static_cast<uint8_t>(bytes.at(at + 15));
        entry.fileCrc = Le(bytes, at + 16, 4);
        entry.unpVer = static_cast<uint8_t>(bytes.at(at + 24));
        entry.method = static_cast<uint8_t>(bytes.at(at + 25));
        const uint32_t nameSize = Le(bytes, at + 26, 2);
        entry.attr = Le(bytes, at + 28, 4);
        EXPECT_EQ(headSize, 32 + nameSize);
        entry.name = bytes.substr(at + 32, nameSize);
        entry.data = bytes.substr(at + headSize, entry.packSize);
        at += headSize + entry.packSize;
        entries.push_back(entry);
    }
    EXPECT_EQ(at, bytes.size() - 7);
    return entries;
}

TEST(RarWriter, CrcOfTheTestItselfIsTheStandardOne) {
    EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
}

TEST(RarWriter, EmptyArchiveIsMarkerMainHeaderAndEndBlock) {
    CTempDir dir;
    WriteRarStore({}, dir.File("empty.rar"));
    const std::string bytes = ReadFile(dir.File("empty.rar"));
    EXPECT_EQ(bytes.size(), 27u);
    EXPECT_TRUE(ParseArchive(bytes).empty());
}

TEST(RarWriter, HeadersOfFilesDirectoriesAndUnicodeNames) {
    CTempDir dir;
    WriteFile(dir.File("x.fr3"), "abc");
    WriteFile(dir.File("doc"), "");
    WriteRarStore({{"Reports", "", true},
                   {"Reports/x.fr3", dir.File("x.fr3"), false},
                   {"Документ1.doc", dir.File("doc"), false}},
                  dir.File("a.rar"));
    const std::vector<ParsedEntry> entries = ParseArchive(ReadFile(dir.File("a.rar")));
    ASSERT_EQ(entries.size(), 3u);

    EXPECT_EQ(entries[0].name, "Reports");
    EXPECT_EQ(entries[0].flags, 0x80E0);
    EXPECT_EQ(entries[0].attr, 0x10u);
    EXPECT_EQ(entries[0].packSize, 0u);

    EXPECT_EQ(entries[1].name, "Reports\\x.fr3");  // stored with the Windows separator
    EXPECT_EQ(entries[1].flags, 0x8000);
    EXPECT_EQ(entries[1].attr, 0x20u);
    EXPECT_EQ(entries[1].packSize, 3u);
    EXPECT_EQ(entries[1].unpSize, 3u);
    EXPECT_EQ(entries[1].hostOs, 2);
    EXPECT_EQ(entries[1].fileCrc, 0x352441C2u);  // CRC-32 of "abc"
    EXPECT_EQ(entries[1].unpVer, 20);
    EXPECT_EQ(entries[1].method, 0x30);
    EXPECT_EQ(entries[1].data, "abc");

    EXPECT_EQ(entries[2].name, "Документ1.doc");  // plain UTF-8 bytes
    EXPECT_EQ(entries[2].flags, 0x8200);
    EXPECT_EQ(entries[2].packSize, 0u);
    EXPECT_EQ(entries[2].fileCrc, 0u);
}

TEST(RarWriter, LargeFileIsStreamedWithItsCrc) {
    CTempDir dir;
    const std::string data = RandomBytes(9 * 1024 * 1024 + 123, 7);
    WriteFile(dir.File("big"), data);
    WriteRarStore({{"big.bin", dir.File("big"), false}}, dir.File("big.rar"));
    const std::vector<ParsedEntry> entries = ParseArchive(ReadFile(dir.File("big.rar")));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].packSize, data.size());
    EXPECT_EQ(entries[0].fileCrc, Crc32(data));
    EXPECT_TRUE(entries[0].data == data);
}

TEST(RarWriter, DirectoryIsArchivedSortedWithDirectoriesFirst) {
    CTempDir dir;
    const std::string src = dir.File("src");
    std::filesystem::create_directories(src + "/Reports/empty");
    std::filesystem::create_directories(src + "/a");
    WriteFile(src + "/b.txt", "b");
    WriteFile(src + "/a/z.txt", "z");
    WriteFile(src + "/a/b.txt", "ab");
    WriteFile(src + "/Reports/x.fr3", "x");
    WriteRarStoreFromDirectory(src, dir.File("d.rar"));

    std::vector<std::string> names;
    for (const ParsedEntry& entry : ParseArchive(ReadFile(dir.File("d.rar")))) {
        names.push_back(entry.name + ((entry.flags & 0xE0) == 0xE0 ? "/" : ""));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Reports/", "Reports\\empty/", "Reports\\x.fr3",
                                               "a/", "a\\b.txt", "a\\z.txt", "b.txt"}));
}

TEST(RarWriter, FailuresLeaveNoArchive) {
    CTempDir dir;
    const std::string archive = dir.File("out.rar");
    EXPECT_ANY_THROW(WriteRarStore({{"x", dir.File("missing"), false}}, archive));
    EXPECT_ANY_THROW(WriteRarStoreFromDirectory(dir.File("no-such-dir"), archive));

    const std::string src = dir.File("src");
    std::filesystem::create_directories(src);
    WriteFile(src + "/a.txt", "a");
    std::filesystem::create_symlink("/etc/passwd", src + "/link");
    try {
        WriteRarStoreFromDirectory(src, archive);
        ADD_FAILURE() << "a link was archived";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("link"), std::string::npos) << error.what();
    }
    EXPECT_EQ(DirectoryTree(dir.Path()),
              (std::map<std::string, std::string>{
                  {"src", "dir"}, {"src/a.txt", "file"}, {"src/link", "link"}}));
}

TEST(RarWriter, ReplacesAnExistingArchive) {
    CTempDir dir;
    WriteFile(dir.File("a"), "new");
    WriteFile(dir.File("out.rar"), std::string(100000, 'x'));
    WriteRarStore({{"a", dir.File("a"), false}}, dir.File("out.rar"));
    const std::vector<ParsedEntry> entries = ParseArchive(ReadFile(dir.File("out.rar")));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].data, "new");
}

}  // namespace

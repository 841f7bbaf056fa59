// The archiver's parts: the listing that the RAR 4 block walk reads (it must name every entry
// exactly as lsar does), RAR's compact Unicode names, the JSON reader for lsar's fallback listing
// and the entry tree that verifies staged files and moves them into place.

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "platform/ChildProcess.h"
#include "platform/FileSystem.h"
#include "tests/support/TestSupport.h"
#include "tests/tools/ToolRunner.h"
#include "tools/pack/RarWriter.h"
#include "tools/rar/Json.h"
#include "tools/rar/RarBlocks.h"
#include "tools/rar/SafeExtract.h"
#include "tools/rar/XadArchive.h"
#include "tools/rarformat/RarFormat.h"

namespace fs = std::filesystem;

namespace {

const std::string kTestData = TESSARA_SOURCE_DIR "/../shared/testdata/rar4";

std::string Describe(const ArchiveEntry& entry) {
    return entry.name + (entry.isDirectory ? " dir" : "") + (entry.isLink ? " link" : "") +
           (entry.isEncrypted ? " encrypted" : "") +
           (entry.hasSize && !entry.isDirectory ? " " + std::to_string(entry.size) : "");
}

// Entries by name, as lsar lists them (its order can differ for directories).
std::map<std::string, std::string> ByName(const ArchiveListing& listing) {
    std::map<std::string, std::string> entries;
    for (const ArchiveEntry& entry : listing.entries) {
        entries[entry.name] += Describe(entry) + ";";
    }
    return entries;
}

// Compares the walk with lsar on one archive; false when lsar cannot list it at all.
bool CompareWithLsar(const std::string& archive) {
    SCOPED_TRACE(archive);
    const ProgramResult lsar = RunProgram(FindInPath("lsar"), {"-nr", "-j", archive});
    if (lsar.exitCode != 0) {
        return false;
    }
    const std::optional<ArchiveListing> walked = ReadRar4Listing(archive);
    if (!walked) {
        return false;
    }
    const ArchiveListing listed = ParseLsarJson(lsar.output);
    EXPECT_EQ(ByName(*walked), ByName(listed));
    EXPECT_EQ(walked->entries.size(), listed.entries.size());
    return true;
}

TEST(RarListing, NamesEveryEntryAsLsarDoes) {
    ASSERT_FALSE(FindInPath("lsar").empty()) << "the Debian package unar is needed";
    int compared = 0;
    std::vector<std::string> leftToLsar;
    for (const auto& item : fs::directory_iterator(kTestData)) {
        if (item.path().extension() != ".rar") {
            continue;
        }
        try {
            if (CompareWithLsar(item.path().string())) {
                ++compared;
            } else if (ReadRar4Listing(item.path().string()) == std::nullopt) {
                leftToLsar.push_back(item.path().filename().string());
            }
        } catch (const CArchiveError&) {
            // Truncated and damaged archives: the walk refuses them, the tool tests cover that.
        }
    }
    EXPECT_GE(compared, 10);
    // Only the archive with a name in the OEM code page goes to lsar: unar guesses its encoding.
    EXPECT_EQ(leftToLsar, std::vector<std::string>{"test_read_format_rar_unicode.rar"});

    // What the package writer makes: Ukrainian names, nested and empty directories, a large
    // file, an empty one.
    CTempDir dir;
    const std::string big = dir.File("big");
    WriteFile(big, RandomBytes(3 * 1024 * 1024 + 5, 2));
    const std::string empty = dir.File("empty");
    WriteFile(empty, "");
    const std::string archive = dir.File("package.rar");
    WriteRarStore({{"Reports", "", true},
                   {"Reports\\Звіт за рік.fr3", big, false},
                   {"Reports\\порожня", "", true},
                   {"up.2026.05.03.lsql", empty, false},
                   {"Документ ґ є ї.doc", big, false}},
                  archive);
    EXPECT_TRUE(CompareWithLsar(archive));
    const std::optional<ArchiveListing> walked = ReadRar4Listing(archive);
    ASSERT_TRUE(walked);
    EXPECT_EQ(Describe(walked->entries[1]), "Reports/Звіт за рік.fr3 3145733");
}

TEST(RarListing, LeavesOtherFormatsToLsar) {
    CTempDir dir;
    WriteFile(dir.File("rar5"), std::string("Rar!\x1A\x07\x01\x00", 8) + std::string(64, '\0'));
    EXPECT_EQ(ReadRar4Listing(dir.File("rar5")), std::nullopt);
    WriteFile(dir.File("sfx"), "MZ" + std::string(200, 'x'));
    EXPECT_EQ(ReadRar4Listing(dir.File("sfx")), std::nullopt);
    WriteFile(dir.File("short"), "Rar!");
    EXPECT_THROW(ReadRar4Listing(dir.File("short")), CArchiveError);
    EXPECT_THROW(ReadRar4Listing(dir.File("missing")), CArchiveError);
}

TEST(RarListing, EncryptedHeadersListNothingButTheFlag) {
    CTempDir dir;
    // A main header with the flag for encrypted headers, then bytes only a password reads.
    std::string bytes("Rar!\x1A\x07\x00", 7);
    bytes += std::string("\x00\x00\x73\x80\x00\x0D\x00", 7) + std::string(6, '\0');
    bytes += RandomBytes(100, 4);
    WriteFile(dir.File("locked.rar"), bytes);
    const std::optional<ArchiveListing> listing = ReadRar4Listing(dir.File("locked.rar"));
    ASSERT_TRUE(listing);
    EXPECT_TRUE(listing->isEncrypted);
    EXPECT_TRUE(listing->entries.empty());
}

std::optional<std::string> Compact(const std::string& oem, const std::string& encoded) {
    return DecodeRar4Name(oem + std::string(1, '\0') + encoded, true);
}

TEST(RarNames, PlainAndUtf8Names) {
    EXPECT_EQ(DecodeRar4Name("dir\\file.txt", false), "dir\\file.txt");
    // Bytes above 127 without the Unicode flag are in an OEM code page that only unar guesses.
    EXPECT_EQ(DecodeRar4Name("\x8F\xE0\xA8", false), std::nullopt);
    EXPECT_EQ(DecodeRar4Name("Звіт.fr3", true), "Звіт.fr3");
    EXPECT_EQ(DecodeRar4Name("plain.txt", true), "plain.txt");
    for (const std::string bad : {"\xC0\xAF", "\xED\xA0\x80", "\xE2\x82", "\xF5\x80\x80\x80"}) {
        EXPECT_EQ(DecodeRar4Name("a" + bad, true), std::nullopt) << bad;
    }
    EXPECT_EQ(DecodeRar4Name("", false), std::nullopt);
}

// An archive of one file whose stored name is `name` byte for byte, flagged as UTF-8: the
// packer's layout with the name put in afterwards, since the packer refuses some of the names
// this is for.
std::string ArchiveWithRawName(const CTempDir& dir, const std::string& name) {
    const std::string path = dir.File("raw.rar");
    WriteFile(dir.File("empty"), "");
    WriteRarStore({{std::string(name.size(), 'n'), dir.File("empty"), false}}, path);
    std::string bytes = ReadFile(path);
    const size_t header = sizeof kRarSignature + 13;  // after the main header
    const size_t headerSize = kRarFileHeaderSize + name.size();
    bytes.replace(header + kRarFileHeaderSize, name.size(), name);
    bytes[header + 4] = static_cast<char>(bytes[header + 4] | (kRarUnicodeName >> 8));
    const uint16_t crc =
        RarHeaderCrc(reinterpret_cast<const uint8_t*>(bytes.data() + header), headerSize);
    bytes[header] = static_cast<char>(crc & 0xFF);
    bytes[header + 1] = static_cast<char>(crc >> 8);
    WriteFile(path, bytes);
    return path;
}

TEST(RarNames, ThePackerWritesExactlyTheNamesTheWalkTakes) {
    CTempDir dir;
    WriteFile(dir.File("data"), "x");
    const auto packed = [&](const std::string& name) {
        try {
            WriteRarStore({{name, dir.File("data"), false}}, dir.File("packed.rar"));
        } catch (const std::runtime_error&) {
            return false;
        }
        const std::optional<ArchiveListing> listing = ReadRar4Listing(dir.File("packed.rar"));
        EXPECT_TRUE(listing && listing->entries.size() == 1 && listing->entries[0].name == name);
        return true;
    };
    const auto walked = [&](const std::string& name) {
        const std::optional<ArchiveListing> listing =
            ReadRar4Listing(ArchiveWithRawName(dir, name));
        return listing && listing->entries.size() == 1 && listing->entries[0].name == name;
    };
    for (const std::string bad : {
             "a\xE0\x80\x80", "a\xC0\xAF",  // overlong
             "a\xED\xA0\x80",               // a surrogate
             "a\xF4\x90\x80\x80",           // above U+10FFFF
             "a\x80",
             "\xBF"
             "a",                       // continuation bytes alone
             "a\xC3", "a\xE2\x82.fr3",  // cut short
         }) {
        SCOPED_TRACE(testing::PrintToString(bad));
        EXPECT_FALSE(packed(bad));
        EXPECT_FALSE(walked(bad));
    }
    // A NUL makes the walk read RAR's compact UTF-16 form, which no name of ours is.
    EXPECT_FALSE(packed(std::string("a\0b", 3)));
    EXPECT_FALSE(walked(std::string("a\0b", 3)));
    for (const std::string good :
         {"Звіт.fr3", "a\xED\x9F\xBF", "a\xEE\x80\x80", "a\xF4\x8F\xBF\xBF", "😀.doc"}) {
        SCOPED_TRACE(testing::PrintToString(good));
        EXPECT_TRUE(packed(good));
        EXPECT_TRUE(walked(good));
    }
}

TEST(RarNames, CompactUtf16Encoding) {
    // High byte 0x04; codes 1 (byte + high byte) then 0 (byte alone): "Дa".
    EXPECT_EQ(Compact("?a", "\x04\x40\x14\x61"), "Дa");
    // Code 2: two bytes, low first: "€".
    EXPECT_EQ(Compact("?", std::string("\x00\x80\xAC\x20", 4)), "€");
    // Code 3: a run of length + 2 copied from the OEM name.
    EXPECT_EQ(Compact("abc", std::string("\x00\xC0\x01", 3)), "abc");
    // Code 3 with a correction added to each OEM byte, under the high byte: "Ґґ".
    EXPECT_EQ(Compact("\x80\x81", "\x04\xC0\x80\x10"), "Ґґ");
    // A surrogate pair from two code-2 characters.
    EXPECT_EQ(Compact("??", std::string("\x00\xA0\x3D\xD8\x00\xDE", 6)), "😀");
    // A mix across two flag bytes: "ab" copied, then four one-byte characters, then "z".
    EXPECT_EQ(Compact("ab??????", std::string("\x00\xC0\x00\x63\x64\x65\x00\x66\x7A", 9)),
              "abcdefz");

    EXPECT_EQ(Compact("?", std::string("\x00\x80\x3D\xD8", 4)), std::nullopt);  // lone surrogate
    EXPECT_EQ(Compact("ab", std::string("\x00\xC0\x05", 3)), std::nullopt);     // run past the name
    EXPECT_EQ(Compact("a", std::string("\x00\x00\x00", 3)), std::nullopt);      // a NUL character
    EXPECT_EQ(Compact("a", ""), std::nullopt);
}

TEST(Json, ReadsWhatLsarPrints) {
    const CJsonValue value = CJsonValue::Parse(
        " {\"a\": [1, -2.5e2, true, false, null], \"s\": \"x\\\"\\\\\\/\\n\\u0414\\ud83d\\ude00\","
        " \"o\": {}, \"a\": 7} ");
    ASSERT_TRUE(value.IsObject());
    EXPECT_EQ(value.Member("a").Number(), 7);  // a repeated key keeps its last value
    EXPECT_EQ(value.Member("s").String(), "x\"\\/\nД😀");
    EXPECT_TRUE(value.Member("o").IsObject());
    EXPECT_EQ(value.Member("missing").GetKind(), CJsonValue::Kind::Null);
    const CJsonValue array = CJsonValue::Parse("[1, -2.5e2, true, false, null, []]");
    ASSERT_EQ(array.Items().size(), 6u);
    EXPECT_EQ(array.Items()[1].Number(), -250);
    EXPECT_TRUE(array.Items()[2].Bool());
    EXPECT_EQ(array.Items()[4].GetKind(), CJsonValue::Kind::Null);

    for (const std::string& bad :
         std::vector<std::string>{"", "{", "[1,]", "{\"a\" 1}", "01", "1.", "-", "\"\\x\"", "\"a",
                                  "\"\\ud800\"", "\"\\udc00\"", "[1] 2", "tru", "\"\x01\"",
                                  std::string(100, '[') + std::string(100, ']')}) {
        EXPECT_THROW(CJsonValue::Parse(bad), std::invalid_argument) << bad;
    }
}

TEST(Json, LsarListingsAndTheirErrors) {
    const ArchiveListing listing = ParseLsarJson(
        "{\"lsarFormatName\": \"RAR 5\", \"lsarProperties\": {\"XADIsEncrypted\": 0},"
        " \"lsarContents\": [{\"XADFileName\": \"a/b\", \"XADFileSize\": 5000000000},"
        " {\"XADFileName\": \"d\", \"XADIsDirectory\": true},"
        " {\"XADFileName\": \"l\", \"XADIsLink\": 1, \"XADIsEncrypted\": 1}]}");
    EXPECT_EQ(listing.formatName, "RAR 5");
    ASSERT_EQ(listing.entries.size(), 3u);
    EXPECT_EQ(Describe(listing.entries[0]), "a/b 5000000000");
    EXPECT_EQ(Describe(listing.entries[1]), "d dir");
    EXPECT_EQ(Describe(listing.entries[2]), "l link encrypted");
    EXPECT_FALSE(listing.entries[1].hasSize);

    EXPECT_THROW(ParseLsarJson("{\"lsarError\": 3}"), CArchiveError);
    EXPECT_THROW(ParseLsarJson("[]"), CArchiveError);
    EXPECT_THROW(ParseLsarJson("{\"lsarContents\": {}}"), CArchiveError);
    EXPECT_THROW(ParseLsarJson("{\"lsarContents\": [{\"XADFileName\": 3}]}"), CArchiveError);
    EXPECT_THROW(ParseLsarJson("not json"), CArchiveError);
}

// A staging directory and a target, both opened as the archiver opens them.
class EntryTree : public ::testing::Test {
  protected:
    EntryTree() {
        fs::create_directories(m_dir.File("staged"));
        fs::create_directories(m_dir.File("target"));
        m_staged = CFile(m_dir.File("staged"), CFile::Mode::Directory);
        m_target = CFile(m_dir.File("target"), CFile::Mode::Directory);
    }
    void Stage(const std::string& path, const std::string& bytes) {
        fs::create_directories(fs::path(m_dir.File("staged/" + path)).parent_path());
        WriteFile(m_dir.File("staged/" + path), bytes);
    }
    ino_t Inode(const std::string& path) const {
        struct stat info {};
        return stat(m_dir.File(path).c_str(), &info) == 0 ? info.st_ino : 0;
    }

    CTempDir m_dir;
    CFile m_staged;
    CFile m_target;
};

TEST_F(EntryTree, NewDirectoriesMoveWholeExistingOnesFileByFile) {
    CEntryTree tree;
    tree.Add({"new", "a.txt"}, false, 1);
    tree.Add({"new", "sub", "b.txt"}, false, 2);
    tree.Add({"new", "empty"}, true, 0);
    tree.Add({"old", "c.txt"}, false, 3);
    tree.Add({"top.txt"}, false, 4);
    Stage("new/a.txt", "a");
    Stage("new/sub/b.txt", "bb");
    fs::create_directory(m_dir.File("staged/new/empty"));
    Stage("old/c.txt", "ccc");
    Stage("top.txt", "dddd");
    fs::create_directory(m_dir.File("target/old"));
    WriteFile(m_dir.File("target/old/c.txt"), "stale");
    WriteFile(m_dir.File("target/old/keep.txt"), "keep");
    EXPECT_EQ(tree.FileBytes(), 10u);
    tree.VerifyFiles(m_staged);

    const ino_t newDir = Inode("staged/new");
    tree.MoveInto(m_staged, m_target);
    EXPECT_EQ(Inode("target/new"), newDir) << "a new directory moves in one rename";
    EXPECT_EQ(ReadFile(m_dir.File("target/new/sub/b.txt")), "bb");
    EXPECT_TRUE(DirectoryExists(m_dir.File("target/new/empty")));
    EXPECT_EQ(ReadFile(m_dir.File("target/old/c.txt")), "ccc");
    EXPECT_EQ(ReadFile(m_dir.File("target/old/keep.txt")), "keep");
    EXPECT_EQ(ReadFile(m_dir.File("target/top.txt")), "dddd");
    EXPECT_EQ(DirectoryEntries(m_dir.File("staged")), std::vector<std::string>{"old"});
    EXPECT_TRUE(DirectoryEntries(m_dir.File("staged/old")).empty());
}

TEST_F(EntryTree, AStagedDirectoryWithUnplannedEntriesIsNotMovedWhole) {
    CEntryTree tree;
    tree.Add({"d", "a.txt"}, false, 1);
    tree.Add({"d", "e"}, true, 0);
    Stage("d/a.txt", "a");
    Stage("d/unplanned.txt", "x");  // extracted, but no entry of the plan
    Stage("d/e/deeper.txt", "y");   // an unplanned entry one level down
    tree.VerifyFiles(m_staged);
    tree.MoveInto(m_staged, m_target);
    EXPECT_EQ(
        DirectoryTree(m_dir.File("target")),
        (std::map<std::string, std::string>{{"d", "dir"}, {"d/a.txt", "file"}, {"d/e", "dir"}}));
    EXPECT_EQ(ReadFile(m_dir.File("staged/d/unplanned.txt")), "x");
}

TEST_F(EntryTree, ALinkInPlaceOfADirectoryIsNeverFollowed) {
    CTempDir outside;
    CEntryTree tree;
    tree.Add({"Reports", "x.fr3"}, false, 1);
    Stage("Reports/x.fr3", "x");
    fs::create_directory_symlink(outside.Path(), m_dir.File("target/Reports"));
    try {
        tree.MoveInto(m_staged, m_target);
        ADD_FAILURE() << "moved through a link";
    } catch (const CArchiveError& error) {
        EXPECT_STREQ(error.what(), "Not a directory (a link or a file is in the way): Reports");
    }
    EXPECT_TRUE(DirectoryEntries(outside.Path()).empty());
}

TEST_F(EntryTree, VerificationAndMissingBytes) {
    CEntryTree tree;
    tree.Add({"a.txt"}, false, 5);
    tree.Add({"d", "b.txt"}, false, 7);
    tree.Add({"d", "b.txt"}, false, 3);  // stored twice: the later entry counts
    tree.Add({"gone", "c.txt"}, false, 11);
    tree.Add({"empty"}, true, 0);
    EXPECT_EQ(tree.FileBytes(), 19u);
    EXPECT_EQ(tree.MissingBytes(m_staged), 19u);

    Stage("a.txt", "12");
    Stage("d/b.txt", "123");
    EXPECT_EQ(tree.MissingBytes(m_staged), 3u + 11u);
    const auto verifyError = [&] {
        try {
            tree.VerifyFiles(m_staged);
        } catch (const CArchiveError& error) {
            return std::string(error.what());
        }
        return std::string();
    };
    EXPECT_EQ(verifyError(), "Entry \"a.txt\" was extracted with 2 bytes instead of 5");
    Stage("a.txt", "12345");
    EXPECT_EQ(verifyError(), "Entry \"gone\" was not extracted as a directory");
    fs::create_directory(m_dir.File("staged/gone"));
    fs::create_directory(m_dir.File("staged/gone/c.txt"));
    EXPECT_EQ(verifyError(), "Entry \"gone/c.txt\" was not extracted as a regular file");
    fs::remove(m_dir.File("staged/gone/c.txt"));
    EXPECT_EQ(verifyError(), "Entry \"gone/c.txt\" was not extracted");
    Stage("gone/c.txt", std::string(11, 'c'));
    EXPECT_EQ(verifyError(), "");  // the empty directory need not be staged
    EXPECT_EQ(tree.MissingBytes(m_staged), 0u);
}

TEST(EntryTreePlan, APathCannotBeBothFileAndDirectory) {
    CEntryTree fileFirst;
    fileFirst.Add({"a"}, false, 1);
    EXPECT_THROW(fileFirst.Add({"a", "b"}, false, 1), CArchiveError);
    CEntryTree directoryFirst;
    directoryFirst.Add({"a", "b"}, false, 1);
    EXPECT_THROW(directoryFirst.Add({"a"}, false, 1), CArchiveError);
    directoryFirst.Add({"a"}, true, 0);  // the directory itself may be stored as well
    EXPECT_EQ(directoryFirst.FileBytes(), 1u);
}

}  // namespace

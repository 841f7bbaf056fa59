// The shipped archiver `rar x -o+ <archive>`: real archives of the RAR archiver, hostile and
// damaged archives, and round trips of what the package writer produces.

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/FileSystem.h"
#include "platform/Sha256.h"
#include "tests/support/TestSupport.h"
#include "tests/tools/ToolRunner.h"
#include "tools/pack/RarWriter.h"

namespace fs = std::filesystem;

namespace {

const std::string kTestData = TESSARA_SOURCE_DIR "/../shared/testdata/rar4";

std::map<std::string, std::string> operator+(std::map<std::string, std::string> a,
                                             const std::map<std::string, std::string>& b) {
    a.insert(b.begin(), b.end());
    return a;
}

// A target directory inside a parent that must stay untouched, so anything written outside the
// target shows up.
class RarTool : public ::testing::Test {
  protected:
    RarTool() : m_target(m_parent.File("target")) { fs::create_directory(m_target); }

    ToolResult Extract(const std::string& archive) {
        return RunTool(BuiltProgram("rar"), {"x", "-o+", archive}, m_target);
    }
    std::map<std::string, std::string> Target() const { return DirectoryTree(m_target); }
    void ExpectParentClean() const {
        EXPECT_EQ(DirectoryTree(m_parent.Path()),
                  (std::map<std::string, std::string>{{"target", "dir"}}) + Prefixed(Target()));
    }
    // The archive to extract lives elsewhere, so the parent holds nothing but the target.
    std::string Archive(const std::vector<RarEntry>& entries) {
        const std::string path = m_archives.File("a" + std::to_string(m_count++) + ".rar");
        WriteRarStore(entries, path);
        return path;
    }
    std::string Source(const std::string& name, const std::string& bytes) {
        const std::string path = m_archives.File("src" + std::to_string(m_count++) + name);
        WriteFile(path, bytes);
        return path;
    }

    static std::map<std::string, std::string> Prefixed(
        const std::map<std::string, std::string>& t) {
        std::map<std::string, std::string> out;
        for (const auto& [path, kind] : t) {
            out["target/" + path] = kind;
        }
        return out;
    }

    CTempDir m_parent;
    CTempDir m_archives;
    std::string m_target;
    int m_count = 0;
};

struct ManifestLine {
    std::string archive;
    std::string expect;
    struct File {
        std::string path;
        uint64_t size;
        std::string sha256;
    };
    std::vector<File> files;
};

std::vector<ManifestLine> ReadManifest() {
    std::ifstream in(kTestData + "/MANIFEST.tsv");
    std::vector<ManifestLine> lines;
    std::string text;
    std::getline(in, text);  // column titles
    while (std::getline(in, text)) {
        std::istringstream fields(text);
        ManifestLine line;
        std::string entries;
        std::getline(fields, line.archive, '\t');
        std::getline(fields, line.expect, '\t');
        std::getline(fields, entries);
        std::istringstream items(entries);
        std::string item;
        while (items >> item) {
            const size_t bar1 = item.find('|');
            const size_t bar2 = item.find('|', bar1 + 1);
            std::string path = item.substr(0, bar1);
            for (size_t at; (at = path.find("%20")) != std::string::npos;) {
                path.replace(at, 3, " ");
            }
            line.files.push_back(
                {path, std::stoull(item.substr(bar1 + 1, bar2 - bar1 - 1)), item.substr(bar2 + 1)});
        }
        lines.push_back(line);
    }
    return lines;
}

TEST_F(RarTool, EveryArchiveOfTheManifest) {
    const std::vector<ManifestLine> manifest = ReadManifest();
    ASSERT_GE(manifest.size(), 21u) << "test archives not found in " << kTestData;
    for (const ManifestLine& line : manifest) {
        SCOPED_TRACE(line.archive + " (" + line.expect + ")");
        fs::remove_all(m_target);
        fs::create_directory(m_target);
        const ToolResult result = Extract(kTestData + "/" + line.archive);
        const auto tree = Target();
        ExpectParentClean();
        for (const auto& [path, kind] : tree) {
            EXPECT_TRUE(kind == "file" || kind == "dir") << path << " is a " << kind;
            EXPECT_NE(path.rfind(".rar-", 0), 0u) << "working directory left: " << path;
        }
        if (line.expect == "ok") {
            EXPECT_EQ(result.exitCode, 0) << result.errors;
        } else {
            EXPECT_NE(result.exitCode, 0);
            EXPECT_FALSE(result.errors.empty());
        }
        if (line.expect == "fail") {
            continue;
        }
        // Every listed file byte-exact for "ok"; for "link" only what was written must match.
        std::map<std::string, const ManifestLine::File*> listed;
        for (const ManifestLine::File& file : line.files) {
            listed[file.path] = &file;
            const std::string path = m_target + "/" + file.path;
            if (line.expect == "ok" || fs::exists(path)) {
                EXPECT_EQ(FileSize(path), static_cast<int64_t>(file.size)) << file.path;
                EXPECT_EQ(Sha256OfFile(path), file.sha256) << file.path;
            }
        }
        for (const auto& [path, kind] : tree) {
            if (kind == "file") {
                EXPECT_TRUE(listed.count(path)) << "unexpected file " << path;
            }
        }
    }
}

TEST_F(RarTool, HostileNamesRefuseTheWholeArchive) {
    const std::string good = Source("good", "good");
    const std::string evil = Source("evil", "evil");
    const std::vector<std::string> names = {
        "..\\x", "../x",         "/abs/x",          "\\abs\\x", "C:\\x",
        "c:x",   "a\\..\\..\\x", "Reports/../../x", "..",       "a\\b\\..\\..\\..\\x"};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        // A sound entry first: it must not be written either.
        const ToolResult result =
            Extract(Archive({{"good.txt", good, false}, {name, evil, false}}));
        EXPECT_NE(result.exitCode, 0);
        std::string shown = name;
        std::replace(shown.begin(), shown.end(), '\\', '/');
        EXPECT_NE(result.errors.find(shown), std::string::npos) << result.errors;
        EXPECT_TRUE(Target().empty());
        ExpectParentClean();
    }
    // A hostile directory entry as well.
    const ToolResult result = Extract(Archive({{"..\\up", "", true}, {"good.txt", good, false}}));
    EXPECT_NE(result.exitCode, 0);
    EXPECT_TRUE(Target().empty());
    ExpectParentClean();
}

TEST_F(RarTool, DamagedAndTruncatedArchivesFail) {
    const std::string data = RandomBytes(70000, 3);
    const std::string sound =
        Archive({{"a.bin", Source("a", data), false}, {"b.txt", Source("b", "second"), false}});
    const std::string bytes = ReadFile(sound);
    const size_t firstData = 20 + 32 + 5;  // after marker, main header and "a.bin"'s header
    const size_t secondHeader = firstData + data.size();

    struct Case {
        std::string what;
        std::string bytes;
    };
    std::vector<Case> cases;
    std::string flipped = bytes;
    flipped[firstData + 1000] ^= 0x01;
    cases.push_back({"flipped data byte", flipped});
    std::string badName = bytes;
    badName[secondHeader + 32] ^= 0x01;
    cases.push_back({"flipped name byte", badName});
    cases.push_back({"cut in the data", bytes.substr(0, firstData + 500)});
    cases.push_back({"cut in the second header", bytes.substr(0, secondHeader + 10)});
    cases.push_back({"cut in the main header", bytes.substr(0, 12)});
    cases.push_back({"cut in the end block", bytes.substr(0, bytes.size() - 3)});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = m_archives.File("damaged.rar");
        WriteFile(path, c.bytes);
        const ToolResult result = Extract(path);
        EXPECT_NE(result.exitCode, 0);
        EXPECT_FALSE(result.errors.empty());
        EXPECT_TRUE(Target().empty()) << "written from a damaged archive";
        ExpectParentClean();
    }
    // The sound original passes, so the failures above come from the damage.
    EXPECT_EQ(Extract(sound).exitCode, 0);
    EXPECT_TRUE(ReadFile(m_target + "/a.bin") == data);
}

// Damage inside compressed data is found only while unar decodes it (wrong checksum, or a decoder
// running past its input), not by the block walk or the listing.
TEST_F(RarTool, DamagedCompressedDataFails) {
    for (const std::string name :
         {"test_read_format_rar_filter.rar", "test_read_format_rar_multi_lzss_blocks.rar"}) {
        const std::string bytes = ReadFile(kTestData + "/" + name);
        ASSERT_GT(bytes.size(), 1000u) << name;
        // Each holds one entry whose data spans nearly the whole file.
        for (const size_t at : {bytes.size() / 4, bytes.size() / 2}) {
            SCOPED_TRACE(name + " byte " + std::to_string(at));
            std::string damaged = bytes;
            damaged[at] ^= 0x01;
            const std::string path = m_archives.File("damaged.rar");
            WriteFile(path, damaged);
            const ToolResult result = Extract(path);
            EXPECT_NE(result.exitCode, 0);
            EXPECT_FALSE(result.errors.empty());
            EXPECT_TRUE(Target().empty()) << "written from a damaged archive";
            ExpectParentClean();
        }
    }
}

TEST_F(RarTool, RoundTripOfAPackageDirectory) {
    const std::string src = m_archives.File("package");
    fs::create_directories(src + "/Reports/empty");
    const std::map<std::string, std::string> files = {
        {"Документ1.doc", "документ"},
        {"Reports/list.fr3", "<report/>"},
        {"18542.r", ""},
        {"18542.u", RandomBytes(9 * 1024 * 1024 + 17, 11)},
        {"INFO_DOC.NOTE.ID 10.blo", RandomBytes(4096, 5)},
        {"up.99.238.lsql", "update versions set data = 238;\r\n"},
    };
    for (const auto& [name, bytes] : files) {
        WriteFile(src + "/" + name, bytes);
    }
    const std::string archive = m_archives.File("238.rar");
    WriteRarStoreFromDirectory(src, archive);

    // Existing files are replaced; files the archive does not hold stay.
    fs::create_directories(m_target + "/Reports");
    WriteFile(m_target + "/Reports/list.fr3", "stale template");
    WriteFile(m_target + "/keep.txt", "keep");

    const ToolResult result = Extract(archive);
    ASSERT_EQ(result.exitCode, 0) << result.errors;
    for (const auto& [name, bytes] : files) {
        EXPECT_EQ(Sha256OfFile(m_target + "/" + name), Sha256Hex(bytes)) << name;
    }
    EXPECT_EQ(ReadFile(m_target + "/keep.txt"), "keep");
    std::map<std::string, std::string> expected = {
        {"Reports", "dir"}, {"Reports/empty", "dir"}, {"keep.txt", "file"}};
    for (const auto& [name, bytes] : files) {
        expected[name] = "file";
    }
    EXPECT_EQ(Target(), expected);
    ExpectParentClean();

    // Extracting again over the result is just as good.
    EXPECT_EQ(Extract(archive).exitCode, 0);
    EXPECT_EQ(Target(), expected);
}

TEST_F(RarTool, NeverWritesThroughLinksInTheTarget) {
    CTempDir outside;
    const std::string archive = Archive(
        {{"Reports\\x.fr3", Source("x", "template"), false}, {"a.txt", Source("a", "new"), false}});
    // A link where a directory is needed: refused, nothing written outside.
    fs::create_directory_symlink(outside.Path(), m_target + "/Reports");
    const ToolResult result = Extract(archive);
    EXPECT_NE(result.exitCode, 0);
    EXPECT_TRUE(DirectoryTree(outside.Path()).empty());

    // A link where a file goes is replaced by the file; its old target stays as it was.
    fs::remove(m_target + "/Reports");
    WriteFile(outside.File("victim"), "victim");
    fs::create_symlink(outside.File("victim"), m_target + "/a.txt");
    EXPECT_EQ(Extract(archive).exitCode, 0);
    EXPECT_EQ(Target().at("a.txt"), "file");
    EXPECT_EQ(ReadFile(m_target + "/a.txt"), "new");
    EXPECT_EQ(ReadFile(outside.File("victim")), "victim");
}

TEST_F(RarTool, CommandLineOtherThanExtractIsRefused) {
    const std::string archive = Archive({{"a.txt", Source("a", "a"), false}});
    const std::vector<std::vector<std::string>> commandLines = {{},
                                                                {"x"},
                                                                {"x", "-o+"},
                                                                {"e", "-o+", archive},
                                                                {"x", "-o-", archive},
                                                                {"x", "-o+", archive, "extra"},
                                                                {"-o+", "x", archive},
                                                                {"x", "-o+", ""}};
    for (const auto& args : commandLines) {
        const ToolResult result = RunTool(BuiltProgram("rar"), args, m_target);
        EXPECT_NE(result.exitCode, 0);
        EXPECT_NE(result.errors.find("usage: rar x -o+ <archive>"), std::string::npos)
            << result.errors;
    }
    const ToolResult missing = Extract(m_archives.File("missing.rar"));
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_NE(missing.errors.find("missing.rar"), std::string::npos) << missing.errors;
    EXPECT_TRUE(Target().empty());
}

TEST_F(RarTool, ReportsMissingUnar) {
    const std::string archive = Archive({{"a.txt", Source("a", "a"), false}});
    const ToolResult result = RunTool(BuiltProgram("rar"), {"x", "-o+", archive}, m_target,
                                      {{"PATH", m_archives.Path()}});
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE(result.errors.find("unar is not installed"), std::string::npos) << result.errors;
    EXPECT_TRUE(Target().empty());
}

// A small file system of its own (tmpfs) for one test: the only way to fill a disk for real.
// Mounting needs root; the tests using it skip without.
class CSmallFileSystem {
  public:
    explicit CSmallFileSystem(const std::string& options) {
        m_mounted = mount("tmpfs", m_dir.Path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                          options.c_str()) == 0;
        m_error = m_mounted ? std::string() : std::strerror(errno);
    }
    ~CSmallFileSystem() {
        if (m_mounted) {
            umount2(m_dir.Path().c_str(), MNT_DETACH);
        }
    }
    CSmallFileSystem(const CSmallFileSystem&) = delete;
    CSmallFileSystem& operator=(const CSmallFileSystem&) = delete;

    bool Mounted() const { return m_mounted; }
    const std::string& Error() const { return m_error; }
    const std::string& Path() const { return m_dir.Path(); }

  private:
    CTempDir m_dir;
    bool m_mounted = false;
    std::string m_error;
};

// `count` files of `size` bytes in the directories d0..d9, packed into one archive.
std::string ManySmallFiles(const CTempDir& dir, int count, size_t size) {
    const std::string source = dir.File("many");
    for (int i = 0; i < count; ++i) {
        const std::string sub = source + "/d" + std::to_string(i % 10);
        fs::create_directories(sub);
        WriteFile(sub + "/f" + std::to_string(i), RandomBytes(size, static_cast<unsigned>(i)));
    }
    const std::string archive = dir.File("many.rar");
    WriteRarStoreFromDirectory(source, archive);
    return archive;
}

void ExpectNoSpace(const ToolResult& result, const std::string& where) {
    EXPECT_EQ(result.exitCode, 5) << result.errors;  // the write-error status, not "damaged"
    EXPECT_NE(result.errors.find("No space left on device"), std::string::npos) << result.errors;
    EXPECT_TRUE(DirectoryEntries(where).empty()) << "left behind on the full disk";
}

TEST(RarToolDiskFull, SaysNoSpaceInsteadOfDamaged) {
    CSmallFileSystem small("size=1m,nr_inodes=1000");
    if (!small.Mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs (needs root): " << small.Error();
    }
    CTempDir archives;
    const std::string rar = BuiltProgram("rar");

    // Larger than the whole file system: refused before unar writes anything.
    const std::string big = archives.File("big");
    WriteFile(big, RandomBytes(3 * 1024 * 1024, 9));
    const std::string bigArchive = archives.File("big.rar");
    WriteRarStore({{"big.bin", big, false}}, bigArchive);
    const ToolResult refused = RunTool(rar, {"x", "-o+", bigArchive}, small.Path());
    ExpectNoSpace(refused, small.Path());
    EXPECT_NE(refused.errors.find("3145728 bytes to extract"), std::string::npos) << refused.errors;

    // 400 KB of data, but every file takes at least a 4 KB page: the disk fills while unar
    // writes, and unar itself says only "Failed to write to file".
    const std::string many = ManySmallFiles(archives, 400, 1000);
    ExpectNoSpace(RunTool(rar, {"x", "-o+", many}, small.Path()), small.Path());

    // The same archive extracts whole where there is room, so the failure above is the space.
    CSmallFileSystem roomy("size=8m,nr_inodes=1000");
    ASSERT_TRUE(roomy.Mounted()) << roomy.Error();
    const ToolResult extracted = RunTool(rar, {"x", "-o+", many}, roomy.Path());
    EXPECT_EQ(extracted.exitCode, 0) << extracted.errors;
    EXPECT_EQ(DirectoryTree(roomy.Path()).size(), 410u);
}

TEST(RarToolDiskFull, RunningOutOfFileEntriesIsNoSpaceToo) {
    CSmallFileSystem small("size=8m,nr_inodes=60");
    if (!small.Mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs (needs root): " << small.Error();
    }
    CTempDir archives;
    ExpectNoSpace(
        RunTool(BuiltProgram("rar"), {"x", "-o+", ManySmallFiles(archives, 100, 10)}, small.Path()),
        small.Path());
}

}  // namespace

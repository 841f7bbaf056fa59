// The test archiver rar.exe, started as the updater starts it ("rar.exe x -o+ "<package>" " in
// the work directory), on STORE archives written here with the shared RAR 4 format constants:
// a package extracted with directories and Cyrillic names, hostile entries refused before
// anything is written, damaged archives ending non-zero with a message.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/Utf16.h"
#include "tests/windows/WindowsTestSupport.h"
#include "tools/rarformat/RarFormat.h"

namespace {

struct StoredEntry {
    std::string name;  // as stored, '\' separated, UTF-8
    std::string data;
    bool isDirectory = false;
    uint8_t host = kRarHostWin32;
    uint32_t attributes = kRarAttrArchive;
};

void Put(std::string& out, size_t at, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out[at + static_cast<size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

// A block header with its HEAD_CRC filled in.
std::string Sealed(std::string header) {
    Put(header, 0, RarHeaderCrc(reinterpret_cast<const uint8_t*>(header.data()), header.size()), 2);
    return header;
}

// A RAR 4 archive of STORE entries, as tessara-pack writes them.
std::string StoreArchive(const std::vector<StoredEntry>& entries) {
    std::string archive(reinterpret_cast<const char*>(kRarSignature), sizeof kRarSignature);
    std::string main(13, '\0');
    main[2] = static_cast<char>(kRarMainHead);
    Put(main, 5, main.size(), 2);
    archive += Sealed(main);
    for (const StoredEntry& entry : entries) {
        std::string header(kRarFileHeaderSize, '\0');
        const bool ascii = std::all_of(entry.name.begin(), entry.name.end(),
                                       [](char c) { return static_cast<uint8_t>(c) < 0x80; });
        header[2] = static_cast<char>(kRarFileHead);
        Put(header, 3,
            kRarLongBlock | (entry.isDirectory ? kRarDirectoryDict : 0) |
                (ascii ? 0 : kRarUnicodeName),
            2);
        Put(header, 5, kRarFileHeaderSize + entry.name.size(), 2);
        Put(header, 7, entry.data.size(), 4);
        Put(header, 11, entry.data.size(), 4);
        header[kRarHostOffset] = static_cast<char>(entry.host);
        CCrc32 crc;
        crc.Update(entry.data.data(), entry.data.size());
        Put(header, 16, crc.Value(), 4);
        Put(header, 20, 0x5C8F0000, 4);  // a DOS date and time
        header[24] = static_cast<char>(kRarUnpackVersion);
        header[25] = static_cast<char>(kRarMethodStore);
        Put(header, kRarNameSizeOffset, entry.name.size(), 2);
        Put(header, kRarNameSizeOffset + 2,
            entry.isDirectory ? kRarAttrDirectory : entry.attributes, 4);
        archive += Sealed(header + entry.name) + entry.data;
    }
    std::string end(7, '\0');
    end[2] = static_cast<char>(kRarEndArcHead);
    Put(end, 3, kRarEndArcFlags, 2);
    Put(end, 5, 7, 2);
    return archive + Sealed(end);
}

struct RarRun {
    int exitCode = -1;
    std::string errors;
};

// The archiver as the updater starts it: its path unquoted, the package quoted, a trailing
// blank, the work directory as the current directory.
RarRun Unpack(const std::string& workDir, const std::string& package) {
    const std::string rar = BuiltProgram("rar");
    CChildProcess child;
    child.Start(rar, rar + " x -o+ \"" + package + "\" ", workDir, CChildProcess::Output::Capture);
    EXPECT_TRUE(child.Wait(30000));
    return {child.ExitCode(), child.CapturedErrors()};
}

class RarToolTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(CreateDirectoryW(ToUtf16(m_work).c_str(), nullptr)); }

    std::string Package(const std::vector<StoredEntry>& entries) {
        WriteFile(m_package, StoreArchive(entries));
        return m_package;
    }
    std::string Work(const std::string& name) const { return m_work + "\\" + name; }

    CTempDir m_scratch;
    const std::string m_work = m_scratch.File("lib.kvr");
    const std::string m_package = m_work + "\\238.rar";
};

}  // namespace

TEST_F(RarToolTest, ExtractsAPackageWithDirectoriesAndCyrillicNamesOverOldFiles) {
    std::string binary(300000, '\0');
    for (size_t i = 0; i < binary.size(); ++i) {
        binary[i] = static_cast<char>(i * 7 % 251);
    }
    WriteFile(Work("up.99.238.lsql"), "an earlier package's script, longer than the new one");
    const RarRun run =
        Unpack(m_work, Package({{"up.99.238.lsql", "update versions set data = 238;\r\n"},
                                {"Reports", "", true},
                                {"Reports\\звіт за рік.fr3", "<report/>"},
                                {"18619.u", binary},
                                {"порожній.blo", ""},
                                {"up\\вкладений\\deep.lsql", "select 1 from rdb$database;"}}));
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(ReadFile(Work("up.99.238.lsql")), "update versions set data = 238;\r\n");
    EXPECT_EQ(ReadFile(Work("Reports\\звіт за рік.fr3")), "<report/>");
    EXPECT_EQ(ReadFile(Work("18619.u")), binary);
    EXPECT_EQ(ReadFile(Work("порожній.blo")), "");
    EXPECT_EQ(ReadFile(Work("up\\вкладений\\deep.lsql")), "select 1 from rdb$database;");
    EXPECT_EQ(DirectoryEntries(m_work),
              (std::vector<std::string>{"18619.u", "238.rar", "Reports", "up", "up.99.238.lsql",
                                        "порожній.blo"}));
}

TEST_F(RarToolTest, RefusesHostileEntriesBeforeWritingAnything) {
    const std::vector<std::string> hostile = {
        "..\\evil.lsql", "ok\\..\\..\\evil.lsql", "\\evil.lsql",   "C:\\evil.lsql", "c:evil.lsql",
        "con.lsql",      "Reports\\LPT1",         "a.lsql:stream", "dots.. ",       "...",
    };
    for (const std::string& name : hostile) {
        const RarRun run = Unpack(m_work, Package({{"first.lsql", "fine"}, {name, "evil"}}));
        EXPECT_EQ(run.exitCode, 2) << name;
        EXPECT_NE(run.errors.find("Refusing"), std::string::npos) << name << ": " << run.errors;
        EXPECT_EQ(DirectoryEntries(m_work), std::vector<std::string>{"238.rar"}) << name;
    }
    EXPECT_EQ(DirectoryEntries(m_scratch.Path()), std::vector<std::string>{"lib.kvr"});

    // A symbolic link stored by a Unix archiver (mode 0120777).
    StoredEntry link{"link.lsql", "C:\\Windows\\win.ini", false, kRarHostUnix, 0120777};
    const RarRun run = Unpack(m_work, Package({{"first.lsql", "fine"}, link}));
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.errors.find("is a link"), std::string::npos) << run.errors;
    EXPECT_EQ(DirectoryEntries(m_work), std::vector<std::string>{"238.rar"});
}

TEST_F(RarToolTest, DamagedArchivesEndNonZeroWithAMessageAndLeaveOldFilesAlone) {
    const std::string whole =
        StoreArchive({{"first.lsql", "first"}, {"18619.u", std::string(5000, 'u')}});
    WriteFile(Work("18619.u"), "old");

    // Cut in the middle of the second entry's data.
    WriteFile(m_package, whole.substr(0, whole.size() - 2000));
    RarRun run = Unpack(m_work, m_package);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.errors.find("truncated"), std::string::npos) << run.errors;
    EXPECT_EQ(DirectoryEntries(m_work), (std::vector<std::string>{"18619.u", "238.rar"}));

    // One flipped byte of data: the CRC no longer matches and the old file stays.
    std::string flipped = whole;
    flipped[whole.size() - 100] ^= 0x01;
    WriteFile(m_package, flipped);
    run = Unpack(m_work, m_package);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.errors.find("CRC failed in \"18619.u\""), std::string::npos) << run.errors;
    EXPECT_EQ(ReadFile(Work("18619.u")), "old");
    EXPECT_EQ(DirectoryEntries(m_work),
              (std::vector<std::string>{"18619.u", "238.rar", "first.lsql"}));

    run = Unpack(m_work, Work("немає.rar"));
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.errors.find("немає.rar"), std::string::npos) << run.errors;

    // Not the command line it knows.
    const std::string rar = BuiltProgram("rar");
    CChildProcess child;
    child.Start(rar, rar + " e \"" + m_package + "\"", m_work, CChildProcess::Output::Capture);
    ASSERT_TRUE(child.Wait(30000));
    EXPECT_EQ(child.ExitCode(), 7);
    EXPECT_NE(child.CapturedErrors().find("usage"), std::string::npos);
}

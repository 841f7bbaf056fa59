// The certificate table of a signed program (tools/pack/Signature.h) and what tessara-pack does
// with a signed base: the built updater with a table appended as a signing tool appends it.
// Real signatures, made and checked by osslsigncode, are in SignedUpdaterTest.sh.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/EmbeddedItems.h"
#include "platform/Text.h"
#include "tests/windows/UpdaterTestSupport.h"
#include "tests/windows/WindowsTestSupport.h"
#include "tools/pack/Signature.h"

namespace {

// Where the security directory entry of a PE32+ program lies: behind the "PE\0\0" signature,
// the file header (20 bytes) and the optional header's fields before its data directories (112
// bytes), as directory 4.
size_t SecurityEntry(const std::string& program) {
    uint32_t pe = 0;
    std::memcpy(&pe, program.data() + 0x3C, sizeof pe);
    return pe + 4 + 20 + 112 + 4 * 8;
}

// `program` signed as signing tools sign: padded to 8 bytes, the table appended, the security
// directory pointing to it. `after` is what follows the table.
std::string Signed(std::string program, const std::string& table, const std::string& after = {}) {
    program.resize((program.size() + 7) / 8 * 8, '\0');
    const auto offset = static_cast<uint32_t>(program.size());
    const auto size = static_cast<uint32_t>(table.size());
    std::memcpy(&program[SecurityEntry(program)], &offset, 4);
    std::memcpy(&program[SecurityEntry(program) + 4], &size, 4);
    return program + table + after;
}

// A certificate table's shape: its length, revision 2, type PKCS#7, then the bytes.
std::string Table() {
    std::string table("\x18\x00\x00\x00\x00\x02\x02\x00", 8);
    return table + "signature bytes!";
}

}  // namespace

TEST(CertificateTable, FoundOnlyInASignedProgram) {
    const std::string updater = ReadFile(BuiltProgram("tessara-updater"));
    CTempDir dir;
    // Unsigned programs and files that are no program have none.
    EXPECT_EQ(FindCertificateTable(BuiltProgram("tessara-updater")), std::nullopt);
    for (const std::string& bytes :
         {std::string(), std::string("MZ"), std::string("not a program at all\r\n"),
          updater.substr(0, SecurityEntry(updater))}) {
        WriteFile(dir.File("file.bin"), bytes);
        EXPECT_EQ(FindCertificateTable(dir.File("file.bin")), std::nullopt) << bytes.size();
    }

    const std::string signedProgram = Signed(updater, Table());
    WriteFile(dir.File("signed.exe"), signedProgram);
    const std::optional<CertificateTable> table = FindCertificateTable(dir.File("signed.exe"));
    ASSERT_TRUE(table.has_value());
    EXPECT_EQ(table->offset, (updater.size() + 7) / 8 * 8);
    EXPECT_EQ(table->size, Table().size());
    EXPECT_EQ(table->entryOffset, SecurityEntry(updater));

    // Taken off: the program as it was before signing, padding and all, and no table left.
    CopyWithoutCertificates(dir.File("signed.exe"), *table, dir.File("unsigned.exe"));
    std::string expected = updater;
    expected.resize(static_cast<size_t>(table->offset), '\0');
    EXPECT_TRUE(ReadFile(dir.File("unsigned.exe")) == expected);
    EXPECT_EQ(FindCertificateTable(dir.File("unsigned.exe")), std::nullopt);
}

TEST(CertificateTable, ThatDoesNotEndTheFileIsNotTakenOff) {
    const std::string updater = ReadFile(BuiltProgram("tessara-updater"));
    CTempDir dir;
    // Data appended after signing: taking the table off would keep or lose it unnoticed.
    WriteFile(dir.File("appended.exe"), Signed(updater, Table(), "appended after signing"));
    try {
        FindCertificateTable(dir.File("appended.exe"));
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), "The certificate table of \"" +
                                                 dir.File("appended.exe") +
                                                 "\" does not end the file: data was added after "
                                                 "signing");
    }
    // A table that reaches past the end of the file.
    std::string cut = Signed(updater, Table());
    cut.resize(cut.size() - 4);
    WriteFile(dir.File("cut.exe"), cut);
    EXPECT_THROW(FindCertificateTable(dir.File("cut.exe")), std::runtime_error);
}

TEST(CertificateTable, PackingASignedUpdaterLeavesTheSignatureOut) {
    CTempDir dir;
    const std::string updater = ReadFile(BuiltProgram("tessara-updater"));
    WriteFile(dir.File("signed.exe"), Signed(updater, Table()));
    WriteFile(dir.File("238.rar"), std::string("Rar!\x1A\x07\x00 package 238", 20));
    const ProgramRun packed =
        RunProgram(BuiltProgram("tessara-pack"),
                   "--updater \"" + dir.File("signed.exe") + "\" --out \"" +
                       dir.File("packed.exe") + "\" 238=\"" + dir.File("238.rar") + "\"",
                   dir.Path());
    EXPECT_EQ(packed.exitCode, 0) << packed.errors;
    EXPECT_EQ(SplitLines(packed.errors),
              (std::vector<std::string>{"tessara-pack: " + dir.File("signed.exe") + " is signed; " +
                                        dir.File("packed.exe") +
                                        " is written without that signature, which its packages "
                                        "would break. Sign it now."}));
    EXPECT_EQ(FindCertificateTable(dir.File("packed.exe")), std::nullopt);
    EXPECT_EQ(CEmbeddedItems(dir.File("packed.exe")).Names(),
              (std::vector<std::string>{"238_RAR"}));
    // Nothing left beside the output but what the test put there.
    EXPECT_EQ(DirectoryEntries(dir.Path()),
              (std::vector<std::string>{"238.rar", "packed.exe", "signed.exe"}));

    // Damaged signing data stops the packer before it writes anything.
    WriteFile(dir.File("appended.exe"), Signed(updater, Table(), "appended after signing"));
    const ProgramRun refused =
        RunProgram(BuiltProgram("tessara-pack"),
                   "--updater \"" + dir.File("appended.exe") + "\" --out \"" +
                       dir.File("refused.exe") + "\" 238=\"" + dir.File("238.rar") + "\"",
                   dir.Path());
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.errors.find("does not end the file"), std::string::npos) << refused.errors;
    EXPECT_FALSE(PathExists(dir.File("refused.exe")));
}

// tessara-pack on real copies of the built updater: packing, listing, repacking and bad input.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "platform/EmbeddedItems.h"
#include "platform/FileSystem.h"
#include "platform/Sha256.h"
#include "tests/support/TestSupport.h"
#include "tests/tools/ToolRunner.h"

namespace fs = std::filesystem;

namespace {

class PackTool : public ::testing::Test {
  protected:
    PackTool() : m_base(m_dir.File("base")) {
        // The packed copy must still be the updater it was made from.
        fs::copy_file(BuiltProgram("tessara-updater"), m_base);
    }

    ToolResult Pack(const std::vector<std::string>& args) {
        return RunTool(BuiltProgram("tessara-pack"), args, m_dir.Path());
    }
    std::vector<std::string> ListLines(const std::string& updater) {
        const ToolResult result = Pack({"--list", updater});
        EXPECT_EQ(result.exitCode, 0) << result.errors;
        std::vector<std::string> lines;
        std::istringstream in(result.output);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
    std::string Line(const std::string& name, const std::string& path) {
        return name + "\t" + std::to_string(FileSize(path)) + "\t" + Sha256OfFile(path);
    }
    std::string Package(const std::string& name, const std::string& bytes) {
        WriteFile(m_dir.File(name), bytes);
        return m_dir.File(name);
    }

    CTempDir m_dir;
    std::string m_base;
};

TEST_F(PackTool, PacksOneAndThreePackagesButNone) {
    // An updater without packages would only ever say it is damaged.
    const std::string out0 = m_dir.File("out0");
    const ToolResult none = Pack({"--updater", m_base, "--out", out0});
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_NE(none.errors.find("At least one package N=PATH is required"), std::string::npos)
        << none.errors;
    EXPECT_FALSE(FileExists(out0));

    const std::string p238 = Package("238.rar", RandomBytes(300000, 1));
    const std::string out1 = m_dir.File("out1");
    ASSERT_EQ(Pack({"--updater", m_base, "--out", out1, "238=" + p238}).exitCode, 0);
    EXPECT_EQ(ListLines(out1), std::vector<std::string>{Line("238_RAR", p238)});

    const std::string p1 = Package("1.rar", "");
    const std::string p237 = Package("237.rar", RandomBytes(1000, 2));
    const std::string out3 = m_dir.File("out3");
    const ToolResult packed =
        Pack({"--updater", m_base, "--out", out3, "0237=" + p237, "238=" + p238, "1=" + p1});
    ASSERT_EQ(packed.exitCode, 0) << packed.errors;
    // Stored in the order given, leading zeros dropped.
    EXPECT_EQ(ListLines(out3),
              (std::vector<std::string>{Line("237_RAR", p237), Line("238_RAR", p238),
                                        Line("1_RAR", p1)}));
    const CEmbeddedItems items(out3);
    EXPECT_EQ(items.ProgramSize(), static_cast<uint64_t>(FileSize(m_base)));
    items.ExtractTo("238_RAR", m_dir.File("back"));
    EXPECT_EQ(Sha256OfFile(m_dir.File("back")), Sha256OfFile(p238));

    // The packed copy is still the program it was made from.
    const ToolResult run = RunTool(out3, {"--help"}, m_dir.Path());
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_NE(run.output.find("--console"), std::string::npos) << run.output;
}

TEST_F(PackTool, RepackingReplacesTheItems) {
    const std::string first = m_dir.File("first");
    const std::string a = Package("a", "aaaa");
    const std::string b = Package("b", "bbbbbbbb");
    ASSERT_EQ(Pack({"--updater", m_base, "--out", first, "5=" + a, "6=" + b}).exitCode, 0);
    const std::string second = m_dir.File("second");
    ASSERT_EQ(Pack({"--updater", first, "--out", second, "7=" + b}).exitCode, 0);
    EXPECT_EQ(ListLines(second), std::vector<std::string>{Line("7_RAR", b)});
    EXPECT_EQ(CEmbeddedItems(second).ProgramSize(), static_cast<uint64_t>(FileSize(m_base)));

    // In place as well.
    ASSERT_EQ(Pack({"--updater", second, "--out", second, "8=" + a}).exitCode, 0);
    EXPECT_EQ(ListLines(second), std::vector<std::string>{Line("8_RAR", a)});
}

TEST_F(PackTool, DirectoryBecomesAnArchiveTheArchiverExtracts) {
    const std::string src = m_dir.File("package");
    fs::create_directories(src + "/Reports");
    WriteFile(src + "/Reports/list.fr3", "template");
    WriteFile(src + "/Документ1.doc", "doc");
    WriteFile(src + "/up.99.238.lsql", "update versions set data = 238;\r\n");
    const std::string out = m_dir.File("out");
    const ToolResult packed = Pack({"--updater", m_base, "--out", out, "238=" + src});
    ASSERT_EQ(packed.exitCode, 0) << packed.errors;
    // The archive made from the directory went beside the output, and is gone.
    EXPECT_EQ(DirectoryEntries(m_dir.Path()), (std::vector<std::string>{"base", "out", "package"}));

    const CEmbeddedItems items(out);
    ASSERT_EQ(items.Names(), std::vector<std::string>{"238_RAR"});
    CTempDir work;
    items.ExtractTo("238_RAR", work.File("238.rar"));
    EXPECT_EQ(ReadFile(work.File("238.rar")).substr(0, 7), std::string("Rar!\x1A\x07\x00", 7));
    const ToolResult extracted = RunTool(BuiltProgram("rar"), {"x", "-o+", "238.rar"}, work.Path());
    ASSERT_EQ(extracted.exitCode, 0) << extracted.errors;
    EXPECT_EQ(ReadFile(work.File("Reports/list.fr3")), "template");
    EXPECT_EQ(ReadFile(work.File("Документ1.doc")), "doc");
    EXPECT_EQ(ReadFile(work.File("up.99.238.lsql")), "update versions set data = 238;\r\n");
}

TEST_F(PackTool, BadInputLeavesNoOutput) {
    const std::string good = Package("good", "good");
    const std::string out = m_dir.File("out");
    WriteFile(m_dir.File("plainfile"), "x");
    const std::vector<std::vector<std::string>> commandLines = {
        {"--updater", m_base, "--out", out, "x=" + good},
        {"--updater", m_base, "--out", out, "-1=" + good},
        {"--updater", m_base, "--out", out, "12a=" + good},
        {"--updater", m_base, "--out", out, "=" + good},
        {"--updater", m_base, "--out", out, good},
        {"--updater", m_base, "--out", out, "99999999999=" + good},
        {"--updater", m_base, "--out", out, "5=" + good, "005=" + good},
        {"--updater", m_base, "--out", out, "5=" + m_dir.File("missing")},
        {"--updater", m_dir.File("missing-base"), "--out", out, "5=" + good},
        {"--updater", m_base, "5=" + good},
        {"--updater", m_base, "--out", out, "--bogus", "5=" + good},
        {"--updater", m_base, "--out", m_dir.File("plainfile") + "/out", "5=" + good},
        {"--updater", m_base, "--out", m_dir.File("no-such-dir") + "/out", "5=" + good},
    };
    const auto before = DirectoryTree(m_dir.Path());
    for (const auto& args : commandLines) {
        SCOPED_TRACE(args.back());
        const ToolResult result = Pack(args);
        EXPECT_NE(result.exitCode, 0);
        EXPECT_FALSE(result.errors.empty());
        EXPECT_EQ(DirectoryTree(m_dir.Path()), before) << "output or temporary file left";
    }

    // A failed repack leaves an existing output as it was.
    ASSERT_EQ(Pack({"--updater", m_base, "--out", out, "5=" + good}).exitCode, 0);
    const std::string sha = Sha256OfFile(out);
    EXPECT_NE(Pack({"--updater", m_base, "--out", out, "6=" + m_dir.File("missing")}).exitCode, 0);
    EXPECT_EQ(Sha256OfFile(out), sha);
}

TEST_F(PackTool, PackageNumbersRunUpToTheLargest32BitValue) {
    const std::string p = Package("p.rar", "p");
    const std::string out = m_dir.File("out");
    const ToolResult packed =
        Pack({"--updater", m_base, "--out", out, "0002147483647=" + p, "0000=" + p});
    ASSERT_EQ(packed.exitCode, 0) << packed.errors;
    EXPECT_EQ(CEmbeddedItems(out).Names(), (std::vector<std::string>{"2147483647_RAR", "0_RAR"}));

    // Only plain digits: no sign, no blank, nothing beyond the 32-bit range.
    for (const std::string number : {"2147483648", "4294967296", "+5", "-0", " 5", "5 "}) {
        SCOPED_TRACE(number);
        const ToolResult refused = Pack({"--updater", m_base, "--out", out, number + "=" + p});
        EXPECT_EQ(refused.exitCode, 2);
        EXPECT_NE(refused.errors.find("Package number \"" + number + "\""), std::string::npos)
            << refused.errors;
    }
}

TEST_F(PackTool, ListReportsADamagedIndex) {
    const std::string out = m_dir.File("out");
    const std::string a = Package("a", "aaaa");
    ASSERT_EQ(Pack({"--updater", m_base, "--out", out, "238=" + a}).exitCode, 0);
    std::string bytes = ReadFile(out);
    bytes[bytes.size() - 72 - 40] ^= 0x55;  // inside the index, before the 72-byte footer
    WriteFile(out, bytes);
    const ToolResult result = Pack({"--list", out});
    EXPECT_NE(result.exitCode, 0);
    EXPECT_TRUE(result.output.empty());
    EXPECT_NE(result.errors.find("damaged"), std::string::npos) << result.errors;

    const ToolResult missing = Pack({"--list", m_dir.File("missing")});
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_NE(missing.errors.find("missing"), std::string::npos) << missing.errors;
}

TEST_F(PackTool, HelpDescribesTheListFormat) {
    const ToolResult result = Pack({"--help"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.output.find("--updater BASE --out NEW N=PATH"), std::string::npos);
    EXPECT_NE(result.output.find("SHA-256"), std::string::npos);
    EXPECT_NE(Pack({}).exitCode, 0);
}

TEST_F(PackTool, ArchivesADirectoryWithoutAnUpdater) {
    fs::create_directories(m_dir.File("src/Reports"));
    WriteFile(m_dir.File("src/Reports/list.fr3"), "<report/>");
    WriteFile(m_dir.File("src/tessara.exe"), RandomBytes(70000, 3));
    const ToolResult packed = Pack({"--archive", m_dir.File("src"), "--out", "plain.rar"});
    ASSERT_EQ(packed.exitCode, 0) << packed.errors;
    fs::create_directory(m_dir.File("x"));
    const ToolResult extracted =
        RunTool(BuiltProgram("rar"), {"x", "-o+", m_dir.File("plain.rar")}, m_dir.File("x"));
    ASSERT_EQ(extracted.exitCode, 0) << extracted.errors;
    EXPECT_EQ(ReadFile(m_dir.File("x/Reports/list.fr3")), "<report/>");
    EXPECT_EQ(Sha256OfFile(m_dir.File("x/tessara.exe")),
              Sha256OfFile(m_dir.File("src/tessara.exe")));

    const ToolResult missing = Pack({"--archive", m_dir.File("none"), "--out", "none.rar"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.errors.find("No such directory"), std::string::npos) << missing.errors;
    EXPECT_FALSE(FileExists(m_dir.File("none.rar")));
    EXPECT_EQ(Pack({"--archive", m_dir.File("src")}).exitCode, 2);
}

}  // namespace

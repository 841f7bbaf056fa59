// The command line of tessara-demo-package.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"
#include "tests/support/TestSupport.h"
#include "tests/tools/ToolRunner.h"

TEST(DemoPackageTool, TakesNumbersInTheirRangeOnly) {
    CTempDir dir;
    const std::string tool = BuiltProgram("tessara-demo-package");
    const ToolResult made = RunTool(
        tool, {"--scale", "0.001", "--seed", "2147483647", "--number", "7", "--out", dir.File("p")},
        dir.Path());
    ASSERT_EQ(made.exitCode, 0) << made.errors;
    EXPECT_TRUE(FileExists(dir.File("p/up.99.7.lsql")));

    for (const auto& [option, value] :
         std::vector<std::pair<std::string, std::string>>{{"--number", "0"},
                                                          {"--number", "2147483648"},
                                                          {"--number", "7x"},
                                                          {"--seed", "-1"},
                                                          {"--seed", ""}}) {
        SCOPED_TRACE(option + " " + value);
        const ToolResult refused =
            RunTool(tool, {option, value, "--out", dir.File("q")}, dir.Path());
        EXPECT_EQ(refused.exitCode, 2);
        EXPECT_NE(refused.errors.find("bad option " + option), std::string::npos) << refused.errors;
        EXPECT_FALSE(DirectoryExists(dir.File("q")));
    }
}

// The options for benchmark packages: a script of a given number of statements, one large
// document, an executable and a report template; without them the package stays package 238.
TEST(DemoPackageTool, MakesLargerPackagesForBenchmarks) {
    CTempDir dir;
    const std::string tool = BuiltProgram("tessara-demo-package");
    const auto make = [&](const std::string& name, std::vector<std::string> options) {
        options.insert(options.end(), {"--scale", "0.01", "--out", dir.File(name)});
        const ToolResult made = RunTool(tool, options, dir.Path());
        EXPECT_EQ(made.exitCode, 0) << made.errors;
        return dir.File(name);
    };
    const auto lines = [](const std::string& path) {
        const std::string text = ReadFile(path);
        return std::count(text.begin(), text.end(), '\n');
    };
    const auto largest = [](const std::string& package) {
        int64_t size = 0;
        for (const auto& item : std::filesystem::directory_iterator(package)) {
            if (item.path().extension() == ".u") {
                size = std::max(size, FileSize(item.path().string()));
            }
        }
        return size;
    };

    const std::string plain = make("plain", {});
    const std::string large =
        make("large", {"--statements", "5000", "--largest-document", "2000000", "--program-files"});
    EXPECT_EQ(lines(large + "/up.2026.05.03.lsql"), 5000);
    EXPECT_EQ(largest(large), 2000000);
    EXPECT_LT(largest(plain), 200000);
    EXPECT_GT(FileSize(large + "/tessara.exe"), 60000);
    EXPECT_NE(ReadFile(large + "/Reports/list.fr3").find("<TfrxReport"), std::string::npos);
    EXPECT_FALSE(FileExists(plain + "/tessara.exe"));
    EXPECT_FALSE(DirectoryExists(plain + "/Reports"));
    // The files drawn before the large document are those of the package without options.
    EXPECT_EQ(ReadFile(large + "/18542.u"), ReadFile(plain + "/18542.u"));
    const std::string script = ReadFile(large + "/up.2026.05.03.lsql");
    EXPECT_EQ(script.substr(0, 4000), ReadFile(plain + "/up.2026.05.03.lsql").substr(0, 4000));

    // Fewer statements than the articles need: the script keeps what they need.
    EXPECT_GT(lines(make("few", {"--statements", "10"}) + "/up.2026.05.03.lsql"), 300);
    for (const auto& [option, value] : std::vector<std::pair<std::string, std::string>>{
             {"--statements", "0"}, {"--largest-document", "-5"}, {"--largest-document", "1e6"}}) {
        SCOPED_TRACE(option + " " + value);
        const ToolResult refused =
            RunTool(tool, {option, value, "--out", dir.File("bad")}, dir.Path());
        EXPECT_EQ(refused.exitCode, 2);
        EXPECT_FALSE(DirectoryExists(dir.File("bad")));
    }
}

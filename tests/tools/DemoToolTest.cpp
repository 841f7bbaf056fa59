// The command line of tessara-demo-package.

#include <gtest/gtest.h>

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

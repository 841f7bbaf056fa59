#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "platform/ChildProcess.h"
#include "platform/FileSystem.h"
#include "tests/support/TestSupport.h"

namespace {

using Args = std::vector<std::string>;

}  // namespace

TEST(SplitCommandLine, FollowsTheWindowsRules) {
    // The archiver command line, with its trailing blank.
    EXPECT_EQ(SplitCommandLine("/opt/suite/rar x -o+ \"/tmp/lib.kvr/238.rar\" "),
              (Args{"/opt/suite/rar", "x", "-o+", "/tmp/lib.kvr/238.rar"}));
    EXPECT_EQ(SplitCommandLine("  prog\ta  \t b  "), (Args{"prog", "a", "b"}));
    EXPECT_EQ(SplitCommandLine(""), Args{});
    EXPECT_EQ(SplitCommandLine("   "), Args{});
    EXPECT_EQ(SplitCommandLine("prog \"a b\" c"), (Args{"prog", "a b", "c"}));
    EXPECT_EQ(SplitCommandLine("prog \"\" x"), (Args{"prog", "", "x"}));
    EXPECT_EQ(SplitCommandLine("prog a\"b c\"d e"), (Args{"prog", "ab cd", "e"}));
    EXPECT_EQ(SplitCommandLine("prog \"unterminated arg"), (Args{"prog", "unterminated arg"}));
    // Backslashes: literal unless they precede a quote.
    EXPECT_EQ(SplitCommandLine(R"(prog a\b a\\b)"), (Args{"prog", R"(a\b)", R"(a\\b)"}));
    EXPECT_EQ(SplitCommandLine(R"(prog a\"b)"), (Args{"prog", R"(a"b)"}));
    EXPECT_EQ(SplitCommandLine(R"(prog a\\\"b)"), (Args{"prog", R"(a\"b)"}));
    EXPECT_EQ(SplitCommandLine(R"(prog "a\\" b)"), (Args{"prog", R"(a\)", "b"}));
    EXPECT_EQ(SplitCommandLine(R"(prog "C:\Temp\lib.kvr\238.rar")"),
              (Args{"prog", R"(C:\Temp\lib.kvr\238.rar)"}));
    // The program name: quotes group it, backslashes stay.
    EXPECT_EQ(SplitCommandLine(R"("C:\Program Files\rar.exe" x)"),
              (Args{R"(C:\Program Files\rar.exe)", "x"}));
    EXPECT_EQ(SplitCommandLine(R"(C:\suite\rar.exe x)"), (Args{R"(C:\suite\rar.exe)", "x"}));
}

TEST(ChildProcess, RunsInTheGivenDirectoryAndReportsTheExitCode) {
    CTempDir dir;
    CChildProcess child;
    ASSERT_TRUE(child.Start("/bin/sh -c \"pwd > where.txt; cat > input.txt; exit 7\"", dir.Path()))
        << child.StartError();
    ASSERT_TRUE(child.Wait(10000));
    EXPECT_EQ(child.ExitCode(), 7);
    EXPECT_EQ(ReadWholeFile(dir.File("where.txt")), dir.Path() + "\n");
    // Standard input is empty, so a program that reads it does not hang.
    EXPECT_EQ(FileSize(dir.File("input.txt")), 0);
    EXPECT_TRUE(child.Wait(0));  // waiting again is harmless

    CChildProcess killed;
    ASSERT_TRUE(killed.Start("/bin/sh -c \"kill -9 $$\"", dir.Path())) << killed.StartError();
    ASSERT_TRUE(killed.Wait(10000));
    EXPECT_EQ(killed.ExitCode(), 128 + 9);
}

TEST(ChildProcess, FindsAnUnquotedProgramInADirectoryWithBlanks) {
    // The updater names the archiver without quotes, as in "/opt/my suite/rar x -o+ "a b.rar" ".
    CTempDir dir;
    MakeDirectory(dir.File("my suite"));
    const std::string program = dir.File("my suite") + "/args.sh";
    WriteFile(program, "#!/bin/sh\nfor a in \"$@\"; do echo \"[$a]\"; done > args.txt\n");
    chmod(program.c_str(), 0755);
    CChildProcess child;
    ASSERT_TRUE(child.Start(program + " x -o+ \"a b.rar\" ", dir.Path())) << child.StartError();
    ASSERT_TRUE(child.Wait(10000));
    EXPECT_EQ(child.ExitCode(), 0);
    EXPECT_EQ(ReadWholeFile(dir.File("args.txt")), "[x]\n[-o+]\n[a b.rar]\n");
}

TEST(ChildProcess, InheritsNoOpenFiles) {
    CTempDir dir;
    // A descriptor opened without close-on-exec, as a library might.
    const int fd = open(dir.File("secret").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 3);
    CChildProcess child;
    const std::string script = "if [ -e /proc/self/fd/" + std::to_string(fd) +
                               " ]; then echo open; else echo closed; fi > fd.txt";
    ASSERT_TRUE(child.Start("/bin/sh -c \"" + script + "\"", dir.Path())) << child.StartError();
    ASSERT_TRUE(child.Wait(10000));
    close(fd);
    EXPECT_EQ(ReadWholeFile(dir.File("fd.txt")), "closed\n");
}

TEST(ChildProcess, ReportsWhyAProgramCannotStart) {
    CTempDir dir;
    CChildProcess child;
    EXPECT_FALSE(child.Start(dir.File("rar") + " x -o+ \"p.rar\" ", dir.Path()));
    EXPECT_NE(child.StartError().find("No such file or directory"), std::string::npos)
        << child.StartError();

    WriteFile(dir.File("notes.txt"), "not a program\n");
    EXPECT_FALSE(child.Start(dir.File("notes.txt"), dir.Path()));
    EXPECT_NE(child.StartError().find("Permission denied"), std::string::npos)
        << child.StartError();

    // Executable bit but no program inside.
    WriteFile(dir.File("rar"), "\x01\x02 garbage, no interpreter line");
    ASSERT_EQ(chmod(dir.File("rar").c_str(), 0755), 0);
    EXPECT_FALSE(child.Start(dir.File("rar") + " x", dir.Path()));
    EXPECT_NE(child.StartError().find("Exec format error"), std::string::npos)
        << child.StartError();

    ASSERT_TRUE(MakeDirectory(dir.File("folder")));
    EXPECT_FALSE(child.Start(dir.File("folder"), dir.Path()));
    EXPECT_FALSE(child.StartError().empty());

    EXPECT_FALSE(child.Start("/bin/true", dir.File("absent")));
    EXPECT_NE(child.StartError().find("absent"), std::string::npos) << child.StartError();

    EXPECT_FALSE(child.Start("   ", dir.Path()));
    EXPECT_FALSE(child.StartError().empty());

    // A failed start leaves the object usable.
    ASSERT_TRUE(child.Start("true", dir.Path())) << child.StartError();
    EXPECT_TRUE(child.StartError().empty());
    EXPECT_TRUE(child.Wait(10000));
    EXPECT_EQ(child.ExitCode(), 0);
}

TEST(ChildProcess, WaitHonoursItsTimeLimit) {
    CTempDir dir;
    CChildProcess child;
    ASSERT_TRUE(child.Start("/bin/sleep 1", dir.Path())) << child.StartError();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(child.Wait(50));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(50));
    EXPECT_LT(waited, std::chrono::milliseconds(900));

    // The process moves with its owner.
    CChildProcess owner(std::move(child));
    EXPECT_TRUE(owner.Wait(-1));
    EXPECT_EQ(owner.ExitCode(), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
}

// The command line: the modes, the line saying what is wrong, the usage text against the exit
// statuses it documents, and the display check that keeps Qt from aborting.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "app/CommandLine.h"

TEST(CommandLine, OnlyConsoleAndHelpAreKnown) {
    EXPECT_EQ(ParseArguments({}), LaunchMode::Window);
    EXPECT_EQ(ParseArguments({"--console"}), LaunchMode::Console);
    EXPECT_EQ(ParseArguments({"--help"}), LaunchMode::Help);
    EXPECT_EQ(ParseArguments({"-h"}), LaunchMode::Help);
    EXPECT_EQ(ParseArguments({"--console", "--help"}), LaunchMode::Invalid);
    EXPECT_EQ(ParseArguments({"--console", "--console"}), LaunchMode::Invalid);
    EXPECT_EQ(ParseArguments({"--consol"}), LaunchMode::Invalid);
    EXPECT_EQ(ParseArguments({"--CONSOLE"}), LaunchMode::Invalid);
    EXPECT_EQ(ParseArguments({"file.txt"}), LaunchMode::Invalid);
    // `tessara-updater ""` passes one empty argument, which is not the same as none.
    EXPECT_EQ(ParseArguments({""}), LaunchMode::Invalid);
}

TEST(CommandLine, ErrorNamesTheFirstUnknownOptionOrElseTheirNumber) {
    EXPECT_EQ(ArgumentError({"--bogus"}), "tessara-updater: unknown option '--bogus'");
    EXPECT_EQ(ArgumentError({"--console", "-x", "-y"}), "tessara-updater: unknown option '-x'");
    EXPECT_EQ(ArgumentError({""}), "tessara-updater: unknown option ''");
    EXPECT_EQ(ArgumentError({"--console", "--console"}),
              "tessara-updater: give one option at most");
    EXPECT_EQ(ArgumentError({"-h", "--console"}), "tessara-updater: give one option at most");
}

TEST(CommandLine, UsageDocumentsEveryExitStatus) {
    const std::string usage = UsageText();
    for (const int status :
         {kExitUpdated, kExitRunFailed, kExitNotStarted, kExitNothingToInstall}) {
        EXPECT_NE(usage.find("\n  " + std::to_string(status) + "  "), std::string::npos) << status;
    }
    ASSERT_FALSE(usage.empty());
    EXPECT_EQ(usage.back(), '\n');  // the entry writes it as it is
}

#if defined(__unix__) && !defined(__APPLE__)

namespace {

// Clears the variables that name a display for one test and puts back what they held.
class CDisplayVariables {
  public:
    CDisplayVariables() {
        for (const char* name : kNames) {
            if (const char* value = std::getenv(name)) {
                m_saved.emplace_back(name, value);
            }
            unsetenv(name);
        }
    }
    ~CDisplayVariables() {
        for (const char* name : kNames) {
            unsetenv(name);
        }
        for (const auto& [name, value] : m_saved) {
            setenv(name.c_str(), value.c_str(), 1);
        }
    }
    CDisplayVariables(const CDisplayVariables&) = delete;
    CDisplayVariables& operator=(const CDisplayVariables&) = delete;

    static constexpr const char* kNames[] = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};

  private:
    std::vector<std::pair<std::string, std::string>> m_saved;
};

}  // namespace

TEST(CommandLine, AWindowNeedsADisplayServerOrAnExplicitPlatform) {
    CDisplayVariables variables;
    EXPECT_FALSE(WindowSystemAvailable());
    // A variable set to nothing, as `DISPLAY= tessara-updater` leaves it, names no display.
    setenv("DISPLAY", "", 1);
    EXPECT_FALSE(WindowSystemAvailable());

    const std::pair<const char*, const char*> displays[] = {
        {"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}, {"QT_QPA_PLATFORM", "offscreen"}};
    for (const auto& [name, value] : displays) {
        CDisplayVariables only;
        setenv(name, value, 1);
        EXPECT_TRUE(WindowSystemAvailable()) << name;
    }
}

#endif

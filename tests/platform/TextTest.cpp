// Line splitting as the journal, the archiver's messages and program output need it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Text.h"

TEST(SplitLines, TakesLfAndCrLfEndsAndNoLineAfterTheLastEnd) {
    using Lines = std::vector<std::string>;
    EXPECT_EQ(SplitLines(""), Lines{});
    EXPECT_EQ(SplitLines("\n"), Lines{""});
    EXPECT_EQ(SplitLines("a\r\nb\n"), (Lines{"a", "b"}));
    EXPECT_EQ(SplitLines("a\n\nb"), (Lines{"a", "", "b"}));
    // Only a CR right before the LF belongs to the line end.
    EXPECT_EQ(SplitLines("x\ry\r\r\n"), (Lines{"x\ry\r"}));
}

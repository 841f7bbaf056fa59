// The strict UTF-8 rules: every boundary of the standard's table on both sides, encoding and
// decoding in agreement, and text written in pieces never cut inside a character.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "platform/Utf8.h"

TEST(Utf8, DecodesAndEncodesEveryBoundaryOfTheTable) {
    const struct {
        std::string bytes;
        char32_t codePoint;
    } kBoundaries[] = {
        {std::string(1, '\0'), 0},
        {"\x7F", 0x7F},
        {"\xC2\x80", 0x80},
        {"\xDF\xBF", 0x7FF},
        {"\xE0\xA0\x80", 0x800},
        {"\xED\x9F\xBF", 0xD7FF},
        {"\xEE\x80\x80", 0xE000},
        {"\xEF\xBF\xBF", 0xFFFF},
        {"\xF0\x90\x80\x80", 0x10000},
        {"\xF4\x8F\xBF\xBF", 0x10FFFF},
        {"\xD0\x87", U'Ї'},
        {"\xE2\x84\x96", U'№'},
    };
    for (const auto& [bytes, codePoint] : kBoundaries) {
        SCOPED_TRACE(static_cast<unsigned long>(codePoint));
        EXPECT_TRUE(IsValidUtf8(bytes));
        EXPECT_EQ(DecodeUtf8(bytes), std::u32string(1, codePoint));
        std::string encoded = "a";
        AppendUtf8(encoded, codePoint);
        EXPECT_EQ(encoded, "a" + bytes);
    }
    EXPECT_EQ(DecodeUtf8("Звіт 2026.fr3"), U"Звіт 2026.fr3");
    EXPECT_EQ(DecodeUtf8(""), U"");
    const std::optional<Utf8Char> second = DecodeUtf8At("a\xF0\x9F\x98\x80", 1);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->codePoint, 0x1F600u);
    EXPECT_EQ(second->length, 4u);
    EXPECT_FALSE(DecodeUtf8At("a", 1));
}

TEST(Utf8, RefusesOverlongsSurrogatesTooLargeTruncatedAndStrayBytes) {
    for (const std::string bad : {
             "\xC0\xAF",
             "\xC1\xBF",
             "\xE0\x80\x80",
             "\xE0\x9F\xBF",
             "\xF0\x80\x80\x80",
             "\xF0\x8F\xBF\xBF",  // overlong forms
             "\xED\xA0\x80",
             "\xED\xBF\xBF",  // surrogates
             "\xF4\x90\x80\x80",
             "\xF5\x80\x80\x80",
             "\xFF",  // above U+10FFFF
             "\x80",
             "\xBF",
             "a\x80z",  // continuation bytes alone
             "a\xC3",
             "\xE2\x82",
             "\xF0\x9F\x98",  // cut short
             "\xC3\x28",
             "\xE2\x28\xA1",
             "\xF0\x9F\x28\x80",  // interrupted
         }) {
        SCOPED_TRACE(testing::PrintToString(bad));
        EXPECT_FALSE(IsValidUtf8(bad));
        EXPECT_FALSE(IsValidUtf8("valid " + bad + " valid"));
        EXPECT_EQ(DecodeUtf8(bad), std::nullopt);
    }
    std::string text;
    EXPECT_THROW(AppendUtf8(text, 0xD800), std::invalid_argument);
    EXPECT_THROW(AppendUtf8(text, 0xDFFF), std::invalid_argument);
    EXPECT_THROW(AppendUtf8(text, 0x110000), std::invalid_argument);
    EXPECT_EQ(text, "");
}

TEST(Utf8, APieceEndsBeforeACharacterItCutsButKeepsWhatCanNeverBeValid) {
    EXPECT_EQ(Utf8CompletePrefix(""), 0u);
    EXPECT_EQ(Utf8CompletePrefix("abc"), 3u);
    EXPECT_EQ(Utf8CompletePrefix("ab\xD0"), 2u);
    EXPECT_EQ(Utf8CompletePrefix("ab\xE2\x82"), 2u);
    EXPECT_EQ(Utf8CompletePrefix("ab\xF0\x9F\x98"), 2u);
    EXPECT_EQ(Utf8CompletePrefix("ab\xF0\x9F\x98\x80"), 6u);
    EXPECT_EQ(Utf8CompletePrefix("\xD0\x87"), 2u);
    // Bytes no continuation can complete go out as they are.
    EXPECT_EQ(Utf8CompletePrefix("ab\x80"), 3u);
    EXPECT_EQ(Utf8CompletePrefix("ab\xE0\x80"), 4u);
    EXPECT_EQ(Utf8CompletePrefix("ab\xED\xA0"), 4u);
    EXPECT_EQ(Utf8CompletePrefix("ab\xC0"), 3u);
}

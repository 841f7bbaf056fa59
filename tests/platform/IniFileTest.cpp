#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <random>

#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/SystemError.h"
#include "tests/support/TestSupport.h"

TEST(IniFile, ReadsValuesByTheProfileRules) {
    CTempDir dir;
    const std::string path = dir.File("lib.ini");
    WriteFile(path,
              "; the suite's settings\r\n"
              "[Other]\r\n"
              "TypeServer=5\r\n"
              "  [ Common ]  \r\n"
              "PathBaseGDB =  \"/data/lib.gdb\"  \r\n"
              "NameServer= 'db-host' \r\n"
              "\tPlain\t=\t a b \t\r\n"
              "Unbalanced=\"text\r\n"
              "Mixed=\"text'\r\n"
              "Inner=\"a\" and \"b\"\r\n"
              "Doubled=\"\"x\"\"\r\n"
              "OneQuote=\"\r\n"
              "Empty=\r\n"
              ";Commented=1\r\n"
              "NoEquals\r\n"
              "Key=first\r\n"
              "KEY=second\r\n"
              "Equals=a=b\r\n"
              "[common]\n"
              "Late=from the second header\n"
              "Key=third\n");
    const CIniFile ini(path);
    EXPECT_EQ(ini.ReadString("Common", "PathBaseGDB", "-"), "/data/lib.gdb");
    EXPECT_EQ(ini.ReadString("COMMON", "pathbasegdb", "-"), "/data/lib.gdb");
    EXPECT_EQ(ini.ReadString("Common", "NameServer", "-"), "db-host");
    EXPECT_EQ(ini.ReadString("Common", "Plain", "-"), "a b");
    EXPECT_EQ(ini.ReadString("Common", "Unbalanced", "-"), "\"text");
    EXPECT_EQ(ini.ReadString("Common", "Mixed", "-"), "\"text'");
    EXPECT_EQ(ini.ReadString("Common", "Inner", "-"), "a\" and \"b");
    EXPECT_EQ(ini.ReadString("Common", "Doubled", "-"), "\"x\"");  // only one pair goes
    EXPECT_EQ(ini.ReadString("Common", "OneQuote", "-"), "\"");
    EXPECT_EQ(ini.ReadString("Common", "Empty", "-"), "");
    EXPECT_EQ(ini.ReadString("Common", "Commented", "-"), "-");
    EXPECT_EQ(ini.ReadString("Common", ";Commented", "-"), "-");
    EXPECT_EQ(ini.ReadString("Common", "NoEquals", "-"), "-");
    EXPECT_EQ(ini.ReadString("Common", "Key", "-"), "first");
    EXPECT_EQ(ini.ReadString("Common", "Equals", "-"), "a=b");
    EXPECT_EQ(ini.ReadString("Common", "Late", "-"), "from the second header");
    EXPECT_EQ(ini.ReadString("Common", "Missing", "-"), "-");
    EXPECT_EQ(ini.ReadString("Missing", "Key", "-"), "-");
    EXPECT_EQ(ini.ReadInteger("Other", "TypeServer", 9), 5);
    EXPECT_EQ(ini.ReadInteger("Common", "TypeServer", 0), 0);
}

TEST(IniFile, ReadsIntegersDecimalOrHexadecimal) {
    CTempDir dir;
    const std::string path = dir.File("lib.ini");
    WriteFile(path,
              "[Common]\n"
              "Zero=0\nOne=1\nPadded=  42  \nQuoted=\"7\"\nPlus=+5\nMinus=-12\n"
              "Hex=0x1\nHexUpper=0X1f\nDollar=$FF\nDollarLower=$ab\nAllOnes=$FFFFFFFF\n"
              "Max=2147483647\nMin=-2147483648\nTooBig=2147483648\nHexTooBig=0x100000000\n"
              "Garbage=abc\nTrailing=12abc\nBareHex=0x\nBareDollar=$\nEmpty=\nSpaceInside=1 2\n"
              "NegativeHex=-$10\nPlusHex=+0x10\nNegativeAllOnes=-0xFFFFFFFF\nSignAfterDollar=$-1\n"
              "SignedBareHex=-0x\n");
    const CIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("Common", "Zero", 9), 0);
    EXPECT_EQ(ini.ReadInteger("Common", "One", 9), 1);
    EXPECT_EQ(ini.ReadInteger("Common", "Padded", 9), 42);
    EXPECT_EQ(ini.ReadInteger("Common", "Quoted", 9), 7);
    EXPECT_EQ(ini.ReadInteger("Common", "Plus", 9), 5);
    EXPECT_EQ(ini.ReadInteger("Common", "Minus", 9), -12);
    EXPECT_EQ(ini.ReadInteger("Common", "Hex", 9), 1);
    EXPECT_EQ(ini.ReadInteger("Common", "HexUpper", 9), 31);
    EXPECT_EQ(ini.ReadInteger("Common", "Dollar", 9), 255);
    EXPECT_EQ(ini.ReadInteger("Common", "DollarLower", 9), 171);
    EXPECT_EQ(ini.ReadInteger("Common", "AllOnes", 9), -1);
    EXPECT_EQ(ini.ReadInteger("Common", "Max", 9), 2147483647);
    EXPECT_EQ(ini.ReadInteger("Common", "Min", 9), INT32_MIN);
    // A sign goes before the hexadecimal prefix and negates the 32 bits.
    EXPECT_EQ(ini.ReadInteger("Common", "NegativeHex", 9), -16);
    EXPECT_EQ(ini.ReadInteger("Common", "PlusHex", 9), 16);
    EXPECT_EQ(ini.ReadInteger("Common", "NegativeAllOnes", 9), 1);
    // Text that is no 32-bit integer gives the default, which the updater passes as 0.
    for (const char* key :
         {"TooBig", "HexTooBig", "Garbage", "Trailing", "BareHex", "BareDollar", "Empty",
          "SpaceInside", "SignAfterDollar", "SignedBareHex", "Missing"}) {
        EXPECT_EQ(ini.ReadInteger("Common", key, 0), 0) << key;
        EXPECT_EQ(ini.ReadInteger("Common", key, 9), 9) << key;
    }
}

TEST(IniFile, CutsLongTextTo2047Characters) {
    CTempDir dir;
    const std::string path = dir.File("lib.ini");
    const std::string longText(3000, 'x');
    // A two-byte UTF-8 character that straddles the limit is dropped whole.
    const std::string straddling = std::string(2046, 'y') + "\xD0\x96" + "zz";
    WriteFile(path, "[Common]\nLong=\"" + longText + "\"\nExact=" + std::string(2047, 'e') +
                        "\nStraddling=" + straddling + "\n");
    const CIniFile ini(path);
    EXPECT_EQ(ini.ReadString("Common", "Long", ""), std::string(2047, 'x'));
    EXPECT_EQ(ini.ReadString("Common", "Exact", ""), std::string(2047, 'e'));
    EXPECT_EQ(ini.ReadString("Common", "Straddling", ""), std::string(2046, 'y'));
}

TEST(IniFile, MissingOrDamagedFilesGiveDefaults) {
    CTempDir dir;
    const CIniFile missing(dir.File("absent.ini"));
    EXPECT_EQ(missing.ReadString("Common", "PathBaseGDB", ""), "");
    EXPECT_EQ(missing.ReadInteger("Common", "TypeServer", 0), 0);

    // A directory in place of the file reads as empty as well (devices and pipes: POSIX tests).
    const CIniFile directory(dir.Path());
    EXPECT_EQ(directory.ReadString("Common", "PathBaseGDB", "d"), "d");

    const std::string text = dir.File("text.ini");
    WriteFile(text, "This is not an INI file.\nTypeServer=3\n]Common[\n[Common\nNameServer=x\n");
    const CIniFile textIni(text);
    EXPECT_EQ(textIni.ReadInteger("Common", "TypeServer", 0), 0);
    EXPECT_EQ(textIni.ReadString("Common", "NameServer", ""), "");

    // Random bytes with NULs and line breaks, followed by a real section.
    std::mt19937 random(238);
    std::string garbage;
    for (int i = 0; i < 200000; ++i) {
        garbage += static_cast<char>(random() & 0xFF);
    }
    garbage.insert(1000, std::string("\0[Common]\0TypeServer=\0", 22));
    const std::string binary = dir.File("binary.ini");
    const char tail[] = "\n[Common]\nTypeServer=0x10\nPathBaseGDB=/x\0y\n";
    WriteFile(binary, garbage + std::string(tail, sizeof tail - 1));
    const CIniFile binaryIni(binary);
    EXPECT_EQ(binaryIni.ReadInteger("Common", "TypeServer", 0), 16);
    // A NUL ends the text, as it ends a C string: no path with an embedded NUL comes out.
    EXPECT_EQ(binaryIni.ReadString("Common", "PathBaseGDB", ""), "/x");
}

TEST(IniFile, HugeFilesAreReadUpToTheLimitAndRefusedBeyondIt) {
    CTempDir dir;
    // A one-megabyte line is skipped; the settings after it still count.
    const std::string longLine = dir.File("longline.ini");
    WriteFile(longLine, std::string(1024 * 1024, 'A') + "=1\n[Common]\nTypeServer=3\n");
    EXPECT_EQ(CIniFile(longLine).ReadInteger("Common", "TypeServer", 0), 3);

    // Exactly 16 MB is read to its end, quickly.
    const std::string tail = "\n[Common]\nTypeServer=3\n";
    const std::string limit = dir.File("limit.ini");
    {
        CFile file(limit, CFile::Mode::WriteTruncate);
        const std::string block(1024 * 1024, 'B');
        for (int i = 0; i < 16; ++i) {
            file.WriteAll(block.data(), i == 15 ? block.size() - tail.size() : block.size());
        }
        file.WriteAll(tail.data(), tail.size());
        file.Close();
    }
    ASSERT_EQ(FileSize(limit), 16 * 1024 * 1024);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CIniFile(limit).ReadInteger("Common", "TypeServer", 0), 3);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    // One byte more is refused as a whole, naming the file: a cut could lose the settings.
    {
        CFile file(limit, CFile::Mode::Append);
        file.WriteAll("\n", 1);
        file.Close();
    }
    try {
        CIniFile ini(limit);
        ADD_FAILURE() << "a settings file over the limit was read";
    } catch (const CSystemError& e) {
        EXPECT_EQ(e.Code(), EFBIG);
        EXPECT_NE(std::string(e.what()).find(limit), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("16 MB"), std::string::npos) << e.what();
    }
}

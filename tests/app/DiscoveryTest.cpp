#include <gtest/gtest.h>

#include <stdexcept>

#include "app/PackageDiscovery.h"
#include "platform/Text.h"
#include "tests/install/RecordingOwner.h"

namespace {

struct Discovery {
    PackageRange range;
    std::vector<std::string> journal;
    std::string caption;
};

Discovery Discover(const std::vector<std::string>& itemNames) {
    CRecordingOwner journal;
    CRecordingLabel actVer;
    Discovery result;
    result.range = DiscoverPackages(PackageNames(itemNames), journal, actVer);
    result.journal = journal.journal;
    result.caption = actVer.Caption();
    return result;
}

}  // namespace

TEST(PackageDiscovery, OnePackage) {
    const Discovery found = Discover({"TFORM1", "238_RAR"});
    EXPECT_EQ(found.journal, (std::vector<std::string>{"238_RAR"}));
    EXPECT_EQ(found.range.lowest, 238);
    EXPECT_EQ(found.range.highest, 238);
    EXPECT_EQ(found.caption, "238");
}

TEST(PackageDiscovery, SeveralPackagesInStoredOrder) {
    const Discovery found = Discover({"238_RAR", "239_RAR", "DVCLAL", "237_RAR"});
    EXPECT_EQ(found.journal, (std::vector<std::string>{"238_RAR", "239_RAR", "237_RAR"}));
    EXPECT_EQ(found.range.lowest, 237);
    EXPECT_EQ(found.range.highest, 239);
    EXPECT_EQ(found.caption, "237 - 239");
}

TEST(PackageDiscovery, NoPackage) {
    const Discovery found = Discover({"PACKAGEINFO", "238_rar", "238RAR"});
    EXPECT_TRUE(found.journal.empty());
    EXPECT_EQ(found.range.lowest, 0);
    EXPECT_EQ(found.range.highest, 0);
    EXPECT_EQ(found.caption, "0");
}

TEST(PackageDiscovery, NumberBeforeTheFirstUnderscore) {
    const Discovery found = Discover({"12_X_RAR", "-3_RAR"});
    EXPECT_EQ(found.range.lowest, -3);
    EXPECT_EQ(found.range.highest, 12);
    EXPECT_EQ(found.caption, "-3 - 12");
}

TEST(PackageDiscovery, NameWithoutNumberIsAnError) {
    CRecordingOwner journal;
    CRecordingLabel actVer;
    actVer.SetCaption("-");
    try {
        DiscoverPackages({"238_RAR", "ABC_RAR"}, journal, actVer);
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "'ABC' is not a valid integer value");
    }
    // The journal has the line of the bad name; lActVer is left as it was.
    EXPECT_EQ(journal.journal, (std::vector<std::string>{"238_RAR", "ABC_RAR"}));
    EXPECT_EQ(actVer.Caption(), "-");
}

TEST(PackageDiscovery, IntegerConversion) {
    EXPECT_EQ(ParseInteger("238"), 238);
    EXPECT_EQ(ParseInteger("+7"), 7);
    EXPECT_EQ(ParseInteger("2147483647"), 2147483647);
    EXPECT_EQ(ParseInteger("-2147483648"), -2147483647 - 1);
    for (const char* bad : {"", "-", "2147483648", "99999999999999999999", "1 ", "0x10", "１"}) {
        EXPECT_THROW(ParseInteger(bad), std::runtime_error) << bad;
    }
    try {
        ParseInteger("");
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "'' is not a valid integer value");
    }
}

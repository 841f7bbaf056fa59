// What only the resource layout of Windows has (the portable behaviour is in tests/platform): the
// program's own resources kept beside the items, the rules of resource names, no empty item, and
// an index or a resource changed behind the other's back.

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "platform/EmbeddedItems.h"
#include "platform/SystemError.h"
#include "platform/Utf16.h"
#include "tests/windows/WindowsTestSupport.h"

namespace {

// The RCDATA resources of a program by name, as Windows stores the names (in capitals).
std::map<std::string, std::string> RcdataResources(const std::string& program) {
    std::map<std::string, std::string> resources;
    HMODULE module = LoadLibraryExW(ToUtf16(program).c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    EXPECT_NE(module, nullptr) << program;
    if (module == nullptr) {
        return resources;
    }
    std::vector<std::wstring> names;
    EnumResourceNamesW(
        module, RT_RCDATA,
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) -> BOOL {
            if (!IS_INTRESOURCE(name)) {
                reinterpret_cast<std::vector<std::wstring>*>(found)->push_back(name);
            }
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&names));
    for (const std::wstring& name : names) {
        HRSRC info = FindResourceW(module, name.c_str(), RT_RCDATA);
        resources[ToUtf8(name)] =
            std::string(static_cast<const char*>(LockResource(LoadResource(module, info))),
                        SizeofResource(module, info));
    }
    FreeLibrary(module);
    return resources;
}

std::set<std::string> ResourceNames(const std::string& program) {
    std::set<std::string> names;
    for (const auto& [name, bytes] : RcdataResources(program)) {
        names.insert(name);
    }
    return names;
}

// The bytes of the version resource, which packing must keep.
std::string VersionResource(const std::string& program) {
    HMODULE module = LoadLibraryExW(ToUtf16(program).c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    EXPECT_NE(module, nullptr) << program;
    HRSRC info =
        module != nullptr ? FindResourceW(module, MAKEINTRESOURCEW(1), RT_VERSION) : nullptr;
    std::string bytes;
    if (info != nullptr) {
        bytes.assign(static_cast<const char*>(LockResource(LoadResource(module, info))),
                     SizeofResource(module, info));
    }
    if (module != nullptr) {
        FreeLibrary(module);
    }
    return bytes;
}

// Replaces (or, without bytes, removes) one RCDATA resource behind the index's back. Removing a
// single resource does not work under Wine, so all of them are written anew.
void ReplaceResource(const std::string& program, const std::string& name,
                     const std::string* bytes) {
    std::map<std::string, std::string> resources = RcdataResources(program);
    if (bytes != nullptr) {
        resources[name] = *bytes;
    } else {
        ASSERT_EQ(resources.erase(name), 1u);
    }
    HANDLE update = BeginUpdateResourceW(ToUtf16(program).c_str(), TRUE);
    ASSERT_NE(update, nullptr);
    for (auto& [resourceName, data] : resources) {
        ASSERT_TRUE(UpdateResourceW(update, RT_RCDATA, ToUtf16(resourceName).c_str(),
                                    MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), data.data(),
                                    static_cast<DWORD>(data.size())));
    }
    ASSERT_TRUE(EndUpdateResourceW(update, FALSE));
}

int RunProgram(const std::string& program) {
    CStartedProgram started(program, "exit 7");
    return started.WaitForExit(30000);
}

// A base program (a copy of the helper) and package files in a scratch directory.
class WindowsItemsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_base = m_dir.File("оновлювач.exe");
        ASSERT_TRUE(CopyFileW(ToUtf16(BuiltProgram("test_helper")).c_str(), ToUtf16(m_base).c_str(),
                              FALSE));
        WriteFile(m_dir.File("a.rar"), std::string("Rar!\x1A\x07\x00 first package", 21));
        // 3 MB with a pattern that a block-boundary mistake would disturb.
        std::string large(3 * 1000003, '\0');
        for (size_t i = 0; i < large.size(); ++i) {
            large[i] = static_cast<char>((i * 31 + i / 1000003) & 0xFF);
        }
        WriteFile(m_dir.File("пакет.rar"), large);
    }

    CTempDir m_dir;
    std::string m_base;
};

}  // namespace

TEST_F(WindowsItemsTest, OnlyAProgramCanCarryItems) {
    EXPECT_THROW(CEmbeddedItems(m_dir.File("a.rar")), CSystemError);
}

TEST_F(WindowsItemsTest, TheProgramsOwnResourcesStayBesideTheItems) {
    const std::string packed = m_dir.File("packed.exe");
    WriteEmbeddedItems(
        m_base, {{"239_RAR", m_dir.File("пакет.rar")}, {"238_RAR", m_dir.File("a.rar")}}, packed);
    EXPECT_EQ(ResourceNames(packed),
              (std::set<std::string>{"238_RAR", "239_RAR", "HELPER_NOTES", "TSRPKG_INDEX"}));
    EXPECT_EQ(RcdataResources(packed)["HELPER_NOTES"], "kept as it is");
    EXPECT_EQ(VersionResource(packed), VersionResource(m_base));
    EXPECT_FALSE(VersionResource(m_base).empty());

    // Stored order, not the resource directory's sorted one.
    const CEmbeddedItems items(packed);
    EXPECT_EQ(items.Names(), (std::vector<std::string>{"239_RAR", "238_RAR"}));
    items.ExtractTo("239_RAR", m_dir.File("239.rar"));
    EXPECT_TRUE(ReadFile(m_dir.File("239.rar")) == ReadFile(m_dir.File("пакет.rar")));
    EXPECT_EQ(RunProgram(packed), 7);
}

TEST_F(WindowsItemsTest, RepackingReplacesTheItemsAndTheirIndexOnly) {
    const std::string packed = m_dir.File("packed.exe");
    WriteEmbeddedItems(m_base, {{"237_RAR", m_dir.File("a.rar")}, {"238_RAR", m_dir.File("a.rar")}},
                       packed);
    const std::string repacked = m_dir.File("repacked.exe");
    WriteEmbeddedItems(packed, {{"239_RAR", m_dir.File("a.rar")}}, repacked);
    EXPECT_EQ(ResourceNames(repacked),
              (std::set<std::string>{"239_RAR", "HELPER_NOTES", "TSRPKG_INDEX"}));

    // In place, and an empty item list leaves the bare program without an index.
    WriteEmbeddedItems(repacked, {}, repacked);
    EXPECT_EQ(ResourceNames(repacked), std::set<std::string>{"HELPER_NOTES"});
    EXPECT_EQ(VersionResource(repacked), VersionResource(m_base));
}

TEST_F(WindowsItemsTest, NamesThatNoResourceCanTakeAndEmptyItemsAreRefused) {
    const std::string out = m_dir.File("out.exe");
    // Resource names ignore case, and "#" would make a name a number.
    for (const char* name : {"238_rar", "#238", "tsrpkg_index"}) {
        EXPECT_THROW(
            WriteEmbeddedItems(
                m_base, {{"238_RAR", m_dir.File("a.rar")}, {name, m_dir.File("a.rar")}}, out),
            std::runtime_error)
            << name;
    }
    // No bytes would remove the resource instead of storing an empty one.
    WriteFile(m_dir.File("empty.rar"), "");
    EXPECT_THROW(WriteEmbeddedItems(m_base, {{"238_RAR", m_dir.File("empty.rar")}}, out),
                 std::runtime_error);
    EXPECT_EQ(DirectoryEntries(m_dir.Path()),
              (std::vector<std::string>{"a.rar", "empty.rar", "оновлювач.exe", "пакет.rar"}));
}

TEST_F(WindowsItemsTest, ResourceThatDoesNotMatchItsChecksumIsNotWritten) {
    const std::string packed = m_dir.File("packed.exe");
    WriteEmbeddedItems(m_base, {{"237_RAR", m_dir.File("a.rar")}, {"238_RAR", m_dir.File("a.rar")}},
                       packed);
    // Same size, other bytes: only the checksum can tell.
    std::string changed = ReadFile(m_dir.File("a.rar"));
    changed[5] = static_cast<char>(~changed[5]);
    ReplaceResource(packed, "238_RAR", &changed);

    const CEmbeddedItems items(packed);
    const std::string out = m_dir.File("238.rar");
    WriteFile(out, "older");
    try {
        items.ExtractTo("238_RAR", out);
        FAIL() << "a damaged item was written out";
    } catch (const CEmbeddedItemsError& error) {
        EXPECT_NE(std::string(error.what()).find("238_RAR"), std::string::npos) << error.what();
    }
    EXPECT_EQ(ReadFile(out), "older");
    items.ExtractTo("237_RAR", m_dir.File("237.rar"));  // its neighbour is sound
    EXPECT_EQ(ReadFile(m_dir.File("237.rar")), ReadFile(m_dir.File("a.rar")));
    EXPECT_EQ(DirectoryEntries(m_dir.Path()),
              (std::vector<std::string>{"237.rar", "238.rar", "a.rar", "packed.exe",
                                        "оновлювач.exe", "пакет.rar"}));
}

TEST_F(WindowsItemsTest, IndexThatDisagreesWithTheResourcesIsDamaged) {
    const std::string packed = m_dir.File("packed.exe");
    WriteEmbeddedItems(m_base, {{"237_RAR", m_dir.File("a.rar")}, {"238_RAR", m_dir.File("a.rar")}},
                       packed);
    const auto expectDamaged = [](const std::string& program, const std::string& reason) {
        try {
            CEmbeddedItems items(program);
            ADD_FAILURE() << "no error for " << reason;
        } catch (const CEmbeddedItemsError& error) {
            EXPECT_NE(std::string(error.what()).find(reason), std::string::npos) << error.what();
        }
    };
    {
        const std::string copy = m_dir.File("longer.exe");
        ASSERT_TRUE(CopyFileW(ToUtf16(packed).c_str(), ToUtf16(copy).c_str(), FALSE));
        const std::string longer = ReadFile(m_dir.File("a.rar")) + "!";
        ReplaceResource(copy, "238_RAR", &longer);
        expectDamaged(copy, "\"238_RAR\" does not have the size listed");
    }
    {
        const std::string copy = m_dir.File("missing.exe");
        ASSERT_TRUE(CopyFileW(ToUtf16(packed).c_str(), ToUtf16(copy).c_str(), FALSE));
        ReplaceResource(copy, "237_RAR", nullptr);
        expectDamaged(copy, "\"237_RAR\" is missing");
    }
    // Every byte of the index is guarded by its checksum.
    const CEmbeddedItems sound(packed);
    HMODULE module = LoadLibraryExW(ToUtf16(packed).c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    HRSRC info = FindResourceW(module, L"TSRPKG_INDEX", RT_RCDATA);
    ASSERT_NE(info, nullptr);
    const std::string index(static_cast<const char*>(LockResource(LoadResource(module, info))),
                            SizeofResource(module, info));
    FreeLibrary(module);
    for (size_t offset = 8; offset < index.size(); offset += 7) {
        const std::string copy = m_dir.File("flipped.exe");
        ASSERT_TRUE(CopyFileW(ToUtf16(packed).c_str(), ToUtf16(copy).c_str(), FALSE));
        std::string flipped = index;
        flipped[offset] = static_cast<char>(~flipped[offset]);
        ReplaceResource(copy, "TSRPKG_INDEX", &flipped);
        expectDamaged(copy, "is damaged");
    }
}

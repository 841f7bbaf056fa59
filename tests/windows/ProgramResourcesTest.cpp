// What Windows reads from the built programs before any of their code runs: the version
// information that Explorer's properties show, the icon, and the application manifest as the
// loader's activation context sees it (visual styles, DPI awareness, execution level, the Windows
// versions). The packed updater must still carry all of it: the packer writes every resource
// of the program again.

#include <windows.h>

#include <gtest/gtest.h>
#include <imagehlp.h>

#include <cstring>
#include <string>
#include <vector>

#include "ProductVersion.h"
#include "platform/SystemError.h"
#include "platform/Text.h"
#include "platform/Utf16.h"
#include "tests/windows/UpdaterTestSupport.h"
#include "tests/windows/WindowsTestSupport.h"

namespace {

struct ExpectedProgram {
    const char* name;
    const char* description;
};
const ExpectedProgram kUpdater{"tessara-updater", "Програма оновлення ПК Тессара"};
const ExpectedProgram kPacker{"tessara-pack", "Пакувальник оновлень ПК Тессара"};

// The namespaces of the settings of Windows Vista (dpiAware) and of Windows 10 1607
// (dpiAwareness).
constexpr wchar_t kSettings2005[] = L"http://schemas.microsoft.com/SMI/2005/WindowsSettings";
constexpr wchar_t kSettings2016[] = L"http://schemas.microsoft.com/SMI/2016/WindowsSettings";

// The version information of a program file, as Explorer reads it.
class CVersionInfo {
  public:
    explicit CVersionInfo(const std::string& path) {
        const std::wstring wide = ToUtf16(path);
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(wide.c_str(), &ignored);
        if (size == 0) {
            ThrowLastError("No version information in " + path);
        }
        m_data.resize(size);
        if (!GetFileVersionInfoW(wide.c_str(), 0, size, m_data.data())) {
            ThrowLastError("Cannot read the version information of " + path);
        }
    }

    const VS_FIXEDFILEINFO* Fixed() const {
        void* value = nullptr;
        UINT size = 0;
        if (!VerQueryValueW(m_data.data(), L"\\", &value, &size) ||
            size < sizeof(VS_FIXEDFILEINFO)) {
            return nullptr;
        }
        return static_cast<const VS_FIXEDFILEINFO*>(value);
    }

    // A value of the Ukrainian string table, as Explorer shows it; empty when missing.
    std::string Text(const std::wstring& name) const {
        void* value = nullptr;
        UINT size = 0;
        const std::wstring key = L"\\StringFileInfo\\042204B0\\" + name;
        if (!VerQueryValueW(m_data.data(), key.c_str(), &value, &size) || size == 0) {
            return {};
        }
        return ToUtf8(std::wstring(static_cast<const wchar_t*>(value), size - 1));
    }

    // The languages and code pages it lists, as (language << 16 | code page).
    std::vector<DWORD> Translations() const {
        void* value = nullptr;
        UINT size = 0;
        std::vector<DWORD> found;
        if (VerQueryValueW(m_data.data(), L"\\VarFileInfo\\Translation", &value, &size)) {
            const auto* pairs = static_cast<const WORD*>(value);
            for (UINT i = 0; i + 1 < size / sizeof(WORD); i += 2) {
                found.push_back(static_cast<DWORD>(pairs[i]) << 16 | pairs[i + 1]);
            }
        }
        return found;
    }

  private:
    std::vector<char> m_data;
};

// The activation context Windows builds from a program's manifest when it starts it.
class CManifestContext {
  public:
    explicit CManifestContext(const std::string& program) {
        const std::wstring path = ToUtf16(program);
        ACTCTXW context{};
        context.cbSize = sizeof context;
        context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
        context.lpSource = path.c_str();
        context.lpResourceName = MAKEINTRESOURCEW(1);  // CREATEPROCESS_MANIFEST_RESOURCE_ID
        m_context = CreateActCtxW(&context);
        if (m_context == INVALID_HANDLE_VALUE) {
            ThrowLastError("The manifest of " + program + " gives no activation context");
        }
    }
    ~CManifestContext() { ReleaseActCtx(m_context); }
    CManifestContext(const CManifestContext&) = delete;
    CManifestContext& operator=(const CManifestContext&) = delete;

    // A setting of <windowsSettings> in the namespace of its Windows version, such as
    // dpiAwareness; empty when not set.
    std::string Setting(const wchar_t* nameSpace, const wchar_t* name) const {
        wchar_t value[256] = {};
        SIZE_T written = 0;
        if (!QueryActCtxSettingsW(0, m_context, nameSpace, name, value, ARRAYSIZE(value),
                                  &written)) {
            return {};
        }
        return ToUtf8(value);
    }

    ACTCTX_REQUESTED_RUN_LEVEL RunLevel() const {
        ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level{};
        if (!QueryActCtxW(0, m_context, nullptr, RunlevelInformationInActivationContext, &level,
                          sizeof level, nullptr)) {
            ThrowLastError("Cannot read the execution level");
        }
        return level.RunLevel;
    }

    // The supportedOS entries.
    std::vector<GUID> SupportedSystems() const {
        alignas(8) char buffer[1024] = {};
        SIZE_T written = 0;
        if (!QueryActCtxW(0, m_context, nullptr, CompatibilityInformationInActivationContext,
                          buffer, sizeof buffer, &written)) {
            ThrowLastError("Cannot read the compatibility section");
        }
        // A count, then the elements: a GUID and a type, and from Windows 10 1903 on (and in
        // Wine) also MaxVersionTested, 8 bytes aligned to 8. The size written tells which.
        DWORD count = 0;
        std::memcpy(&count, buffer, sizeof count);
        const bool withMaxVersion = written == 8 + count * 32;
        const size_t first = withMaxVersion ? 8 : 4;
        const size_t stride = withMaxVersion ? 32 : 20;
        std::vector<GUID> systems;
        for (size_t i = 0; i < count && first + (i + 1) * stride <= sizeof buffer; ++i) {
            GUID id{};
            DWORD type = 0;
            std::memcpy(&id, buffer + first + i * stride, sizeof id);
            std::memcpy(&type, buffer + first + i * stride + sizeof id, sizeof type);
            if (type == ACTCTX_COMPATIBILITY_ELEMENT_TYPE_OS) {
                systems.push_back(id);
            }
        }
        return systems;
    }

    // The path of the comctl32.dll that the program gets: the one its manifest depends on.
    std::string CommonControlsPath() const {
        ULONG_PTR cookie = 0;
        if (!ActivateActCtx(m_context, &cookie)) {
            ThrowLastError("Cannot activate the manifest's context");
        }
        HMODULE module = LoadLibraryW(L"comctl32.dll");
        wchar_t path[MAX_PATH] = {};
        if (module != nullptr) {
            GetModuleFileNameW(module, path, MAX_PATH);
            FreeLibrary(module);
        }
        DeactivateActCtx(0, cookie);
        return ToUtf8(path);
    }

  private:
    HANDLE m_context = INVALID_HANDLE_VALUE;
};

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// Explorer's checks, the icon and the manifest of one program file.
void ExpectProgramResources(const std::string& path, const ExpectedProgram& expected, bool window) {
    SCOPED_TRACE(path);
    const CVersionInfo version(path);
    const VS_FIXEDFILEINFO* fixed = version.Fixed();
    ASSERT_NE(fixed, nullptr);
    const std::string numbers = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                                std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                                std::to_string(HIWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(numbers, kProductVersion);
    EXPECT_EQ(LOWORD(fixed->dwFileVersionLS), 0);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    EXPECT_EQ(fixed->dwFileFlags & VS_FF_DEBUG, 0u);
    EXPECT_EQ(version.Translations(), (std::vector<DWORD>{0x042204B0}));
    EXPECT_EQ(version.Text(L"FileVersion"), kProductVersion);
    EXPECT_EQ(version.Text(L"ProductVersion"), kProductVersion);
    EXPECT_EQ(version.Text(L"ProductName"), "Оновлення ПК Тессара");
    // Explorer's "Company" and "Copyright", never blank.
    EXPECT_EQ(version.Text(L"CompanyName"), kCompanyName);
    EXPECT_EQ(version.Text(L"LegalCopyright"), kLegalCopyright);
    EXPECT_FALSE(std::string(kCompanyName).empty());
    EXPECT_FALSE(std::string(kLegalCopyright).empty());
    EXPECT_EQ(version.Text(L"FileDescription"), expected.description);
    EXPECT_EQ(version.Text(L"OriginalFilename"), std::string(expected.name) + ".exe");

    // The header's checksum is the one Windows computes for the file.
    DWORD headerSum = 0;
    DWORD computedSum = 0;
    ASSERT_EQ(MapFileAndCheckSumW(ToUtf16(path).c_str(), &headerSum, &computedSum),
              static_cast<DWORD>(CHECKSUM_SUCCESS));
    EXPECT_EQ(headerSum, computedSum);

    // The icon Explorer shows, loaded as the shell loads it: the first group, at 16 and 32
    // pixels and the large 256 of the big views.
    HMODULE module = LoadLibraryExW(ToUtf16(path).c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    for (const int size : {16, 24, 32, 48, 256}) {
        HANDLE icon = LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0);
        EXPECT_NE(icon, nullptr) << size;
        ICONINFO info{};
        if (icon != nullptr && GetIconInfo(static_cast<HICON>(icon), &info)) {
            BITMAP bitmap{};
            GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
            EXPECT_EQ(bitmap.bmWidth, size);
            EXPECT_EQ(bitmap.bmBitsPixel, 32);  // with its alpha channel
            DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
            DestroyIcon(static_cast<HICON>(icon));
        }
    }
    FreeLibrary(module);

    const CManifestContext manifest(path);
    // Never elevated on start, and no VirtualStore: any requested level turns that off.
    EXPECT_EQ(manifest.RunLevel(), ACTCTX_RUN_LEVEL_AS_INVOKER);
    const std::vector<GUID> systems = manifest.SupportedSystems();
    const GUID windows7 = {
        0x35138b9a, 0x5d96, 0x4fbd, {0x8e, 0x2d, 0xa2, 0x44, 0x02, 0x25, 0xf9, 0x3a}};
    const GUID windows10 = {
        0x8e0f7a12, 0xbfb3, 0x4fe8, {0xb9, 0xa5, 0x48, 0xfd, 0x50, 0xa1, 0x5a, 0x9a}};
    EXPECT_EQ(systems.size(), 4u);
    EXPECT_FALSE(systems.empty() || !IsEqualGUID(systems.front(), windows7));
    EXPECT_FALSE(systems.empty() || !IsEqualGUID(systems.back(), windows10));
    if (window) {
        EXPECT_EQ(manifest.Setting(kSettings2016, L"dpiAwareness"), "PerMonitorV2, PerMonitor");
        EXPECT_EQ(manifest.Setting(kSettings2005, L"dpiAware"), "true/pm");
        // Common controls 6, in the system's visual style.
        EXPECT_NE(Lower(manifest.CommonControlsPath())
                      .find("microsoft.windows.common-controls_6595b64144ccf1df_6.0."),
                  std::string::npos)
            << manifest.CommonControlsPath();
    } else {
        EXPECT_EQ(manifest.Setting(kSettings2016, L"dpiAwareness"), "");
    }
}

class ProgramResources : public CPackedUpdaterTest {};

}  // namespace

TEST_F(ProgramResources, TheBuiltProgramsCarryVersionIconAndManifest) {
    ExpectProgramResources(BuiltProgram(kUpdater.name), kUpdater, true);
    ExpectProgramResources(BuiltProgram(kPacker.name), kPacker, false);
}

TEST_F(ProgramResources, ThePackedUpdaterKeepsThem) {
    ASSERT_TRUE(s_packed->error.empty()) << s_packed->error;
    ExpectProgramResources(s_packed->path, kUpdater, true);
}

TEST_F(ProgramResources, HelpNamesTheVersion) {
    CTempDir dir;
    for (const std::string program : {"tessara-updater", "tessara-pack"}) {
        const ProgramRun help = RunProgram(BuiltProgram(program), "--help", dir.Path());
        EXPECT_EQ(help.exitCode, 0) << program;
        const std::vector<std::string> lines = SplitLines(help.output);
        ASSERT_FALSE(lines.empty()) << program;
        EXPECT_EQ(lines.back(), program + " " + kProductVersion);
    }
}

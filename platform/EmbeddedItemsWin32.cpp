// Items as RCDATA resources of a Windows executable: one resource per item, named as the item
// ("238_RAR"), and one more, TSRPKG_INDEX, that lists them in stored order with size and SHA-256:
//   magic "TSRRES01" | program size u64 | item count u32 | reserved u32 (0) | index entries |
//   SHA-256 (32 raw bytes) of everything before it.
// The program size is that of the program before any item was added. Windows matches resource
// names without regard to case and stores them in capitals, so item names that differ only in
// case cannot both be embedded.

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/ByteOrder.h"
#include "platform/EmbeddedIndex.h"
#include "platform/EmbeddedItems.h"
#include "platform/FileSystem.h"
#include "platform/PeImage.h"
#include "platform/Sha256.h"
#include "platform/SystemError.h"
#include "platform/Text.h"
#include "platform/Utf16.h"
#include "platform/Win32Handle.h"

namespace {

constexpr wchar_t kIndexName[] = L"TSRPKG_INDEX";
constexpr char kIndexMagic[8] = {'T', 'S', 'R', 'R', 'E', 'S', '0', '1'};
constexpr size_t kHeaderSize = 8 + 8 + 4 + 4;
constexpr size_t kMaxIndexSize = 16 * 1024 * 1024;
// Resources are written language-neutral, and looked up by name alone.
const WORD kLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);

[[noreturn]] void ThrowFileError(const std::string& action, const std::string& path) {
    ThrowLastError(action + " \"" + path + "\"");
}

// An executable mapped for its resources only: no code runs and no DLL is loaded.
class CResourceModule {
  public:
    explicit CResourceModule(const std::string& path) {
        m_module = LoadLibraryExW(ToUtf16(path).c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        if (m_module == nullptr) {
            ThrowFileError("Cannot read the resources of", path);
        }
    }
    ~CResourceModule() { FreeLibrary(m_module); }
    CResourceModule(const CResourceModule&) = delete;
    CResourceModule& operator=(const CResourceModule&) = delete;

    // The bytes of RCDATA resource `name`, in place in the mapped image; nullopt when missing.
    std::optional<std::string_view> Find(const std::wstring& name) const {
        HRSRC info = FindResourceW(m_module, name.c_str(), RT_RCDATA);
        if (info == nullptr) {
            return std::nullopt;
        }
        HGLOBAL loaded = LoadResource(m_module, info);
        const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
        if (bytes == nullptr) {
            ThrowLastError("Cannot load the resource " + ToUtf8(name));
        }
        return std::string_view(static_cast<const char*>(bytes), SizeofResource(m_module, info));
    }

    HMODULE Get() const { return m_module; }

  private:
    HMODULE m_module = nullptr;
};

// A resource type or name: a number or a string.
class CResourceId {
  public:
    explicit CResourceId(LPCWSTR id)
        : m_number(IS_INTRESOURCE(id) ? LOWORD(reinterpret_cast<ULONG_PTR>(id)) : 0),
          m_text(IS_INTRESOURCE(id) ? L"" : id) {}
    LPCWSTR Get() const { return m_text.empty() ? MAKEINTRESOURCEW(m_number) : m_text.c_str(); }
    // True for the string `name`, compared as Windows compares resource names.
    bool Is(const std::wstring& name) const {
        return !m_text.empty() &&
               CompareStringOrdinal(m_text.c_str(), -1, name.c_str(), -1, TRUE) == CSTR_EQUAL;
    }

  private:
    WORD m_number;
    std::wstring m_text;
};

struct ProgramResource {
    CResourceId type;
    CResourceId name;
    WORD language;
    std::string_view bytes;  // in place in the module
};

// Every resource of a module (icons, manifest, version, ...), each language on its own.
std::vector<ProgramResource> AllResources(const CResourceModule& module) {
    HMODULE handle = module.Get();
    std::vector<CResourceId> types;
    EnumResourceTypesW(
        handle,
        [](HMODULE, LPWSTR type, LONG_PTR found) -> BOOL {
            reinterpret_cast<std::vector<CResourceId>*>(found)->emplace_back(type);
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&types));
    std::vector<ProgramResource> resources;
    for (const CResourceId& type : types) {
        std::vector<CResourceId> names;
        EnumResourceNamesW(
            handle, type.Get(),
            [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) -> BOOL {
                reinterpret_cast<std::vector<CResourceId>*>(found)->emplace_back(name);
                return TRUE;
            },
            reinterpret_cast<LONG_PTR>(&names));
        for (const CResourceId& name : names) {
            std::vector<WORD> languages;
            EnumResourceLanguagesW(
                handle, type.Get(), name.Get(),
                [](HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) -> BOOL {
                    reinterpret_cast<std::vector<WORD>*>(found)->push_back(language);
                    return TRUE;
                },
                reinterpret_cast<LONG_PTR>(&languages));
            for (const WORD language : languages) {
                HRSRC info = FindResourceExW(handle, type.Get(), name.Get(), language);
                HGLOBAL loaded = info != nullptr ? LoadResource(handle, info) : nullptr;
                const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
                if (bytes == nullptr) {
                    ThrowLastError("Cannot load a resource of the program");
                }
                resources.push_back({type, name, language,
                                     std::string_view(static_cast<const char*>(bytes),
                                                      SizeofResource(handle, info))});
            }
        }
    }
    return resources;
}

// An open resource update of an executable; discarded unless Commit() writes it.
class CResourceUpdate {
  public:
    // Starts from a program without any resource: removing single resources does not work
    // under Wine, so whatever stays is written again.
    CResourceUpdate(const std::wstring& path, const std::string& shownPath)
        : m_shownPath(shownPath) {
        m_update = BeginUpdateResourceW(path.c_str(), TRUE);
        if (m_update == nullptr) {
            ThrowFileError("Cannot update the resources of", shownPath);
        }
    }
    ~CResourceUpdate() {
        if (m_update != nullptr) {
            EndUpdateResourceW(m_update, TRUE);
        }
    }
    CResourceUpdate(const CResourceUpdate&) = delete;
    CResourceUpdate& operator=(const CResourceUpdate&) = delete;

    // Stores `bytes` as a resource; they must live until Commit().
    void Put(LPCWSTR type, LPCWSTR name, WORD language, std::string_view bytes) {
        if (!UpdateResourceW(m_update, type, name, language, const_cast<char*>(bytes.data()),
                             static_cast<DWORD>(bytes.size()))) {
            ThrowFileError("Cannot update the resources of", m_shownPath);
        }
    }

    void Commit() {
        HANDLE update = std::exchange(m_update, nullptr);
        if (!EndUpdateResourceW(update, FALSE)) {
            ThrowFileError("Cannot write the resources of", m_shownPath);
        }
    }

  private:
    HANDLE m_update = nullptr;
    std::string m_shownPath;
};

// Item names become resource names: "#" would turn one into a number, and Windows ignores case.
void CheckItemNames(const std::vector<ItemSource>& items) {
    std::vector<std::wstring> seen;
    for (const ItemSource& item : items) {
        if (item.name.empty() || item.name.size() > kMaxItemNameLength || item.name[0] == '#') {
            throw std::runtime_error("Invalid embedded item name \"" + item.name + "\"");
        }
        const std::wstring name = ToUtf16(item.name);
        const auto sameName = [&](const std::wstring& other) {
            return CompareStringOrdinal(name.c_str(), -1, other.c_str(), -1, TRUE) == CSTR_EQUAL;
        };
        if (sameName(kIndexName)) {
            throw std::runtime_error("Invalid embedded item name \"" + item.name + "\"");
        }
        if (std::any_of(seen.begin(), seen.end(), sameName)) {
            throw std::runtime_error("Embedded item \"" + item.name + "\" is given twice");
        }
        seen.push_back(name);
    }
}

}  // namespace

CEmbeddedItems::CEmbeddedItems(const std::string& executablePath) : m_path(executablePath) {
    const CResourceModule module(executablePath);
    const int64_t size = FileSize(executablePath);
    if (size < 0) {
        ThrowLastError("Cannot query \"" + executablePath + "\"");
    }
    m_programSize = static_cast<uint64_t>(size);
    const std::optional<std::string_view> index = module.Find(kIndexName);
    if (!index) {
        return;  // a plain program without items
    }

    const auto damaged = [&](const std::string& reason) {
        return DamagedIndexError(executablePath, reason);
    };
    if (index->size() > kMaxIndexSize) {
        throw damaged("the index is too large");
    }
    if (index->size() < kHeaderSize + kItemDigestSize ||
        std::memcmp(index->data(), kIndexMagic, sizeof kIndexMagic) != 0 ||
        GetLittleEndian(index->data() + 20, 4) != 0) {
        throw damaged("unknown format");
    }
    const std::string_view checked = index->substr(0, index->size() - kItemDigestSize);
    CSha256 sha;
    sha.Update(checked.data(), checked.size());
    if (sha.FinishHex() != HexEncode(index->substr(checked.size()))) {
        throw damaged("checksum mismatch");
    }

    std::vector<EmbeddedItem> items = DecodeItemIndex(
        checked.substr(kHeaderSize), GetLittleEndian(index->data() + 16, 4), executablePath);
    for (const EmbeddedItem& item : items) {
        const std::optional<std::string_view> bytes = module.Find(ToUtf16(item.name));
        if (!bytes) {
            throw damaged("item \"" + item.name + "\" is missing");
        }
        if (bytes->size() != item.size || item.offset != 0) {
            throw damaged("item \"" + item.name + "\" does not have the size listed");
        }
    }
    m_items = std::move(items);
    m_programSize = GetLittleEndian(index->data() + 8, 8);
}

void CEmbeddedItems::ExtractTo(const std::string& name, const std::string& outputPath,
                               const std::function<void()>& afterBlock) const {
    const EmbeddedItem& item = Get(name);
    const CResourceModule module(m_path);
    const std::optional<std::string_view> bytes = module.Find(ToUtf16(name));
    if (!bytes || bytes->size() != item.size) {
        throw CEmbeddedItemsError("Embedded item " + name + " is missing from \"" + m_path + "\"");
    }
    // Straight from the mapped image to the file: no copy of the package in memory.
    WriteCheckedItem(
        item, outputPath,
        [&](CReplacingFile& output, uint64_t offset, size_t size) {
            const std::string_view block = bytes->substr(static_cast<size_t>(offset), size);
            output.WriteAll(block.data(), block.size());
            return block;
        },
        afterBlock);
}

void WriteEmbeddedItems(const std::string& baseExecutable, const std::vector<ItemSource>& items,
                        const std::string& outputPath) {
    CheckItemNames(items);
    const CEmbeddedItems existing(baseExecutable);

    // Every item is read before the output is touched; UpdateResourceW wants the bytes in memory
    // until EndUpdateResourceW.
    std::vector<std::string> contents;
    std::vector<EmbeddedItem> entries;
    for (const ItemSource& item : items) {
        contents.push_back(ReadWholeFile(item.path));
        if (contents.back().empty()) {
            // UpdateResourceW takes no bytes as "remove this resource".
            throw std::runtime_error("Embedded item \"" + item.name +
                                     "\" is empty: a resource cannot be");
        }
        entries.push_back({item.name, 0, contents.back().size(), Sha256Hex(contents.back())});
    }
    std::string index;
    if (!items.empty()) {
        const std::string entryBytes = EncodeItemIndex(entries);
        if (entryBytes.size() > kMaxIndexSize - kHeaderSize - kItemDigestSize) {
            throw std::runtime_error("Too many embedded items");
        }
        index.assign(kIndexMagic, sizeof kIndexMagic);
        PutLittleEndian(index, existing.ProgramSize(), 8);
        PutLittleEndian(index, items.size(), 4);
        PutLittleEndian(index, 0, 4);
        index += entryBytes;
        index += RawDigest(Sha256Hex(index));
    }

    // The one owner of the new file: the base is copied into it, the resource updater rewrites
    // it by name, and only the finished file replaces the output.
    CReplacingFile output(outputPath);
    {
        CFile program(baseExecutable, CFile::Mode::Read);
        std::vector<char> buffer(kItemBlockSize);
        while (const size_t got = program.Read(buffer.data(), buffer.size())) {
            output.WriteAll(buffer.data(), got);
        }
        output.TakePermissionsOf(program);
    }
    if (!existing.Items().empty() || !items.empty()) {
        // The base's own resources stay, its items and their index go.
        const CResourceModule base(baseExecutable);
        const auto isOldItem = [&](const ProgramResource& resource) {
            if (resource.type.Get() != RT_RCDATA) {
                return false;
            }
            return resource.name.Is(kIndexName) ||
                   std::any_of(existing.Items().begin(), existing.Items().end(),
                               [&](const EmbeddedItem& item) {
                                   return resource.name.Is(ToUtf16(item.name));
                               });
        };
        // The resource updater drops what follows the sections: the symbol table goes back
        // in after it, as the base has it (binutils and gdb read the debug link's section name
        // from it), and the checksum is made right for the new file.
        const CoffSymbols symbols = CoffSymbolTable(ReadWholeFile(baseExecutable));
        const std::string rewritten = output.CloseForRewrite();
        CResourceUpdate update(ToUtf16(rewritten), outputPath);
        for (const ProgramResource& resource : AllResources(base)) {
            if (!isOldItem(resource)) {
                update.Put(resource.type.Get(), resource.name.Get(), resource.language,
                           resource.bytes);
            }
        }
        for (size_t i = 0; i < items.size(); ++i) {
            update.Put(RT_RCDATA, ToUtf16(items[i].name).c_str(), kLanguage, contents[i]);
        }
        if (!index.empty()) {
            update.Put(RT_RCDATA, kIndexName, kLanguage, index);
        }
        update.Commit();
        std::string image = ReadWholeFile(rewritten);
        PlaceCoffSymbolTable(image, symbols);
        SetPeChecksum(image);
        CFile file(rewritten, CFile::Mode::WriteTruncate);
        file.WriteAll(image.data(), image.size());
        file.Close();
    }
    output.Commit();
}

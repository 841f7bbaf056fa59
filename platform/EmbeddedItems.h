#pragma once
// Data items carried by an executable: appended after its last byte, followed by an index
// (name, offset, size, SHA-256 of each item) and a fixed footer. They are listed in stored order
// and read one by one by name, streamed from the file. On Windows each item is an RCDATA
// resource of the program under its own name, listed by an index resource (offset 0).

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

struct EmbeddedItem {
    std::string name;  // "238_RAR"
    uint64_t offset = 0;
    uint64_t size = 0;
    std::string sha256;  // 64 lower-case hex digits
};

// Raised for a damaged index or an item whose bytes do not match their checksum.
class CEmbeddedItemsError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class CEmbeddedItems {
  public:
    // Reads the index of `executablePath`. An executable without items has none; a damaged index
    // throws CEmbeddedItemsError; an unreadable file throws CSystemError.
    explicit CEmbeddedItems(const std::string& executablePath);

    const std::vector<EmbeddedItem>& Items() const { return m_items; }
    std::vector<std::string> Names() const;
    const EmbeddedItem* Find(const std::string& name) const;
    // Size of the executable without its items (the original program).
    uint64_t ProgramSize() const { return m_programSize; }

    // Writes item `name` to `outputPath` (replacing it), streaming in blocks of 1 MiB and
    // checking its SHA-256 on the way; `afterBlock` (when given) is called after each block.
    // Throws std::runtime_error when there is no such item, CEmbeddedItemsError when the
    // checksum does not match, CSystemError on I/O failures.
    void ExtractTo(const std::string& name, const std::string& outputPath,
                   const std::function<void()>& afterBlock = {}) const;

  private:
    // The item `name`; throws std::runtime_error when there is none.
    const EmbeddedItem& Get(const std::string& name) const;

    std::string m_path;
    uint64_t m_programSize = 0;
    std::vector<EmbeddedItem> m_items;
};

// Writes `outputPath` as the program part of `baseExecutable` (its own items dropped) followed by
// the given files as items named as given. Writes to a temporary file beside the output and
// renames it into place only when complete, keeping the base's permission bits (on Windows: its
// other resources; an item there cannot be empty). Throws on errors.
struct ItemSource {
    std::string name;
    std::string path;
};
void WriteEmbeddedItems(const std::string& baseExecutable, const std::vector<ItemSource>& items,
                        const std::string& outputPath);

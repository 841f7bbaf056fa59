// The parts of CEmbeddedItems that are the same for every layout; reading the index and writing
// items out are the layouts' own (EmbeddedItemsElf.cpp: appended to the executable,
// EmbeddedItemsWin32.cpp: resources).

#include "platform/EmbeddedItems.h"

std::vector<std::string> CEmbeddedItems::Names() const {
    std::vector<std::string> names;
    for (const EmbeddedItem& item : m_items) {
        names.push_back(item.name);
    }
    return names;
}

const EmbeddedItem* CEmbeddedItems::Find(const std::string& name) const {
    for (const EmbeddedItem& item : m_items) {
        if (item.name == name) {
            return &item;
        }
    }
    return nullptr;
}

const EmbeddedItem& CEmbeddedItems::Get(const std::string& name) const {
    const EmbeddedItem* item = Find(name);
    if (item == nullptr) {
        throw std::runtime_error("No embedded item \"" + name + "\" in \"" + m_path + "\"");
    }
    return *item;
}

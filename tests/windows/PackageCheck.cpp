// test_package_check.exe UPDATER: what the updater does with its packages before it installs one,
// for a test that has only the program file: discovery from the embedded items (the journal
// lines and lActVer's caption), then every package written out with its SHA-256 checked. Prints
// the journal, "lActVer: <caption>" and "<item> <size> <sha256> checked" per item; exit status 0,
// or 1 with the error on standard error.

#include <windows.h>

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "app/PackageDiscovery.h"
#include "platform/EmbeddedItems.h"
#include "platform/Utf16.h"
#include "tests/windows/WindowsTestSupport.h"

namespace {

class CPrintedJournal : public IJournal {
  public:
    void AppendLine(const std::string& text) override {
        if (m_open) {
            std::cout << '\n';
        }
        std::cout << text;
        m_open = true;
    }
    void MarkLastLine(const std::string& suffix) override { std::cout << suffix; }
    void End() {
        if (m_open) {
            std::cout << '\n';
        }
    }

  private:
    bool m_open = false;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::cerr << "usage: test_package_check UPDATER\n";
        return 2;
    }
    try {
        const std::string updater = ToUtf8(argv[1]);
        const CEmbeddedItems items(updater);
        CPrintedJournal journal;
        CPlainLabel lActVer("-");
        DiscoverPackages(PackageNames(items.Names()), journal, lActVer);
        journal.End();
        std::cout << "lActVer: " << lActVer.Caption() << '\n';
        CTempDir out;
        for (const EmbeddedItem& item : items.Items()) {
            items.ExtractTo(item.name, out.File(item.name));  // throws on a digest mismatch
            std::cout << item.name << ' ' << item.size << ' ' << item.sha256 << " checked\n";
        }
        return 0;
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
}

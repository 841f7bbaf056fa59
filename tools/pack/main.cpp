// tessara-pack: writes a copy of the updater carrying update packages as embedded items.

#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ProductVersion.h"
#include "platform/EmbeddedItems.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#ifdef _WIN32
#include "platform/Utf16.h"
#include "tools/pack/Signature.h"
#endif
#include "tools/pack/RarWriter.h"

namespace {

const char kHelp[] =
    "usage: tessara-pack --updater BASE --out NEW N=PATH...\n"
    "       tessara-pack --list UPDATER\n"
    "       tessara-pack --archive DIR --out ARCHIVE\n"
    "       tessara-pack --help\n"
    "\n"
    "--updater BASE --out NEW N=PATH...\n"
    "    Writes NEW as the program BASE (without the packages BASE may already carry) followed\n"
    "    by one package per N=PATH (at least one), embedded as the item \"N_RAR\" in the order\n"
    "    given. N is the package number in decimal (leading zeros are dropped; each number at\n"
    "    most once). PATH is a RAR archive embedded as it is, or a directory that is first\n"
    "    packed into a RAR archive (STORE method, paths relative to the directory). NEW appears\n"
    "    only when it is complete. On Windows, NEW is unsigned even when BASE is signed (the\n"
    "    packages would break the signature): sign NEW after packing.\n"
    "--list UPDATER\n"
    "    Prints one line per embedded item, in stored order: name, size in bytes and SHA-256\n"
    "    in lower-case hex, separated by tabs.\n"
    "--archive DIR --out ARCHIVE\n"
    "    Packs the directory DIR into the RAR archive ARCHIVE as a package would be packed,\n"
    "    with nothing embedded: for tests and benchmarks of the archiver.\n"
    "\n"
    "Exit status: 0 on success, 1 on any error, 2 for a command line not understood.\n";

constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

class CUsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Decimal package number without sign and leading zeros, within 32-bit signed range.
std::string NormalisePackageNumber(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        throw CUsageError("Package number \"" + text + "\" is not a non-negative decimal number");
    }
    const std::optional<int32_t> number = TryParseInteger(text);
    if (!number) {
        throw CUsageError("Package number \"" + text + "\" is too large");
    }
    return std::to_string(*number);
}

// The archives made from directories, beside the output (a directory the caller may write to),
// removed whatever happens.
class CTemporaryFiles {
  public:
    explicit CTemporaryFiles(std::string outputPath) : m_outputPath(std::move(outputPath)) {}
    ~CTemporaryFiles() {
        for (const std::string& path : m_paths) {
            RemoveFile(path);
        }
    }
    CTemporaryFiles(const CTemporaryFiles&) = delete;
    CTemporaryFiles& operator=(const CTemporaryFiles&) = delete;

    std::string Make(const std::string& packageName) {
        m_paths.push_back(m_outputPath + "." + packageName + ".tmp");
        return m_paths.back();
    }

  private:
    std::string m_outputPath;
    std::vector<std::string> m_paths;
};

int List(const std::string& updater) {
    if (!FileExists(updater)) {
        throw std::runtime_error("No such file: " + updater);
    }
    const CEmbeddedItems items(updater);
    for (const EmbeddedItem& item : items.Items()) {
        std::cout << item.name << '\t' << item.size << '\t' << item.sha256 << '\n';
    }
    std::cout.flush();
    if (!std::cout) {
        throw std::runtime_error("Cannot write the listing");
    }
    return 0;
}

int Pack(const std::string& base, const std::string& out,
         const std::vector<std::string>& packageArgs) {
    if (!FileExists(base)) {
        throw std::runtime_error("No such file: " + base);
    }
    if (DirectoryExists(out)) {
        throw std::runtime_error("The output is a directory: " + out);
    }
    // Check every argument before any work, so a typo costs no packing time.
    struct Package {
        std::string name;
        std::string path;
        bool isDirectory;
    };
    std::vector<Package> packages;
    std::set<std::string> seen;
    for (const std::string& arg : packageArgs) {
        const size_t equals = arg.find('=');
        if (equals == std::string::npos) {
            throw CUsageError("Expected N=PATH, got \"" + arg + "\"");
        }
        const std::string number = NormalisePackageNumber(arg.substr(0, equals));
        const std::string path = arg.substr(equals + 1);
        if (!seen.insert(number).second) {
            throw CUsageError("Package " + number + " is given twice");
        }
        const bool isDirectory = DirectoryExists(path);
        if (!isDirectory && !FileExists(path)) {
            throw std::runtime_error("No such file or directory: " + path);
        }
        packages.push_back({number + "_RAR", path, isDirectory});
    }

    CTemporaryFiles temporaries(out);
    std::string program = base;
#ifdef _WIN32
    const std::optional<CertificateTable> signature = FindCertificateTable(base);
    if (signature) {
        program = temporaries.Make("unsigned");
        CopyWithoutCertificates(base, *signature, program);
    }
#endif
    std::vector<ItemSource> items;
    for (const Package& package : packages) {
        std::string path = package.path;
        if (package.isDirectory) {
            path = temporaries.Make(package.name);
            WriteRarStoreFromDirectory(package.path, path);
        }
        items.push_back({package.name, path});
    }
    WriteEmbeddedItems(program, items, out);
#ifdef _WIN32
    if (signature) {
        std::cerr << "tessara-pack: " << base << " is signed; " << out
                  << " is written without that signature, which its packages would break. Sign "
                     "it now.\n";
    }
#endif
    return 0;
}

int Run(const std::vector<std::string>& args) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << kHelp << "\ntessara-pack " << kProductVersion << "\n";
        return 0;
    }
    if (args.size() == 2 && args[0] == "--list") {
        return List(args[1]);
    }
    if (args.size() == 4 && args[0] == "--archive" && args[2] == "--out") {
        if (!DirectoryExists(args[1])) {
            throw std::runtime_error("No such directory: " + args[1]);
        }
        WriteRarStoreFromDirectory(args[1], args[3]);
        return 0;
    }
    std::string base;
    std::string out;
    std::vector<std::string> packages;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--updater" || args[i] == "--out") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                throw CUsageError(args[i] + " needs a path");
            }
            std::string& target = args[i] == "--updater" ? base : out;
            if (!target.empty()) {
                throw CUsageError(args[i] + " is given twice");
            }
            target = args[++i];
        } else if (args[i].rfind("--", 0) == 0) {
            throw CUsageError("Unknown option " + args[i]);
        } else {
            packages.push_back(args[i]);
        }
    }
    if (base.empty() || out.empty()) {
        throw CUsageError("Both --updater and --out are required");
    }
    if (packages.empty()) {
        // The updater would refuse to run as damaged: it has nothing to install.
        throw CUsageError("At least one package N=PATH is required");
    }
    return Pack(base, out, packages);
}

int RunAndReport(const std::vector<std::string>& args) {
    try {
        return Run(args);
    } catch (const CUsageError& error) {
        std::cerr << "tessara-pack: " << error.what() << "\n"
                  << "Run tessara-pack --help for the command line.\n";
        return kExitUsage;
    } catch (const CEmbeddedItemsError& error) {
        std::cerr << "tessara-pack: damaged item index: " << error.what() << "\n";
        return kExitError;
    } catch (const std::exception& error) {
        std::cerr << "tessara-pack: " << error.what() << "\n";
        return kExitError;
    }
}

}  // namespace

#ifdef _WIN32
// The arguments as UTF-16 (-municode), so that paths in any script reach the W functions whole.
int wmain(int argc, wchar_t* argv[]) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(ToUtf8(argv[i]));
    }
    return RunAndReport(args);
}
#else
int main(int argc, char* argv[]) {
    return RunAndReport(std::vector<std::string>(argv + 1, argv + argc));
}
#endif

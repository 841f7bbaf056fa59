// tessara-demo-package: writes the demo update package (the layout and size of package 238)
// into a directory, and optionally packs it into one RAR archive.

#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

#include "platform/Text.h"
#include "tools/demo/DemoPackage.h"
#include "tools/pack/RarWriter.h"

namespace {

const char* const kUsage =
    "usage: tessara-demo-package --out DIR [--scale S] [--seed N] [--number N] [--rar FILE]\n"
    "                            [--statements N] [--largest-document BYTES] [--program-files]\n"
    "  --out DIR     directory for the package files (created; must be empty)\n"
    "  --scale S     size factor, 1.0 = full size (about 57 MB); tests use 0.01\n"
    "  --seed N      seed of the generated content (default 20260503)\n"
    "  --number N    package number set by the version script (default 238)\n"
    "  --rar FILE    also pack the directory into the RAR archive FILE\n"
    "For benchmarks of larger packages:\n"
    "  --statements N             the main script holds N statements, or as many as its\n"
    "                             articles need (316 with the default seed)\n"
    "  --largest-document BYTES   the largest \".u\" file has this size\n"
    "  --program-files            add tessara.exe and Reports/list.fr3 (about 6.7 MB, scaled)\n";

}  // namespace

int main(int argc, char** argv) {
    DemoPackageOptions options;
    std::string rarPath;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (option == "--program-files") {
            options.programFiles = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::cerr << "tessara-demo-package: " << option << " needs a value\n" << kUsage;
            return 2;
        }
        const std::string value = argv[++i];
        const std::optional<int32_t> number = TryParseInteger(value);
        if (option == "--out") {
            options.outDir = value;
        } else if (option == "--rar") {
            rarPath = value;
        } else if (option == "--scale") {
            char* end = nullptr;
            options.scale = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0') {
                std::cerr << "tessara-demo-package: not a number: " << value << "\n";
                return 2;
            }
        } else if (option == "--seed" && number && *number >= 0) {
            options.seed = static_cast<uint64_t>(*number);
        } else if (option == "--number" && number && *number > 0) {
            options.number = *number;
        } else if (option == "--statements" && number && *number > 0) {
            options.statementCount = static_cast<uint64_t>(*number);
        } else if (option == "--largest-document" && number && *number > 0) {
            options.largestDocumentBytes = static_cast<uint64_t>(*number);
        } else {
            std::cerr << "tessara-demo-package: bad option " << option << " " << value << "\n"
                      << kUsage;
            return 2;
        }
    }
    if (options.outDir.empty()) {
        std::cerr << "tessara-demo-package: --out is required\n" << kUsage;
        return 2;
    }
    try {
        const DemoPackageSummary summary = WriteDemoPackage(options);
        std::cout << summary.fileCount << " files, " << summary.totalBytes << " bytes in "
                  << options.outDir << "\n"
                  << "  script " << summary.scriptBytes << " bytes, documents "
                  << summary.documentBytes << " bytes (largest " << summary.largestDocument
                  << "), blob files " << summary.blobBytes << " bytes";
        if (options.programFiles) {
            std::cout << ", program files " << summary.programBytes << " bytes";
        }
        std::cout << "\n";
        if (!rarPath.empty()) {
            WriteRarStoreFromDirectory(options.outDir, rarPath);
            std::cout << "packed into " << rarPath << "\n";
        }
    } catch (const std::exception& e) {
        std::cerr << "tessara-demo-package: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

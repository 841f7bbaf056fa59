#pragma once
// The demo update package: a package of the size and layout of package 238, generated
// deterministically from a seed, so the demo, the integration tests and the benchmark can install
// a realistic package without shipping one.

#include <cstdint>
#include <string>
#include <vector>

// The rubrics 1..kDemoRubricCount exist in the demo database (scripts/lib/demo_suite.sh creates
// them); the package's scripts link the new articles to them.
constexpr int kDemoRubricCount = 12;

struct DemoPackageOptions {
    uint64_t seed = 20260503;
    double scale = 1.0;    // 1.0: full size; smaller values shrink every file but keep all entries
    int32_t number = 238;  // the package number the version script sets
    std::string outDir;    // created when missing; must be empty
    // For benchmarks of larger packages; the defaults give package 238.
    uint64_t statementCount = 0;        // statements of the main script; 0: its size by the scale
    uint64_t largestDocumentBytes = 0;  // size of the largest ".u" file; 0: about 8.4 MB, scaled
    bool programFiles = false;          // add "tessara.exe" and "Reports/list.fr3" (scaled)
};

struct DemoPackageSummary {
    int fileCount = 0;
    uint64_t totalBytes = 0;
    uint64_t scriptBytes = 0;    // "up.2026.05.03.lsql"
    uint64_t documentBytes = 0;  // all ".u" files together
    uint64_t largestDocument = 0;
    uint64_t blobBytes = 0;     // both ".blo" files together
    uint64_t programBytes = 0;  // the executable and the template together
};

// The 77 article ids of the package: 18542 to 18619 without 18573.
std::vector<int32_t> DemoArticleIds();

// The main script "up.2026.05.03.lsql": Windows-1251, one statement a line, CR LF. With a
// statement count it holds that many statements, but never fewer than the articles, their rubric
// links and one keyword per article.
std::string DemoScript(uint64_t seed, double scale, uint64_t statementCount = 0);

// The version script: "update versions set data = N;" and CR LF.
std::string VersionScript(int32_t number);

// Writes the whole package into options.outDir. Throws std::runtime_error for an unusable
// output directory, CSystemError on I/O errors and std::invalid_argument for unusable options.
DemoPackageSummary WriteDemoPackage(const DemoPackageOptions& options);

// The demo package generator: the package it writes must have the layout the updater expects,
// bytes the database accepts, and the same bytes for the same seed.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

#include "tools/demo/Cp1251.h"
#include "tools/demo/DemoPackage.h"

namespace fs = std::filesystem;

namespace {

class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern = (fs::temp_directory_path() / "demo-package-test.XXXXXX").string();
        m_path = mkdtemp(pattern.data()) ? pattern : "";
    }
    ~ScratchDir() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    fs::path Path() const { return m_path; }

  private:
    fs::path m_path;
};

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Lines(const std::string& text) {  // split after each LF
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end + 1 - start));
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start));
    }
    return lines;
}

// The quoted literals of a statement, quotes undoubled.
std::vector<std::string> Literals(const std::string& statement) {
    std::vector<std::string> literals;
    for (size_t i = 0; i < statement.size(); ++i) {
        if (statement[i] != '\'') {
            continue;
        }
        std::string literal;
        for (++i; i < statement.size(); ++i) {
            if (statement[i] == '\'' && i + 1 < statement.size() && statement[i + 1] == '\'') {
                literal += '\'';
                ++i;
            } else if (statement[i] == '\'') {
                break;
            } else {
                literal += statement[i];
            }
        }
        literals.push_back(literal);
    }
    return literals;
}

TEST(Cp1251, ConvertsRussianAndUkrainianLettersAndSigns) {
    EXPECT_EQ(Utf8ToCp1251("Abc 123;'"), "Abc 123;'");
    EXPECT_EQ(Utf8ToCp1251("АЯая"), "\xC0\xDF\xE0\xFF");
    EXPECT_EQ(Utf8ToCp1251("ЁёЄєІіЇїҐґ"), "\xA8\xB8\xAA\xBA\xB2\xB3\xAF\xBF\xA5\xB4");
    EXPECT_EQ(Utf8ToCp1251("«»—№’"), "\xAB\xBB\x97\xB9\x92");
    EXPECT_EQ(Utf8ToCp1251("Охорона здоров’я"),
              "\xCE\xF5\xEE\xF0\xEE\xED\xE0 \xE7\xE4\xEE\xF0\xEE\xE2\x92\xFF");
}

TEST(Cp1251, RefusesWhatItCannotMapOrDecode) {
    EXPECT_THROW(Utf8ToCp1251("ü"), std::invalid_argument);  // Latin-1, not in the table
    EXPECT_THROW(Utf8ToCp1251("€"), std::invalid_argument);  // in 1251, not in the table
    EXPECT_THROW(Utf8ToCp1251("\xF0\x9F\x98\x80"), std::invalid_argument);  // 4-byte sequence
    EXPECT_THROW(Utf8ToCp1251("\xD0"), std::invalid_argument);              // truncated
    EXPECT_THROW(Utf8ToCp1251("\xD0\x41"), std::invalid_argument);          // bad continuation
}

TEST(DemoScript, FullSizeScriptHasOneStatementALineAndTheArticleRows) {
    const std::string kSigns = Utf8ToCp1251("ЁёЄєІіЇїҐґ«»—№’");
    const std::string script = DemoScript(20260503, 1.0);
    EXPECT_LE(script.size(), 149628u);
    EXPECT_GT(script.size(), 149628u - 200);
    EXPECT_EQ(script, DemoScript(20260503, 1.0));
    EXPECT_NE(script, DemoScript(20260504, 1.0));

    std::vector<int32_t> articleIds;
    bool sawCyrillic = false;
    for (const std::string& line : Lines(script)) {
        ASSERT_GE(line.size(), 3u);
        EXPECT_EQ(line.substr(line.size() - 3), ";\r\n") << line;
        EXPECT_EQ(line.find('\r'), line.size() - 2) << "CR inside a line: " << line;
        EXPECT_EQ(line.find(':'), std::string::npos) << "a colon would read as a parameter";
        for (const std::string& literal : Literals(line)) {
            EXPECT_LE(literal.size(), 255u) << "too long for varchar(255): " << line;
            // Windows-1251 letters and signs only: text left in UTF-8 would bring continuation
            // bytes such as 0x80 ("р" is D1 80) that no letter of the word lists maps to.
            for (char c : literal) {
                const auto b = static_cast<unsigned char>(c);
                ASSERT_TRUE(b < 0x80 || b >= 0xC0 || kSigns.find(c) != std::string::npos)
                    << "byte " << int(b) << " in " << line;
            }
            sawCyrillic |= std::any_of(literal.begin(), literal.end(), [](char c) {
                return static_cast<unsigned char>(c) >= 0xC0;
            });
        }
        const std::string insert = "INSERT INTO ARTICLE (ID, NAME, NAME_U, EXT, EXT_U) VALUES (";
        if (line.rfind(insert, 0) == 0) {
            articleIds.push_back(std::stoi(line.substr(insert.size())));
            const std::vector<std::string> literals = Literals(line);
            ASSERT_EQ(literals.size(), 4u) << line;
            EXPECT_TRUE(literals[2] == "pdf" || literals[2] == "doc") << line;
            EXPECT_TRUE(literals[3] == "pdf" || literals[3] == "doc") << line;
        }
    }
    EXPECT_TRUE(sawCyrillic);
    EXPECT_EQ(articleIds, DemoArticleIds());
}

TEST(DemoScript, SmallScaleKeepsEveryArticleAndAKeywordEach) {
    const std::string script = DemoScript(1, 0.01);
    size_t articles = 0;
    std::set<int> keywordArticles;
    for (const std::string& line : Lines(script)) {
        articles += line.rfind("INSERT INTO ARTICLE (", 0) == 0;
        const std::string keyword =
            "INSERT INTO ARTICLE_KEYWORD (ARTICLE_ID, WORD, WORD_U) VALUES (";
        if (line.rfind(keyword, 0) == 0) {
            keywordArticles.insert(std::stoi(line.substr(keyword.size())));
        }
    }
    EXPECT_EQ(articles, 77u);
    EXPECT_EQ(keywordArticles.size(), 77u);
}

TEST(DemoPackage, ArticleIdsSkip18573) {
    const std::vector<int32_t> ids = DemoArticleIds();
    ASSERT_EQ(ids.size(), 77u);
    EXPECT_EQ(ids.front(), 18542);
    EXPECT_EQ(ids.back(), 18619);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 18573), 0);
}

TEST(DemoPackage, SmallPackageHasTheLayoutOfPackage238AndIsReproducible) {
    ScratchDir scratch;
    DemoPackageOptions options;
    options.scale = 0.01;
    options.seed = 5;
    options.outDir = (scratch.Path() / "a").string();
    const DemoPackageSummary summary = WriteDemoPackage(options);

    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(options.outDir)) {
        names.insert(entry.path().filename().string());
    }
    std::set<std::string> expected = {"up.2026.05.03.lsql", "up.99.238.lsql",
                                      "INFO_DOC.NOTE_U.ID 10.blo", "INFO_DOC.NOTE.ID 10.blo"};
    for (int32_t id : DemoArticleIds()) {
        expected.insert(std::to_string(id) + ".u");
        expected.insert(std::to_string(id) + ".r");
    }
    EXPECT_EQ(names, expected);
    EXPECT_EQ(summary.fileCount, 158);

    const fs::path dir = options.outDir;
    EXPECT_EQ(Read(dir / "up.99.238.lsql"), "update versions set data = 238;\r\n");
    EXPECT_EQ(Read(dir / "up.2026.05.03.lsql"), DemoScript(5, 0.01));
    const std::string rarSignature("Rar!\x1A\x07\x00", 7);
    uint64_t documents = 0;
    for (int32_t id : DemoArticleIds()) {
        EXPECT_EQ(fs::file_size(dir / (std::to_string(id) + ".r")), 0u);
        const std::string document = Read(dir / (std::to_string(id) + ".u"));
        EXPECT_EQ(document.substr(0, 7), rarSignature) << id;
        EXPECT_NE(document.find("Документ1.doc"), std::string::npos) << id;
        documents += document.size();
    }
    EXPECT_EQ(documents, summary.documentBytes);
    EXPECT_EQ(fs::file_size(dir / "18612.u"), 50708u);  // 5,070,763 at 1/100
    EXPECT_NEAR(static_cast<double>(documents), 560000.0, 560000.0 * 0.01);
    EXPECT_NEAR(static_cast<double>(summary.largestDocument), 84000.0, 300.0);
    const std::string note = Read(dir / "INFO_DOC.NOTE.ID 10.blo");
    EXPECT_EQ(note.rfind("{\\rtf1\\ansi\\ansicpg1251", 0), 0u);
    EXPECT_NEAR(static_cast<double>(note.size()), 6900.0, 400.0);

    // Same seed, same bytes (the archive headers included); another seed, other documents.
    options.outDir = (scratch.Path() / "b").string();
    WriteDemoPackage(options);
    for (const std::string& name : expected) {
        EXPECT_EQ(Read(dir / name), Read(scratch.Path() / "b" / name)) << name;
    }
    options.seed = 6;
    options.outDir = (scratch.Path() / "c").string();
    WriteDemoPackage(options);
    EXPECT_NE(Read(dir / "18600.u"), Read(scratch.Path() / "c" / "18600.u"));
}

TEST(DemoPackage, OtherNumberNamesTheVersionScript) {
    ScratchDir scratch;
    DemoPackageOptions options;
    options.scale = 0.001;
    options.number = 5;
    options.outDir = scratch.Path().string();
    WriteDemoPackage(options);
    EXPECT_EQ(Read(scratch.Path() / "up.99.5.lsql"), "update versions set data = 5;\r\n");
    EXPECT_FALSE(fs::exists(scratch.Path() / "up.99.238.lsql"));
}

TEST(DemoPackage, RefusesUnusableOptions) {
    ScratchDir scratch;
    DemoPackageOptions options;
    options.outDir = scratch.Path().string();
    options.scale = 0;
    EXPECT_THROW(WriteDemoPackage(options), std::invalid_argument);
    options.scale = 0.01;
    options.number = 0;
    EXPECT_THROW(WriteDemoPackage(options), std::invalid_argument);

    // A directory that already holds files could mix old entries into the package.
    std::ofstream(scratch.Path() / "left-over.u") << "x";
    options.number = 238;
    EXPECT_THROW(WriteDemoPackage(options), std::runtime_error);
}

TEST(DemoPackage, FullSizeMatchesPackage238) {
    ScratchDir scratch;
    DemoPackageOptions options;
    options.outDir = scratch.Path().string();
    const DemoPackageSummary summary = WriteDemoPackage(options);
    EXPECT_EQ(summary.fileCount, 158);
    EXPECT_NEAR(static_cast<double>(summary.documentBytes), 56e6, 56e6 * 0.005);
    EXPECT_GT(summary.largestDocument, 8300000u);
    EXPECT_LE(summary.largestDocument, 8400000u);
    EXPECT_EQ(fs::file_size(scratch.Path() / "18612.u"), 5070763u);
    for (const char* blob : {"INFO_DOC.NOTE_U.ID 10.blo", "INFO_DOC.NOTE.ID 10.blo"}) {
        EXPECT_NEAR(static_cast<double>(fs::file_size(scratch.Path() / blob)), 692000.0, 6000.0);
    }
}

}  // namespace

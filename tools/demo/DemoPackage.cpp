#include "tools/demo/DemoPackage.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <stdexcept>

#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "tools/demo/Cp1251.h"
#include "tools/pack/RarWriter.h"

namespace fs = std::filesystem;

namespace {

// Sizes of the full package.
constexpr uint64_t kScriptBytes = 149628;
constexpr uint64_t kDocumentsBytes = 56000000;
constexpr uint64_t kLargestDocumentBytes = 8400000;
constexpr int32_t kKnownDocumentId = 18612;  // a document of a known size, 5,070,763 bytes
constexpr uint64_t kKnownDocumentBytes = 5070763;
constexpr uint64_t kBlobBytes = 690000;

const char* const kScriptName = "up.2026.05.03.lsql";
const char* const kProgramName = "tessara.exe";
const char* const kReportName = "list.fr3";
constexpr uint64_t kProgramBytes = 6500000;
constexpr uint64_t kReportBytes = 180000;
const char* const kMemberName = "Документ1.doc";

// splitmix64: small, fast and fully specified, so a seed gives the same package everywhere
// (the standard library's distributions are not specified bit for bit).
class CRandom {
  public:
    explicit CRandom(uint64_t seed) : m_state(seed) {}
    uint64_t Next() {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // Uniform in [0, n).
    uint64_t Below(uint64_t n) { return Next() % n; }
    template <typename T, size_t N>
    const T& Pick(const std::array<T, N>& items) {
        return items[Below(N)];
    }

  private:
    uint64_t m_state;
};

struct Pair {  // the same text in Russian and in Ukrainian (UTF-8 here, CP1251 in the package)
    const char* ru;
    const char* uk;
};

constexpr std::array<Pair, 8> kKinds = {{
    {"Приказ", "Наказ"},
    {"Постановление", "Постанова"},
    {"Распоряжение", "Розпорядження"},
    {"Решение", "Рішення"},
    {"Письмо", "Лист"},
    {"Разъяснение", "Роз’яснення"},
    {"Инструкция", "Інструкція"},
    {"Информационное письмо", "Інформаційний лист"},
}};

constexpr std::array<Pair, 10> kBodies = {{
    {"Министерства финансов Украины", "Міністерства фінансів України"},
    {"Кабинета Министров Украины", "Кабінету Міністрів України"},
    {"Государственной налоговой службы Украины", "Державної податкової служби України"},
    {"Национального банка Украины", "Національного банку України"},
    {"Министерства здравоохранения Украины", "Міністерства охорони здоров’я України"},
    {"Министерства образования и науки Украины", "Міністерства освіти і науки України"},
    {"Государственной таможенной службы Украины", "Державної митної служби України"},
    {"Пенсионного фонда Украины", "Пенсійного фонду України"},
    {"Министерства социальной политики Украины", "Міністерства соціальної політики України"},
    {"Государственной службы статистики Украины", "Державної служби статистики України"},
}};

constexpr std::array<Pair, 20> kSubjects = {{
    {"Об утверждении Порядка заполнения налоговой декларации по налогу на добавленную стоимость",
     "Про затвердження Порядку заповнення податкової декларації з податку на додану вартість"},
    {"О внесении изменений в Положение о документальном обеспечении записей в бухгалтерском "
     "учете",
     "Про внесення змін до Положення про документальне забезпечення записів у бухгалтерському "
     "обліку"},
    {"Об утверждении формы налогового расчета сумм дохода, начисленного в пользу физических лиц",
     "Про затвердження форми податкового розрахунку сум доходу, нарахованого на користь фізичних "
     "осіб"},
    {"О порядке применения регистраторов расчетных операций в сфере торговли",
     "Про порядок застосування реєстраторів розрахункових операцій у сфері торгівлі"},
    {"Об утверждении Инструкции по инвентаризации основных средств и нематериальных активов",
     "Про затвердження Інструкції з інвентаризації основних засобів і нематеріальних активів"},
    {"О начислении единого социального взноса на отпускные и больничные",
     "Про нарахування єдиного соціального внеску на відпускні та лікарняні"},
    {"Об особенностях налогообложения операций по аренде земельных участков",
     "Про особливості оподаткування операцій з оренди земельних ділянок"},
    {"Об утверждении Порядка ведения кассовых операций в национальной валюте",
     "Про затвердження Порядку ведення касових операцій у національній валюті"},
    {"О предоставлении отчетности в электронной форме плательщиками единого налога",
     "Про подання звітності в електронній формі платниками єдиного податку"},
    {"Об утверждении Методических рекомендаций по учету запасов",
     "Про затвердження Методичних рекомендацій з обліку запасів"},
    {"О порядке возмещения командировочных расходов работникам бюджетных учреждений",
     "Про порядок відшкодування витрат на відрядження працівникам бюджетних установ"},
    {"Об утверждении форм первичных документов по учету труда и его оплаты",
     "Про затвердження форм первинних документів з обліку праці та її оплати"},
    {"О применении штрафных санкций за нарушение сроков регистрации налоговых накладных",
     "Про застосування штрафних санкцій за порушення термінів реєстрації податкових накладних"},
    {"Об утверждении Порядка обмена электронными документами с контролирующими органами",
     "Про затвердження Порядку обміну електронними документами з контролюючими органами"},
    {"О налогообложении доходов физических лиц-предпринимателей",
     "Про оподаткування доходів фізичних осіб-підприємців"},
    {"Об утверждении Положения о валютном контроле за операциями резидентов",
     "Про затвердження Положення про валютний контроль за операціями резидентів"},
    {"О порядке исчисления средней заработной платы",
     "Про порядок обчислення середньої заробітної плати"},
    {"Об утверждении Требований к охране труда на предприятиях",
     "Про затвердження Вимог з охорони праці на підприємствах"},
    {"О включении в Реестр неприбыльных учреждений и организаций",
     "Про включення до Реєстру неприбуткових установ та організацій"},
    {"Об учете объектов налогообложения при таможенном оформлении товаров",
     "Про облік об’єктів оподаткування під час митного оформлення товарів"},
}};

constexpr std::array<Pair, 4> kSuffixes = {{
    {"", ""},
    {" (с изменениями и дополнениями)", " (зі змінами та доповненнями)"},
    {" (вместе с Порядком)", " (разом із Порядком)"},
    {" (утратил силу частично)", " (втратив чинність частково)"},
}};

constexpr std::array<Pair, 32> kKeywords = {{
    {"налоговая декларация", "податкова декларація"},
    {"единый налог", "єдиний податок"},
    {"бухгалтерский учет", "бухгалтерський облік"},
    {"заработная плата", "заробітна плата"},
    {"отпуск", "відпустка"},
    {"больничный лист", "лікарняний лист"},
    {"аренда", "оренда"},
    {"основные средства", "основні засоби"},
    {"амортизация", "амортизація"},
    {"налог на добавленную стоимость", "податок на додану вартість"},
    {"акцизный налог", "акцизний податок"},
    {"таможенное оформление", "митне оформлення"},
    {"пенсия", "пенсія"},
    {"единый социальный взнос", "єдиний соціальний внесок"},
    {"штрафные санкции", "штрафні санкції"},
    {"кассовые операции", "касові операції"},
    {"валютный контроль", "валютний контроль"},
    {"лицензирование", "ліцензування"},
    {"физическое лицо-предприниматель", "фізична особа-підприємець"},
    {"налоговая накладная", "податкова накладна"},
    {"инвентаризация", "інвентаризація"},
    {"командировка", "відрядження"},
    {"первичные документы", "первинні документи"},
    {"трудовой договор", "трудовий договір"},
    {"объект налогообложения", "об’єкт оподаткування"},
    {"государственная регистрация", "державна реєстрація"},
    {"электронная отчетность", "електронна звітність"},
    {"банковский счет", "банківський рахунок"},
    {"охрана труда", "охорона праці"},
    {"неприбыльная организация", "неприбуткова організація"},
    {"земельный налог", "земельний податок"},
    {"регистратор расчетных операций", "реєстратор розрахункових операцій"},
}};

// New names for a few of the rubrics the demo database holds.
constexpr std::array<Pair, 3> kRubricRenames = {{
    {"Налоги и сборы", "Податки та збори"},
    {"Бухгалтерский учет и отчетность", "Бухгалтерський облік і звітність"},
    {"Труд и заработная плата", "Праця та заробітна плата"},
}};

// A text literal for a statement: quoted, quotes doubled, in Windows-1251.
std::string Literal(const std::string& utf8) {
    std::string out = "'";
    for (char c : Utf8ToCp1251(utf8)) {
        out += c;
        if (c == '\'') {
            out += '\'';
        }
    }
    return out + "'";
}

std::string TwoDigits(uint64_t n) {
    return (n < 10 ? "0" : "") + std::to_string(n);
}

struct Title {
    std::string ru;
    std::string uk;
};

Title MakeTitle(CRandom& random) {
    const Pair& kind = random.Pick(kKinds);
    const Pair& body = random.Pick(kBodies);
    const Pair& subject = random.Pick(kSubjects);
    const Pair& suffix = random.Below(3) == 0 ? random.Pick(kSuffixes) : kSuffixes[0];
    const std::string date =
        TwoDigits(1 + random.Below(28)) + "." + TwoDigits(1 + random.Below(4)) + ".2026";
    const std::string number = std::to_string(1 + random.Below(1500));
    Title title;
    title.ru = std::string(kind.ru) + " " + body.ru + " от " + date + " № " + number + " «" +
               subject.ru + "»" + suffix.ru;
    title.uk = std::string(kind.uk) + " " + body.uk + " від " + date + " № " + number + " «" +
               subject.uk + "»" + suffix.uk;
    return title;
}

std::string Line(const std::string& statement) {
    return statement + ";\r\n";
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
    CFile out(path.string(), CFile::Mode::WriteTruncate);
    out.WriteAll(bytes.data(), bytes.size());
    out.Close();
}

// `size` pseudo-random bytes (a document's data is encrypted, so it looks like noise).
void WriteNoise(const fs::path& path, uint64_t size, CRandom& random) {
    CFile out(path.string(), CFile::Mode::WriteTruncate);
    std::array<uint64_t, 8192> block{};
    while (size > 0) {
        for (uint64_t& word : block) {
            word = random.Next();
        }
        const uint64_t n = std::min<uint64_t>(size, sizeof(block));
        out.WriteAll(block.data(), static_cast<size_t>(n));
        size -= n;
    }
    out.Close();
}

uint64_t Scaled(uint64_t bytes, double scale) {
    return static_cast<uint64_t>(std::llround(static_cast<double>(bytes) * scale));
}

// Sizes of the 77 ".u" files: one of about 8.4 MB, 18612 at its known size, the rest spread
// unevenly (product of two uniform draws gives many small files and a few large ones) so that
// all of them together come to about 56 MB. A given size for the largest one adds to that.
std::vector<uint64_t> DocumentSizes(const std::vector<int32_t>& ids, double scale,
                                    uint64_t largestBytes, CRandom& random) {
    std::vector<uint64_t> sizes(ids.size(), 0);
    const auto known =
        static_cast<size_t>(std::find(ids.begin(), ids.end(), kKnownDocumentId) - ids.begin());
    size_t largest = random.Below(ids.size());
    if (largest == known) {
        largest = (largest + 1) % ids.size();
    }
    sizes[known] = Scaled(kKnownDocumentBytes, scale);
    sizes[largest] = Scaled(kLargestDocumentBytes - random.Below(20000), scale);

    std::vector<uint64_t> weights(ids.size(), 0);
    uint64_t weightSum = 0;
    for (size_t i = 0; i < ids.size(); ++i) {
        if (i != known && i != largest) {
            weights[i] = (1 + random.Below(1000)) * (1 + random.Below(1000));
            weightSum += weights[i];
        }
    }
    const uint64_t rest = Scaled(kDocumentsBytes, scale) - sizes[known] - sizes[largest];
    if (largestBytes != 0) {
        sizes[largest] = largestBytes;  // the others keep their sizes
    }
    for (size_t i = 0; i < ids.size(); ++i) {
        if (weights[i] != 0) {
            // The smallest documents still hold some bytes; a real .doc is never tiny.
            sizes[i] = std::max<uint64_t>(64, rest * weights[i] / weightSum);
        }
    }
    return sizes;
}

// A Windows-1251 text as RTF source: non-ASCII bytes written as \'xx, as word processors do.
std::string RtfEscaped(const std::string& utf8) {
    std::string out;
    for (const char c : Utf8ToCp1251(utf8)) {
        if (static_cast<unsigned char>(c) < 0x80) {
            out += c;
        } else {
            out += "\\'" + HexEncode(std::string_view(&c, 1));
        }
    }
    return out;
}

// The reference note of INFO_DOC row 10: an RTF document of about `size` bytes.
std::string NoteDocument(bool ukrainian, uint64_t size, CRandom& random) {
    std::string rtf =
        "{\\rtf1\\ansi\\ansicpg1251\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset204 Arial;}}\r\n"
        "\\viewkind4\\uc1\\pard\\f0\\fs20 ";
    rtf += RtfEscaped(ukrainian ? "Перелік змін у довідковій базі"
                                : "Перечень изменений в "
                                  "справочной базе");
    rtf += "\\par\r\n";
    while (rtf.size() + 3 < size) {
        const Title title = MakeTitle(random);
        std::string paragraph = (ukrainian ? title.uk : title.ru) + ". " +
                                (ukrainian ? "Ключові питання: " : "Ключевые вопросы: ");
        for (int k = 0; k < 3; ++k) {
            const Pair& keyword = random.Pick(kKeywords);
            paragraph += std::string(k ? ", " : "") + (ukrainian ? keyword.uk : keyword.ru);
        }
        rtf += RtfEscaped(paragraph + ".") + "\\par\r\n";
    }
    return rtf + "}\r\n";
}

// A report template of about `size` bytes: the report designer's XML, one band per rubric
// with a memo per article title.
std::string ReportTemplate(uint64_t size, CRandom& random) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
        "<TfrxReport Version=\"4.9\" ReportOptions.Name=\"list\">\r\n"
        "  <TfrxReportPage Name=\"Page1\" PaperWidth=\"210\" PaperHeight=\"297\">\r\n";
    for (int band = 1; xml.size() + 40 < size; ++band) {
        const Title title = MakeTitle(random);
        xml += "    <TfrxMasterData Name=\"Band" + std::to_string(band) +
               "\" Height=\"18.9\"><TfrxMemoView Name=\"Memo" + std::to_string(band) +
               "\" Text=\"" + title.uk + "\"/></TfrxMasterData>\r\n";
    }
    return xml + "  </TfrxReportPage>\r\n</TfrxReport>\r\n";
}

}  // namespace

std::vector<int32_t> DemoArticleIds() {
    std::vector<int32_t> ids;
    for (int32_t id = 18542; id <= 18619; ++id) {
        if (id != 18573) {
            ids.push_back(id);
        }
    }
    return ids;
}

std::string VersionScript(int32_t number) {
    return "update versions set data = " + std::to_string(number) + ";\r\n";
}

std::string DemoScript(uint64_t seed, double scale, uint64_t statementCount) {
    CRandom random(seed ^ 0x5C41F7ULL);
    const std::vector<int32_t> ids = DemoArticleIds();
    std::string script;

    for (int32_t id : ids) {
        const Title title = MakeTitle(random);
        const char* ext = random.Below(3) == 0 ? "'doc'" : "'pdf'";
        const char* extU = random.Below(3) == 0 ? "'doc'" : "'pdf'";
        script += Line("INSERT INTO ARTICLE (ID, NAME, NAME_U, EXT, EXT_U) VALUES (" +
                       std::to_string(id) + ", " + Literal(title.ru) + ", " + Literal(title.uk) +
                       ", " + ext + ", " + extU + ")");
    }
    for (size_t i = 0; i < kRubricRenames.size(); ++i) {
        script += Line("UPDATE RUBRIC SET NAME = " + Literal(kRubricRenames[i].ru) + ", NAME_U = " +
                       Literal(kRubricRenames[i].uk) + " WHERE ID = " + std::to_string(i + 1));
    }
    for (int32_t id : ids) {
        const uint64_t first = 1 + random.Below(kDemoRubricCount);
        const uint64_t links = 1 + random.Below(3);
        for (uint64_t k = 0; k < links; ++k) {  // distinct rubrics: consecutive ids, wrapped
            script += Line("INSERT INTO ARTICLE_RUBRIC (ARTICLE_ID, RUBRIC_ID) VALUES (" +
                           std::to_string(id) + ", " +
                           std::to_string((first - 1 + k) % kDemoRubricCount + 1) + ")");
        }
    }

    // Keywords fill the script up to its size: one per article in turn, each article's keywords
    // distinct. Every article gets at least one, whatever the scale. With a statement count they
    // fill the script up to that many statements instead, repeating after the last keyword.
    const uint64_t target = Scaled(kScriptBytes, scale);
    auto statements = static_cast<uint64_t>(std::count(script.begin(), script.end(), '\n'));
    std::vector<std::vector<size_t>> order(ids.size());
    for (auto& keywords : order) {
        for (size_t k = 0; k < kKeywords.size(); ++k) {
            keywords.push_back(k);
        }
        for (size_t k = keywords.size() - 1; k > 0; --k) {
            std::swap(keywords[k], keywords[random.Below(k + 1)]);
        }
    }
    for (size_t round = 0; statementCount > 0 || round < kKeywords.size(); ++round) {
        for (size_t i = 0; i < ids.size(); ++i) {
            const Pair& keyword = kKeywords[order[i][round % kKeywords.size()]];
            const std::string line =
                Line("INSERT INTO ARTICLE_KEYWORD (ARTICLE_ID, WORD, WORD_U) VALUES (" +
                     std::to_string(ids[i]) + ", " + Literal(keyword.ru) + ", " +
                     Literal(keyword.uk) + ")");
            const bool full = statementCount > 0 ? statements >= statementCount
                                                 : script.size() + line.size() > target;
            if (round > 0 && full) {
                return script;
            }
            script += line;
            ++statements;
        }
    }
    return script;
}

DemoPackageSummary WriteDemoPackage(const DemoPackageOptions& options) {
    if (!(options.scale > 0 && options.scale <= 4)) {
        throw std::invalid_argument("the scale must be above 0 and at most 4");
    }
    if (options.number <= 0) {
        throw std::invalid_argument("the package number must be positive");
    }
    const fs::path dir(options.outDir);
    std::error_code error;
    fs::create_directories(dir, error);
    if (!fs::is_directory(dir)) {
        throw std::runtime_error("cannot create the directory " + dir.string());
    }
    if (!fs::is_empty(dir)) {
        throw std::runtime_error("the output directory is not empty: " + dir.string());
    }

    DemoPackageSummary summary;
    auto add = [&summary](const fs::path& path) {
        ++summary.fileCount;
        summary.totalBytes += fs::file_size(path);
    };

    const std::string script = DemoScript(options.seed, options.scale, options.statementCount);
    WriteBytes(dir / kScriptName, script);
    summary.scriptBytes = script.size();
    add(dir / kScriptName);

    const fs::path versionScript = dir / ("up.99." + std::to_string(options.number) + ".lsql");
    WriteBytes(versionScript, VersionScript(options.number));
    add(versionScript);

    CRandom random(options.seed);
    const std::vector<int32_t> ids = DemoArticleIds();
    const std::vector<uint64_t> sizes =
        DocumentSizes(ids, options.scale, options.largestDocumentBytes, random);
    const fs::path member = dir / ".member";
    for (size_t i = 0; i < ids.size(); ++i) {
        const std::string id = std::to_string(ids[i]);
        WriteBytes(dir / (id + ".r"), "");
        add(dir / (id + ".r"));

        // The archive around the member adds about 80 bytes; the member takes the rest.
        WriteNoise(member, sizes[i] > 100 ? sizes[i] - 80 : sizes[i], random);
        // A fixed time for the member, so the archive's header is the same on every run.
        const timespec times[2] = {{1777798800, 0}, {1777798800, 0}};  // 2026-05-03 09:00 UTC
        utimensat(AT_FDCWD, member.c_str(), times, 0);
        WriteRarStore({RarEntry{kMemberName, member.string(), false}},
                      (dir / (id + ".u")).string());
        add(dir / (id + ".u"));
        const uint64_t size = fs::file_size(dir / (id + ".u"));
        summary.documentBytes += size;
        summary.largestDocument = std::max(summary.largestDocument, size);
    }
    fs::remove(member);

    for (bool ukrainian : {true, false}) {
        const fs::path path =
            dir / (ukrainian ? "INFO_DOC.NOTE_U.ID 10.blo" : "INFO_DOC.NOTE.ID 10.blo");
        const uint64_t size = Scaled(kBlobBytes + random.Below(4000), options.scale);
        WriteBytes(path, NoteDocument(ukrainian, size, random));
        add(path);
        summary.blobBytes += fs::file_size(path);
    }

    if (options.programFiles) {
        // Drawn after everything else, so the other files are the same with or without them.
        const fs::path program = dir / kProgramName;
        WriteNoise(program, Scaled(kProgramBytes, options.scale), random);
        add(program);
        fs::create_directory(dir / "Reports");
        const fs::path report = dir / "Reports" / kReportName;
        WriteBytes(report, ReportTemplate(Scaled(kReportBytes, options.scale), random));
        add(report);
        summary.programBytes = fs::file_size(program) + fs::file_size(report);
    }
    return summary;
}

// Times the statement runner against isql-fb on the same script: a few thousand one-line
// INSERT and UPDATE statements in Windows-1251, each committed by itself (isql gets a "COMMIT;"
// after every statement). The runner runs twice: bare, and with the package ledger as the
// updater runs it (each statement also marked in its own transaction, the price of continuing an
// interrupted update exactly). All run embedded on identical fresh databases. isql runs with
// "SET AUTODDL OFF": with its default AUTODDL ON it starts a second transaction at every
// COMMIT, which costs it page writes that the runner does not make.
//
// Usage: bench_runner [statement count (default 3000)] [rounds (default 3)] | --help
//
// With forced writes every commit waits for the disk, so wall times swing with whatever else uses
// it; the rounds rotate which runner goes first, and the medians of the rounds are compared,
// with their spread. CPU time (this process with its embedded engine, or the isql-fb child)
// shows the work done apart from the disk waits.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "bench/Arguments.h"
#include "db/Uglobdb.h"
#include "install/PackageLedger.h"
#include "install/ScriptRunner.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Timing {
    double wall = 0;
    double cpu = 0;
};

double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class CBenchOwner : public IOwner {
  public:
    void AppendLine(const std::string&) override {}
    void MarkLastLine(const std::string&) override {}
    void PumpMessages() override {}
    std::string CurrentLogPath() const override { return m_logPath; }
    void SetCurrentLogPath(const std::string& path) override { m_logPath = path; }
    std::string ProgramDirectory() const override { return {}; }

  private:
    std::string m_logPath;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// "median s (min-max)" of the rounds.
std::string Spread(const std::vector<double>& values) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f s (%.3f-%.3f)", Median(values),
                  *std::min_element(values.begin(), values.end()),
                  *std::max_element(values.begin(), values.end()));
    return text;
}

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

// Runs isql-fb embedded with a script file; throws when it reports anything on stderr.
Timing RunIsql(const fs::path& database, const fs::path& script, const fs::path& dir) {
    const fs::path out = dir / "isql.out";
    const fs::path err = dir / "isql.err";
    const std::string command = "isql-fb -q -user SYSDBA -i '" + script.string() + "' " +
                                (database.empty() ? "" : "'" + database.string() + "'") + " >'" +
                                out.string() + "' 2>'" + err.string() + "'";
    const double cpuStart = CpuSeconds(RUSAGE_CHILDREN);
    const auto start = Clock::now();
    const int rc = std::system(command.c_str());
    const Timing timing{std::chrono::duration<double>(Clock::now() - start).count(),
                        CpuSeconds(RUSAGE_CHILDREN) - cpuStart};
    const std::string errors = ReadWholeFile(err.string());
    if (rc != 0 || !errors.empty()) {
        throw std::runtime_error("isql-fb failed: " + errors);
    }
    return timing;
}

void CreateDatabase(const fs::path& database, const fs::path& dir) {
    const fs::path script = dir / "create.sql";
    WriteText(script, "CREATE DATABASE '" + database.string() +
                          "' USER 'SYSDBA' PAGE_SIZE 8192;\n"
                          "CREATE TABLE ARTICLE_T (ID INTEGER NOT NULL PRIMARY KEY, "
                          "TITLE VARCHAR(80) CHARACTER SET WIN1251, QTY INTEGER);\n"
                          "COMMIT;\n");
    RunIsql({}, script, dir);
}

// Row count and checksums of the table, as isql prints them: equal for equal contents.
std::string Summary(const fs::path& database, const fs::path& dir) {
    const fs::path script = dir / "summary.sql";
    WriteText(script,
              "SELECT COUNT(*), SUM(QTY), SUM(MOD(HASH(TITLE), 1000003)) FROM ARTICLE_T;\n");
    RunIsql(database, script, dir);
    return ReadWholeFile((dir / "isql.out").string());
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<int> arguments = PositiveArguments(
        argc, argv, {3000, 3},
        "usage: bench_runner [STATEMENTS (default 3000)] [ROUNDS (default 3)]\n"
        "Times the statement runner, bare and with the package ledger, against isql-fb on one\n"
        "script of STATEMENTS statements, each committed by itself; prints the medians of ROUNDS\n"
        "rounds.\n");
    const int count = arguments[0];
    const int rounds = arguments[1];
    const int inserts = count * 2 / 3;

    char pattern[] = "/tmp/bench_runner.XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path dir = pattern;

    // "Стаття" and "Оновлено" in Windows-1251.
    const std::string article = "\xD1\xF2\xE0\xF2\xF2\xFF";
    const std::string updated = "\xCE\xED\xEE\xE2\xEB\xE5\xED\xEE";
    std::string ours;
    std::string isql;
    for (int i = 1; i <= count; ++i) {
        std::string statement;
        if (i <= inserts) {
            statement = "INSERT INTO ARTICLE_T (ID, TITLE, QTY) VALUES (" + std::to_string(i) +
                        ", '" + article + " " + std::to_string(i) + "', " + std::to_string(i) +
                        ");";
        } else {
            const int id = (i - inserts) * 2;
            statement = "UPDATE ARTICLE_T SET TITLE = '" + updated + " " + std::to_string(id) +
                        "', QTY = QTY + 1 WHERE ID = " + std::to_string(id) + ";";
        }
        ours += statement + "\r\n";
        isql += statement + "\r\nCOMMIT;\r\n";
    }
    isql = "SET AUTODDL OFF;\r\n" + isql;

    int status = 0;
    try {
        const fs::path ourScript = dir / "bench.lsql";
        const fs::path isqlScript = dir / "bench_isql.sql";
        WriteText(ourScript, ours);
        WriteText(isqlScript, isql);

        std::vector<Timing> oursRounds;
        std::vector<Timing> ledgerRounds;
        std::vector<Timing> isqlRounds;
        for (int round = 0; round < rounds; ++round) {
            const fs::path ourDb = dir / ("ours" + std::to_string(round) + ".fdb");
            const fs::path ledgerDb = dir / ("ledger" + std::to_string(round) + ".fdb");
            const fs::path isqlDb = dir / ("isql" + std::to_string(round) + ".fdb");
            CreateDatabase(ourDb, dir);
            CreateDatabase(ledgerDb, dir);
            CreateDatabase(isqlDb, dir);

            // With a ledger, as the updater runs a package's scripts: every statement marked in
            // its own transaction, so that an interrupted run can be continued.
            auto runOurs = [&](const fs::path& db, bool withLedger) {
                CGlobDB session(dir.string());
                session.Connect("", db.string(), "", "");
                SetGlobDB(&session);
                CPackageLedger ledger(session.GetDatabase());
                if (withLedger) {
                    ledger.Begin({238, std::string(64, '0')});
                }
                CBenchOwner owner;
                CPlainProgressBar overall(0);
                CPlainProgressBar scriptBar(0);
                CPlainLabel timeLabel;
                overall.SetMaximum(count);
                const double cpuStart = CpuSeconds(RUSAGE_SELF);
                const auto start = Clock::now();
                RunScript(session.GetDatabase(), owner, ourScript.string(),
                          {&overall, &scriptBar, nullptr, &timeLabel}, TimeOfDay(),
                          withLedger ? &ledger : nullptr);
                const Timing timing{std::chrono::duration<double>(Clock::now() - start).count(),
                                    CpuSeconds(RUSAGE_SELF) - cpuStart};
                if (withLedger) {
                    ledger.Finish();
                }
                SetGlobDB(nullptr);
                if (fs::exists(ourScript.string() + ".log")) {
                    throw std::runtime_error("statements failed, see " + ourScript.string() +
                                             ".log");
                }
                return timing;
            };
            // Rotate which runner goes first, so none always meets the busier disk.
            Timing oursNow;
            Timing ledgerNow;
            Timing isqlNow;
            const std::function<void()> runs[] = {
                [&] { oursNow = runOurs(ourDb, false); },
                [&] { ledgerNow = runOurs(ledgerDb, true); },
                [&] { isqlNow = RunIsql(isqlDb, isqlScript, dir); },
            };
            for (int i = 0; i < 3; ++i) {
                runs[(round + i) % 3]();
            }
            std::printf(
                "round %d: RunScript %.3f s (cpu %.3f s), with the ledger %.3f s (cpu %.3f s), "
                "isql-fb %.3f s (cpu %.3f s)\n",
                round + 1, oursNow.wall, oursNow.cpu, ledgerNow.wall, ledgerNow.cpu, isqlNow.wall,
                isqlNow.cpu);
            oursRounds.push_back(oursNow);
            ledgerRounds.push_back(ledgerNow);
            isqlRounds.push_back(isqlNow);

            const std::string isqlSummary = Summary(isqlDb, dir);
            for (const fs::path& db : {ourDb, ledgerDb}) {
                const std::string ourSummary = Summary(db, dir);
                if (ourSummary != isqlSummary) {
                    throw std::runtime_error("databases differ:\n" + ourSummary + "\n" +
                                             isqlSummary);
                }
                fs::remove(db);
            }
            fs::remove(isqlDb);
        }

        const auto walls = [](const std::vector<Timing>& rounds) {
            std::vector<double> values;
            for (const Timing& timing : rounds) {
                values.push_back(timing.wall);
            }
            return values;
        };
        const auto cpus = [](const std::vector<Timing>& rounds) {
            std::vector<double> values;
            for (const Timing& timing : rounds) {
                values.push_back(timing.cpu);
            }
            return values;
        };
        std::printf(
            "statements: %d (%d INSERT, %d UPDATE), one commit each; isql-fb with SET AUTODDL "
            "OFF; medians of %d alternating rounds (min-max)\n",
            count, inserts, count - inserts, rounds);
        std::printf("RunScript: %s, %.0f statements/s, cpu %s\n", Spread(walls(oursRounds)).c_str(),
                    count / Median(walls(oursRounds)), Spread(cpus(oursRounds)).c_str());
        std::printf("with the ledger: %s, %.0f statements/s, cpu %s\n",
                    Spread(walls(ledgerRounds)).c_str(), count / Median(walls(ledgerRounds)),
                    Spread(cpus(ledgerRounds)).c_str());
        std::printf("isql-fb:   %s, %.0f statements/s, cpu %s\n", Spread(walls(isqlRounds)).c_str(),
                    count / Median(walls(isqlRounds)), Spread(cpus(isqlRounds)).c_str());
        std::printf("ratio ours/isql: %.3f (cpu %.3f)\n",
                    Median(walls(oursRounds)) / Median(walls(isqlRounds)),
                    Median(cpus(oursRounds)) / Median(cpus(isqlRounds)));
        // The last line: the runner as the updater runs it, against the fair baseline.
        std::printf("ratio ours with the ledger/isql: %.3f (cpu %.3f)\n",
                    Median(walls(ledgerRounds)) / Median(walls(isqlRounds)),
                    Median(cpus(ledgerRounds)) / Median(cpus(isqlRounds)));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_runner: %s\n", error.what());
        status = 1;
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return status;
}

// An update cut short and run again: the built updater, packed with a package large enough that
// every phase has many items, runs against a private server and is killed with SIGKILL (or sent
// a signal) at several points of its run; the temp directory is emptied (as a restart may do)
// and the updater is run again. The database and the suite's files must then equal those of a
// run that was never interrupted: every statement applied once (the package's main table has no
// key, so a repeated statement shows), every document, blob value and program file in place, and
// nothing of the updater's own left behind.
//
// The test holds the run at each point: its own connection holds a row that the run's statement
// there has to change, and the kill or the signal comes once MON$STATEMENTS shows that statement
// waiting (the updater waits at most its lock timeout, 10 s, for a row). Then the row is let go.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "app/RunLocks.h"
#include "platform/FileLock.h"
#include "platform/FileSystem.h"
#include "platform/Sha256.h"
#include "platform/Text.h"
#include "tests/app/Suite.h"
#include "tests/support/SilentServer.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

namespace {

constexpr int kPackage = 238;
constexpr int kStatements = 3000;
constexpr int kDocuments = 16;
constexpr size_t kDocumentSize = 2 * 1024 * 1024;
constexpr size_t kProgramSize = 48 * 1024 * 1024;

const std::string kScript = "up.2026.05.03.lsql";
const std::string kVersionScript = "up.99.238.lsql";
const std::string kResumeLine = "Пакет 238 встановлено не до кінця: його буде продовжено";

// The statements of the main script that the test can hold: each changes a row of HOLD_ROWS.
std::string HoldStatement(int row) {
    return "update HOLD_ROWS set N = N + 1 where ID = " + std::to_string(row);
}
constexpr int kEarlyHold = 150;  // held early in the statement pass: after this insert
constexpr int kLateHold = 2400;  // and late in it

// Package 238 with many items in every phase: 3,000 inserts into a table without a key, two
// statements on rows the test can hold, and rows for the documents, the version script, 16
// documents of 2 MB with their empty plain variants, a blob value, a 48 MB program and a
// template.
PackageFiles LargePackage() {
    PackageFiles files;
    std::string script;
    for (int n = 1; n <= kStatements; ++n) {
        script += "insert into LOG_ROWS (N, NAME) values (" + std::to_string(n) + ", 'row " +
                  std::to_string(n) + "');\r\n";
        if (n == kEarlyHold) {
            script += HoldStatement(1) + ";\r\n";
        } else if (n == kLateHold) {
            script += HoldStatement(2) + ";\r\n";
        }
    }
    for (int d = 1; d <= kDocuments; ++d) {
        const std::string id = std::to_string(23800 + d);
        script += "insert into ARTICLE (id, name) values (" + id + ", 'document " + id + "');\r\n";
        files[id + ".u"] = RandomBytes(kDocumentSize, static_cast<unsigned>(d));
        files[id + ".r"] = "";
    }
    files[kScript] = script;
    files[kVersionScript] = "update versions set data = 238;\r\n";
    files["INFO_DOC.NOTE.ID 10.blo"] = RandomBytes(512 * 1024, 99);
    files["tessara.exe"] = RandomBytes(kProgramSize, 7);
    files["Reports/list.fr3"] = "template of 238";
    return files;
}

// A suite at version 237 on `server` with the tables the package fills, an old program and the
// updater. The database is made embedded, before the server opens it.
void PrepareSuite(CSuite& suite, const std::string& packedUpdater, const CPrivateServer& server) {
    suite.CreateDatabase(237);
    ExecuteStatements(
        suite.Database(),
        {"create table LOG_ROWS (N integer, NAME varchar(40))",
         "create table HOLD_ROWS (ID integer not null primary key, N integer)",
         "insert into HOLD_ROWS values (1, 0)", "insert into HOLD_ROWS values (2, 0)"});
    suite.WriteIni("[Common]\r\nPathBaseGDB=" + suite.Database() +
                   "\r\nNameServer=" + server.Name() + "\r\nTypeServer=1\r\n");
    fs::create_directories(suite.File("Reports"));
    WriteFile(suite.File("tessara.exe"), "old program");
    suite.InstallArchiver();
    // Linked, not copied: the updater only reads itself, and it is tens of megabytes.
    fs::create_hard_link(packedUpdater, suite.File("updater"));
    MakeExecutable(suite.File("updater"));
}

// A suite at version 237 whose updater carries a small package.
void PrepareConsoleSuiteForWindow(CSuite& suite) {
    suite.CreateDatabase(237);
    fs::create_directories(suite.File("Reports"));
    suite.InstallArchiver();
    suite.PackDirectories({{kPackage, ContentPackage(kPackage)}}, BuiltProgram("tessara-updater"));
}

// The built updater in console mode as a child process whose journal lines are read as they
// come.
class CUpdaterProcess {
  public:
    explicit CUpdaterProcess(const CSuite& suite) {
        int fds[2];
        if (pipe(fds) != 0) {
            throw std::runtime_error("pipe failed");
        }
        const std::string updater = suite.File("updater");
        const std::string errors = suite.Scratch("stderr.txt");
        m_pid = fork();
        if (m_pid == 0) {
            dup2(fds[1], STDOUT_FILENO);
            const int err = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(err, STDERR_FILENO);
            close(fds[0]);
            close(fds[1]);
            setenv("TMPDIR", suite.Tmp().c_str(), 1);
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            unsetenv("QT_QPA_PLATFORM");
            if (chdir("/") == 0) {
                execl(updater.c_str(), updater.c_str(), "--console", static_cast<char*>(nullptr));
            }
            _exit(127);
        }
        close(fds[1]);
        m_out = fds[0];
    }
    ~CUpdaterProcess() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            Wait();
        }
        close(m_out);
    }
    CUpdaterProcess(const CUpdaterProcess&) = delete;
    CUpdaterProcess& operator=(const CUpdaterProcess&) = delete;

    // Reads until the line in hand (written without its line end yet) or a whole line starts
    // with `text`; false at the end of the output or after five minutes.
    bool WaitForLineStart(const std::string& text) {
        const auto deadline = Clock::now() + std::chrono::minutes(5);
        while (Clock::now() < deadline) {
            if (m_pending.starts_with(text) ||
                std::any_of(m_lines.begin(), m_lines.end(),
                            [&](const std::string& line) { return line.starts_with(text); })) {
                return true;
            }
            if (!ReadSome(100)) {
                return false;
            }
        }
        return false;
    }

    // Kills the process unless it has ended, reads what it wrote before, and returns its exit
    // status: 128 + SIGKILL when the kill ended it.
    int Kill() {
        kill(m_pid, SIGKILL);
        m_status = Wait();
        m_pid = -1;
        while (ReadSome(-1)) {
        }
        return m_status;
    }

    void Signal(int number) { kill(m_pid, number); }

    // Reads the rest of the output and returns the exit status.
    int Finish() {
        while (ReadSome(-1)) {
        }
        m_status = Wait();
        m_pid = -1;
        return m_status;
    }

    const Lines& Journal() const { return m_lines; }

  private:
    // Waits up to `milliseconds` for output; false at its end.
    bool ReadSome(int milliseconds) {
        pollfd fd{m_out, POLLIN, 0};
        if (poll(&fd, 1, milliseconds) <= 0) {
            return true;  // nothing yet
        }
        char buffer[4096];
        const ssize_t got = read(m_out, buffer, sizeof buffer);
        if (got <= 0) {
            return false;
        }
        m_pending.append(buffer, static_cast<size_t>(got));
        for (size_t end; (end = m_pending.find('\n')) != std::string::npos;) {
            m_lines.push_back(m_pending.substr(0, end));
            m_pending.erase(0, end + 1);
        }
        return true;
    }

    int Wait() {
        int status = 0;
        if (m_pid <= 0 || waitpid(m_pid, &status, 0) != m_pid) {
            return m_status;
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_status = -1;
    std::string m_pending;
    Lines m_lines;
};

// What an update leaves behind that users see: the rows of every table (blobs by their
// SHA-256), the program files, and whether the updater's own ledger is still there.
Lines EndState(const CSuite& suite, const CPrivateServer& server) {
    const std::string db = server.Database(suite.Database());
    Lines state;
    const auto add = [&](const std::string& title, const Lines& rows) {
        state.push_back(title + ": " + std::to_string(rows.size()) + " rows");
        state.insert(state.end(), rows.begin(), rows.end());
    };
    add("versions", QueryColumn(db, "select data from versions"));
    add("LOG_ROWS", QueryColumn(db, "select N || ' ' || NAME from LOG_ROWS order by N, NAME"));
    add("HOLD_ROWS", QueryColumn(db, "select ID || ' ' || N from HOLD_ROWS order by ID"));
    add("ARTICLE", QueryColumn(db, "select id || ' ' || name from ARTICLE order by id"));
    for (const char* column : {"note", "note_u"}) {
        Lines hashes;
        for (const std::string& blob :
             QueryColumn(db, std::string("select ") + column + " from ARTICLE order by id")) {
            hashes.push_back(blob == "<null>" ? blob : Sha256Hex(blob));
        }
        add(column, hashes);
    }
    Lines info;
    for (const std::string& blob : QueryColumn(db, "select NOTE from INFO_DOC order by ID")) {
        info.push_back(Sha256Hex(blob));
    }
    add("INFO_DOC", info);
    add("ledger", QueryColumn(db,
                              "select RDB$RELATION_NAME from RDB$RELATIONS "
                              "where RDB$RELATION_NAME starting with 'UPD$'"));
    for (const char* file : {"tessara.exe", "Reports/list.fr3"}) {
        state.push_back(std::string(file) + " " + Sha256OfFile(suite.File(file)));
    }
    return state;
}

// "" when the states are equal, else the first line where they differ (they run to thousands).
std::string FirstDifference(const Lines& actual, const Lines& expected) {
    const size_t common = std::min(actual.size(), expected.size());
    for (size_t i = 0; i < common; ++i) {
        if (actual[i] != expected[i]) {
            return "line " + std::to_string(i) + ": \"" + actual[i] + "\" instead of \"" +
                   expected[i] + "\"";
        }
    }
    if (actual.size() != expected.size()) {
        return std::to_string(actual.size()) + " lines instead of " +
               std::to_string(expected.size());
    }
    return "";
}

// A row that the test holds and the statement of the run that then waits for it.
struct Hold {
    std::string update;   // the test's statement on the row
    std::string waiting;  // text of the run's statement that waits
};

const Hold kHoldEarly{HoldStatement(1), HoldStatement(1)};
const Hold kHoldLate{HoldStatement(2), HoldStatement(2)};
const Hold kHoldVersion{"update versions set data = data", "update versions set data = 238"};
// The documents' rows are the main script's: held once that script is over.
const Hold kHoldDocument{"update ARTICLE set name = name where id = 23808", "update ARTICLE set"};
// The package's own row in the ledger, which the run deletes when the package is complete.
const Hold kHoldLedger{"update UPD$LEDGER set PACKAGE_NO = PACKAGE_NO where SCRIPT is null",
                       "delete from UPD$LEDGER where SCRIPT is null"};

// Where a case stops the run: each row held in turn, the next one once the run waits for the
// one before (which is then let go); with `line`, after the last hold is taken, once the
// journal's line in hand starts with it.
struct StopPoint {
    const char* name;
    std::vector<Hold> holds;
    std::string line;
};

// The rows of a stop point, held in turn while the run goes on; the last stays held until
// Release.
class CHolds {
  public:
    CHolds(const CPrivateServer& server, const CSuite& suite)
        : m_database(server.Database(suite.Database())) {}

    // True once the run waits at the last hold of `point` (or, with a line, shows it).
    bool Reach(const StopPoint& point, CUpdaterProcess& run) {
        for (size_t i = 0; i < point.holds.size(); ++i) {
            const Hold& hold = point.holds[i];
            auto row = std::make_unique<CHeldRow>(m_database, hold.update);
            m_row = std::move(row);  // the row before is let go: the run moves on to this one
            const bool last = i + 1 == point.holds.size();
            if ((!last || point.line.empty()) && !WaitForStatement(m_database, hold.waiting)) {
                ADD_FAILURE() << "the run never waited for: " << hold.update;
                return false;
            }
        }
        if (!point.line.empty() && !run.WaitForLineStart(point.line)) {
            ADD_FAILURE() << "the run never showed " << point.line;
            return false;
        }
        return true;
    }

    void Release() { m_row.reset(); }

  private:
    std::string m_database;
    std::unique_ptr<CHeldRow> m_row;
};

// The server has seen a killed updater's connection go (the next updater would take it for a
// second one at work and refuse); false after five minutes.
bool UpdaterGone(const CPrivateServer& server, const CSuite& suite) {
    const auto deadline = Clock::now() + std::chrono::minutes(5);
    while (QueryColumn(server.Database(suite.Database()),
                       "select count(*) from MON$ATTACHMENTS where MON$REMOTE_PROCESS "
                       "containing 'tessara-updater'") != Lines{"0"}) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

struct Reference {
    int status = -1;
    Lines journal;
    Lines state;
};

// An uninterrupted run of the packed updater in `suite`.
Reference RunUninterrupted(const CSuite& suite, const CPrivateServer& server) {
    Reference reference;
    CUpdaterProcess run(suite);
    reference.status = run.Finish();
    reference.journal = run.Journal();
    reference.state = EndState(suite, server);
    return reference;
}

// Kills the updater at `point` in a new suite, empties the temp directory, runs the updater
// again and compares the outcome with the reference.
void KillAndRunAgain(const StopPoint& point, const std::string& packedUpdater,
                     const CPrivateServer& server, const Reference& reference) {
    SCOPED_TRACE(point.name);
    CSuite suite;
    PrepareSuite(suite, packedUpdater, server);
    {
        CUpdaterProcess run(suite);
        CHolds holds(server, suite);
        ASSERT_TRUE(holds.Reach(point, run)) << ::testing::PrintToString(run.Journal());
        ASSERT_EQ(run.Kill(), 128 + SIGKILL) << ::testing::PrintToString(run.Journal());
        holds.Release();
    }
    ASSERT_TRUE(UpdaterGone(server, suite));
    // A restart of the machine may empty the temp directory.
    ASSERT_TRUE(DeleteDirectoryContents(suite.Tmp()));

    CUpdaterProcess again(suite);
    EXPECT_EQ(again.Finish(), 0) << ReadFile(suite.Scratch("stderr.txt"))
                                 << ::testing::PrintToString(again.Journal());
    EXPECT_NE(std::find(again.Journal().begin(), again.Journal().end(), kResumeLine),
              again.Journal().end())
        << ::testing::PrintToString(again.Journal());
    EXPECT_EQ(FirstDifference(EndState(suite, server), reference.state), "");
}

}  // namespace

// One uninterrupted run of the large package, the reference that every case ends equal to.
class Interruption : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_server = std::make_unique<CPrivateServer>();
        s_suite = std::make_unique<CSuite>();
        s_packed = s_suite->Pack({{kPackage, s_suite->MakePackageDir("238", LargePackage())}},
                                 BuiltProgram("tessara-updater"), "packed");
        PrepareSuite(*s_suite, s_packed, *s_server);
        s_reference = RunUninterrupted(*s_suite, *s_server);
    }
    static void TearDownTestSuite() {
        s_suite.reset();
        s_server.reset();
    }

    void SetUp() override {
        ASSERT_EQ(s_reference.status, 0) << ::testing::PrintToString(s_reference.journal);
    }

    static std::unique_ptr<CPrivateServer> s_server;
    static std::unique_ptr<CSuite> s_suite;
    static std::string s_packed;
    static Reference s_reference;
};

std::unique_ptr<CPrivateServer> Interruption::s_server;
std::unique_ptr<CSuite> Interruption::s_suite;
std::string Interruption::s_packed;
Reference Interruption::s_reference;

TEST_F(Interruption, AKilledUpdateIsContinuedToTheStateOfAnUninterruptedOne) {
    const StopPoint points[] = {
        {"early in the statement pass", {kHoldEarly}, ""},
        {"late in the statement pass", {kHoldLate}, ""},
        {"at the version script", {kHoldVersion}, ""},
        {"in the document pass", {kHoldVersion, kHoldDocument}, ""},
        // The package cannot end while its ledger row is held: the kill comes while the
        // program is copied or right after.
        {"while copying program files",
         {kHoldVersion, kHoldDocument, kHoldLedger},
         "tessara.exe..."},
    };
    for (const StopPoint& point : points) {
        KillAndRunAgain(point, s_packed, *s_server, s_reference);
    }
}

// A request to end the program (a signal; on Windows Ctrl+C or the console closed) ends the run
// with a line that says so and exit status 5, also while a statement waits for a row; the next
// run continues it to the same end.
TEST_F(Interruption, ASignalEndsTheRunSayingSoAndTheNextRunContinuesIt) {
    struct Case {
        int signal;
        const char* name;
        StopPoint point;
    };
    for (const Case& point :
         {Case{SIGTERM, "SIGTERM", {"in the statement pass", {kHoldEarly}, ""}},
          Case{SIGINT, "SIGINT", {"at the version script", {kHoldVersion}, ""}},
          Case{SIGHUP,
               "SIGHUP",
               {"after the program files", {kHoldVersion, kHoldDocument, kHoldLedger}, ""}}}) {
        SCOPED_TRACE(point.name);
        CSuite suite;
        PrepareSuite(suite, s_packed, *s_server);
        CUpdaterProcess run(suite);
        CHolds holds(*s_server, suite);
        ASSERT_TRUE(holds.Reach(point.point, run)) << ::testing::PrintToString(run.Journal());
        run.Signal(point.signal);
        // The waiting statement is cancelled: the run ends while the row is still held.
        EXPECT_EQ(run.Finish(), 5) << ::testing::PrintToString(run.Journal());
        holds.Release();
        const std::string line =
            "Оновлення перервано (" + std::string(point.name) +
            "). Запустіть програму оновлення ще раз: вона продовжить оновлення";
        ASSERT_FALSE(run.Journal().empty());
        EXPECT_EQ(run.Journal().back(), line);
        const Lines errors = SplitLines(ReadFile(suite.Scratch("stderr.txt")));
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(errors.back(), "Код завершення 5: " + line);
        const std::string record = ReadFile(suite.File("tessara-updater.log"));
        EXPECT_NE(record.find("[outcome] interrupted by " + std::string(point.name) +
                              ", exit status 5\n"),
                  std::string::npos)
            << record;

        CUpdaterProcess again(suite);
        EXPECT_EQ(again.Finish(), 0)
            << ReadFile(suite.Scratch("stderr.txt")) << ::testing::PrintToString(again.Journal());
        EXPECT_EQ(FirstDifference(EndState(suite, *s_server), s_reference.state), "");
    }
}

// The window that waits for its button ends at a signal, with the status of an interrupted run.
TEST(InterruptedWindow, ASignalClosesTheWaitingWindowWithStatusFive) {
    CSuite suite;
    PrepareConsoleSuiteForWindow(suite);
    const std::string status = suite.Scratch("status.txt");
    const std::string record = suite.File("tessara-updater.log");
    // The window is admitted once the record has its package line (the checks write it when
    // they are over); then it waits for its button, and a signal that came before its event
    // loop started is taken up there.
    const std::string script = "cd /; QT_QPA_PLATFORM=offscreen TMPDIR=" + ShellQuote(suite.Tmp()) +
                               " " + ShellQuote(suite.File("updater")) + " & pid=$!; " +
                               "for i in $(seq 1 1200); do grep -q '238_RAR \\[OK\\]' " +
                               ShellQuote(record) +
                               " 2>/dev/null && break; sleep 0.05; done; kill -TERM $pid; "
                               "wait $pid; echo $? >" +
                               ShellQuote(status);
    const auto start = Clock::now();
    RunShell("bash -c " + ShellQuote(script));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(60));
    EXPECT_EQ(ReadFile(status), "5\n");
    const std::string text = ReadFile(record);
    EXPECT_NE(text.find("238_RAR [OK]"), std::string::npos) << text;
    EXPECT_EQ(QueryColumn(suite.Database(), "select data from versions"),
              (std::vector<std::string>{"237"}));
}

namespace {

// Waits up to `seconds` for the process to end; its exit status (128 + the signal when one
// ended it), or -1 when it is still running then.
int WaitForExit(pid_t pid, int seconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < deadline) {
        int status = 0;
        const pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
}

}  // namespace

// A message box that the window shows while its checks run (here: another updater holds the
// shared work directory) is closed by a signal, and the window ends with status 5, its record
// finished.
TEST(InterruptedWindow, ASignalClosesAMessageBoxAndTheWindowWithStatusFive) {
    CSuite suite;
    PrepareConsoleSuiteForWindow(suite);
    CFileLock workLock;
    ASSERT_TRUE(workLock.TryAcquire(suite.WorkDir() + kLockFileEnding));
    const std::string record = suite.File("tessara-updater.log");
    const std::string updater = suite.File("updater");
    const std::string tmp = suite.Tmp();
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("TMPDIR", tmp.c_str(), 1);
        if (chdir("/") == 0) {
            execl(updater.c_str(), updater.c_str(), static_cast<char*>(nullptr));
        }
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    // The box is up once the record has it: the record is written before a box shows.
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (ReadFile(record).find("[message] Інша програма оновлення вже працює у спільному") ==
               std::string::npos &&
           Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid, SIGTERM);
    int status = WaitForExit(pid, 30);
    if (status == -1) {
        kill(pid, SIGKILL);
        WaitForExit(pid, 30);
    }
    EXPECT_EQ(status, 5) << "the box was still open 30 s after SIGTERM";
    const std::string text = ReadFile(record);
    EXPECT_NE(text.find("[outcome] refused: another updater is running (exit status 2 in "
                        "console mode)\n"),
              std::string::npos)
        << text;
}

// A second request to end the program ends it at once, and standard error says why first. The
// first request cannot end it: the checks wait for a server that never answers its connection.
TEST(InterruptedConsole, ASecondSignalEndsAtOnceWithItsReasonLine) {
    CSuite suite;
    suite.PackDirectories({{kPackage, ContentPackage(kPackage)}}, BuiltProgram("tessara-updater"));
    CSilentServer server;
    suite.WriteIni("[Common]\r\nPathBaseGDB=/srv/lib.gdb\r\nNameServer=127.0.0.1/" +
                   std::to_string(server.Port()) + "\r\nTypeServer=1\r\n");
    CUpdaterProcess run(suite);
    // The database's line is shown, without its line end, while the connection waits: only the
    // end of that wait would end it.
    ASSERT_TRUE(run.WaitForLineStart("/srv/lib.gdb")) << ::testing::PrintToString(run.Journal());
    run.Signal(SIGTERM);
    run.Signal(SIGINT);
    const int status = run.Finish();
    // Taken in either order: the second one taken ends the program.
    ASSERT_TRUE(status == 128 + SIGTERM || status == 128 + SIGINT) << status;
    const std::string second = status == 128 + SIGTERM ? "SIGTERM" : "SIGINT";
    const Lines errors = SplitLines(ReadFile(suite.Scratch("stderr.txt")));
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back(), "Код завершення " + std::to_string(status) +
                                 ": програму завершено одразу другим запитом (" + second +
                                 "), не дочекавшись кінця кроку. Запустіть програму оновлення "
                                 "ще раз: вона продовжить оновлення");
}

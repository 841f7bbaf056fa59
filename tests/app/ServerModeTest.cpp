// The pre-flight in server mode against a private Firebird server on loopback: the suite's main
// program or another updater attached from anywhere stops the update; other clients do not.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

#include "app/Preflight.h"
#include "app/Snapshot.h"
#include "app/Undo.h"
#include "app/UpdateDriver.h"
#include "db/Attachment.h"
#include "db/Uglobdb.h"
#include "platform/Clock.h"
#include "tests/app/RecordingWindow.h"
#include "tests/app/Suite.h"
#include "tests/support/HoldingProxy.h"
#include "tests/support/SilentServer.h"

namespace fs = std::filesystem;

namespace {

const std::string kServerScript = std::string(TESSARA_SOURCE_DIR) + "/scripts/firebird_server.sh";
const char kServerPassword[] = "pinewheat";  // the session's default administrator password

class ServerMode : public testing::Test {
  protected:
    void SetUp() override {
        // Made embedded before the server starts: the two must never hold the file at once.
        suite.CreateDatabase(237);
        WriteFile(suite.Scratch("package.rar"), "Rar!\x1a\x07");
        suite.Pack({{238, suite.Scratch("package.rar")}});
        std::mt19937 random(std::random_device{}());
        for (int attempt = 0; attempt < 5 && m_port == 0; ++attempt) {
            const int port = 20000 + static_cast<int>(random() % 40000);
            if (RunShell("bash " + ShellQuote(kServerScript) + " start " + ShellQuote(ServerDir()) +
                         " " + std::to_string(port) + " >/dev/null 2>&1") == 0) {
                m_port = port;
            }
        }
        ASSERT_NE(m_port, 0) << "the private Firebird server did not start";
        m_server = "localhost/" + std::to_string(m_port);
        suite.WriteIni("[Common]\r\nPathBaseGDB=" + suite.Database() +
                       "\r\nNameServer=" + m_server + "\r\nTypeServer=1\r\n");
    }

    void TearDown() override {
        RunShell("bash " + ShellQuote(kServerScript) + " stop " + ShellQuote(ServerDir()));
    }

    std::string ServerDir() const { return suite.Scratch("server"); }

    // Another client attached through the server under the given process name.
    std::unique_ptr<CAttachment> AttachAs(const std::string& processName, int processId = 4242) {
        auto attachment = std::make_unique<CAttachment>();
        attachment->Attach(m_server + ":" + suite.Database(), "SYSDBA", kServerPassword,
                           CClientIdentity{processName, processId});
        return attachment;
    }

    // The pre-flight of a fresh driver; returns its journal.
    std::vector<std::string> Preflight(PreflightOutcome expected) {
        window = CRecordingWindow();
        CUpdateDriver driver(window, suite.Paths());
        driver.FormShow();
        EXPECT_EQ(driver.LastPreflight(), expected);
        return window.journal;
    }

    // A fresh driver past its checks, once the server has let go of the earlier run's
    // connection (it notices a dead client in its own time: polled, two minutes at most).
    std::unique_ptr<CUpdateDriver> AdmittedOnceTheEarlierRunIsGone() {
        const double deadline = MonotonicSeconds() + 120;
        for (;;) {
            window = CRecordingWindow();
            auto driver = std::make_unique<CUpdateDriver>(window, suite.Paths());
            driver->FormShow();
            const PreflightOutcome outcome = driver->LastPreflight();
            if ((outcome != PreflightOutcome::SuiteRunning &&
                 outcome != PreflightOutcome::UpdaterAttached) ||
                MonotonicSeconds() > deadline) {
                return driver;
            }
            driver.reset();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }

    CSuite suite;
    CRecordingWindow window;
    int m_port = 0;
    std::string m_server;
};

}  // namespace

TEST_F(ServerMode, SuiteOrAnotherUpdaterAttachedElsewhereStopsThePreflight) {
    const std::vector<std::string> head = {"Перевірка запущенної програми...OK",
                                           "Підключення до бази даних", suite.Database()};
    // Another client of the database is no reason to stop.
    const auto tool = AttachAs("/usr/bin/isql-fb");
    EXPECT_EQ(Preflight(PreflightOutcome::Admitted),
              Concat(head, {"Версія бази даних: 237", "Наявні пакети оновлення:", "238_RAR [OK]"}));
    EXPECT_TRUE(window.boxes.empty());

    for (const std::string& program : {std::string("C:\\Program Files\\Tessara\\TESSARA.EXE")}) {
        SCOPED_TRACE(program);
        const auto other = AttachAs(program);
        const std::vector<std::string> journal = Preflight(PreflightOutcome::SuiteRunning);
        ASSERT_EQ(journal.size(), 6u);
        EXPECT_EQ(std::vector<std::string>(journal.begin(), journal.begin() + 3), head);
        EXPECT_EQ(journal[3], "Программа запущена");
        // The host is the name that the client gave for its machine, this one.
        const std::string image = program.substr(program.find_last_of('\\') + 1);
        char host[256] = {};
        ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
        EXPECT_EQ(journal[4],
                  "Підключені до бази даних: " + std::string(host) + " (" + image + ")");
        EXPECT_EQ(journal[5], "Оновлення не можливо!!!");
        ASSERT_EQ(window.boxes.size(), 1u);
        EXPECT_EQ(window.boxes[0].kind, MessageKind::Warning);
        EXPECT_EQ(window.boxes[0].title, "Warning");
        EXPECT_EQ(window.boxes[0].text,
                  "ПК Тессара запущена. Будь ласка, закрийте програму та перезапустіть "
                  "оновлення!");
        EXPECT_FALSE(window.btOK().IsEnabled());
    }
}

TEST_F(ServerMode, AnotherUpdatersConnectionIsNamedInsteadOfTheSuite) {
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    const std::vector<std::string> head = {
        "Перевірка запущенної програми...OK", "Підключення до бази даних", suite.Database(),
        "Підключені до бази даних: " + std::string(host) + " (" + kUpdaterProcessName + ")",
        "Оновлення не можливо!!!"};
    // The client names its own process to the server: this one, which runs. It may be another
    // installation's updater at work (a dead one is told apart by EarlierUpdater.*).
    const int self = static_cast<int>(getpid());
    struct Case {
        int processId;
        std::string opening;
        std::string verdict;
    };
    const Case cases[] = {
        {self, "До бази даних підключена інша програма оновлення: ",
         "Якщо там оновлення ще триває, дочекайтеся його завершення"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.processId);
        const auto earlier = AttachAs(kUpdaterProcessName, c.processId);
        window = CRecordingWindow();
        CUpdateDriver driver(window, suite.Paths());
        driver.FormShow();
        EXPECT_EQ(driver.LastPreflight(), PreflightOutcome::UpdaterAttached);
        EXPECT_EQ(driver.ExitStatus(), 2);
        EXPECT_EQ(window.journal, head);
        ASSERT_EQ(window.boxes.size(), 1u);
        const std::string& text = window.boxes[0].text;
        const std::string found = c.opening + "з'єднання з комп'ютера " + host + ", процес " +
                                  std::to_string(c.processId) + ", від ";
        EXPECT_EQ(text.rfind(found, 0), 0u) << text;
        EXPECT_NE(text.find(c.verdict), std::string::npos) << text;
        EXPECT_NE(text.find("(MON$ATTACHMENT_ID "), std::string::npos) << text;
        EXPECT_NE(text.find("адміністратор бази даних може закрити його зараз. Після цього "
                            "перезапустіть оновлення!"),
                  std::string::npos)
            << text;
        EXPECT_EQ(text.find("ПК Тессара запущена"), std::string::npos) << text;
        EXPECT_EQ(driver.ExitReason(), text);
    }
}

TEST(EarlierUpdater, OneFromAnotherMachineMayBeAtWork) {
    CAttachmentInfo elsewhere;
    elsewhere.host = "WS-7";
    elsewhere.processId = 512;
    elsewhere.id = 31;
    elsewhere.since = "2026-12-09 10:00:00";
    const std::string text = EarlierUpdaterText({elsewhere}, "ws-1", [](int) { return false; });
    EXPECT_EQ(text.rfind("До бази даних підключена інша програма оновлення: з'єднання з "
                         "комп'ютера WS-7, процес 512, від 2026-12-09 10:00:00 "
                         "(MON$ATTACHMENT_ID 31). Якщо там оновлення ще триває",
                         0),
              0u)
        << text;
    // The same from this machine, its process gone: dead, since this run holds the suite's
    // lock; its process still there: it may be at work.
    EXPECT_EQ(EarlierUpdaterText({elsewhere}, "ws-7", [](int) { return false; })
                  .rfind("До бази даних досі підключена попередня програма оновлення: з'єднання "
                         "з комп'ютера WS-7, процес 512",
                         0),
              0u);
    EXPECT_NE(EarlierUpdaterText({elsewhere}, "ws-7", [](int) { return false; })
                  .find("може бути лише мертвим"),
              std::string::npos);
    EXPECT_EQ(EarlierUpdaterText({elsewhere}, "ws-7", [](int id) { return id == 512; })
                  .find("може бути лише мертвим"),
              std::string::npos);
    // One of two that may be at work: no verdict of death for both.
    CAttachmentInfo dead = elsewhere;
    dead.processId = 513;
    EXPECT_EQ(EarlierUpdaterText({dead, elsewhere}, "ws-7", [](int id) { return id == 512; })
                  .find("може бути лише мертвим"),
              std::string::npos);
}

// A server that takes the connection and never answers, and an address where nothing answers at
// all (whose client would wait for the system's connect timeout, about two minutes on Linux).
class ServerSilence : public ::testing::TestWithParam<CSilentServer::Handshakes> {};

TEST_P(ServerSilence, NothingThatAnswersEndsTheChecksAfterTheConnectTimeout) {
    CSuite suite;
    WriteFile(suite.Scratch("package.rar"), "Rar!\x1a\x07");
    suite.Pack({{238, suite.Scratch("package.rar")}});
    CSilentServer server(GetParam());
    const std::string name = "127.0.0.1/" + std::to_string(server.Port());
    suite.WriteIni("[Common]\r\nPathBaseGDB=/srv/lib.gdb\r\nNameServer=" + name +
                   "\r\nTypeServer=1\r\n");
    CRecordingWindow window;
    CUpdateDriver driver(window, suite.Paths());
    driver.SetServerTimeouts(2, 1);
    const double start = MonotonicSeconds();
    driver.FormShow();
    const double took = MonotonicSeconds() - start;
    EXPECT_GE(took, 1.5);
    EXPECT_LT(took, 10);
    EXPECT_EQ(driver.LastPreflight(), PreflightOutcome::Failed);
    EXPECT_EQ(driver.ExitStatus(), 2);
    EXPECT_EQ(window.journal,
              (std::vector<std::string>{"Перевірка запущенної програми...OK",
                                        "Підключення до бази даних", "/srv/lib.gdb",
                                        "error: сервер бази даних не відповідає понад 2 с"}));
    ASSERT_EQ(window.boxes.size(), 1u);
    // Nothing answered: no English words of the client's timer that say otherwise.
    EXPECT_EQ(window.boxes[0].text,
              "Не вдалося підключитися до бази даних " + name +
                  ":/srv/lib.gdb: сервер бази даних не відповідає понад 2 с: немає відповіді; "
                  "сервер не працює, перевантажений або недосяжний через мережу.");
    // The window answered all the while.
    ASSERT_FALSE(window.pumps.empty());
    double longest = window.pumps.front().began - start;
    for (size_t i = 1; i < window.pumps.size(); ++i) {
        longest = std::max(longest, window.pumps[i].began - window.pumps[i - 1].ended);
    }
    EXPECT_LT(longest, 0.5);
}

INSTANTIATE_TEST_SUITE_P(
    Handshakes, ServerSilence,
    ::testing::Values(CSilentServer::Handshakes::Accepted, CSilentServer::Handshakes::Dropped),
    [](const ::testing::TestParamInfo<CSilentServer::Handshakes>& info) -> std::string {
        return info.param == CSilentServer::Handshakes::Accepted ? "Accepted" : "Dropped";
    });

TEST_F(ServerMode, ServerThatStopsAnsweringEndsTheRunAndTheNextRunContinuesIt) {
    // Enough statements that the pass lasts while the server is stopped under it.
    PackageFiles files = ContentPackage(238);
    std::string script;
    for (int n = 1; n <= 2000; ++n) {
        script += "insert into LOG_ROWS (N) values (" + std::to_string(n) + ");\r\n";
    }
    files["up.2026.05.03.lsql"] = script + files["up.2026.05.03.lsql"];
    RunShell("bash " + ShellQuote(kServerScript) + " stop " + ShellQuote(ServerDir()));
    ExecuteStatements(suite.Database(), {"create table LOG_ROWS (N integer)"});
    ASSERT_EQ(RunShell("bash " + ShellQuote(kServerScript) + " start " + ShellQuote(ServerDir()) +
                       " " + std::to_string(m_port) + " >/dev/null 2>&1"),
              0);
    fs::create_directories(suite.File("Reports"));
    suite.InstallArchiver();
    suite.PackDirectories({{238, files}}, BuiltProgram("rar"));
    const pid_t serverPid = std::stoi(ReadFile(ServerDir() + "/server.pid"));

    auto driver = std::make_unique<CUpdateDriver>(window, suite.Paths());
    driver->SetServerTimeouts(2, 1);
    driver->FormShow();
    ASSERT_EQ(driver->LastPreflight(), PreflightOutcome::Admitted);
    bool stopped = false;
    window.whilePumping = [&] {
        if (!stopped && !window.journal.empty() && window.journal.back() == "up.2026.05.03.lsql") {
            kill(serverPid, SIGSTOP);  // frozen, not down: the connection stays open
            stopped = true;
        }
    };
    const double start = MonotonicSeconds();
    driver->btOKClick();
    const double took = MonotonicSeconds() - start;
    kill(serverPid, SIGCONT);
    ASSERT_TRUE(stopped);
    EXPECT_LT(took, 20);
    EXPECT_EQ(driver->LastRun(), RunOutcome::Failed);
    EXPECT_EQ(driver->FailureCode(), kServerNotAnswering);
    EXPECT_EQ(driver->ExitStatus(), 1);
    ASSERT_GE(window.journal.size(), 2u);
    const std::string& silent = window.journal[window.journal.size() - 2];
    EXPECT_EQ(silent.rfind("error: сервер бази даних не відповідає понад ", 0), 0u) << silent;
    EXPECT_NE(silent.find("Запустіть програму оновлення ще раз"), std::string::npos) << silent;
    EXPECT_EQ(window.journal.back(), "Помилка при оновлені: -4");
    driver.reset();

    // Run again once the server answers (and has noticed that the first run went away).
    window.whilePumping = nullptr;
    driver = AdmittedOnceTheEarlierRunIsGone();
    ASSERT_EQ(driver->LastPreflight(), PreflightOutcome::Admitted)
        << ::testing::PrintToString(window.journal);
    driver->btOKClick();
    EXPECT_EQ(driver->ExitStatus(), 0) << ::testing::PrintToString(window.journal);
    driver.reset();
    RunShell("bash " + ShellQuote(kServerScript) + " stop " + ShellQuote(ServerDir()));
    // Every statement once: none lost with the connection, none applied twice.
    EXPECT_EQ(QueryColumn(suite.Database(), "select count(*) from LOG_ROWS"),
              (std::vector<std::string>{"2000"}));
    EXPECT_EQ(QueryColumn(suite.Database(), "select count(distinct N) from LOG_ROWS"),
              (std::vector<std::string>{"2000"}));
    EXPECT_EQ(QueryColumn(suite.Database(), "select data from versions"),
              (std::vector<std::string>{"238"}));
}

TEST_F(ServerMode, ConnectionThatCarriesNothingWhileTheServerAnswersEndsTheRun) {
    // The updater's connection goes through a proxy that stops carrying it half-way through the
    // script, while the server goes on answering every new connection (the probe's included).
    PackageFiles files = ContentPackage(238);
    std::string script;
    for (int n = 1; n <= 2000; ++n) {
        script += "insert into LOG_ROWS (N) values (" + std::to_string(n) + ");\r\n";
    }
    files["up.2026.05.03.lsql"] = script + files["up.2026.05.03.lsql"];
    RunShell("bash " + ShellQuote(kServerScript) + " stop " + ShellQuote(ServerDir()));
    ExecuteStatements(suite.Database(), {"create table LOG_ROWS (N integer)"});
    ASSERT_EQ(RunShell("bash " + ShellQuote(kServerScript) + " start " + ShellQuote(ServerDir()) +
                       " " + std::to_string(m_port) + " >/dev/null 2>&1"),
              0);
    fs::create_directories(suite.File("Reports"));
    suite.InstallArchiver();
    suite.PackDirectories({{238, files}}, BuiltProgram("rar"));
    CHoldingProxy proxy(m_port);
    suite.WriteIni("[Common]\r\nPathBaseGDB=" + suite.Database() + "\r\nNameServer=127.0.0.1/" +
                   std::to_string(proxy.Port()) + "\r\nTypeServer=1\r\n");

    auto driver = std::make_unique<CUpdateDriver>(window, suite.Paths());
    driver->SetServerTimeouts(2, 1);
    driver->FormShow();
    ASSERT_EQ(driver->LastPreflight(), PreflightOutcome::Admitted)
        << ::testing::PrintToString(window.journal);
    double heldAt = 0;
    bool dropped = false;
    window.whilePumping = [&] {
        if (heldAt == 0 && !window.journal.empty() &&
            window.journal.back() == "up.2026.05.03.lsql") {
            proxy.HoldFirst();  // the updater's own connection was the first to carry data
            heldAt = MonotonicSeconds();
        } else if (heldAt != 0 && !dropped && MonotonicSeconds() - heldAt > 40) {
            // A run that waits this long would wait for ever: closing the connection ends it,
            // and the time it took fails the test.
            proxy.DropFirst();
            dropped = true;
        }
    };
    driver->btOKClick();
    const double took = MonotonicSeconds() - heldAt;
    ASSERT_NE(heldAt, 0);
    EXPECT_FALSE(dropped);
    EXPECT_LT(took, 20);
    EXPECT_EQ(driver->LastRun(), RunOutcome::Failed) << ::testing::PrintToString(window.journal);
    EXPECT_EQ(driver->FailureCode(), kServerNotAnswering);
    EXPECT_EQ(driver->ExitStatus(), 1);
    ASSERT_GE(window.journal.size(), 2u);
    const std::string& silent = window.journal[window.journal.size() - 2];
    EXPECT_EQ(silent.rfind("error: сервер бази даних не відповідає понад ", 0), 0u) << silent;
    EXPECT_NE(silent.find("Запустіть програму оновлення ще раз"), std::string::npos) << silent;
    EXPECT_EQ(window.journal.back(), "Помилка при оновлені: -4");
    driver.reset();

    // The flow comes back to life closed (as a NAT's does); the next run continues the package.
    proxy.DropFirst();
    window.whilePumping = nullptr;
    driver = AdmittedOnceTheEarlierRunIsGone();
    ASSERT_EQ(driver->LastPreflight(), PreflightOutcome::Admitted)
        << ::testing::PrintToString(window.journal);
    driver->btOKClick();
    EXPECT_EQ(driver->ExitStatus(), 0) << ::testing::PrintToString(window.journal);
    driver.reset();
    RunShell("bash " + ShellQuote(kServerScript) + " stop " + ShellQuote(ServerDir()));
    EXPECT_EQ(QueryColumn(suite.Database(), "select count(*) from LOG_ROWS"),
              (std::vector<std::string>{"2000"}));
    EXPECT_EQ(QueryColumn(suite.Database(), "select count(distinct N) from LOG_ROWS"),
              (std::vector<std::string>{"2000"}));
}

// With a server the undo finds who else is attached: any other program would go on working in
// the database being undone. It refuses before it restores anything.
TEST_F(ServerMode, UndoRefusedWhileAnotherProgramIsAttached) {
    SnapshotManifest manifest;
    manifest.stamp = "2026-05-03_142205";
    manifest.version = 237;
    manifest.server = m_server;
    manifest.database = suite.Database();
    manifest.backup = suite.Scratch("lib.v237.2026-05-03_142205.tessara-snapshot.fbk");
    manifest.directory = suite.File(std::string(kSnapshotsFolderName) + "/2026-05-03_142205_v237");
    fs::create_directories(manifest.directory);
    WriteManifest(manifest);
    const std::string ini = ReadFile(suite.File("lib.ini"));

    const auto tool = AttachAs("/usr/bin/isql-fb");
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunUndo(suite.Paths(), out, err), 2);
    EXPECT_NE(out.str().find("Підключені до бази даних: "), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("isql-fb)"), std::string::npos) << out.str();
    EXPECT_NE(err.str().find("Код завершення 2: до бази даних підключені: "), std::string::npos)
        << err.str();
    EXPECT_EQ(ReadFile(suite.File("lib.ini")), ini);
    const std::vector<SnapshotManifest> snapshots = ListSnapshots(suite.Dir());
    ASSERT_EQ(snapshots.size(), 1u);
    EXPECT_TRUE(snapshots[0].restoredInto.empty());
    EXPECT_EQ(snapshots[0].restoreAttempt, 0);
}

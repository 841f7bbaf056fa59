// The pre-flight in server mode against a private Firebird server on loopback: the suite's main
// program or another updater attached from anywhere stops the update; other clients do not.

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <random>

#include "app/UpdateDriver.h"
#include "db/Attachment.h"
#include "db/Uglobdb.h"
#include "tests/app/RecordingWindow.h"
#include "tests/app/Suite.h"

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
    std::unique_ptr<CAttachment> AttachAs(const std::string& processName) {
        auto attachment = std::make_unique<CAttachment>();
        attachment->Attach(m_server + ":" + suite.Database(), "SYSDBA", kServerPassword,
                           CClientIdentity{processName, 4242});
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

    for (const std::string& program : {std::string("C:\\Program Files\\Tessara\\TESSARA.EXE"),
                                       std::string(kUpdaterProcessName)}) {
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

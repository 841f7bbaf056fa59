#include "app/Preflight.h"

#include <optional>
#include <stdexcept>
#include <vector>

#include "app/EngineFiles.h"
#include "app/ErrorText.h"
#include "db/Uglobdb.h"
#include "install/PackageLedger.h"
#include "platform/EmbeddedItems.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Processes.h"
#include "platform/SystemError.h"
#include "platform/Text.h"

namespace {

const char kSuiteRunningWarning[] =
    "ПК Тессара запущена. Будь ласка, закрийте програму та перезапустіть оновлення!";

}  // namespace

void RequireWritableDirectory(const std::string& directory) {
    try {
        CheckCanCreateFilesIn(directory);
    } catch (const CSystemError& error) {
        throw std::runtime_error("Немає права на запис до каталогу комплексу " + directory + ": " +
                                 SystemMessage(error.Code()) +
                                 ". Оновлення нічого не змінило. Запустіть його від імені "
                                 "адміністратора або користувача, який може змінювати цей "
                                 "каталог");
    }
}

CPreflight::CPreflight(IOwner& owner, CRunJournal& journal, IUpdaterWindow& window,
                       CGlobDB& session, CPackageLedger& ledger, const StartupPaths& paths,
                       const CConfig& config)
    : m_owner(owner),
      m_journal(journal),
      m_window(window),
      m_session(session),
      m_ledger(ledger),
      m_paths(paths),
      m_config(config) {}

PreflightOutcome CPreflight::Run(const std::function<void()>& connect) {
    m_owner.AppendLine("Перевірка запущенної програми...");
    if (IsProcessRunning(m_paths.suiteImageName)) {
        RefuseSuiteRunning("");
        return PreflightOutcome::SuiteRunning;
    }
    m_owner.MarkLastLine("OK");

    m_owner.AppendLine("Підключення до бази даних");
    m_owner.AppendLine(m_config.databasePath);
    ConnectSuiteDatabase(m_config, m_paths.programDirectory, connect);
    if (m_config.serverType != 0) {
        if (const PreflightOutcome attached = RefuseIfAttachedElsewhere();
            attached != PreflightOutcome::Admitted) {
            return attached;
        }
    }
    m_owner.RunBlocking([&] { m_databaseVersion = m_session.GetVersion(); });
    m_window.lCurVer().SetCaption(std::to_string(m_databaseVersion));
    m_owner.AppendLine("Версія бази даних: " + std::to_string(m_databaseVersion));
    // A package that a run began and did not finish comes first, whatever the version says:
    // its version script may have run already. A ledger that a completed package left behind
    // is dropped, and said so before the packages' lines (the last of them takes the version
    // gate's mark).
    std::optional<LedgerPackage> unfinished;
    std::optional<CPackageLedger::Leftover> leftover;
    m_owner.RunBlocking([&] {
        unfinished = m_ledger.Unfinished();
        if (!unfinished) {
            leftover = m_ledger.ClearLeftover();
        }
    });
    if (leftover) {
        SayLeftoverCleared(*leftover);
    }

    m_owner.AppendLine("Наявні пакети оновлення:");
    const std::string damaged = "Програма оновлення " + m_paths.executablePath + " пошкоджена: ";
    const CEmbeddedItems items = [&] {
        try {
            return CEmbeddedItems(m_paths.executablePath);
        } catch (const CEmbeddedItemsError& error) {
            throw CEmbeddedItemsError(damaged + error.what());
        }
    }();
    const std::vector<std::string> packageNames = PackageNames(items.Names());
    if (packageNames.empty()) {
        // Packing refuses an updater without packages: this one was cut short at the end of
        // its program, or its packages were stripped. "Nothing to install" would be false.
        throw CEmbeddedItemsError(damaged + "вона не містить жодного пакета оновлення");
    }
    m_packages = DiscoverPackages(packageNames, m_owner, m_window.lActVer());

    if (unfinished) {
        return ResumeGate(*unfinished, items);
    }
    // Compared in 64 bits, so that the highest possible version does not wrap round to "older".
    const int64_t version = m_databaseVersion;
    m_firstPackage = version + 1;
    if (version + 1 < m_packages.lowest) {
        m_owner.AppendLine("Версія БД меньше номеру пакета оновлень");
        RefuseUpdate();
        return PreflightOutcome::DatabaseTooOld;
    }
    if (version < m_packages.highest) {
        m_owner.MarkLastLine(" [OK]");
        m_window.btOK().SetEnabled(true);
        return PreflightOutcome::Admitted;
    }
    m_owner.AppendLine("Версія БД більша за номер пакета оновлень");
    RefuseUpdate();
    return PreflightOutcome::NothingToInstall;
}

PreflightOutcome CPreflight::ResumeGate(const LedgerPackage& unfinished,
                                        const CEmbeddedItems& items) {
    const std::string number = std::to_string(unfinished.number);
    const EmbeddedItem* item = items.Find(PackageItemName(unfinished.number));
    const int64_t version = m_databaseVersion;
    std::string reason;
    if (item == nullptr) {
        reason = "Незавершеного пакета " + number + " немає в цій програмі оновлення";
    } else if (item->sha256 != unfinished.sha256) {
        reason = "Незавершений пакет " + number + " відрізняється від пакета цієї програми";
    } else if (version + 1 < unfinished.number || version > unfinished.number) {
        reason = "Версія БД не відповідає незавершеному пакету " + number;
    }
    if (!reason.empty()) {
        // Starting the package afresh would apply its statements a second time.
        m_owner.AppendLine(reason);
        RefuseUpdate();
        m_journal.ShowError("Оновлення пакетом " + number +
                            " було перервано. Продовжити його може лише програма оновлення з "
                            "тим самим пакетом " +
                            number + " (SHA-256 " + unfinished.sha256 + ")");
        return PreflightOutcome::UnfinishedElsewhere;
    }
    m_owner.MarkLastLine(" [OK]");
    m_owner.AppendLine("Пакет " + number + " встановлено не до кінця: його буде продовжено");
    m_firstPackage = unfinished.number;
    m_window.btOK().SetEnabled(true);
    return PreflightOutcome::Admitted;
}

void CPreflight::SayLeftoverCleared(const CPackageLedger::Leftover& leftover) {
    // A run whose last package completed while another connection had the ledger in use (or
    // that was ended while it waited for it) left the table behind: the package is complete,
    // and nothing of it is to be continued.
    const std::string table =
        "Таблицю UPD$LEDGER завершеного пакета" +
        (leftover.package != 0 ? " " + std::to_string(leftover.package) : std::string());
    m_owner.AppendLine(leftover.notDropped.empty()
                           ? table + " видалено"
                           : table + " не видалено (" + OneLine(leftover.notDropped) + ")");
}

void CPreflight::RefuseLocked(const std::string& reason) {
    // The window says why it stays empty; the box says what to do.
    m_owner.AppendLine(reason);
    RefuseUpdate();
    m_journal.ShowError(reason + ". Дочекайтеся її завершення та перезапустіть оновлення!");
}

bool CPreflight::RefuseIfSuiteRunning() {
    if (IsProcessRunning(m_paths.suiteImageName)) {
        RefuseSuiteRunning("");
        return true;
    }
    return m_config.serverType != 0 && RefuseIfAttachedElsewhere() != PreflightOutcome::Admitted;
}

void CPreflight::RefuseSuiteRunning(const std::string& where) {
    m_owner.AppendLine("Программа запущена");
    if (!where.empty()) {
        m_owner.AppendLine("Підключені до бази даних: " + where);
    }
    RefuseUpdate();
    m_journal.ShowBox(MessageKind::Warning, "Warning", kSuiteRunningWarning);
}

void CPreflight::RefuseUpdate() {
    m_owner.AppendLine("Оновлення не можливо!!!");
    m_window.btOK().SetEnabled(false);
}

PreflightOutcome CPreflight::RefuseIfAttachedElsewhere() {
    // The process check sees this machine only; the server knows every workstation's program.
    std::string where;
    bool suite = false;
    std::vector<CAttachmentInfo> updaters;
    std::vector<CAttachmentInfo> attachments;
    m_owner.RunBlocking([&] { attachments = m_session.OtherAttachments(); });
    for (const CAttachmentInfo& attachment : attachments) {
        // The client's process path may come from Windows or POSIX.
        const std::string image = ExtractFileNameAnySeparator(attachment.process);
        if (EqualsIgnoreAsciiCase(image, kSuiteImageName)) {
            suite = true;
        } else if (EqualsIgnoreAsciiCase(image, kUpdaterProcessName)) {
            updaters.push_back(attachment);
        } else {
            continue;
        }
        where += (where.empty() ? "" : ", ") +
                 (attachment.host.empty() ? image : attachment.host + " (" + image + ")");
    }
    if (where.empty()) {
        return PreflightOutcome::Admitted;
    }
    if (suite) {
        RefuseSuiteRunning(where);
        return PreflightOutcome::SuiteRunning;
    }
    // Only updaters: blaming the suite would send the user to close a program that does not run.
    m_owner.AppendLine("Підключені до бази даних: " + where);
    RefuseUpdate();
    m_journal.ShowBox(MessageKind::Warning, "Warning",
                      EarlierUpdaterText(updaters, LocalHostName(), IsProcessIdRunning));
    return PreflightOutcome::UpdaterAttached;
}

std::string EarlierUpdaterText(const std::vector<CAttachmentInfo>& updaters,
                               const std::string& localHost,
                               const std::function<bool(int)>& isProcessRunning) {
    // This run holds the suite's lock, which every updater of the suite holds while it runs:
    // an updater's connection from this machine whose process is gone is what a killed or
    // stopped updater left, and can only be dead. From another machine (an installation of the
    // suite of its own) or with its process still there, the updater may still be at work.
    bool allDead = true;
    std::string found;
    for (const CAttachmentInfo& updater : updaters) {
        const bool here = !updater.host.empty() && EqualsIgnoreAsciiCase(updater.host, localHost);
        allDead = allDead && here && updater.processId > 0 && !isProcessRunning(updater.processId);
        found += (found.empty() ? "" : "; ") + std::string("з'єднання з комп'ютера ") +
                 (updater.host.empty() ? "(невідомого)" : updater.host) + ", процес " +
                 (updater.processId > 0 ? std::to_string(updater.processId) : "(невідомий)") +
                 (updater.since.empty() ? "" : ", від " + updater.since) + " (MON$ATTACHMENT_ID " +
                 std::to_string(updater.id) + ")";
    }
    const std::string closing =
        "сервер закриє його сам, коли помітить обрив (зазвичай протягом двох годин), або "
        "адміністратор бази даних може закрити його зараз. Після цього перезапустіть оновлення!";
    if (allDead) {
        return "До бази даних досі підключена попередня програма оновлення: " + found +
               ". Її процесу на цьому комп'ютері вже немає, а інша програма оновлення цього "
               "комплексу не працює (його блокування тримає ця), тож це з'єднання може бути "
               "лише мертвим: його лишила перервана програма оновлення, і сервер ще не помітив "
               "обриву. ПК Тессара тут ні до чого: " +
               closing;
    }
    return "До бази даних підключена інша програма оновлення: " + found +
           ". Якщо там оновлення ще триває, дочекайтеся його завершення. Якщо ж ту програму "
           "оновлення було перервано (вимкнення живлення, обрив мережі), її з'єднання мертве: " +
           closing;
}

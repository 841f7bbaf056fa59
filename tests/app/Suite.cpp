#include "tests/app/Suite.h"

#include "app/KeptLogs.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "app/Snapshot.h"

PackageFiles ContentPackage(int number) {
    const std::string n = std::to_string(number);
    const std::string first = std::to_string(number * 100 + 1);
    const std::string second = std::to_string(number * 100 + 2);
    PackageFiles files;
    files["up.2026.05.03.lsql"] =
        "insert into ARTICLE (id, name) values (" + first + ", 'first of " + n + "');\r\n" +
        "insert into ARTICLE (id, name) values (" + second + ", 'second of " + n + "');\r\n";
    files["up.99." + n + ".lsql"] = "update versions set data = " + n + ";\r\n";
    files[first + ".r"] = "plain document of " + n;
    files[first + ".u"] = std::string("Rar!\x1a\x07\x00", 7) + "packed document of " + n;
    files[second + ".r"] = "";
    files["INFO_DOC.NOTE.ID 10.blo"] = "blob value of " + n;
    files["tessara.exe"] = "program of " + n;
    files["Reports/list.fr3"] = "template of " + n;
    return files;
}

std::vector<std::string> SnapshotLines(const CSuite& suite, int version) {
    const std::vector<SnapshotManifest> snapshots = ListSnapshots(suite.Dir());
    if (snapshots.empty() || snapshots.back().version != version) {
        return {};
    }
    const SnapshotManifest& newest = snapshots.back();
    return {"Знімок бази даних і програм перед оновленням...[OK]",
            "Знімок бази даних (версія " + std::to_string(version) + "): " + newest.backup,
            "Знімок програм: " + newest.directory, "Скасувати оновлення: tessara-updater --undo"};
}

CSuite::CSuite() {
    m_dir = m_root.File("suite");
    m_tmp = m_root.File("tmp") + "/";
    std::filesystem::create_directories(m_dir);
    std::filesystem::create_directories(m_tmp);
}

void CSuite::CreateDatabase(int version) {
    ::CreateDatabase(
        Database(),
        {"create table versions (data integer, update_date timestamp)",
         "insert into versions (data, update_date) values (" + std::to_string(version) +
             ", '2026-01-01 10:00:00')",
         "create table ARTICLE (id integer not null primary key, name varchar(200), "
         "note blob sub_type 0, note_u blob sub_type 0)",
         "create table INFO_DOC (ID integer not null primary key, NOTE blob sub_type 0, "
         "NOTE_U blob sub_type 0)",
         "insert into INFO_DOC (ID) values (10)"});
}

void CSuite::WriteIni(const std::string& text) const {
    WriteFile(File("lib.ini"), text);
}

void CSuite::InstallArchiver() const {
    std::filesystem::copy_file(BuiltProgram("rar"), File("rar"),
                               std::filesystem::copy_options::overwrite_existing);
    MakeExecutable(File("rar"));
}

std::string CSuite::MakePackageDir(const std::string& name, const PackageFiles& files) const {
    const std::filesystem::path dir = m_root.File("packages/" + name);
    std::filesystem::create_directories(dir);
    for (const auto& [relative, bytes] : files) {
        const std::filesystem::path path = dir / relative;
        std::filesystem::create_directories(path.parent_path());
        WriteFile(path.string(), bytes);
    }
    return dir.string();
}

std::string CSuite::KeptLog(int package, const std::string& logName) const {
    const std::string ending = "_" + std::to_string(package) + "_" + logName;
    std::string found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(File(kKeptLogsFolder), error)) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with(ending)) {
            if (!found.empty()) {
                return {};
            }
            found = entry.path().string();
        }
    }
    return found;
}

std::string CSuite::Pack(const std::vector<std::pair<int, std::string>>& packages,
                         const std::string& base, const std::string& name) const {
    const std::string out = File(name);
    if (packages.empty()) {
        // tessara-pack makes no updater without packages: the bare program stands for one.
        std::filesystem::copy_file(base, out, std::filesystem::copy_options::overwrite_existing);
        return out;
    }
    std::string command = ShellQuote(BuiltProgram("tessara-pack")) + " --updater " +
                          ShellQuote(base) + " --out " + ShellQuote(out);
    for (const auto& [number, path] : packages) {
        command += " " + ShellQuote(std::to_string(number) + "=" + path);
    }
    if (RunShell(command) != 0) {
        throw std::runtime_error("tessara-pack failed: " + command);
    }
    return out;
}

std::string CSuite::Pack(const std::vector<std::pair<int, std::string>>& packages) const {
    return Pack(packages, BuiltProgram("rar"));
}

std::string CSuite::PackDirectories(const std::vector<std::pair<int, PackageFiles>>& packages,
                                    const std::string& base) const {
    std::vector<std::pair<int, std::string>> items;
    for (const auto& [number, files] : packages) {
        items.emplace_back(number, MakePackageDir(std::to_string(number), files));
    }
    return Pack(items, base);
}

StartupPaths CSuite::Paths() const {
    StartupPaths paths;
    paths.executablePath = File("updater");
    paths.programDirectory = m_dir;
    paths.tempPath = m_tmp;
    paths.suiteImageName = "tessara-absent-" + std::to_string(getpid()) + ".exe";
    return paths;
}

namespace {

std::string ServerScript() {
    return ShellQuote(std::string(TESSARA_SOURCE_DIR) + "/scripts/firebird_server.sh");
}

}  // namespace

CPrivateServer::CPrivateServer() {
    // A random port; one that another test took meanwhile fails the start, and another is tried.
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 5 && m_port == 0; ++attempt) {
        const int port = 20000 + static_cast<int>(random() % 40000);
        if (RunShell("bash " + ServerScript() + " start " + ShellQuote(m_dir.Path()) + " " +
                     std::to_string(port) + " >/dev/null 2>&1") == 0) {
            m_port = port;
        }
    }
    if (m_port == 0) {
        throw std::runtime_error("the private Firebird server did not start");
    }
}

CPrivateServer::~CPrivateServer() {
    RunShell("bash " + ServerScript() + " stop " + ShellQuote(m_dir.Path()));
}

int RunShell(const std::string& command) {
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

void MakeExecutable(const std::string& path) {
    chmod(path.c_str(), 0755);
}

std::vector<std::string> Concat(std::vector<std::string> head,
                                const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// bench_update: the update driver run in this process, as the window runs it (pre-flight, then
// the update button), with a window that records how long its event loop went without a message
// pump in every phase of the run, and how far the peak resident memory grew over the idle
// updater.
//
//   bench_update SUITE_DIR UPDATER TEMP_DIR
//
// SUITE_DIR is the suite's directory (lib.ini, the database, rar); UPDATER the packed updater
// whose embedded packages are installed; the work directory is made under TEMP_DIR. Prints
//   gap <phase> <longest interval in seconds> <pumps>     one line per phase met
//   rss <idle MB> <peak MB> <growth MB>
//   total <seconds of the update run>
// The event loop counts as free when the button is pressed and again when the click handler
// returns; an interval counts for the phase in which it ends. The pre-flight runs before the
// window's loop starts and pumps nothing: its whole duration is its interval. Phases follow the
// journal ("Копіювання пакету", "Розпаковка пакету...", "Встановлення оновлення") and then the
// file label: scripts, documents, blob files and program files by the extension of the file in
// hand.
//
// The idle size is the resident size after the pre-flight; the peak is the kernel's high-water
// mark, reset at that moment (platform/ProcessMemory.h), so only the run can raise it.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "app/UpdateDriver.h"
#include "platform/ProcessMemory.h"
#include "platform/Text.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

// A resident size in MB; -1 when the system does not tell.
double Mb(int64_t bytes) {
    return bytes < 0 ? -1 : static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// How long a window's event loop sleeps when no event comes.
constexpr double kEventWait = 0.005;

struct PhaseGaps {
    double longest = 0;
    int pumps = 0;
};

class CGapWindow : public CPlainUpdaterWindow {
  public:
    void AppendLine(const std::string& text) override {
        if (text == "Копіювання пакету") {
            m_phase = "write-out";
        } else if (text == "Розпаковка пакету...") {
            m_phase = "unpacking";
        } else if (text == "Встановлення оновлення") {
            m_phase = "scripts";
            m_installing = true;
        }
        m_lines.push_back(text);
        if (m_lines.size() > 40) {
            m_lines.pop_front();  // only the end is shown when a run fails
        }
    }
    void MarkLastLine(const std::string& suffix) override {
        if (m_lines.empty()) {
            m_lines.emplace_back();
        }
        m_lines.back() += suffix;
    }
    void ShowMessageBox(MessageKind, const std::string& title, const std::string& text) override {
        m_lines.push_back("[box] " + title + ": " + text);
    }
    void ShowFailedItems(const std::vector<FailedItemsLog>& logs,
                         const std::vector<FailedCopy>& copies) override {
        for (const FailedItemsLog& log : logs) {
            m_lines.push_back("[failed items] " + std::to_string(log.count) + " in " + log.path);
        }
        for (const FailedCopy& copy : copies) {
            m_lines.push_back("[failed copy] " + copy.destination + ": " + copy.error);
        }
    }
    void PumpMessages() override { Pump(CurrentPhase()); }
    // While a database call runs on its helper thread, a window's loop is free for every event
    // that comes: it answers at once, as often as it wakes.
    void PumpUntil(CCompletion& done, double seconds) override {
        const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                         std::chrono::duration<double>(seconds));
        do {
            Pump(CurrentPhase());
        } while (!done.WaitFor(kEventWait) && Clock::now() < end);
        Pump(CurrentPhase());
    }

    // The loop is free from now on (the button was pressed).
    void StartRun() { m_last = Clock::now(); }
    // An interval that ends now, counted for `phase`.
    void Pump(const std::string& phase) {
        const Clock::time_point now = Clock::now();
        PhaseGaps& gaps = m_gaps[phase];
        if (gaps.pumps == 0) {
            m_order.push_back(phase);
        }
        gaps.longest = std::max(gaps.longest, Seconds(now - m_last));
        ++gaps.pumps;
        m_last = now;
    }

    void Print() const {
        for (const std::string& phase : m_order) {
            const PhaseGaps& gaps = m_gaps.at(phase);
            std::printf("gap %s %.3f %d\n", phase.c_str(), gaps.longest, gaps.pumps);
        }
    }
    void PrintJournal() const {
        for (const std::string& line : m_lines) {
            std::fprintf(stderr, "%s\n", line.c_str());
        }
    }

  private:
    std::string CurrentPhase() {
        if (m_installing && lFile().IsVisible()) {
            // The caption reads "name (k/n)".
            const std::string caption = lFile().Caption();
            const std::string name = caption.substr(0, caption.rfind(" ("));
            const std::string extension = LowerAscii(name.substr(name.rfind('.') + 1));
            if (extension == "lsql") {
                m_phase = "scripts";
            } else if (extension == "r" || extension == "u") {
                m_phase = "documents";
            } else if (extension == "blo") {
                m_phase = "blob-files";
            } else if (extension == "exe" || extension == "fr3") {
                m_phase = "program-files";
            }
        }
        return m_phase;
    }

    std::string m_phase = "start";
    bool m_installing = false;
    Clock::time_point m_last = Clock::now();
    std::map<std::string, PhaseGaps> m_gaps;
    std::vector<std::string> m_order;
    std::deque<std::string> m_lines;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_update SUITE_DIR UPDATER TEMP_DIR\n");
        return 2;
    }
    StartupPaths paths;
    paths.programDirectory = argv[1];
    paths.executablePath = argv[2];
    paths.tempPath = std::string(argv[3]) + "/";
    // The process scan costs the same for any name; this one no neighbouring test starts.
    paths.suiteImageName = "bench-update-no-suite.exe";

    try {
        CGapWindow window;
        CUpdateDriver driver(window, paths);

        window.StartRun();
        driver.FormShow();
        window.Pump("pre-flight");
        if (driver.LastPreflight() != PreflightOutcome::Admitted) {
            window.PrintJournal();
            std::fprintf(stderr, "bench_update: the pre-flight did not admit the update\n");
            return 1;
        }

        const bool reset = ResetPeakResident();
        const double idle = Mb(ResidentBytes());
        const double peakBefore = Mb(PeakResidentBytes());
        const Clock::time_point start = Clock::now();
        window.StartRun();
        driver.btOKClick();
        window.Pump("end-of-run");
        const double total = Seconds(Clock::now() - start);
        const double peak = Mb(PeakResidentBytes());
        if (driver.LastRun() != RunOutcome::Succeeded) {
            window.PrintJournal();
            std::fprintf(stderr, "bench_update: the update did not succeed\n");
            return 1;
        }

        window.Print();
        // Without the reset the peak may still be the pre-flight's: the growth is a lower bound.
        const double growth = reset ? peak - idle : peak - std::max(idle, peakBefore);
        std::printf("rss %.1f %.1f %.1f%s\n", idle, peak, growth,
                    reset ? "" : " (peak not reset: lower bound)");
        std::printf("total %.3f\n", total);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_update: %s\n", error.what());
        return 1;
    }
    return 0;
}

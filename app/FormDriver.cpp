#include "app/FormDriver.h"

#include "app/UpdateDriver.h"

namespace {

class CFormDriver : public IFormDriver {
  public:
    CFormDriver(IUpdaterWindow& window, StartupPaths paths) : m_driver(window, std::move(paths)) {}

    void FormShow() override { m_driver.FormShow(); }
    void btOKClick() override { m_driver.btOKClick(); }
    bool IsRunning() const override { return m_driver.IsRunning(); }
    int ExitStatus() const override {
        const RunOutcome run = m_driver.LastRun();
        return run == RunOutcome::NotRun || run == RunOutcome::Succeeded ? 0
                                                                         : m_driver.ExitStatus();
    }

  private:
    CUpdateDriver m_driver;
};

}  // namespace

FormDriverFactory UpdateDriverFactory(const StartupPaths& paths) {
    return [paths](IUpdaterWindow& window) { return std::make_unique<CFormDriver>(window, paths); };
}

#pragma once
// What the main window asks of the driver behind it: the checks when it is first shown, the
// update run of btOK, and whether a run is pumping messages (the window refuses to close then).
// Both windows create their driver through a factory, handing it the window, so that a test can
// put a small driver of its own in place of the update driver.

#include <functional>
#include <memory>

#include "app/UpdaterWindow.h"

struct StartupPaths;

class IFormDriver {
  public:
    virtual ~IFormDriver() = default;
    virtual void FormShow() = 0;
    virtual void btOKClick() = 0;
    virtual bool IsRunning() const = 0;
    // The status the window's process ends with once the window is closed: that of console mode
    // after an update run that did not end in success (1 for "Помилка при оновлені", an error or
    // an unfinished package), else 0. The checks alone end with 0: the user only looked, and the
    // window said why it refused; a run that succeeded with failed items shows them itself.
    virtual int ExitStatus() const { return 0; }
};

using FormDriverFactory = std::function<std::unique_ptr<IFormDriver>(IUpdaterWindow& window)>;

// The update driver (CUpdateDriver) for the program's files at `paths`.
FormDriverFactory UpdateDriverFactory(const StartupPaths& paths);

#pragma once
// What the Windows main window asks of the update driver behind it: the checks when it is first
// shown, the update run of btOK, and whether a run is pumping messages (the window refuses to
// close then). The window creates its driver, handing it the window, as the Qt TForm1 creates
// CUpdateDriver.

#include <functional>
#include <memory>

#include "app/UpdaterWindow.h"

class IFormDriver {
  public:
    virtual ~IFormDriver() = default;
    virtual void FormShow() = 0;
    virtual void btOKClick() = 0;
    virtual bool IsRunning() const = 0;
};

using FormDriverFactory = std::function<std::unique_ptr<IFormDriver>(IUpdaterWindow& window)>;

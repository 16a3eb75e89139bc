#pragma once

#include <QtGlobal>

#include <memory>

class QCoreApplication;

namespace Orvex {

class StatusWindow;
class WarningBox;

// What a process with a screen gets from the display module, which alone links the window system.
class Display {
public:
    virtual ~Display() = default;
    // The application object of a process that shows windows. Made once, before anything else is asked.
    virtual std::unique_ptr<QCoreApplication> makeApplication(int &argc, char **argv) = 0;
    // False where the platform fell back to offscreen: no one could see a window or answer a box.
    virtual bool isOnScreen() const = 0;
    virtual std::unique_ptr<StatusWindow> makeStatusWindow() = 0;
    // The modal warning box on screen.
    virtual WarningBox &warningBox() = 0;
};

// The display module's entry: the process's one Display, owned by the module.
using DisplayEntry = Display *();
inline constexpr char DisplayModuleName[] = "display";
inline constexpr char DisplayEntryName[] = "orvexDisplay";

} // namespace Orvex

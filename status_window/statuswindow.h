#pragma once

#include "statusview.h"

#include <functional>

namespace Orvex {

// The status window as its owner drives it. The display module makes it; the owner needs no window system.
class StatusWindow : public StatusView {
public:
    virtual void showWindow() = 0;
    // Unloads the window as a release does.
    virtual void unload() = 0;
    // Closes the window as the user or the system would.
    virtual void closeWindow() = 0;
    // Called on every unload: a close by the user or the system, or unload().
    virtual void setUnloadHandler(std::function<void()> handler) = 0;
};

} // namespace Orvex

#pragma once

#include "warningbox.h"

namespace Orvex {

// The warning box on screen: warning icon, one OK button, modal; show() returns once the user closes it.
class MessageBoxWarning final : public WarningBox {
public:
    void show(const QString &title, const QString &text) override;
    void showWithoutWaiting(const QString &title, const QString &text,
                            std::function<void()> closed = {}) override;
};

} // namespace Orvex

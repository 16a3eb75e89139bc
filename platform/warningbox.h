#pragma once

#include <QString>

#include <functional>

namespace Orvex {

// A modal warning message with a single OK button; show() returns once the box is closed.
class WarningBox {
public:
    virtual ~WarningBox() = default;
    virtual void show(const QString &title, const QString &text) = 0;
    // Shows the box and returns at once; it stays until closed, and then closed runs. Where no one answers,
    // the same as show().
    virtual void showWithoutWaiting(const QString &title, const QString &text,
                                    std::function<void()> closed = {}) {
        show(title, text);
        if (closed)
            closed();
    }
};

// Where no one can answer a box: the message goes to standard error and counts as closed at once.
class HeadlessWarningBox final : public WarningBox {
public:
    void show(const QString &title, const QString &text) override;
};

// The box the process shows its warnings in; headless until the host installs another.
WarningBox &processWarningBox();
// Installs the process's box; nullptr restores the headless one. The caller keeps ownership.
void setProcessWarningBox(WarningBox *box);

} // namespace Orvex

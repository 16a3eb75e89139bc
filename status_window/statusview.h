#pragma once

#include <QString>

// The status text that an exchange writes and reads back. frmPostJob shows it; tests may stand in.
class StatusView {
public:
    virtual ~StatusView() = default;
    virtual QString statusText() const = 0;
    virtual void setStatusText(const QString &text) = 0;
};

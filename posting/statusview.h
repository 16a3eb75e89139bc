#pragma once

#include <QString>

namespace Orvex {

// The status text that an exchange writes and reads back. The status window shows it; tests may stand in.
class StatusView {
public:
    virtual ~StatusView() = default;
    virtual QString statusText() const = 0;
    virtual void setStatusText(const QString &text) = 0;
};

} // namespace Orvex

#pragma once

#include <QString>

namespace Orvex {

// The status text that an exchange writes and reads back. The status window shows it; tests may stand in.
class StatusView {
public:
    virtual ~StatusView() = default;
    virtual QString statusText() const = 0;
    virtual void setStatusText(const QString &text) = 0;

    // An exchange of the listing jobCode begins; it ends having had the board's reply or not. The window's
    // "Posting" line, then a "Posted" line below it once a reply came; a failed exchange leaves "Posting".
    virtual void exchangeStarted(const QString &jobCode) {
        setStatusText(QStringLiteral("Posting ") + jobCode);
    }
    virtual void exchangeEnded(const QString &jobCode, bool replied) {
        if (replied)
            setStatusText(statusText() + QStringLiteral("\r\nPosted ") + jobCode);
    }
};

// The status text where no one could see a window: the text alone, as the window would hold it.
class StatusText final : public StatusView {
public:
    QString statusText() const override { return m_text; }
    void setStatusText(const QString &text) override { m_text = text; }

private:
    QString m_text;
};

// The status text of postings on worker threads: one text per thread, so each posting writes and reads
// back its own lines while a thread runs one exchange at a time.
class ThreadStatusText final : public StatusView {
public:
    QString statusText() const override { return text(); }
    void setStatusText(const QString &value) override { text() = value; }

private:
    static QString &text() {
        thread_local QString current;
        return current;
    }
};

} // namespace Orvex

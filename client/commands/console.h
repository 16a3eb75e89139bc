#pragma once

#include <QString>
#include <QTextStream>

namespace Orvex {

// Where a command's rows, warnings and refusals go, in the tool's words.
class Console {
public:
    // progress: whether to keep a progress line on err (only when err is a terminal).
    Console(QTextStream &out, QTextStream &err, bool progress)
        : m_out(out)
        , m_err(err)
        , m_progress(progress) {}

    QTextStream &out() { return m_out; }
    QTextStream &err() { return m_err; }
    const QString &program() const { return m_program; }
    void setProgram(const QString &program) { m_program = program; }

    // "orvex-postjob: message" and where to find the options; returns BadInput.
    int badInput(const QString &message, const QString &command = QString());
    // "orvex-postjob: message" on err; returns status.
    int fail(const QString &message, int status);
    // "orvex-postjob: warning: message" on err.
    void warn(const QString &message);
    // Says why no object could be made: without a session bus, how to get one. Returns NoServer.
    int cannotCreate(const QString &reason);

    void showProgress(qsizetype index, qsizetype count, const QString &jobCode);
    void clearProgress();

private:
    QTextStream &m_out;
    QTextStream &m_err;
    bool m_progress;
    QString m_program = QStringLiteral("orvex-postjob");
};

} // namespace Orvex

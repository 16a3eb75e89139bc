#include "console.h"

#include "command.h"
#include "identity.h"
#include "printabletext.h"
#include "urltext.h"

namespace Orvex {

int Console::badInput(const QString &message, const QString &command) {
    clearProgress();
    m_err << m_program << ": " << message << '\n';
    if (command.isEmpty())
        m_err << "Run \"" << m_program << " --help\" for the commands.\n";
    else
        m_err << "Run \"" << m_program << ' ' << command << " --help\" for its options.\n";
    m_err.flush();
    return BadInput;
}

int Console::fail(const QString &message, int status) {
    clearProgress();
    m_err << m_program << ": " << message << '\n';
    m_err.flush();
    return status;
}

void Console::warn(const QString &message) {
    clearProgress();
    m_err << m_program << ": warning: " << message << '\n';
    m_err.flush();
}

int Console::cannotCreate(const QString &reason) {
    clearProgress();
    m_err << m_program << ": cannot create " << QString::fromLatin1(Identity::ProgId) << ": "
          << printableText(withoutUserInfo(reason)) << '\n';
    m_err.flush();
    return NoServer;
}

void Console::showProgress(qsizetype index, qsizetype count, const QString &jobCode) {
    if (!m_progress)
        return;
    m_err << "\r\x1b[K"
          << "Posting listing " << index + 1 << " of " << count;
    if (!jobCode.isEmpty())
        m_err << " (" << printableText(jobCode) << ')';
    m_err.flush();
}

void Console::clearProgress() {
    if (!m_progress)
        return;
    m_err << "\r\x1b[K";
    m_err.flush();
}

} // namespace Orvex

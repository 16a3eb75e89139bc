#include "fuzzsupport.h"

#include <QLoggingCategory>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

namespace Orvex::Fuzz {

namespace {

void dropMessage(QtMsgType type, const QMessageLogContext &, const QString &message) {
    if (type == QtFatalMsg)
        std::fprintf(stderr, "fatal: %s\n", qPrintable(message));
}

} // namespace

void silenceLogging() {
    QLoggingCategory::setFilterRules(QStringLiteral("*=false"));
    qInstallMessageHandler(dropMessage);
}

void require(bool holds, const char *property, const QString &detail) {
    if (holds)
        return;
    std::fprintf(stderr, "property failed: %s\n%s\n", property, qUtf8Printable(detail));
    std::abort();
}

QList<QByteArray> fields(const uint8_t *data, size_t size) {
    return QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)).split('\xff');
}

MemoryFile::MemoryFile()
    : m_fd(::memfd_create("orvex-fuzz", MFD_CLOEXEC)) {
    if (m_fd < 0) {
        std::perror("memfd_create");
        std::abort();
    }
    m_path = QStringLiteral("/proc/self/fd/%1").arg(m_fd);
}

MemoryFile::~MemoryFile() {
    ::close(m_fd);
}

void MemoryFile::write(const QByteArray &content) {
    if (::ftruncate(m_fd, 0) != 0 ||
        ::pwrite(m_fd, content.constData(), size_t(content.size()), 0) != ssize_t(content.size())) {
        std::perror("memory file");
        std::abort();
    }
}

} // namespace Orvex::Fuzz

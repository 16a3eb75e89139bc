// readProfileString on a 1 MiB settings file of short lines, the wanted key on the last line, against one
// QFile::readAll of the same file. Prints the first read in the process, medians and ratios.

#include "benchharness.h"
#include "inireader.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

constexpr int Runs = 31;
constexpr qsizetype FileBytes = 1024 * 1024;

// "[General]", then four-byte lines up to fileBytes, then the wanted key: every line is one the reader
// must look at, since all of them lie in the wanted section.
QByteArray shortLinesIni(qsizetype fileBytes) {
    QByteArray content = "[General]\n";
    content.reserve(fileBytes + 64);
    while (content.size() < fileBytes)
        content += "a=1\n";
    content += "Wanted=found\n";
    return content;
}

QString readWanted(const QString &path) {
    QString buffer;
    const qint32 count = Orvex::readProfileString(u"General"_s, u"Wanted"_s, u"missing"_s, buffer, 255, path);
    return buffer.left(count);
}

qsizetype readAllOnce(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return file.readAll().size();
}

} // namespace

int main() {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"settings.ini"_s);
    QFile file(path);
    const QByteArray content = shortLinesIni(FileBytes);
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    file.close();
    std::printf("settings file: %lld bytes, %lld lines\n", qlonglong(content.size()),
                qlonglong(content.count('\n')));

    QString value;
    qsizetype bytes = 0;
    const auto reader = [&] { Orvex::Bench::keep(value = readWanted(path)); };
    const auto baseline = [&] { Orvex::Bench::keep(bytes = readAllOnce(path)); };

    // The first read in the process is timed before the allocator is tuned, as a real process runs it: a
    // reader that allocates per line paid most there.
    const double firstReader = Orvex::Bench::secondsOf(reader);
    const double firstBaseline = Orvex::Bench::secondsOf(baseline);
    if (value != u"found"_s || bytes != content.size()) {
        std::fprintf(stderr, "the reader did not find the key on the last line\n");
        return 1;
    }
    Orvex::Bench::keepFreedMemory();
    const auto [readerSeconds, baselineSeconds] = Orvex::Bench::alternateMedians(reader, baseline, Runs);

    Orvex::Bench::printMedian("first read: readProfileString, 1 MiB", firstReader);
    Orvex::Bench::printMedian("first read: QFile::readAll, 1 MiB", firstBaseline);
    Orvex::Bench::printMedian("readProfileString, 1 MiB, key on the last line", readerSeconds);
    Orvex::Bench::printMedian("QFile::readAll, 1 MiB", baselineSeconds);
    Orvex::Bench::printRatio("first read: readProfileString / readAll", firstReader, firstBaseline, 2);
    Orvex::Bench::printRatio("readProfileString / readAll", readerSeconds, baselineSeconds, 2);
    return 0;
}

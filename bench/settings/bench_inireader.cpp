// What reading the component's settings costs at creation, against the cheapest cold activation there
// is: starting the server only to print its version (a real activation also joins the bus, shows the
// window and registers the object). Then readProfileString on 256 KiB and on 1 MiB, to show that its cost
// grows with the file and no faster. Prints the first read in the process, medians and ratios.

#include "benchharness.h"
#include "componentsettings.h"
#include "inireader.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

constexpr int Runs = 31;
constexpr int StartRuns = 9;
constexpr qsizetype RealisticBytes = 4 * 1024;

// A settings file as a deployment keeps it: comments, a section of its own, and [General] last, so that
// every line is read before the keys are found.
QByteArray realisticIni() {
    QByteArray content = "; OrvexKelPostJob settings, kept by the deployment.\n"
                         "; Each setting is described beside it; values are read whole.\n";
    content += "[Deployment]\nOwner=Recruiting operations\nContact=postings@company.example\n";
    for (int note = 1; content.size() < RealisticBytes - 512; ++note)
        content += "Note" + QByteArray::number(note) +
                   "=Postings for the northern region go through the shared board account.\n";
    content += "\n[General]\n"
               "; Keep a copy of every posted document.\nDebugMode=0\n"
               "ImportUrl=https://jobs.board.example/cgi-bin/importJobs_xml.cgi\n"
               "ConnectTimeout=30\nTimeout=180\n"
               "ClientCertificate=/etc/orvex/board-client.pem\nClientKey=/etc/orvex/board-client.key\n"
               "ReuseConnection=0\n";
    return content;
}

// "[General]", then four-byte lines up to fileBytes, then the wanted key on the last line.
QByteArray shortLinesIni(qsizetype fileBytes) {
    QByteArray content = "[General]\n";
    content.reserve(fileBytes + 64);
    while (content.size() < fileBytes)
        content += "a=1\n";
    content += "Wanted=found\n";
    return content;
}

bool writeFile(const QString &path, const QByteArray &content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QString readWanted(const QString &path) {
    QString buffer;
    const qint32 count = Orvex::readProfileString(u"General"_s, u"Wanted"_s, u"missing"_s, buffer, 255, path);
    return buffer.left(count);
}

bool startServerForItsVersion() {
    QProcess server;
    server.start(QStringLiteral(ORVEX_SERVER_EXECUTABLE), {u"--version"_s});
    return server.waitForFinished(30000) && server.exitStatus() == QProcess::NormalExit &&
           server.exitCode() == 0;
}

} // namespace

int main() {
    QTemporaryDir dir;
    const QString realistic = dir.filePath(u"OrvexKelPostJob.ini"_s);
    const QString quarter = dir.filePath(u"quarter.ini"_s);
    const QString whole = dir.filePath(u"whole.ini"_s);
    const QByteArray realisticContent = realisticIni();
    if (!dir.isValid() || !writeFile(realistic, realisticContent) ||
        !writeFile(quarter, shortLinesIni(256 * 1024)) || !writeFile(whole, shortLinesIni(1024 * 1024))) {
        std::fprintf(stderr, "cannot write the settings files in %s\n", qPrintable(dir.path()));
        return 1;
    }
    std::printf("realistic settings file: %lld bytes\n", qlonglong(realisticContent.size()));

    Orvex::ComponentSettings settings;
    const auto readSettings = [&] {
        Orvex::Bench::keep(settings = Orvex::ComponentSettings::read(realistic));
    };
    // The first read in the process is timed before anything is warm, as creation runs it.
    const double firstRead = Orvex::Bench::secondsOf(readSettings);
    if (settings.http.timeout.count() != 180 || settings.importUrl.isEmpty()) {
        std::fprintf(stderr, "the settings were not read\n");
        return 1;
    }
    if (!startServerForItsVersion()) {
        std::fprintf(stderr, "cannot start %s --version\n", ORVEX_SERVER_EXECUTABLE);
        return 1;
    }
    Orvex::Bench::keepFreedMemory();
    const double readSeconds = Orvex::Bench::medianSeconds(readSettings, Runs);
    const double startSeconds = Orvex::Bench::medianSeconds(startServerForItsVersion, StartRuns);

    QString value;
    const double quarterSeconds = Orvex::Bench::medianSeconds([&] { value = readWanted(quarter); }, Runs);
    const double wholeSeconds = Orvex::Bench::medianSeconds([&] { value = readWanted(whole); }, Runs);
    if (value != u"found"_s) {
        std::fprintf(stderr, "the reader did not find the key on the last line\n");
        return 1;
    }

    Orvex::Bench::printMedian("first read: component settings, 4 KiB", firstRead);
    Orvex::Bench::printMedian("component settings, 4 KiB", readSeconds);
    Orvex::Bench::printMedian("server start for --version", startSeconds);
    Orvex::Bench::printMedian("readProfileString, 256 KiB, key on the last line", quarterSeconds);
    Orvex::Bench::printMedian("readProfileString, 1 MiB, key on the last line", wholeSeconds);
    Orvex::Bench::printRatio("first read of the settings / server start", firstRead, startSeconds, 0.01);
    Orvex::Bench::printRatio("settings / server start", readSeconds, startSeconds, 0.01);
    // Four times the bytes for four times the time is linear.
    Orvex::Bench::printRatio("1 MiB / 256 KiB, per byte", wholeSeconds / 4, quarterSeconds);
    return 0;
}

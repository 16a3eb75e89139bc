// 100,000 listings of 20 fields read from CSV, against the JSON reader on the same listings; one long
// quoted cell against as many bytes of short rows, which shows whether a long cell costs more than linear
// time. Then the tool itself on a spreadsheet of 1,000,000 listings (about 92 MiB) posted to the
// reference board through a private bus: how soon the board gets the first listing, against a plain read
// of the same file in this process (decoded line by line and split at its commas, nothing kept: the least
// any reader that looks at every cell does), and the tool's peak resident memory against the file's size,
// the run interrupted once the first listing is in so that the rest is read again for its rows.

#include "benchharness.h"
#include "boardprocess.h"
#include "csvlistings.h"
#include "listing.h"
#include "privatebus.h"
#include "processstatus.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <csignal>

namespace {

constexpr int Listings = 100000;
constexpr int Fields = 20;
constexpr int SpreadsheetListings = 1000000;
// Each tool run checks the whole file, posts, and reads it again when interrupted: a few give a median.
constexpr int ToolRuns = 3;

QByteArray value(int listing, int field) {
    // Mostly short cells, as spreadsheets have them, and one longer description per listing.
    if (field == Fields - 1)
        return QByteArray("Duties include, among others: \"filing\", reports and ").repeated(2) +
               QByteArray::number(listing);
    return "v" + QByteArray::number(listing) + "-" + QByteArray::number(field);
}

QByteArray csvFile() {
    QByteArray csv = "JobCode";
    for (int field = 1; field < Fields; ++field)
        csv += ",F" + QByteArray::number(field);
    csv += "\r\n";
    for (int listing = 0; listing < Listings; ++listing) {
        csv += "J" + QByteArray::number(listing);
        for (int field = 1; field < Fields; ++field) {
            const QByteArray text = value(listing, field);
            csv += text.contains('"') || text.contains(',')
                       ? "," + ("\"" + QByteArray(text).replace("\"", "\"\"") + "\"")
                       : "," + text;
        }
        csv += "\r\n";
    }
    return csv;
}

QByteArray jsonFile() {
    QByteArray json = "[";
    for (int listing = 0; listing < Listings; ++listing) {
        json += listing ? ",\n" : "\n";
        json += "{\"action\":\"Add\",\"fields\":[[\"JobCode\",\"J" + QByteArray::number(listing) + "\"]";
        for (int field = 1; field < Fields; ++field)
            json += ",[\"F" + QByteArray::number(field) + "\",\"" +
                    QByteArray(value(listing, field)).replace("\"", "\\\"") + "\"]";
        json += "]}";
    }
    return json + "]";
}

qsizetype readCsv(const QByteArray &csv) {
    QBuffer device;
    device.setData(csv);
    device.open(QIODevice::ReadOnly);
    QString error;
    qsizetype count = 0;
    if (!Orvex::readCsvListings(
            &device, Orvex::CsvFormat(), [&count](Orvex::CsvListing &&) { ++count; }, &error))
        qFatal("%s", qPrintable(error));
    return count;
}

// A spreadsheet's export of the size that was measured: 1,000,000 rows of about 93 bytes, CR LF.
bool writeSpreadsheet(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray rows = "JobCode,Title,Location,Salary,Description\r\n";
    for (int listing = 1; listing <= SpreadsheetListings; ++listing) {
        rows += "S" + QByteArray::number(listing) + ",Senior R&D engineer " +
                QByteArray::number(listing % 977) +
                ",\"Leeds, West Yorkshire\",55000-65000,Reports for a team of " +
                QByteArray::number(listing % 13) + "\r\n";
        if (rows.size() > (1 << 20)) {
            file.write(rows);
            rows.clear();
        }
    }
    return file.write(rows) == rows.size() && file.flush();
}

// What every reader of the file does at the least: decode each line and split it at the delimiter.
qsizetype plainRead(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    QTextStream lines(&file);
    QString line;
    qsizetype cells = 0;
    while (lines.readLineInto(&line))
        cells += line.split(u',').size();
    return cells;
}

double loadAverage() {
    QFile load(QStringLiteral("/proc/loadavg"));
    return load.open(QIODevice::ReadOnly) ? load.readAll().split(' ').constFirst().toDouble() : -1;
}

struct ToolRun {
    double firstListingSeconds = -1;
    double peakBytes = 0; // the tool's VmHWM, last read before it ended
    bool interrupted = false;
};

// Starts "post --force --file", waits for the board's first record, then interrupts the tool, which
// prints every listing not sent from a second reading of the file, and waits for it to end.
ToolRun runTool(const QString &tool, const QString &csv, const QProcessEnvironment &environment,
                const QString &boardRecord, const QString &out) {
    const qint64 recorded = QFileInfo(boardRecord).size();
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(out);
    process.setStandardErrorFile(QProcess::nullDevice());
    ToolRun run;
    run.firstListingSeconds = Orvex::Bench::secondsOf([&] {
        process.start(tool,
                      {QStringLiteral("post"), QStringLiteral("--force"), QStringLiteral("--file"), csv});
        while (QFileInfo(boardRecord).size() == recorded && process.state() != QProcess::NotRunning)
            QThread::usleep(500);
    });
    const uint pid = uint(process.processId());
    ::kill(pid_t(pid), SIGINT);
    // Its own high-water mark: a child's rusage would count the pages it shared with this process
    // between fork and exec.
    do {
        if (const qint64 peakKiB = Orvex::Bench::statusKiB(pid, "VmHWM"); peakKiB > 0)
            run.peakBytes = double(peakKiB) * 1024;
    } while (!process.waitForFinished(5));
    run.interrupted = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 130;
    return run;
}

int timeTheTool() {
    QTemporaryDir folder;
    const QString csv = folder.filePath(QStringLiteral("spreadsheet.csv"));
    if (!folder.isValid() || !writeSpreadsheet(csv))
        return 1;
    const double fileBytes = double(QFileInfo(csv).size());
    std::printf("spreadsheet: %.1f MiB, %d listings; load %.2f\n", fileBytes / (1 << 20), SpreadsheetListings,
                loadAverage());

    BoardProcess board;
    if (!board.start()) {
        std::fprintf(stderr, "board: %s\n", qPrintable(board.errorString()));
        return 1;
    }
    Orvex::Bench::PrivateBus privateBus;
    QString address;
    if (!privateBus.start(QStringLiteral(ORVEX_DBUS_DAEMON), QStringLiteral(ORVEX_BENCH_BUS_CONFIG),
                          &address))
        return 1;
    const QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("bench"));
    const QString programFolder = folder.filePath(QStringLiteral("program"));
    if (!bus.isConnected() || !Orvex::Bench::setActivationEnvironment(bus, board.proxyUrl(), programFolder))
        return 1;
    // The tool's own settings and state in the scratch folder, never the user's.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    environment.insert(QStringLiteral("HOME"), folder.path());
    for (const char *variable : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        environment.remove(QString::fromLatin1(variable));

    std::vector<double> toolSeconds;
    std::vector<double> plainSeconds;
    double peakBytes = 0;
    bool allInterrupted = true;
    for (int run = 0; run < ToolRuns; ++run) {
        plainSeconds.push_back(Orvex::Bench::secondsOf([&] { Orvex::Bench::keep(plainRead(csv)); }));
        const ToolRun tool = runTool(QStringLiteral(ORVEX_POSTJOB_EXECUTABLE), csv, environment,
                                     board.recordFile(), folder.filePath(QStringLiteral("rows.txt")));
        toolSeconds.push_back(tool.firstListingSeconds);
        peakBytes = std::max(peakBytes, tool.peakBytes);
        allInterrupted = allInterrupted && tool.interrupted;
    }
    const double first = Orvex::Bench::median(toolSeconds);
    const double plain = Orvex::Bench::median(plainSeconds);
    std::printf("first listing at the board after the tool's start: median %.3f s (goal <= 3 s)\n", first);
    Orvex::Bench::printMedian("plain read of the file: lines decoded and split at commas (baseline)", plain);
    Orvex::Bench::printRatio("first listing sent against a plain read of the file", first, plain, 2);
    std::printf("the tool's peak resident memory: %.1f MiB\n", peakBytes / (1 << 20));
    Orvex::Bench::printRatio("the tool's peak resident memory against the file's size", peakBytes, fileBytes,
                             2);
    std::printf("load %.2f at the end\n", loadAverage());
    if (!allInterrupted)
        std::fprintf(stderr, "a run did not end as interrupted (exit 130)\n");
    QDBusConnection::disconnectFromBus(QStringLiteral("bench"));
    return allInterrupted ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("orvex.*.debug=false"));
    Orvex::Bench::keepFreedMemory();
    const QByteArray csv = csvFile();
    const QByteArray json = jsonFile();
    std::printf("CSV file: %.1f MiB, %d listings of %d fields\n", double(csv.size()) / (1 << 20), Listings,
                Fields);

    const auto [csvSeconds, jsonSeconds] =
        Orvex::Bench::alternateMedians([&] { Orvex::Bench::keep(readCsv(csv)); },
                                       [&] {
                                           QString error;
                                           Orvex::Bench::keep(Orvex::parseListings(json, &error));
                                       },
                                       5);
    Orvex::Bench::printMedian("CSV read", csvSeconds);
    Orvex::Bench::printMedian("JSON read (baseline)", jsonSeconds);
    Orvex::Bench::printRatio("CSV read against JSON read", csvSeconds, jsonSeconds);

    // The same bytes as one quoted cell, and as short rows, fed in the reader's own chunks.
    const qsizetype cellBytes = 32 << 20;
    const QByteArray longCell = "Text\n\"" + QByteArray(cellBytes, 'x') + "\"\n";
    const QByteArray shortRows = "Text\n" + QByteArray("xxxxxxxxxxxxxxx\n").repeated(cellBytes / 16);
    const auto [longSeconds, shortSeconds] = Orvex::Bench::alternateMedians(
        [&] { Orvex::Bench::keep(readCsv(longCell)); }, [&] { Orvex::Bench::keep(readCsv(shortRows)); }, 5);
    Orvex::Bench::printRatio("one 32 MiB quoted cell against 32 MiB of short rows", longSeconds,
                             shortSeconds);
    return timeTheTool();
}

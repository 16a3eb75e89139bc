// Action on a 20-field listing against a raw libcurl POST of the same bytes, and WriteLog against a raw
// append of the same record, in one run against one reference board. Prints medians and ratios.

#include "benchposting.h"
#include "boardprocess.h"
#include "clock.h"
#include "curlhttprequest.h"
#include "frmpostjob.h"
#include "hostcontext.h"
#include "logrecord.h"
#include "logrecordnames.h"
#include "postjob.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Runs = 300;
constexpr int FieldCount = 20;

bool rawAppend(const QByteArray &path, const QByteArray &record) {
    const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, record.constData(), size_t(record.size())) == ssize_t(record.size());
    ::close(fd);
    return ok;
}

// Times the two alternately against each other.
template<typename Measured, typename Baseline>
std::pair<double, double> alternate(Measured &&measured, Baseline &&baseline) {
    return Orvex::Bench::alternateMedians(measured, baseline, Runs);
}

} // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Debug output would be measured along with the work.
    QLoggingCategory::setFilterRules(QStringLiteral("orvex.*.debug=false"));
    Orvex::Bench::keepFreedMemory();

    BoardProcess board;
    if (!board.start()) {
        std::fprintf(stderr, "board: %s\n", qPrintable(board.errorString()));
        return 1;
    }
    const ScopedHttpProxy proxy(board.proxyUrl());
    QTemporaryDir folder;
    curl_global_init(CURL_GLOBAL_DEFAULT);

    frmPostJob window;
    const Orvex::HostContext host{Orvex::ComponentFolders(folder.path()), Orvex::systemClock(), window,
                                  Orvex::curlHttpRequestFactory()};
    PostJob job(host, folder.path() + QStringLiteral("\\OrvexKelPostJobs bench.log"));

    const Orvex::Bench::Fields listing = Orvex::Bench::benchListing(FieldCount);
    const QByteArray wire = Orvex::Bench::wireBytes(listing);
    const QByteArray endpoint = board.endpointUrl().toUtf8();

    const auto [actionSeconds, rawPostSeconds, allPosted] =
        Orvex::Bench::timeListingAgainstRawPost(job, listing, endpoint, wire, Runs);
    Orvex::Bench::printMedian("Action, 20 fields", actionSeconds);
    Orvex::Bench::printMedian("raw libcurl POST, same bytes", rawPostSeconds);
    Orvex::Bench::printRatio("Action / raw POST", actionSeconds, rawPostSeconds, 1.05);

    const QString message = QStringLiteral("success=1&jobid=4711");
    const QString serverResponse = QString::fromUtf16(Orvex::LogRecordName::ServerResponse);
    const Orvex::Variant crLf(QStringLiteral("\r\n"));
    const QByteArray rawPath = QFile::encodeName(folder.filePath(QStringLiteral("raw.log")));
    const QByteArray record =
        Orvex::logRecord(QDateTime::currentDateTime(), serverResponse, message, crLf).toUtf8();
    bool allWritten = true;
    const auto [writeLogSeconds, rawAppendSeconds] =
        alternate([&] { job.WriteLog(serverResponse, message, crLf); },
                  [&] { allWritten = rawAppend(rawPath, record) && allWritten; });
    if (!allWritten)
        std::fprintf(stderr, "some records failed\n");
    Orvex::Bench::printMedian("WriteLog", writeLogSeconds);
    Orvex::Bench::printMedian("raw open+write+close, same record", rawAppendSeconds);
    Orvex::Bench::printRatio("WriteLog / raw append", writeLogSeconds, rawAppendSeconds, 1.2);

    curl_global_cleanup();
    return 0;
}

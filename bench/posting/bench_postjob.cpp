// Action on a 20-field listing against a raw libcurl POST of the same bytes, and WriteLog against a raw
// append of the same record, in one run against one reference board. Then the posting journal's cost:
// Action whose start row is synced before the listing leaves against Action with no journal, and the
// syncs each posting costs alone and with eight in flight, counted by a VFS that wraps SQLite's own.
// Prints medians and ratios.

#include "benchposting.h"
#include "boardprocess.h"
#include "clock.h"
#include "curlhttprequest.h"
#include "frmpostjob.h"
#include "hostcontext.h"
#include "journalwriter.h"
#include "logrecord.h"
#include "logrecordnames.h"
#include "postjob.h"
#include "statusview.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <curl/curl.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <thread>
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

// SQLite's default VFS with every file's xSync counted: the bench's own, made the default before any
// database opens, so the product's journal syncs through it unchanged.
namespace SyncCount {

std::atomic<int> syncs = 0;
sqlite3_vfs *base = nullptr;
sqlite3_vfs counting;
sqlite3_io_methods methods;
const sqlite3_io_methods *baseMethods = nullptr;

struct File {
    sqlite3_file shim;
    sqlite3_file *real; // the base VFS's file, allocated behind this one
};

int countedSync(sqlite3_file *file, int flags) {
    ++syncs;
    sqlite3_file *real = reinterpret_cast<File *>(file)->real;
    return real->pMethods->xSync(real, flags);
}

int open(sqlite3_vfs *, sqlite3_filename name, sqlite3_file *file, int flags, int *outFlags) {
    auto *shim = reinterpret_cast<File *>(file);
    shim->real = reinterpret_cast<sqlite3_file *>(shim + 1);
    const int result = base->xOpen(base, name, shim->real, flags, outFlags);
    if (result != SQLITE_OK || !shim->real->pMethods) {
        file->pMethods = nullptr;
        return result;
    }
    baseMethods = shim->real->pMethods;
    methods = *baseMethods;
    // Every other method takes the real file: each forwards through the wrapper.
    methods.xClose = [](sqlite3_file *f) {
        auto *r = reinterpret_cast<File *>(f)->real;
        return r->pMethods->xClose(r);
    };
    methods.xRead = [](sqlite3_file *f, void *b, int n, sqlite3_int64 o) {
        auto *r = reinterpret_cast<File *>(f)->real;
        return r->pMethods->xRead(r, b, n, o);
    };
    methods.xWrite = [](sqlite3_file *f, const void *b, int n, sqlite3_int64 o) {
        auto *r = reinterpret_cast<File *>(f)->real;
        return r->pMethods->xWrite(r, b, n, o);
    };
    methods.xTruncate = [](sqlite3_file *f, sqlite3_int64 s) {
        auto *r = reinterpret_cast<File *>(f)->real;
        return r->pMethods->xTruncate(r, s);
    };
    methods.xSync = countedSync;
    methods.xFileSize = [](sqlite3_file *f, sqlite3_int64 *s) {
        auto *r = reinterpret_cast<File *>(f)->real;
        return r->pMethods->xFileSize(r, s);
    };
    methods.xLock = [](sqlite3_file *f, int l) {
        auto *r = reinterpret_cast<File *>(f)->real;
        return r->pMethods->xLock(r, l);
    };
    methods.xUnlock = [](sqlite3_file *f, int l) {
        auto *r = reinterpret_cast<File *>(f)->real;
        return r->pMethods->xUnlock(r, l);
    };
    methods.xCheckReservedLock = [](sqlite3_file *f, int *o) {
        auto *r = reinterpret_cast<File *>(f)->real;
        return r->pMethods->xCheckReservedLock(r, o);
    };
    methods.xFileControl = [](sqlite3_file *f, int op, void *a) {
        auto *r = reinterpret_cast<File *>(f)->real;
        return r->pMethods->xFileControl(r, op, a);
    };
    methods.xSectorSize = [](sqlite3_file *f) {
        auto *r = reinterpret_cast<File *>(f)->real;
        return r->pMethods->xSectorSize(r);
    };
    methods.xDeviceCharacteristics = [](sqlite3_file *f) {
        auto *r = reinterpret_cast<File *>(f)->real;
        return r->pMethods->xDeviceCharacteristics(r);
    };
    methods.xShmMap = [](sqlite3_file *f, int p, int s, int e, void volatile **m) {
        auto *r = reinterpret_cast<File *>(f)->real;
        return r->pMethods->xShmMap(r, p, s, e, m);
    };
    methods.xShmLock = [](sqlite3_file *f, int o, int n, int fl) {
        auto *r = reinterpret_cast<File *>(f)->real;
        return r->pMethods->xShmLock(r, o, n, fl);
    };
    methods.xShmBarrier = [](sqlite3_file *f) {
        auto *r = reinterpret_cast<File *>(f)->real;
        r->pMethods->xShmBarrier(r);
    };
    methods.xShmUnmap = [](sqlite3_file *f, int d) {
        auto *r = reinterpret_cast<File *>(f)->real;
        return r->pMethods->xShmUnmap(r, d);
    };
    methods.xFetch = [](sqlite3_file *f, sqlite3_int64 o, int n, void **p) {
        auto *r = reinterpret_cast<File *>(f)->real;
        return r->pMethods->xFetch(r, o, n, p);
    };
    methods.xUnfetch = [](sqlite3_file *f, sqlite3_int64 o, void *p) {
        auto *r = reinterpret_cast<File *>(f)->real;
        return r->pMethods->xUnfetch(r, o, p);
    };
    file->pMethods = &methods;
    return SQLITE_OK;
}

void install() {
    base = sqlite3_vfs_find(nullptr);
    counting = *base;
    counting.zName = "counting";
    counting.szOsFile = int(sizeof(File)) + base->szOsFile;
    counting.xOpen = open;
    sqlite3_vfs_register(&counting, 1);
}

} // namespace SyncCount

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

    // The journal: every posting's start row synced before it leaves, its end not.
    SyncCount::install();
    Orvex::JournalWriter journal;
    journal.openIn(folder.path(), 0);
    journal.flush();
    Orvex::HostContext journalled = host;
    journalled.journal = &journal;
    PostJob recorded(journalled, folder.path() + QStringLiteral("\\OrvexKelPostJobs bench.log"));
    recorded.setJournalRequired(true);
    bool allJournalled = true;
    SyncCount::syncs = 0;
    const auto [recordedSeconds, unrecordedSeconds] = alternate(
        [&] {
            for (const auto &[name, value] : listing)
                recorded.Field(name, value);
            allJournalled = recorded.Action(QStringLiteral("Add")).startsWith(u'S') && allJournalled;
        },
        [&] {
            for (const auto &[name, value] : listing)
                job.Field(name, value);
            allJournalled = job.Action(QStringLiteral("Add")).startsWith(u'S') && allJournalled;
        });
    const double serialSyncs = double(SyncCount::syncs) / Runs;
    Orvex::Bench::printMedian("Action, start row synced first", recordedSeconds);
    Orvex::Bench::printMedian("Action, no journal", unrecordedSeconds);
    Orvex::Bench::printRatio("Action with its journal / without", recordedSeconds, unrecordedSeconds, 1.3);
    std::printf("%-58s ratio %.2f (goal <= 1)\n", "syncs per posting, one at a time", serialSyncs);

    constexpr int InFlight = 8;
    Orvex::ThreadStatusText threadStatus;
    const Orvex::HostContext sideBySide{
        journalled.folders,          journalled.clock, threadStatus, journalled.requestFactory,
        journalled.fileWarningGiven, nullptr,          &journal};
    std::atomic<bool> allSideBySide = true;
    SyncCount::syncs = 0;
    std::vector<std::thread> posters;
    for (int poster = 0; poster < InFlight; ++poster) {
        posters.emplace_back([&] {
            PostJob side(sideBySide, folder.path() + QStringLiteral("\\OrvexKelPostJobs bench.log"));
            side.setJournalRequired(true);
            for (int run = 0; run < Runs / InFlight; ++run) {
                for (const auto &[name, value] : listing)
                    side.Field(name, value);
                if (!side.Action(QStringLiteral("Add")).startsWith(u'S'))
                    allSideBySide = false;
            }
        });
    }
    for (std::thread &poster : posters)
        poster.join();
    std::printf("%-58s ratio %.2f (goal <= 1)\n", "syncs per posting, eight in flight",
                double(SyncCount::syncs) / (Runs / InFlight * InFlight));
    if (!allJournalled || !allSideBySide)
        std::fprintf(stderr, "some postings failed\n");

    curl_global_cleanup();
    return 0;
}

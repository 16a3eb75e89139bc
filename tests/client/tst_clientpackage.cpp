#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run {
    int exitCode = -1;
    QString output;
};

Run run(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment = {}) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!environment.isEmpty())
        process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(240000)) {
        result.output = process.errorString();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = QString::fromLocal8Bit(process.readAll());
    return result;
}

} // namespace

// The client library as another project sees it once installed: CMake package, pkg-config, the tool.
class TestClientPackage : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void pkgConfigNamesTheInstalledFiles();
    void cmakePackageBuildsAConsumer();
    void installedToolRuns();

private:
    QTemporaryDir m_prefix;
};

void TestClientPackage::initTestCase() {
    QVERIFY(m_prefix.isValid());
    const Run install =
        run(QStringLiteral(ORVEX_CMAKE_COMMAND),
            {QStringLiteral("--install"), QStringLiteral(ORVEX_BUILD_DIR), QStringLiteral("--component"),
             QStringLiteral("client"), QStringLiteral("--prefix"), m_prefix.path()});
    QVERIFY2(install.exitCode == 0, qPrintable(install.output));
    for (const char *header :
         {"remotepostjob.h", "remoteerror.h", "postjobinterface.h", "variant.h", "automationerror.h"}) {
        QVERIFY2(
            QFile::exists(m_prefix.filePath(QStringLiteral("include/orvex/") + QLatin1StringView(header))),
            header);
    }
}

void TestClientPackage::pkgConfigNamesTheInstalledFiles() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PKG_CONFIG_PATH"),
                       QDir(m_prefix.path()).filePath(QStringLiteral(ORVEX_LIBDIR "/pkgconfig")));
    const Run flags =
        run(QStringLiteral("pkg-config"),
            {QStringLiteral("--cflags"), QStringLiteral("--libs"), QStringLiteral("orvex-postjob-client")},
            environment);
    QVERIFY2(flags.exitCode == 0, qPrintable(flags.output));
    // The .pc file locates the prefix from its own folder, so compare the folders it names, resolved.
    QStringList folders;
    for (const QString &flag : flags.output.split(u' ', Qt::SkipEmptyParts)) {
        if (flag.startsWith(QLatin1StringView("-I")) || flag.startsWith(QLatin1StringView("-L")))
            folders.append(flag.left(2) + QDir::cleanPath(flag.mid(2)));
    }
    const QDir prefix(m_prefix.path());
    QVERIFY2(folders.contains(QStringLiteral("-I") + prefix.filePath(QStringLiteral("include/orvex"))),
             qPrintable(flags.output));
    QVERIFY2(folders.contains(QStringLiteral("-L") + prefix.filePath(QStringLiteral(ORVEX_LIBDIR))),
             qPrintable(flags.output));
    QVERIFY2(flags.output.contains(QStringLiteral("-lorvex-postjob-client")), qPrintable(flags.output));
    QVERIFY2(flags.output.contains(QStringLiteral("QtDBus")), qPrintable(flags.output));
}

void TestClientPackage::cmakePackageBuildsAConsumer() {
    QTemporaryDir build;
    QVERIFY(build.isValid());
    const Run configure =
        run(QStringLiteral(ORVEX_CMAKE_COMMAND),
            {QStringLiteral("-S"), QStringLiteral(ORVEX_CONSUMER_SOURCE_DIR), QStringLiteral("-B"),
             build.path(), QStringLiteral("-G"), QStringLiteral("Ninja"),
             QStringLiteral("-DCMAKE_PREFIX_PATH=") + m_prefix.path(),
             QStringLiteral("-DCMAKE_CXX_FLAGS=" ORVEX_CONSUMER_CXX_FLAGS),
             QStringLiteral("-DCMAKE_EXE_LINKER_FLAGS=" ORVEX_CONSUMER_LINKER_FLAGS)});
    QVERIFY2(configure.exitCode == 0, qPrintable(configure.output));
    const Run compile = run(QStringLiteral(ORVEX_CMAKE_COMMAND), {QStringLiteral("--build"), build.path()});
    QVERIFY2(compile.exitCode == 0, qPrintable(compile.output));

    // No session bus here, so creation fails, and the error must arrive as the library's own type.
    const Run consumer = run(build.filePath(QStringLiteral("consumer")), {});
    QVERIFY2(consumer.exitCode == 0, qPrintable(consumer.output));
    QVERIFY2(consumer.output.startsWith(QStringLiteral("caught ")), qPrintable(consumer.output));
}

void TestClientPackage::installedToolRuns() {
    // Found through its run path, not through the build tree.
    const Run help = run(m_prefix.filePath(QStringLiteral("bin/orvex-postjob")), {QStringLiteral("--help")});
    QVERIFY2(help.exitCode == 0, qPrintable(help.output));
    QVERIFY(help.output.contains(QStringLiteral("Usage: orvex-postjob")));
}

QTEST_GUILESS_MAIN(TestClientPackage)
#include "tst_clientpackage.moc"
